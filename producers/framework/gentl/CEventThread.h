// The thread behind an event source that keeps requests with a service while it is registered.
#pragma once

#include "os/Event.h"
#include "os/Thread.h"

#include <atomic>
#include <functional>
#include <memory>
#include <string>

namespace GenICam::Client {

// Runs one body at a time on a time-critical thread. The body sets itself up, calls Started() once it is
// under way (or SetUpFailed() and returns), and returns when StopEvent() is set. Start returns once the
// body is under way; Stop once it has returned and the thread is joined. The destructor stops.
class CEventThread {
public:
    explicit CEventThread(std::string name) : m_name(std::move(name)) {}
    ~CEventThread() { Stop(); }
    CEventThread(const CEventThread&) = delete;
    CEventThread& operator=(const CEventThread&) = delete;

    // Throws runtime_error "Unable to start Exec_Thread" when the system refuses the thread or the body
    // reports a failed set-up; the thread has then ended and nothing runs.
    void Start(std::function<void()> body);
    // Nothing when no body runs.
    void Stop();
    bool Running() const { return m_thread != nullptr; }

    // For the body.
    qorcam::os::Event& StopEvent() { return m_stop; }
    void Started() { m_started.Set(); }
    void SetUpFailed() { m_setupFailed = true; }

private:
    std::string m_name;
    std::unique_ptr<qorcam::os::Thread> m_thread;
    std::atomic<bool> m_setupFailed{false};
    qorcam::os::Event m_stop{qorcam::os::ResetMode::Manual};
    qorcam::os::Event m_started{qorcam::os::ResetMode::Manual};
    qorcam::os::Event m_finished{qorcam::os::ResetMode::Manual};
};

} // namespace GenICam::Client
