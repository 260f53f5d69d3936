// Base of every event object that an EVENT_HANDLE points to.
#include "gentl/CEventObj.h"

#include "gentl/Exceptions.h"
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

void CEventObj::KillWaits() {
    ++m_kills;
    m_wake.notify_all();
}

bool CEventObj::WaitSignal(std::unique_lock<std::mutex>& held, uint64_t timeout) {
    const uint32_t ms = static_cast<uint32_t>(timeout);
    const uint64_t kills = m_kills;
    auto woken = [this, kills] { return m_signalled || m_kills != kills; };
    if (ms == 0xFFFFFFFFu) {
        m_wake.wait(held, woken);
    } else if (!m_wake.wait_for(held, std::chrono::milliseconds(ms), woken)) {
        return false;
    }
    if (m_kills != kills) throw abort_error("Event killed");
    m_signalled = false;
    return true;
}

CEventObj& RequireEventSource(CEventObj* source, EVENT_TYPE type) {
    if (!source)
        throw std::runtime_error(FormatString("Event ID %ld not implemented", static_cast<long>(type)));
    return *source;
}

} // namespace GenICam::Client
