// The thread behind an event source that keeps requests with a service while it is registered.
#include "gentl/CEventThread.h"

#include <stdexcept>

namespace GenICam::Client {

using namespace qorcam;

void CEventThread::Start(std::function<void()> body) {
    m_stop.Reset();
    m_started.Reset();
    m_finished.Reset();
    m_setupFailed = false;
    auto thread = std::make_unique<os::Thread>(m_name);
    const bool started = thread->Start(
        [this, body = std::move(body)] {
            body();
            // A body that gave up before it was under way still lets Start return.
            m_started.Set();
            m_finished.Set();
        },
        os::ThreadPriority::TimeCritical);
    if (!started) throw std::runtime_error("Unable to start Exec_Thread");
    m_started.Wait(os::kInfinite);
    if (m_setupFailed) {
        thread->Join();
        throw std::runtime_error("Unable to start Exec_Thread");
    }
    m_thread = std::move(thread);
}

void CEventThread::Stop() {
    if (!m_thread) return;
    m_stop.Set();
    m_finished.Wait(os::kInfinite);
    m_thread->Join();
    m_thread.reset();
}

} // namespace GenICam::Client
