// One camera streamed through the USB producer as a consumer does it: open, image stream with the
// producer's own buffer layout, buffers queued, acquisition started on the camera.
#pragma once

#include "GenTLConsumer.h"

#include <cstdint>
#include <string>
#include <vector>

namespace qorcam::testing {

struct UsbStreamSession {
    static constexpr uint64_t kAcquisitionStart = 0x10010;

    explicit UsbStreamSession(GenTLConsumer& consumer) : gc(consumer) {}

    GenTLConsumer& gc;
    DEV_HANDLE device = nullptr;
    PORT_HANDLE port = nullptr;
    DS_HANDLE ds = nullptr;
    EVENT_HANDLE newBuffer = nullptr;
    std::vector<BUFFER_HANDLE> buffers;

    // Opens the camera `id` of `iface` and starts streaming `payload`-byte blocks into `count`
    // buffers; false with the step that failed in `error`.
    bool Start(IF_HANDLE iface, const std::string& id, uint64_t payload, size_t count, std::string& error) {
        auto step = [&](GC_ERROR status, const char* what) {
            if (status != GC_ERR_SUCCESS) error = std::string(what) + " failed: " + std::to_string(status);
            return status == GC_ERR_SUCCESS;
        };
        if (!step(gc.IFOpenDevice(iface, id.c_str(), DEVICE_ACCESS_EXCLUSIVE, &device), "IFOpenDevice") ||
            !step(gc.DevGetPort(device, &port), "DevGetPort") ||
            !step(gc.DevOpenDataStream(device, "DS0", &ds), "DevOpenDataStream"))
            return false;
        buffers.assign(count, nullptr);
        for (auto& b : buffers)
            if (!step(gc.DSAllocAndAnnounceBuffer(ds, payload, nullptr, &b), "DSAllocAndAnnounceBuffer") ||
                !step(gc.DSQueueBuffer(ds, b), "DSQueueBuffer"))
                return false;
        uint32_t one = 1;
        size_t size = sizeof one;
        return step(gc.GCRegisterEvent(ds, EVENT_NEW_BUFFER, &newBuffer), "GCRegisterEvent") &&
               step(gc.DSStartAcquisition(ds, ACQ_START_FLAGS_DEFAULT, GENTL_INFINITE), "DSStartAcquisition") &&
               step(gc.GCWritePort(port, kAcquisitionStart, &one, &size), "AcquisitionStart");
    }

    // The next filled buffer, or null when none comes within timeoutMs.
    BUFFER_HANDLE Next(uint64_t timeoutMs) {
        EVENT_NEW_BUFFER_DATA data{};
        size_t n = sizeof data;
        if (gc.EventGetData(newBuffer, &data, &n, timeoutMs) != GC_ERR_SUCCESS) return nullptr;
        return data.BufferHandle;
    }

    uint64_t Info(BUFFER_HANDLE b, BUFFER_INFO_CMD cmd) {
        uint64_t value = 0;
        size_t n = sizeof value;
        if (cmd == BUFFER_INFO_BASE) {
            void* base = nullptr;
            n = sizeof base;
            gc.DSGetBufferInfo(ds, b, cmd, nullptr, &base, &n);
            return reinterpret_cast<uintptr_t>(base);
        }
        gc.DSGetBufferInfo(ds, b, cmd, nullptr, &value, &n);
        return value;
    }
};

} // namespace qorcam::testing
