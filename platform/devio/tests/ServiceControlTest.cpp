// Tests of service control: start until the device answers, stop, query, and pid files that lie.
#include "devio/ServiceControl.h"
#include "TestRoot.h"
#include "TestService.h"
#include "devio/DeviceHandle.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <poll.h>
#include <unistd.h>

namespace qorcam::devio {
namespace {

constexpr const char* kName = "\\\\.\\DEVIOSVC";

ServiceConfig TestServiceConfig() {
    ServiceConfig config;
    config.name = "DEVIOSVC";
    config.program = DEVIO_TEST_SERVICE;
    config.arguments = {kName};
    config.deviceName = kName;
    config.startTimeout = std::chrono::seconds(10);
    config.stopTimeout = std::chrono::seconds(10);
    return config;
}

std::string ReadFile(const std::filesystem::path& path) {
    std::ifstream in(path);
    std::string text;
    std::getline(in, text);
    return text;
}

/// True while a live (not zombie) process has marker among its arguments.
bool ProcessWithArgumentRuns(const std::string& marker) {
    for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
        std::ifstream cmdline(entry.path() / "cmdline", std::ios::binary);
        std::string args((std::istreambuf_iterator<char>(cmdline)), std::istreambuf_iterator<char>());
        if (args.find(marker) == std::string::npos) continue;
        std::ifstream stat(entry.path() / "stat");
        std::string line;
        std::getline(stat, line);
        const auto paren = line.rfind(')');
        if (paren != std::string::npos && paren + 2 < line.size() && line[paren + 2] != 'Z') return true;
    }
    return false;
}

TEST(ServiceControlTest, StartWaitsForTheDeviceStopEndsTheService) {
    test::TestRoot root;
    ServiceControl control(TestServiceConfig());
    EXPECT_EQ(control.Query(), ServiceState::Stopped);
    EXPECT_TRUE(control.Stop()); // stopping a stopped service is fine

    std::string error;
    ASSERT_TRUE(control.Start(&error)) << error;
    EXPECT_EQ(control.Query(), ServiceState::Running);
    const pid_t pid = control.Pid();
    ASSERT_GT(pid, 0);
    EXPECT_EQ(ReadFile(control.PidFile()), std::to_string(pid));
    EXPECT_EQ(control.PidFile(), root.Path() / "run" / "DEVIOSVC.pid");

    // The device answers as soon as Start returns.
    {
        DeviceHandle handle;
        ASSERT_EQ(handle.Open(kName), STATUS_SUCCESS);
        std::uint64_t bytes = 0;
        EXPECT_EQ(handle.DeviceIoControl(test::kEcho, "x", 1, nullptr, 0, &bytes), STATUS_SUCCESS);
    }
    ASSERT_TRUE(control.Start(&error)) << error;
    EXPECT_EQ(control.Pid(), pid);

    ASSERT_TRUE(control.Stop(&error)) << error;
    EXPECT_EQ(control.Query(), ServiceState::Stopped);
    EXPECT_FALSE(std::filesystem::exists(control.PidFile()));
    DeviceHandle handle;
    EXPECT_EQ(handle.Open(kName), STATUS_OBJECT_NAME_NOT_FOUND);
}

// A service started from a program whose output is a pipe keeps no end of
// that pipe: `tool | grep ...` ends when the tool ends, not when the service does.
TEST(ServiceControlTest, StartedServiceKeepsNoneOfTheCallersOutputs) {
    test::TestRoot root;
    ServiceControl control(TestServiceConfig());
    int out[2];
    ASSERT_EQ(pipe(out), 0);
    fflush(stdout);
    fflush(stderr);
    const int savedOut = dup(STDOUT_FILENO), savedErr = dup(STDERR_FILENO);
    dup2(out[1], STDOUT_FILENO);
    dup2(out[1], STDERR_FILENO);
    close(out[1]);
    std::string error;
    const bool started = control.Start(&error);
    dup2(savedOut, STDOUT_FILENO);
    dup2(savedErr, STDERR_FILENO);
    close(savedOut);
    close(savedErr);
    ASSERT_TRUE(started) << error;
    // Every writer of the pipe is gone now unless the service holds one.
    pollfd p{out[0], POLLIN, 0};
    ASSERT_EQ(poll(&p, 1, 0), 1) << "the service holds the caller's output";
    char c;
    EXPECT_EQ(read(out[0], &c, 1), 0);
    close(out[0]);
    for (const char* fd : {"1", "2"})
        EXPECT_EQ(std::filesystem::read_symlink("/proc/" + std::to_string(control.Pid()) + "/fd/" + fd), "/dev/null");
    ASSERT_TRUE(control.Stop(&error)) << error;
}

TEST(ServiceControlTest, PidFileOfAnotherProgramIsNeverTakenForTheService) {
    test::TestRoot root;
    ServiceControl control(TestServiceConfig());
    for (const std::string& content : {std::to_string(getpid()), std::string("1"), std::string("garbage"),
                                       std::string("-5"), std::string("99999999999")}) {
        SCOPED_TRACE(content);
        std::ofstream(control.PidFile()) << content << "\n";
        EXPECT_EQ(control.Query(), ServiceState::Stopped);
        EXPECT_EQ(control.Pid(), 0);
        EXPECT_TRUE(control.Stop()); // and this test process is still here
        EXPECT_FALSE(std::filesystem::exists(control.PidFile()));
    }
    std::ofstream(control.PidFile()) << getpid() << "\n";
    std::string error;
    ASSERT_TRUE(control.Start(&error)) << error;
    EXPECT_NE(control.Pid(), getpid());
    EXPECT_TRUE(control.Stop(&error)) << error;
}

TEST(ServiceControlTest, StartFailsAndCleansUpWhenTheServiceDoesNotComeUp) {
    test::TestRoot root;
    struct Case {
        const char* what;
        std::filesystem::path program;
        std::vector<std::string> arguments;
        const char* errorPart;
    };
    const Case cases[] = {
        {"program missing", "/nonexistent/qorcam-service", {}, "cannot start"},
        {"program ends at once", "/bin/false", {}, "ended during start"},
        {"program never answers", "/bin/sleep", {"30.4242"}, "did not answer"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        ServiceConfig config = TestServiceConfig();
        config.program = c.program;
        config.arguments = c.arguments;
        config.startTimeout = std::chrono::milliseconds(300);
        ServiceControl control(config);
        std::string error;
        EXPECT_FALSE(control.Start(&error));
        EXPECT_NE(error.find(c.errorPart), std::string::npos) << error;
        EXPECT_FALSE(std::filesystem::exists(control.PidFile()));
        EXPECT_EQ(control.Query(), ServiceState::Stopped);
    }
    EXPECT_FALSE(ProcessWithArgumentRuns("30.4242"));
}

TEST(ServiceControlTest, ServiceThatDiesLeavesClientsAnsweredAndCanBeStartedAgain) {
    test::TestRoot root;
    ServiceControl control(TestServiceConfig());
    std::string error;
    ASSERT_TRUE(control.Start(&error)) << error;
    DeviceHandle handle;
    ASSERT_EQ(handle.Open(kName), STATUS_SUCCESS);
    Overlapped o;
    ASSERT_EQ(handle.DeviceIoControl(test::kPend, nullptr, 0, nullptr, 0, o), STATUS_PENDING);

    ASSERT_EQ(kill(control.Pid(), SIGKILL), 0);
    EXPECT_EQ(handle.GetOverlappedResult(o, nullptr, true), STATUS_DEVICE_NOT_CONNECTED);
    EXPECT_EQ(handle.DeviceIoControl(test::kEcho, nullptr, 0, nullptr, 0, o), STATUS_DEVICE_NOT_CONNECTED);
    for (int i = 0; i < 500 && control.Query() == ServiceState::Running; ++i)
        usleep(10000);
    EXPECT_EQ(control.Query(), ServiceState::Stopped);

    // Its pid file and socket are left behind; a new start replaces both.
    ASSERT_TRUE(control.Start(&error)) << error;
    handle.Close();
    ASSERT_EQ(handle.Open(kName), STATUS_SUCCESS);
    std::uint64_t bytes = 0;
    EXPECT_EQ(handle.DeviceIoControl(test::kEcho, "ab", 2, nullptr, 0, &bytes), STATUS_SUCCESS);
    EXPECT_EQ(bytes, 2u);
    EXPECT_TRUE(control.Stop(&error)) << error;
}

} // namespace
} // namespace qorcam::devio
