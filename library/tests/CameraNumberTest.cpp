// CameraNumberTest: the camera number the library reads from a producer's device id.
#include "GenTLInterface.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using qorcam::library::CInterface;

TEST(CameraNumberTest, IsTheDecimalNumberBehindTheFirstDoubleColon) {
    const struct {
        const char* id;
        std::uint64_t number;
    } cases[] = {
        {"USB3Vision::12", 12},
        {"GigEVision::73588229205", 73588229205u},
        {"GigEVision::216172782113783808", 216172782113783808u}, // 0x0300000000000000 with a zero MAC
        {"A::7::9", 7},                                          // the first "::" counts
        {"A::42 rest", 42},                                      // up to the first non-digit
        {"A::", 0},
        {"A::x1", 0},
        {"x123", 123}, // without "::": from the second character
        {"", 0},
        {"A::18446744073709551615", 18446744073709551615u},
        {"A::18446744073709551616", 1844674407370955161u}, // a digit beyond 64 bits is left off
    };
    for (const auto& c : cases)
        EXPECT_EQ(CInterface::CameraNumber(c.id), c.number) << c.id;
}

} // namespace
