// DevioGigeRequest: a device-control request of the transport, as the service's logic sees it.
#pragma once

#include "GigeDriver.h"
#include "GigeRequest.h"
#include "devio/Request.h"

#include <memory>

namespace qorcam::gige {

// Wraps one transport request. Its cancel routine reaches the service's
// logic through a weak reference, so a request that completed and was
// dropped is never touched again, and no reference cycle keeps either alive.
class DevioGigeRequest : public GigeRequest {
public:
    DevioGigeRequest(devio::RequestPtr request, bool admin) : request_(std::move(request)) {
        caller_.processId = request_->ProcessId();
        caller_.userId = request_->UserId();
        caller_.connection = request_->ConnectionId();
        caller_.admin = admin;
    }

    uint32_t Code() const override { return request_->Code(); }
    std::span<const uint8_t> Input() const override { return request_->Input(); }
    size_t OutputLength() const override { return request_->OutputLength(); }
    std::span<uint8_t> MapOutput() override { return request_->Output(); }
    bool Cancelled() const override { return request_->IsCancelled(); }
    const GigeCaller* Caller() const override { return &caller_; }
    void MarkPending() override { request_->MarkPending(); }
    void Complete(uint32_t status, uint32_t bytes, size_t outputBytes) override {
        request_->Complete(status, bytes, outputBytes);
    }

    // Hands the request to the service's logic with its cancel routine set.
    // admin: the caller may configure the network.
    static void Dispatch(GigeDriver& driver, const devio::RequestPtr& request, bool admin) {
        auto wrapped = std::make_shared<DevioGigeRequest>(request, admin);
        std::weak_ptr<DevioGigeRequest> weak = wrapped;
        if (!request->SetCancelRoutine([&driver, weak](const devio::RequestPtr&) {
                if (auto r = weak.lock()) driver.Cancel(r);
            })) {
            request->Complete(devio::STATUS_CANCELLED, 0);
            return;
        }
        driver.DeviceControl(wrapped);
    }

private:
    devio::RequestPtr request_;
    GigeCaller caller_;
};

} // namespace qorcam::gige
