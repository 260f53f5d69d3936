// Tests of process start, owned child processes and process ids.
#include "TestSupport.h"

#include "os/Process.h"

#include <chrono>
#include <fcntl.h>
#include <fstream>
#include <set>
#include <sstream>
#include <thread>
#include <unistd.h>

namespace qorcam::os {
namespace {

using ProcessTest = test::RootFixture;

TEST_F(ProcessTest, StartRunsTheProgramDetachedWithoutOurDescriptors) {
    // A descriptor without close-on-exec that a careless start would pass on.
    const int leaky = open("/dev/null", O_RDONLY);
    ASSERT_GE(leaky, 3);
    setenv("QORCAM_OS_TEST_ROLE", "report-start", 1);
    const bool started = Process::Start(Process::ExecutablePath());
    unsetenv("QORCAM_OS_TEST_ROLE");
    close(leaky);
    ASSERT_TRUE(started);

    const std::string out = root_ + "/start.out";
    std::string text;
    for (int i = 0; i < 1000 && text.find("end\n") == std::string::npos; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        std::ifstream in(out);
        text.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    ASSERT_NE(text.find("end\n"), std::string::npos) << "started program never reported";
    std::set<int> fds;
    int ppid = -1;
    std::istringstream lines(text);
    std::string word;
    int value;
    while (lines >> word && word != "end" && lines >> value) {
        if (word == "ppid") ppid = value;
        if (word == "fd") fds.insert(value);
    }
    EXPECT_NE(ppid, static_cast<int>(getpid())); // not our child: never a zombie of ours
    for (int fd : fds)
        EXPECT_LE(fd, 2) << "inherited descriptor " << fd;
}

TEST_F(ProcessTest, StartReportsAProgramThatCannotRun) {
    EXPECT_FALSE(Process::Start(""));
    EXPECT_FALSE(Process::Start(root_ + "/missing"));
    EXPECT_FALSE(Process::Start(root_)); // a folder
}

TEST_F(ProcessTest, SpawnedChildGivesItsExitCodeOrSignal) {
    auto child = Process::Spawn("/bin/sh", {"-c", "exit 7"});
    ASSERT_TRUE(child.has_value());
    EXPECT_NE(child->Id(), 0u);
    EXPECT_EQ(child->Wait(10000), 7);
    EXPECT_EQ(child->Wait(0), 7); // remembered
    EXPECT_FALSE(child->Kill(9)); // already ended

    auto sleeper = Process::Spawn("/bin/sh", {"-c", "exec sleep 30"});
    ASSERT_TRUE(sleeper.has_value());
    EXPECT_FALSE(sleeper->Wait(20).has_value());
    EXPECT_TRUE(sleeper->Kill(15));
    EXPECT_EQ(sleeper->Wait(10000), 128 + 15);

    EXPECT_FALSE(Process::Spawn(root_ + "/missing").has_value());
}

TEST_F(ProcessTest, SpawnPassesExtraEnvironmentOverTheCallers) {
    setenv("QORCAM_OS_TEST_VAR", "old", 1);
    auto child =
        Process::Spawn("/bin/sh", {"-c", "test \"$QORCAM_OS_TEST_VAR\" = new && test -n \"$QORCAM_ROOT\""},
                       {{"QORCAM_OS_TEST_VAR", "new"}});
    unsetenv("QORCAM_OS_TEST_VAR");
    ASSERT_TRUE(child.has_value());
    EXPECT_EQ(child->Wait(10000), 0);
}

TEST_F(ProcessTest, DestroyingAProcessKillsAndReapsItsChild) {
    pid_t pid;
    {
        auto sleeper = Process::Spawn("/bin/sh", {"-c", "exec sleep 30"});
        ASSERT_TRUE(sleeper.has_value());
        pid = static_cast<pid_t>(sleeper->Id());
    }
    EXPECT_NE(kill(pid, 0), 0); // gone, and reaped (no zombie to signal)
}

TEST(ProcessIds, CurrentIdAndExecutable) {
    EXPECT_EQ(Process::CurrentId(), static_cast<std::uint32_t>(getpid()));
    const std::string exe = Process::ExecutablePath();
    ASSERT_FALSE(exe.empty());
    EXPECT_EQ(exe[0], '/');
    EXPECT_EQ(access(exe.c_str(), X_OK), 0);
}

} // namespace
} // namespace qorcam::os
