// One device-control request as the service's logic sees it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>

namespace qorcam::gige {

// Who sent a request, as the transport learned it from the kernel when the
// caller connected; nothing in the request's bytes changes it.
struct GigeCaller {
    uint32_t processId = 0;
    uint32_t userId = 0;
    uint64_t connection = 0; // the handle the request came on
    bool admin = false;      // may configure the network: root, CAP_NET_ADMIN or the admin group
};

// A request carries its control code, its input bytes and the room of its
// output. The transport behind it guarantees that Complete is called once at
// most and that Output stays valid until then. Cancelled turns true when the
// caller cancels the request (CancelIo, closing the handle, the process ends);
// the transport then also asks the service to take it out of its queue.
class GigeRequest {
public:
    virtual ~GigeRequest() = default;

    virtual uint32_t Code() const = 0;
    virtual std::span<const uint8_t> Input() const = 0;
    virtual size_t OutputLength() const = 0;
    // The caller's output, mapped for writing; empty when it cannot be mapped.
    virtual std::span<uint8_t> MapOutput() = 0;
    virtual bool Cancelled() const = 0;
    // The caller; null for requests the service makes itself (and the logic's
    // tests), which act for whatever process they name.
    virtual const GigeCaller* Caller() const { return nullptr; }
    // Called when the request is queued to wait, before anyone can complete it.
    virtual void MarkPending() {}
    // bytes is the count the caller is told; outputBytes how much of the
    // output carries the answer (some answers are written but report 0).
    virtual void Complete(uint32_t status, uint32_t bytes, size_t outputBytes) = 0;
};

using GigeRequestPtr = std::shared_ptr<GigeRequest>;

} // namespace qorcam::gige
