// Installing and removing the GigE service where systemd manages the machine: the unit is enabled and
// started, or disabled and stopped, through systemctl (a stand-in that records its calls here).
#include "LinuxNetCfg.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

namespace qorcam::driverselect {
namespace {

namespace fs = std::filesystem;

std::string ReadFile(const fs::path& path) {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

class SystemdInstallTest : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/qorcam-systemd.XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        folder_ = pattern;
        setenv("QORCAM_ROOT", (folder_ / "root").c_str(), 1);
        fs::create_directories(folder_ / "units");
    }
    void TearDown() override {
        unsetenv("QORCAM_ROOT");
        std::error_code ec;
        fs::remove_all(folder_, ec);
    }

    // A systemctl that appends its arguments to calls.log and ends with the given code.
    gigeconfig::CSystemdUnit Unit(int exitCode) {
        const fs::path program = folder_ / "systemctl";
        std::ofstream(program) << "#!/bin/sh\necho \"$*\" >> '" << (folder_ / "calls.log").string() << "'\nexit "
                               << exitCode << "\n";
        fs::permissions(program, fs::perms::owner_all);
        return gigeconfig::CSystemdUnit(gigeconfig::kGigeUnit, program, {(folder_ / "units").string()});
    }
    std::string Calls() { return ReadFile(folder_ / "calls.log"); }

    fs::path folder_;
};

TEST_F(SystemdInstallTest, InstallEnablesTheUnitAndRemovalDisablesIt) {
    struct Case {
        const char* what;
        bool packaged;      // an installed unit file exists
        int systemctlExit;  // what every systemctl call ends with
        const char* installCalls;
        bool installed;
        const char* removalCalls;
    };
    const Case cases[] = {
        {"no installed unit: written, read, enabled", false, 0,
         "daemon-reload\nenable --now QorGigE.service\n", true,
         "disable --now QorGigE.service\ndaemon-reload\n"},
        {"installed unit: used as it is", true, 0, "enable --now QorGigE.service\n", true,
         "disable --now QorGigE.service\n"},
        {"systemctl fails: the install fails", true, 1, "enable --now QorGigE.service\n", false, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TearDown();
        SetUp();
        if (c.packaged) std::ofstream(folder_ / "units" / gigeconfig::kGigeUnit) << "[Service]\n";
        const fs::path written = CLinuxNetCfg::UnitFilePath();
        {
            CLinuxNetCfg cfg(true);
            ASSERT_TRUE(cfg.HasWriteLock());
            cfg.UseSystemd(Unit(c.systemctlExit));
            EXPECT_EQ(cfg.InstallComponent(kFilterComponent) == S_OK, c.installed);
            EXPECT_EQ(cfg.IsInstalled(kFilterComponent), c.installed);
        }
        EXPECT_EQ(Calls(), c.installCalls);
        EXPECT_EQ(fs::exists(written), !c.packaged);
        if (!c.packaged) {
            EXPECT_NE(ReadFile(written).find("ExecStart=/"), std::string::npos);
        }
        if (!c.installed) continue;

        fs::remove(folder_ / "calls.log");
        {
            CLinuxNetCfg cfg(true);
            cfg.UseSystemd(Unit(c.systemctlExit));
            EXPECT_EQ(cfg.UninstallComponent(kFilterComponent), S_OK);
            EXPECT_FALSE(cfg.IsInstalled(kFilterComponent));
        }
        EXPECT_EQ(Calls(), c.removalCalls);
        EXPECT_FALSE(fs::exists(written));
    }
}

TEST_F(SystemdInstallTest, WithoutSystemdTheUnitFileIsOnlyWritten) {
    CLinuxNetCfg cfg(true);
    cfg.UseSystemd(std::nullopt);
    ASSERT_EQ(cfg.InstallComponent(kFilterComponent), S_OK);
    EXPECT_TRUE(fs::exists(CLinuxNetCfg::UnitFilePath()));
    EXPECT_FALSE(fs::exists(folder_ / "calls.log"));
    // A relocated system (QORCAM_ROOT) never reaches the machine's systemd.
    EXPECT_FALSE(gigeconfig::CSystemdUnit::Machine(gigeconfig::kGigeUnit).has_value());
}

} // namespace
} // namespace qorcam::driverselect
