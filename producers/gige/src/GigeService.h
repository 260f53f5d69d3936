// Small helpers for requests to the GigE network service's device.
#pragma once

#include "devio/DeviceHandle.h"
#include "gentl/RequestFields.h"
#include "os/Event.h"
#include "os/WaitAny.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <functional>
#include <span>

namespace qorcam::gige {

// The service keys this process's state by its process id.
using gentl::ProcessId;

// A request that the service completes at once (or that is waited for): its final status.
inline uint32_t CallService(devio::DeviceHandle& driver, uint32_t code, const void* input, size_t inputLength,
                            void* output = nullptr, size_t outputLength = 0, uint64_t* bytes = nullptr) {
    return driver.DeviceIoControl(code, input, inputLength, output, outputLength, bytes);
}

// Request blocks carry little-endian fields at their byte offsets.
using gentl::Get;
using gentl::Put;

// Serves request slots strictly in the order they were sent: waits for slot k (or `stop`), hands its
// completion to `completed(k)`, which sends the slot's request again and answers whether the service
// took it, then goes on with slot k + 1. A slot the service did not take (a service that is gone
// completes every request at once) stays idle instead of spinning. Returns once `stop` is set.
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

// Whether the service took a request: a handle whose service is gone refuses it at once.
inline bool Taken(uint32_t status) {
    return status != devio::STATUS_DEVICE_NOT_CONNECTED && status != devio::STATUS_INVALID_HANDLE;
}

} // namespace qorcam::gige
