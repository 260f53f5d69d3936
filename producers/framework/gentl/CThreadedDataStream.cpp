// A data stream served by two threads while acquiring: one hands buffers to the driver, one takes
// them back.
#include "gentl/CThreadedDataStream.h"

#include "gentl/CBufferInfo.h"

#include <chrono>
#include <stdexcept>
#include <thread>

namespace GenICam::Client {

using namespace qorcam;

namespace {

// Polls `done` every 5 ms for at most `limitMs`.
template <class F> bool PollUntil(F done, int limitMs) {
    for (int waited = 0; !done(); waited += 5) {
        if (waited >= limitMs) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

} // namespace

void CThreadedDataStream::ReportError(const std::string& text) {
    GetErrorEvent().Push(std::make_unique<ErrorEventEntry>(text));
}

void CThreadedDataStream::StartAcquisition(ACQ_START_FLAGS, uint64_t) {
    if (m_execThread && !m_execThread->IsFinished()) return;
    // A stream whose set-up failed has ended its execution thread; it starts anew.
    if (m_execThread) StopAcquisition(ACQ_STOP_FLAGS_KILL);
    for (os::Event* e : {&m_execStop, &m_execStarted, &m_execEnded, &m_waitStop, &m_waitStarted, &m_waitEnded,
                         &m_cancelRequest, &m_cancelDone})
        e->Reset();
    OnStarting();
    SetWaitStop(false);
    auto exec = std::make_unique<os::Thread>(GetIndex() == 0 ? "DataExec" : "SyncExec");
    const bool execStarted = exec->Start(
        [this] {
            ExecThread();
            m_execEnded.Set();
        },
        os::ThreadPriority::TimeCritical);
    if (!execStarted) {
        ReportError("Unable to start Exec_Thread");
        throw std::runtime_error("Unable to start Exec_Thread");
    }
    m_execStarted.Wait(os::kInfinite);
    auto wait = std::make_unique<os::Thread>("StreamWait");
    const bool waitStarted = wait->Start(
        [this] {
            m_waitStarted.Set();
            WaitThread();
            m_waitEnded.Set();
        },
        os::ThreadPriority::TimeCritical);
    if (!waitStarted) {
        m_execStop.Set();
        exec->Join();
        ReportError("Unable to start Wait_Thread");
        throw std::runtime_error("Unable to start Wait_Thread");
    }
    m_waitStarted.Wait(os::kInfinite);
    m_execThread = std::move(exec);
    m_waitThread = std::move(wait);
    OnStarted();
}

void CThreadedDataStream::StopAcquisition(ACQ_STOP_FLAGS flags) {
    if (!m_execThread) return;
    m_execStop.Set();
    if (flags != ACQ_STOP_FLAGS_KILL) {
        // The execution thread cancels what it sent when it leaves; the wait thread delivers it.
        m_execEnded.Wait(os::kInfinite);
        PollUntil([this] { return NumWithDriver() == 0; }, 10000);
    }
    m_waitStop.Set();
    OnWaitStop();
    SetWaitStop(true);
    JoinThreads();
    // Requests still with the driver were cancelled by the execution thread: they come back too.
    while (CBufferInfo* oldest = OldestWithDriver())
        ReturnAfterStop(oldest);
}

void CThreadedDataStream::JoinThreads() {
    if (m_execThread) {
        m_execThread->Join();
        m_execThread.reset();
    }
    if (m_waitThread) {
        m_waitThread->Join();
        m_waitThread.reset();
    }
}

void CThreadedDataStream::CancelPendingRequests() {
    if (!m_execThread || m_execThread->IsFinished()) return;
    m_cancelRequest.Set();
    m_cancelDone.Wait(500);
    PollUntil([this] { return NumWithDriver() == 0; }, 5000);
}

} // namespace GenICam::Client
