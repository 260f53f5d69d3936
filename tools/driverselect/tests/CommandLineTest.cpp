// The driver select tool's command line: flags, the folder and the start-up rules.
#include "CommandLine.h"

#include <gtest/gtest.h>

namespace qorcam::driverselect {
namespace {

TEST(CommandLine, FlagsFolderAndStartUpRules) {
    struct Case {
        std::vector<std::string> args;
        CommandFlags expected;
    };
    const Case cases[] = {
        {{"/Install"}, {1, 0, 0, 0, ""}},
        {{"-install", "/log"}, {1, 0, 0, 1, ""}},
        {{"/INSTALL", "/Path", "/opt/qorcam"}, {1, 0, 1, 0, "/opt/qorcam"}},
        {{"/Install", "/Path", "\"/opt/qor cam\"trailing"}, {1, 0, 1, 0, "/opt/qor cam"}},
        {{"/Install", "/Path", "\"\"/opt/x\""}, {1, 0, 1, 0, "/opt/x"}}, // leading quotes skipped
        {{"/Install", "/Path", "/a", "/b"}, {1, 0, 1, 0, "/b"}},         // a later one replaces it
        {{"/Install", "/Path"}, {1, 0, 0, 0, ""}},                       // no folder: program folder
        {{"/Install", "/Path", "/Log", "/a"}, {1, 0, 0, 1, ""}},         // another flag ends the folder
        {{"/Uninstall", "/Path", "/opt/qorcam"}, {0, 1, 0, 0, "/opt/qorcam"}},
        {{"/Install", "/Uninstall"}, {0, 0, 0, 0, ""}}, // both: the dialog runs
        {{"stray", "/Unknown"}, {0, 0, 0, 0, ""}},
    };
    for (const auto& c : cases) {
        std::vector<std::string> argv = {"QorGigEPref"};
        argv.insert(argv.end(), c.args.begin(), c.args.end());
        const CommandFlags f = ParseCommandLine(argv);
        std::string what;
        for (const auto& a : c.args)
            what += a + " ";
        EXPECT_EQ(f.install, c.expected.install) << what;
        EXPECT_EQ(f.uninstall, c.expected.uninstall) << what;
        EXPECT_EQ(f.path, c.expected.path) << what;
        EXPECT_EQ(f.log, c.expected.log) << what;
        if (f.path) {
            EXPECT_EQ(f.folder, c.expected.folder) << what;
        }
    }
}

} // namespace
} // namespace qorcam::driverselect
