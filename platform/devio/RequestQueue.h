// RequestQueue: a queue of pended requests that cancellation can reach.
#pragma once

#include "devio/Request.h"

#include <cstddef>
#include <functional>
#include <memory>
#include <vector>

namespace qorcam::devio {

/// Requests that wait for something, oldest first, each cancelable while it
/// waits.
///
/// Guarantees: a request is in at most one place at a time: either in the
/// queue, or taken out by Next/TakeIf/TakeAll (whose caller then owns it and
/// must complete it), or claimed by its cancellation (the queue unlinks it,
/// runs the queue's cancel routine for it and completes it with
/// STATUS_CANCELLED if the routine did not complete it). Never both. All
/// methods are safe from any thread; apart from a Match predicate (which
/// must not use the queue) nothing of the caller runs under the queue's
/// lock, so callers may hold their own locks around these calls. Destroying
/// the queue completes every request still in it with STATUS_CANCELLED.
class RequestQueue {
public:
    using Match = std::function<bool(const Request&)>;

    RequestQueue();
    ~RequestQueue();
    RequestQueue(const RequestQueue&) = delete;
    RequestQueue& operator=(const RequestQueue&) = delete;

    /// Marks the request pending and appends it. onCancel (optional) runs if
    /// the request is cancelled while queued: it frees what belongs to the
    /// request and may complete it. False when the request was cancelled
    /// already: it is then completed with STATUS_CANCELLED and not queued.
    bool Pend(const RequestPtr& request, CancelRoutine onCancel = {});

    /// The oldest request, taken out and no longer cancelable; null if none.
    RequestPtr Next();
    /// The next request with users taking turns: the oldest request of the
    /// user that follows, in uid order, the user this call served last
    /// (after the last uid, the first again), taken out and no longer
    /// cancelable; null if none. However many requests one user has queued,
    /// every other user's oldest request comes out within as many calls as
    /// there are users waiting; one user's requests keep their order.
    RequestPtr NextInTurn();
    /// The oldest request that matches, taken out; null if none.
    RequestPtr TakeIf(const Match& match);
    /// Every request that matches (every request without a match), in queue
    /// order, taken out.
    std::vector<RequestPtr> TakeAll(const Match& match = {});

    std::size_t Size() const;
    bool Empty() const { return Size() == 0; }

private:
    struct State;
    std::shared_ptr<State> state_;
};

} // namespace qorcam::devio
