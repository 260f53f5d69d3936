// Base of every event object that an EVENT_HANDLE points to.
#include "gentl/CEventObj.h"

#include "gentl/HandleRegistry.h"
#include "gentl/InfoFillers.h"

#include <chrono>
#include <stdexcept>

namespace GenICam::Client {

CEventObj::CEventObj() {
    HandleRegistry::AddEvent(this);
}

CEventObj::~CEventObj() {
    HandleRegistry::RemoveEvent(this);
}

void CEventObj::Signal() {
    m_signalled = true;
    m_wake.notify_one();
}

void CEventObj::ResetSignal() {
    m_signalled = false;
}

bool CEventObj::WaitSignal(std::unique_lock<std::mutex>& held, uint64_t timeout) {
    const uint32_t ms = static_cast<uint32_t>(timeout);
    auto signalled = [this] { return m_signalled; };
    if (ms == 0xFFFFFFFFu) {
        m_wake.wait(held, signalled);
    } else if (!m_wake.wait_for(held, std::chrono::milliseconds(ms), signalled)) {
        return false;
    }
    m_signalled = false;
    return true;
}

CEventObj& RequireEventSource(CEventObj* source, EVENT_TYPE type) {
    if (!source)
        throw std::runtime_error(FormatString("Event ID %ld not implemented", static_cast<long>(type)));
    return *source;
}

} // namespace GenICam::Client
