// RequestQueue: pended requests, each owned either by the queue, its taker or its cancellation.
#include "devio/RequestQueue.h"

#include <algorithm>
#include <list>
#include <mutex>
#include <optional>

namespace qorcam::devio {

struct RequestQueue::State {
    mutable std::mutex mutex;
    std::list<RequestPtr> items;
    std::optional<std::uint32_t> lastUser; // served last by NextInTurn

    bool Unlink(const Request* request) {
        std::lock_guard lock(mutex);
        const auto it =
            std::find_if(items.begin(), items.end(), [&](const RequestPtr& r) { return r.get() == request; });
        if (it == items.end()) return false;
        items.erase(it);
        return true;
    }

    /// Takes up to limit matching requests out, oldest first.
    std::vector<RequestPtr> Take(const Match& match, std::size_t limit) {
        std::vector<RequestPtr> taken;
        std::lock_guard lock(mutex);
        for (auto it = items.begin(); it != items.end() && taken.size() < limit;) {
            if (match && !match(**it)) {
                ++it;
                continue;
            }
            RequestPtr request = *it;
            it = items.erase(it);
            // A cancellation that got there first owns the request; skip it.
            if (request->ClearCancelRoutine()) taken.push_back(std::move(request));
        }
        return taken;
    }
};

RequestQueue::RequestQueue() : state_(std::make_shared<State>()) {}

RequestQueue::~RequestQueue() {
    for (auto& request : TakeAll())
        request->Complete(STATUS_CANCELLED);
}

bool RequestQueue::Pend(const RequestPtr& request, CancelRoutine onCancel) {
    if (!request) return false;
    std::weak_ptr<State> weak = state_;
    CancelRoutine routine = [weak, onCancel = std::move(onCancel)](const RequestPtr& cancelled) {
        if (auto state = weak.lock()) state->Unlink(cancelled.get());
        if (onCancel) onCancel(cancelled);
    };
    {
        // The request enters the list under the queue's lock, so a
        // cancellation that races with Pend finds it there.
        std::lock_guard lock(state_->mutex);
        if (request->SetCancelRoutine(std::move(routine))) {
            // Pending before anyone can take it and complete it: the client
            // then sees "pending" even if that happens before dispatch ends.
            request->MarkPending();
            state_->items.push_back(request);
            return true;
        }
    }
    request->Complete(STATUS_CANCELLED);
    return false;
}

RequestPtr RequestQueue::Next() {
    return TakeIf({});
}

RequestPtr RequestQueue::NextInTurn() {
    for (;;) {
        RequestPtr request;
        {
            std::lock_guard lock(state_->mutex);
            auto& items = state_->items;
            // The oldest request of the lowest uid after the last one served,
            // else of the lowest uid of all.
            auto after = items.end(), lowest = items.end();
            for (auto it = items.begin(); it != items.end(); ++it) {
                const std::uint32_t user = (*it)->UserId();
                if (lowest == items.end() || user < (*lowest)->UserId()) lowest = it;
                if (state_->lastUser && user > *state_->lastUser &&
                    (after == items.end() || user < (*after)->UserId()))
                    after = it;
            }
            const auto chosen = after != items.end() ? after : lowest;
            if (chosen == items.end()) return nullptr;
            request = *chosen;
            items.erase(chosen);
            state_->lastUser = request->UserId();
        }
        // A cancellation that got there first owns the request; take the next.
        if (request->ClearCancelRoutine()) return request;
    }
}

RequestPtr RequestQueue::TakeIf(const Match& match) {
    auto taken = state_->Take(match, 1);
    return taken.empty() ? nullptr : std::move(taken.front());
}

std::vector<RequestPtr> RequestQueue::TakeAll(const Match& match) {
    return state_->Take(match, SIZE_MAX);
}

std::size_t RequestQueue::Size() const {
    std::lock_guard lock(state_->mutex);
    return state_->items.size();
}

} // namespace qorcam::devio
