// The object model behind every GenTL module handle: port, event source and their common base.
#pragma once

#include "GenTL.h"

#include <cstdint>

namespace GenICam::Client {

class CEventObj;

// The port of a module: its own registers, its URLs and its PORT_INFO. Sizes are in/out: the caller
// gives the capacity, the operation answers what it handled. Callers (the export frame) guarantee a
// non-null size and a buffer whenever *size is above 0.
class IPort {
public:
    virtual ~IPort() = default;
    virtual void Read(uint64_t address, void* buffer, size_t* size) = 0;
    virtual void Write(uint64_t address, const void* buffer, size_t* size) = 0;
    virtual void ReadRegister(uint64_t address, uint32_t* value) = 0;
    virtual void WriteRegister(uint64_t address, uint32_t value) = 0;
    virtual void GetURL(char* text, size_t* size) = 0;
    virtual void GetPortInfo(PORT_INFO_CMD cmd, INFO_DATATYPE* type, void* buffer, size_t* size) = 0;
    virtual void GetNumURLs(uint32_t* count) = 0;
    virtual void GetURLInfo(uint32_t index, URL_INFO_CMD cmd, INFO_DATATYPE* type, void* buffer,
                            size_t* size) = 0;
};

// A module that hands out event objects. A registration returns the module's own event object (null
// for modules without events); the same object is returned by every registration of that type.
class IEventSrc {
public:
    virtual ~IEventSrc() = default;
    virtual void RegisterEvent(EVENT_TYPE type, EVENT_HANDLE* event) = 0;
    virtual void UnregisterEvent(EVENT_TYPE type) = 0;
};

// Base of every object a module or port handle points to. Every operation has a harmless default
// (no registers, no URL, no events), so a module overrides only what it offers. The object is listed in
// the handle registry for exactly its lifetime.
class ICommonBase : public IPort, public IEventSrc {
public:
    ICommonBase();
    ~ICommonBase() override;
    ICommonBase(const ICommonBase&) = delete;
    ICommonBase& operator=(const ICommonBase&) = delete;

    void Read(uint64_t address, void* buffer, size_t* size) override;
    void Write(uint64_t address, const void* buffer, size_t* size) override;
    void ReadRegister(uint64_t address, uint32_t* value) override;
    void WriteRegister(uint64_t address, uint32_t value) override;
    void GetURL(char* text, size_t* size) override;
    void GetNumURLs(uint32_t* count) override;
    void GetURLInfo(uint32_t index, URL_INFO_CMD cmd, INFO_DATATYPE* type, void* buffer,
                    size_t* size) override;
    void RegisterEvent(EVENT_TYPE type, EVENT_HANDLE* event) override;
    void UnregisterEvent(EVENT_TYPE type) override;
};

// The handle value of a module object, as the consumer sees it.
inline void* ToHandle(ICommonBase* module) {
    return module;
}

} // namespace GenICam::Client
