// What the USB producer's tests share: camera ids and the listing of an interface.
#pragma once

#include "GenTLConsumer.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace qorcam::testing {

// The id the producer gives a camera of this device number.
inline std::string UsbId(uint64_t number) {
    return "USB3Vision::" + std::to_string(0x0310000000000000ULL | number);
}

// The ids the interface lists now, in its order.
inline std::vector<std::string> ListedIds(GenTLConsumer& gc, IF_HANDLE iface) {
    uint32_t count = 0;
    EXPECT_EQ(gc.IFGetNumDevices(iface, &count), GC_ERR_SUCCESS);
    std::vector<std::string> ids;
    for (uint32_t i = 0; i < count; ++i) {
        char text[128] = {};
        size_t size = sizeof text;
        EXPECT_EQ(gc.IFGetDeviceID(iface, i, text, &size), GC_ERR_SUCCESS);
        ids.push_back(text);
    }
    return ids;
}

} // namespace qorcam::testing
