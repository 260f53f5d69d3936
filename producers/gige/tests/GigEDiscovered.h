// Waiting for a camera to show up in a GigE interface's device list, for the rig tests and their helpers.
#pragma once

#include "GenTLConsumer.h"

#include <chrono>
#include <string>
#include <thread>

namespace qorcam::testing {

// Updates the interface's list until the camera of `id` is in it (a bounded number of times).
inline bool Discovered(GenTLConsumer& gc, IF_HANDLE iface, const std::string& id) {
    for (int attempt = 0; attempt < 20; ++attempt) {
        if (gc.IFUpdateDeviceList(iface, nullptr, 1000) != GC_ERR_SUCCESS) return false;
        uint32_t count = 0;
        gc.IFGetNumDevices(iface, &count);
        for (uint32_t i = 0; i < count; ++i) {
            char text[128] = {};
            size_t size = sizeof text;
            gc.IFGetDeviceID(iface, i, text, &size);
            if (id == text) return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
    }
    return false;
}

} // namespace qorcam::testing
