// RequestQueue: pended requests, each owned either by the queue, its taker or its cancellation.
#include "devio/RequestQueue.h"

#include <algorithm>
#include <list>
#include <map>
#include <mutex>
#include <optional>
#include <unordered_map>

namespace qorcam::devio {

struct RequestQueue::State {
    using Items = std::list<RequestPtr>;
    using Turn = std::list<Items::iterator>; // one user's requests, oldest first

    mutable std::mutex mutex;
    Items items;
    // Each user's requests and where each request stands in them, so that
    // taking the next user's oldest costs nothing that grows with the queue.
    std::map<std::uint32_t, Turn> turns;
    std::unordered_map<const Request*, Turn::iterator> inTurn;
    std::optional<std::uint32_t> lastUser; // served last by NextInTurn

    void PushLocked(const RequestPtr& request) {
        const auto it = items.insert(items.end(), request);
        Turn& turn = turns[request->UserId()];
        inTurn.emplace(request.get(), turn.insert(turn.end(), it));
    }

    void EraseLocked(Items::iterator it) {
        const auto where = inTurn.find(it->get());
        const auto user = turns.find((*it)->UserId());
        user->second.erase(where->second);
        if (user->second.empty()) turns.erase(user);
        inTurn.erase(where);
        items.erase(it);
    }

    bool Unlink(const Request* request) {
        std::lock_guard lock(mutex);
        const auto where = inTurn.find(request);
        if (where == inTurn.end()) return false;
        EraseLocked(*where->second);
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
            EraseLocked(it++);
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
            state_->PushLocked(request);
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
            auto& turns = state_->turns;
            // The oldest request of the lowest uid after the last one served,
            // else of the lowest uid of all.
            auto next = state_->lastUser ? turns.upper_bound(*state_->lastUser) : turns.begin();
            if (next == turns.end()) next = turns.begin();
            if (next == turns.end()) return nullptr;
            const auto chosen = next->second.front();
            request = *chosen;
            state_->EraseLocked(chosen);
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
