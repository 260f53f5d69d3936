// DevicePathListTest: which scans count as a change of the device set, and the order kept afterwards.
#include "DevicePathList.h"

#include <gtest/gtest.h>

using qorcam::monitor::CDevicePathList;
using Paths = std::vector<std::string>;

TEST(DevicePathList, OnlyAChangeOfTheSetCounts) {
    struct Case {
        const char* what;
        Paths stored, current;
        bool changed;
        Paths after;
    };
    const Case cases[] = {
        {"same paths", {"a", "b"}, {"a", "b"}, false, {"a", "b"}},
        {"same paths, other order", {"a", "b"}, {"b", "a"}, false, {"a", "b"}},
        {"one arrives", {"a"}, {"b", "a"}, true, {"a", "b"}},
        {"one leaves", {"a", "b"}, {"b"}, true, {"b"}},
        {"one arrives, another leaves", {"a", "b"}, {"c", "b"}, true, {"b", "c"}},
        {"byte-wise comparison", {"dev"}, {"DEV"}, true, {"DEV"}},
        {"duplicates are matched one to one", {"a"}, {"a", "a"}, true, {"a", "a"}},
        {"all leave", {"a", "b"}, {}, true, {}},
    };
    for (const Case& c : cases) {
        CDevicePathList list;
        list.Append(c.stored);
        EXPECT_EQ(list.Update(c.current), c.changed) << c.what;
        EXPECT_EQ(list.Paths(), c.after) << c.what;
    }
}

TEST(DevicePathList, SecondScanWithoutChangeSetsNothing) {
    CDevicePathList list;
    list.Append({});
    EXPECT_TRUE(list.Update({"x"}));
    EXPECT_FALSE(list.Update({"x"}));
}
