// QorGigEPref as a program: each option, its exit codes and the install log.
#include "TestNamespace.h"

#include "LinuxNetCfg.h"
#include "os/NamedMutex.h"
#include "os/SettingsStore.h"

#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <regex>
#include <thread>

namespace qorcam::driverselect::test {
namespace {

namespace fs = std::filesystem;

std::string ReadFile(const fs::path& path) {
    std::ifstream in(path);
    return std::string((std::istreambuf_iterator<char>(in)), {});
}

class ProgramTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!ns_.Available()) GTEST_SKIP() << ns_.Reason();
        work_ = fs::path(ns_.Root()) / "work";
        fs::create_directories(work_);
    }
    // Runs the program in the namespace, from the work folder; its exit code.
    // The dialog runs on the terminal: no display is named unless display says which.
    int Pref(const std::string& args, const TestNamespace* ns = nullptr, const std::string& input = "",
             const std::string& display = "") {
        const TestNamespace& n = ns ? *ns : ns_;
        // Output goes to a file: a service the dialog starts keeps no pipe of ours open.
        return n.RunIn("cd " + work_.string() + " && unset DISPLAY WAYLAND_DISPLAY QT_QPA_PLATFORM && " +
                       display + (input.empty() ? "" : "echo " + input + " | ") +
                       QORCAM_BIN_DIR "/QorGigEPref " + args + " >>output.txt 2>&1");
    }
    std::string Output() { return ReadFile(work_ / "output.txt"); }
    void TearDown() override {
        // A dialog run starts the service on Cancel; it is ours to stop.
        std::ifstream pidFile(ns_.Root() + "/run/QorGigE.pid");
        pid_t pid = 0;
        if (pidFile >> pid && pid > 1) kill(pid, SIGTERM);
    }
    std::string Log() { return ReadFile(work_ / "QorGigEPrefLog.log"); }
    fs::path Inf(int n) { return fs::path(ns_.Root()) / "etc/inf" / ("oem" + std::to_string(n) + ".inf"); }
    os::SettingsStore Settings() { return os::SettingsStore(ns_.Root() + "/etc/machine.ini"); }

    TestNamespace ns_;
    fs::path work_;
};

TEST_F(ProgramTest, InstallTwiceThenUninstallEverything) {
    ASSERT_EQ(Pref("-install -log"), 0) << Log();
    const std::string log = Log();
    const std::regex line(R"(\d{4}/\d{2}/\d{2} \d{2}:\d{2}:\d{2}'\d{3}  QorGigE Driver Install Start\n)"
                          R"(\d{4}/\d{2}/\d{2} \d{2}:\d{2}:\d{2}'\d{3}  QorGigE Driver Install End\n\n)");
    EXPECT_TRUE(std::regex_match(log, line)) << log;
    EXPECT_TRUE(fs::exists(Inf(0)));
    EXPECT_EQ(Settings().GetString(kGigeServiceKey, "ImagePath").value_or(""),
              std::string(QORCAM_BIN_DIR) + "/QorGigEFilter");
    EXPECT_EQ(Settings().GetString(kGigeLinkageKey, "Bind"), std::optional<std::string>(""));
    const std::string unit = ReadFile(ns_.Root() + "/etc/systemd/system/QorGigE.service");
    EXPECT_NE(unit.find("ExecStart=" QORCAM_BIN_DIR "/QorGigEFilter"), std::string::npos) << unit;

    // Installed already: 2, nothing changes, the log says why.
    EXPECT_EQ(Pref("/Install /Log"), 2);
    EXPECT_NE(Log().find("  Not Uninstall QorGigE Driver\n"), std::string::npos) << Log();
    EXPECT_FALSE(fs::exists(Inf(1)));
    // Without /Log nothing is written.
    const auto size = fs::file_size(work_ / "QorGigEPrefLog.log");
    EXPECT_EQ(Pref("/Install"), 2);
    EXPECT_EQ(fs::file_size(work_ / "QorGigEPrefLog.log"), size);
    // Either way the refusal says why, naming the installed copy and the way out.
    EXPECT_NE(Output().find("the GigE service is installed already (" + Inf(0).string() +
                            "); QorGigEPref /Uninstall removes it"),
              std::string::npos)
        << Output();

    // A second copy and a package of another kind; the profile file.
    fs::copy_file(Inf(0), Inf(5));
    fs::permissions(Inf(5), fs::perms::owner_read); // removal makes it writable first
    { std::ofstream(Inf(7)) << "[Version]\nClass = Net\n[QORGIGE_Service]\nx=1\n"; }
    const fs::path profile = fs::path(ns_.Root()) / "data/Korvashdrevali/QorCam/QORGIGEDRVPROF.dat";
    fs::create_directories(profile.parent_path());
    { std::ofstream(profile) << std::string(20, '\0'); }

    // A running service is stopped by the removal (the dialog starts it on
    // Cancel; without the library the dialog doesn't run).
    pid_t service = 0;
    if (fs::exists(QORCAM_BIN_DIR "/libQorCam.so")) {
        EXPECT_EQ(Pref("", nullptr, "cancel"), 0);
        std::ifstream(ns_.Root() + "/run/QorGigE.pid") >> service;
        EXPECT_GT(service, 1) << Output();
    }

    EXPECT_EQ(Pref("/Uninstall /Path /opt/elsewhere"), 0);
    if (service > 1) {
        std::ifstream stat("/proc/" + std::to_string(service) + "/stat");
        std::string line;
        std::getline(stat, line);
        const auto paren = line.rfind(')');
        EXPECT_TRUE(line.empty() || (paren != std::string::npos && line.substr(paren + 2, 1) == "Z"))
            << "the service still runs: " << line;
    }
    EXPECT_FALSE(fs::exists(Inf(0)));
    EXPECT_FALSE(fs::exists(Inf(5)));
    EXPECT_TRUE(fs::exists(Inf(7)));
    EXPECT_FALSE(fs::exists(profile));
    EXPECT_FALSE(Settings().KeyExists(kGigeServiceKey));
    EXPECT_FALSE(fs::exists(ns_.Root() + "/etc/systemd/system/QorGigE.service"));
    // Removed: installing works again.
    EXPECT_EQ(Pref("/install"), 0);
}

TEST_F(ProgramTest, FailedStepsAreLoggedAndEndWithOne) {
    EXPECT_EQ(Pref("/Install /Log /Path \"" + work_.string() + "/missing\""), 1);
    EXPECT_NE(Log().find("  SetupCopyOEMInf QorGigE.inf Install Error 0x00000002\n"), std::string::npos)
        << Log();
    EXPECT_NE(Log().find("  QorGigE Driver Install End\n\n"), std::string::npos) << Log();
    EXPECT_NE(Output().find("QorGigEPref /Install: the service's package " + work_.string() +
                            "/missing/Driver/GigE/QorGigE.inf can't be copied"),
              std::string::npos)
        << Output();

    // A package from a folder given with /Path, in a namespace without any adapter:
    // nothing to walk, so the component install reports S_FALSE.
    TestNamespace empty(false);
    ASSERT_TRUE(empty.Available()) << empty.Reason();
    fs::create_directories(work_ / "pkg/Driver/GigE");
    fs::copy_file(QORCAM_BIN_DIR "/Driver/GigE/QorGigE.inf", work_ / "pkg/Driver/GigE/QorGigE.inf");
    fs::remove(work_ / "QorGigEPrefLog.log");
    EXPECT_EQ(Pref("/Install /Log /Path " + (work_ / "pkg").string(), &empty), 1);
    EXPECT_NE(Log().find("  HrInstallNetComponent Driver 0x00000001\n"), std::string::npos) << Log();
    EXPECT_NE(Output().find("QorGigEPref /Install: no network adapter found; nothing installed"), std::string::npos)
        << Output();
    // The failed install left nothing behind: no package copy, no component,
    // so trying again fails the same way instead of answering "installed".
    EXPECT_FALSE(fs::exists(fs::path(empty.Root()) / "etc/inf/oem0.inf"));
    EXPECT_FALSE(fs::exists(fs::path(empty.Root()) / "etc/systemd/system/QorGigE.service"));
    EXPECT_EQ(Pref("/Install /Path " + (work_ / "pkg").string(), &empty), 1);
}

TEST_F(ProgramTest, DialogPathsAndASecondInstanceInstallNothing) {
    // Install and Uninstall together: the dialog runs (or, without the library, its message).
    EXPECT_EQ(Pref("/Install /Uninstall", nullptr, "cancel"), 0);
    EXPECT_FALSE(fs::exists(Inf(0)));
    const bool library = fs::exists(QORCAM_BIN_DIR "/libQorCam.so");
    EXPECT_NE(Output().find(library ? "Select Install:" : "QorCam.DLL Not Found"), std::string::npos)
        << Output();

    // A display that can't be reached, or one that shows nothing, leaves the dialog on the terminal.
    for (const char* display : {"DISPLAY=:54321 ", "QT_QPA_PLATFORM=offscreen "}) {
        fs::remove(work_ / "output.txt");
        EXPECT_EQ(Pref("", nullptr, "cancel", std::string("export ") + display + "&& "), 0) << display;
        EXPECT_NE(Output().find(library ? "Select Install:" : "QorCam.DLL Not Found"), std::string::npos)
            << display << Output();
    }

    setenv("QORCAM_ROOT", ns_.Root().c_str(), 1);
    {
        os::NamedMutex other("QORGIGEPREF_EXEC__Quillonmark");
        std::thread holder([&] {
            other.Lock();
            std::this_thread::sleep_for(std::chrono::seconds(3));
            other.Unlock();
        });
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        // Nothing installed is a failure, said as one.
        fs::remove(work_ / "output.txt");
        EXPECT_EQ(Pref("/Install"), 1);
        EXPECT_NE(Output().find("already running"), std::string::npos) << Output();
        EXPECT_FALSE(fs::exists(Inf(0))) << "a second instance installed";
        holder.join();
    }
    unsetenv("QORCAM_ROOT");
    EXPECT_EQ(Pref("/Install"), 0);
}

} // namespace
} // namespace qorcam::driverselect::test
