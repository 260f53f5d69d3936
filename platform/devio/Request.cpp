// Request: completion exactly once, cancellation and the pending mark of one client request.
#include "devio/Request.h"

#include "devio/Connection.h"

#include <algorithm>
#include <cstdlib>

namespace qorcam::devio {

Request::~Request() = default;

void Request::FreeMemory::operator()(std::uint8_t* p) const {
    std::free(p);
}

bool Request::Complete(NtStatus status, std::uint64_t information) {
    return Complete(status, information,
                    static_cast<std::size_t>(std::min<std::uint64_t>(information, outputLength_)));
}

bool Request::Complete(NtStatus status, std::uint64_t information, std::size_t outputBytes) {
    auto& connection = *connection_;
    CancelRoutine dropped; // destroyed after the lock: it may hold anything
    std::lock_guard lock(connection.mutex_);
    if (completed_) return false;
    completed_ = true;
    status_ = status;
    information_ = information;
    outputBytes_ = region_ ? 0 : std::min(outputBytes, outputLength_);
    dropped = std::move(cancelRoutine_);
    connection.requests_.erase(id_);
    connection.ReleaseChargeLocked(*this);
    connection.RequestGoneLocked();
    // While the dispatch routine runs, its thread sends the answer after the
    // first answer; otherwise the completion goes out now, in call order.
    if (!dispatching_) connection.EnqueueLocked(connection.CompletionMessageLocked(*this));
    return true;
}

bool Request::IsCompleted() const {
    std::lock_guard lock(connection_->mutex_);
    return completed_;
}

void Request::MarkPending() {
    std::lock_guard lock(connection_->mutex_);
    pending_ = true;
}

bool Request::SetCancelRoutine(CancelRoutine routine) {
    std::lock_guard lock(connection_->mutex_);
    if (completed_ || cancelled_) return false;
    cancelRoutine_.swap(routine);
    cancelClaimed_ = false;
    return true;
}

bool Request::ClearCancelRoutine() {
    CancelRoutine dropped;
    std::lock_guard lock(connection_->mutex_);
    if (cancelClaimed_) return false;
    dropped.swap(cancelRoutine_);
    return true;
}

bool Request::IsCancelled() const {
    std::lock_guard lock(connection_->mutex_);
    return cancelled_;
}

void Request::Cancel() {
    CancelRoutine routine;
    {
        std::lock_guard lock(connection_->mutex_);
        if (completed_) return;
        cancelled_ = true;
        if (!cancelRoutine_ || cancelClaimed_) return;
        routine.swap(cancelRoutine_);
        cancelClaimed_ = true;
    }
    const RequestPtr self = shared_from_this();
    try {
        routine(self);
    } catch (...) {
        // The request still completes below.
    }
    Complete(STATUS_CANCELLED);
}

} // namespace qorcam::devio
