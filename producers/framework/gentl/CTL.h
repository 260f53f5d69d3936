// The system module behind a TL_HANDLE: the interface list, opened interfaces and library info.
#pragma once

#include "gentl/CModuleDescription.h"
#include "gentl/ICommonBase.h"

#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace GenICam::Client {

class CInterface;
class CInterfaceInfo;

// Keeps the interfaces that the transport offers (read lazily, on first need) and the interfaces
// opened through it, which it owns: destroying the system module destroys them. Not guarded against
// concurrent calls on the same system module.
class CTL : public ICommonBase, public IDescribedModule {
public:
    CTL();
    ~CTL() override;

    // The module's description (TLVendorName, ...): one URL, "Local:" and the registers of its port.
    CModuleDescription& Description() override;
    void GetNumURLs(uint32_t* count) override { *count = 1; }
    void GetURL(char* text, size_t* size) override;
    void GetURLInfo(uint32_t index, URL_INFO_CMD cmd, INFO_DATATYPE* type, void* buffer, size_t* size) override;

    void GetPortInfo(PORT_INFO_CMD cmd, INFO_DATATYPE* type, void* buffer, size_t* size) override;

    virtual uint32_t GetNumInterfaces();
    // Throws invalid_argument "Interface Index not available" for an index past the list.
    virtual std::string GetInterfaceID(uint32_t index);
    // Re-reads the list from the transport. Entries whose id is unchanged keep their object; `changed`
    // (when not null) tells whether any entry came or went.
    virtual void UpdateInterfaceList(bool8_t* changed, uint64_t timeout);
    // TL_INFO commands 1 to 7; others throw invalid_argument "Invalid cmd".
    virtual void GetInfo(TL_INFO_CMD cmd, INFO_DATATYPE* type, void* buffer, size_t* size);
    // Forgets an opened interface (called by the interface's destructor); unknown ones change nothing.
    virtual void RemoveInterface(CInterface* iface);
    // The interface already opened under this device path, or a new one for the first listed interface
    // whose id test accepts `id`; none throws runtime_error "Invalid interface name <id>".
    virtual CInterface* OpenInterface(const std::string& id);
    // INTERFACE_INFO of the interface whose id equals `id` exactly (opened ones first, then the list);
    // none throws invalid_argument "Invalid Interface name".
    virtual void GetInterfaceInfo(const std::string& id, INTERFACE_INFO_CMD cmd, INFO_DATATYPE* type,
                                  void* buffer, size_t* size);
    virtual uint64_t GetVersion();
    virtual std::string FormatVersion(uint64_t version);

private:
    std::vector<CInterface*> m_openInterfaces;
    std::vector<std::unique_ptr<CInterfaceInfo>> m_interfaceList;
    bool m_listRead = false;
    // Made on first use; ports may be read from several threads.
    std::mutex m_describing;
    std::unique_ptr<CModuleDescription> m_description;
};

// The answers common to GCGetInfo and TLGetInfo for commands 1 to 7 (TL_INFO_ID is answered apart).
// Returns false for a command outside 0 to 7.
bool AnswerLibraryInfo(TL_INFO_CMD cmd, INFO_DATATYPE* type, void* buffer, size_t* size);
// The version text of a module's system module (the producer's own when there is none).
std::string SystemVersionText(CTL* tl);
// The producer's file name (the path after its last '/'); empty when the path has none.
std::string GetProducerFileName();

} // namespace GenICam::Client
