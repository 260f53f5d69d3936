// A data stream served by two threads while acquiring: one hands buffers to the driver, one takes
// them back.
#pragma once

#include "gentl/CDataStream.h"
#include "os/Event.h"
#include "os/Thread.h"

#include <memory>
#include <string>

namespace GenICam::Client {

// Start, stop and cancellation of a stream's two threads, the same for every transport; the transport
// supplies what the threads do. While acquiring, the execution thread takes queued buffers
// (m_bufferQueued wakes it) and hands them to the driver, and the wait thread returns them, oldest
// first, to the output queue. Both run at time-critical priority.
//
// The execution thread leaves when m_execStop is set, cancelling what it sent; it answers
// m_cancelRequest by cancelling what it sent and setting m_cancelDone; it sets m_execStarted once it is
// under way (also when it gives up at once). The wait thread leaves when m_waitStop is set.
// m_execEnded and m_waitEnded are set when the threads' functions have returned.
//
// A derived destructor calls StopAcquisition(ACQ_STOP_FLAGS_KILL) first, while its own part is whole.
class CThreadedDataStream : public CDataStream {
public:
    using CDataStream::CDataStream;

    // Nothing when the threads run. A stream whose execution thread has ended on its own (a failed
    // set-up) is stopped first and starts anew. Returns once the execution thread has set m_execStarted
    // and the wait thread runs. A thread the system refuses is reported on the error event and throws
    // runtime_error "Unable to start Exec_Thread" or "Unable to start Wait_Thread".
    void StartAcquisition(ACQ_START_FLAGS flags, uint64_t count) override;
    // Nothing when the threads don't run. Unless killing, waits for the execution thread to leave and up
    // to 10 s for the buffers with the driver to come back. Then consumers waiting for a new buffer give
    // up, both threads are joined, and each buffer still with the driver goes to ReturnAfterStop, oldest
    // first: no buffer stays bound to a request that is over.
    void StopAcquisition(ACQ_STOP_FLAGS flags) override;
    // While the execution thread runs: asks it to cancel what it sent, waits up to 500 ms for its answer
    // and up to 5 s for the buffers with the driver to come back.
    void CancelPendingRequests() override;

protected:
    // The threads' functions; each returns when its stop event is set (or on a failure it reported).
    virtual void ExecThread() = 0;
    virtual void WaitThread() = 0;
    // A buffer still with the driver after the threads are gone; its request was cancelled. It must
    // leave the driver queue (by Deliver).
    virtual void ReturnAfterStop(CBufferInfo* buffer) = 0;
    // Before the threads start (the events are reset) and after both run.
    virtual void OnStarting() {}
    virtual void OnStarted() {}
    // Right after m_waitStop is set: for a wait thread that also waits elsewhere than on it.
    virtual void OnWaitStop() {}

    void OnBufferQueued() override { m_bufferQueued.Set(); }
    // Puts the text on the stream's error event.
    void ReportError(const std::string& text);
    // "DataExec_Thread" for the image stream, "SyncExec_Thread" for the others: the prefix of the
    // execution thread's error texts.
    std::string ExecName() const { return GetIndex() == 0 ? "DataExec_Thread" : "SyncExec_Thread"; }

    qorcam::os::Event m_execStop{qorcam::os::ResetMode::Manual};
    qorcam::os::Event m_execStarted{qorcam::os::ResetMode::Manual};
    qorcam::os::Event m_execEnded{qorcam::os::ResetMode::Manual};
    qorcam::os::Event m_bufferQueued{qorcam::os::ResetMode::Auto};
    qorcam::os::Event m_cancelRequest{qorcam::os::ResetMode::Auto};
    qorcam::os::Event m_cancelDone{qorcam::os::ResetMode::Auto};
    qorcam::os::Event m_waitStop{qorcam::os::ResetMode::Manual};
    qorcam::os::Event m_waitStarted{qorcam::os::ResetMode::Manual};
    qorcam::os::Event m_waitEnded{qorcam::os::ResetMode::Manual};
    // Set by the execution thread when it gave the driver a request, for the wait thread.
    qorcam::os::Event m_requestPending{qorcam::os::ResetMode::Auto};

private:
    void JoinThreads();

    std::unique_ptr<qorcam::os::Thread> m_execThread, m_waitThread;
};

} // namespace GenICam::Client
