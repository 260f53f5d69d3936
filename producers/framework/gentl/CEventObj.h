// Base of every event object that an EVENT_HANDLE points to.
#pragma once

#include "GenTL.h"

#include <condition_variable>
#include <cstdint>
#include <mutex>

namespace GenICam::Client {

// An event object belongs to its module and lives exactly as long as it; it is listed in the handle
// registry for that time. It carries one auto-reset signal and the lock that guards its own state.
class CEventObj {
public:
    CEventObj();
    virtual ~CEventObj();
    CEventObj(const CEventObj&) = delete;
    CEventObj& operator=(const CEventObj&) = delete;

    // Delivers the next entry into buffer. False: nothing was delivered (the wait timed out, or the
    // call only asked for the size); the export reports that as a time-out.
    virtual bool GetData(void* buffer, size_t* size, uint64_t timeout) = 0;
    virtual void GetInfo(EVENT_INFO_CMD cmd, INFO_DATATYPE* type, void* buffer, size_t* size) = 0;
    virtual void GetDataInfo(const void* inBuffer, size_t inSize, EVENT_DATA_INFO_CMD cmd,
                             INFO_DATATYPE* type, void* outBuffer, size_t* outSize) = 0;
    virtual void Flush() = 0;
    virtual void Kill() {}
    // Registration and unregistration of the event's type on its module.
    virtual void Start() {}
    virtual void Stop() {}

protected:
    // The auto-reset signal, used with m_lock held.
    void Signal();
    void ResetSignal();
    // Waits, releasing `held` meanwhile, until the signal is set (and consumes it) or the time-out runs
    // out. The time-out is in ms, its low 32 bits; 0xFFFFFFFF waits without end. A wait that KillWaits
    // ends throws abort_error.
    bool WaitSignal(std::unique_lock<std::mutex>& held, uint64_t timeout);
    // Ends every WaitSignal in progress (with m_lock held); waits that start later are not affected.
    void KillWaits();

    std::mutex m_lock;

private:
    std::condition_variable m_wake;
    bool m_signalled = false;
    uint64_t m_kills = 0;
};

// The event source a module offers for `type`; null (not offered) throws runtime_error
// "Event ID <type> not implemented".
CEventObj& RequireEventSource(CEventObj* source, EVENT_TYPE type);

// The handle value of an event object, as the consumer sees it.
inline EVENT_HANDLE ToHandle(CEventObj* event) {
    return event;
}

} // namespace GenICam::Client
