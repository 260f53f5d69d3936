// The service's parameters: missing and zero values take their replacements.
#include "GigeParameters.h"

#include <gtest/gtest.h>

#include <map>
#include <string>

namespace qorcam::gige {
namespace {

TEST(GigeParameters, MissingAndZeroValuesTakeTheirReplacements) {
    struct Case {
        const char* what;
        std::map<std::string, uint32_t> values;
        GigeParameters expected;
    };
    GigeParameters defaults;
    GigeParameters given;
    given.dhcp = 1;
    given.cmdRetry = 3;
    given.cmdTimeout = 500;
    given.streamRetry = 2;
    given.dhcpWait = 1000;
    given.initWait = 50;
    given.initWait1 = 7;
    given.listWait = 250;
    given.dhcpReleaseTime = 3600;
    GigeParameters allZero = defaults;
    allZero.cmdRetry = 0; // a stored 0 turns resends off
    allZero.streamRetry = 0; // a stored 0 switches the resend rounds off
    GigeParameters shortList = defaults;
    shortList.listWait = 100;
    const Case cases[] = {
        {"nothing stored", {}, defaults},
        {"all zero",
         {{"DHCP", 0},
          {"CMDRETRY", 0},
          {"CMDTIMEOUT", 0},
          {"STREAMRETRY", 0},
          {"DHCPWAIT", 0},
          {"INITWAIT", 0},
          {"INITWAIT1", 0},
          {"LISTWAIT", 0},
          {"DHCPRELEASETIME", 0}},
         allZero},
        {"all given",
         {{"DHCP", 1},
          {"CMDRETRY", 3},
          {"CMDTIMEOUT", 500},
          {"STREAMRETRY", 2},
          {"DHCPWAIT", 1000},
          {"INITWAIT", 50},
          {"INITWAIT1", 7},
          {"LISTWAIT", 250},
          {"DHCPRELEASETIME", 3600}},
         given},
        {"list wait below 100", {{"LISTWAIT", 99}}, shortList},
    };
    for (const auto& c : cases) {
        auto p = GigeParameters::FromValues(
            [&](const char* name) -> std::optional<uint32_t> {
                auto it = c.values.find(name);
                if (it == c.values.end()) return std::nullopt;
                return it->second;
            },
            "/x/QORGIGEDRVPROF.dat");
        EXPECT_EQ(p.dhcp, c.expected.dhcp) << c.what;
        EXPECT_EQ(p.cmdRetry, c.expected.cmdRetry) << c.what;
        EXPECT_EQ(p.cmdTimeout, c.expected.cmdTimeout) << c.what;
        EXPECT_EQ(p.streamRetry, c.expected.streamRetry) << c.what;
        EXPECT_EQ(p.dhcpWait, c.expected.dhcpWait) << c.what;
        EXPECT_EQ(p.initWait, c.expected.initWait) << c.what;
        EXPECT_EQ(p.initWait1, c.expected.initWait1) << c.what;
        EXPECT_EQ(p.listWait, c.expected.listWait) << c.what;
        EXPECT_EQ(p.dhcpReleaseTime, c.expected.dhcpReleaseTime) << c.what;
        EXPECT_EQ(p.path, "/x/QORGIGEDRVPROF.dat");
    }
}

} // namespace
} // namespace qorcam::gige
