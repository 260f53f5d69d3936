// Serving a fixed set of requests kept with a service, in the order they were sent.
#pragma once

#include "devio/Overlapped.h"
#include "os/Event.h"
#include "os/WaitAny.h"

#include <algorithm>
#include <cstddef>
#include <functional>
#include <span>

namespace qorcam::gentl {

// Waits for slot k (or `stop`), hands its completion to `completed(k)`, which sends the slot's request
// again and answers whether the service took it, then goes on with slot k + 1. A slot the service did
// not take (a service that is gone completes every request at once) stays idle instead of spinning.
// Returns once `stop` is set; the caller then cancels and collects what is still sent.
inline void ServeSlotsInOrder(os::Event& stop, std::span<devio::Overlapped> slots, std::span<bool> armed,
                              const std::function<bool(size_t)>& completed) {
    for (size_t k = 0;; k = (k + 1) % slots.size()) {
        if (!armed[k]) {
            const bool anyArmed = std::find(armed.begin(), armed.end(), true) != armed.end();
            if (stop.Wait(anyArmed ? 0 : os::kInfinite)) return;
            continue;
        }
        if (os::WaitAny({&stop, &slots[k].CompletionEvent()}, os::kInfinite) != 1) return;
        // The record's status is published after the slot's output: reading it first orders the two.
        (void)slots[k].Status();
        armed[k] = completed(k);
    }
}

} // namespace qorcam::gentl
