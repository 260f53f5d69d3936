// LibraryCollectionTest: the library collector draining lines that a real library process writes.
#include "LibraryIdentity.h"
#include "SessionFixture.h"
#include "UserCollector.h"

#include "os/DynamicLibrary.h"
#include "os/Paths.h"
#include "os/Process.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstring>
#include <grp.h>
#include <regex>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace qorcam::tracelog {
namespace {

using test::ReadFile;

// Starts args[0] as uid (in the group of the same number) with only the runtime root in its environment.
pid_t RunAs(uid_t uid, const std::vector<std::string>& args) {
    std::vector<char*> argv;
    for (const auto& a : args)
        argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    const std::string env = std::string("QORCAM_ROOT=") + std::getenv("QORCAM_ROOT");
    char* envp[] = {const_cast<char*>(env.c_str()), nullptr};
    const pid_t pid = fork();
    if (pid == 0) {
        if (setgroups(0, nullptr) != 0 || setgid(uid) != 0 || setuid(uid) != 0) _exit(126);
        execve(argv[0], argv.data(), envp);
        _exit(127);
    }
    return pid;
}

// Whether a child of this process can take uid (a user namespace may not map it).
bool CanBecome(uid_t uid) {
    const pid_t pid = fork();
    if (pid == 0) _exit(setgroups(0, nullptr) == 0 && setgid(uid) == 0 && setuid(uid) == 0 ? 0 : 1);
    int status = 0;
    return pid > 0 && waitpid(pid, &status, 0) == pid && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

// The child's exit code; -1 when it did not end within 60 s (it is killed then).
int ExitOf(pid_t pid) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    int status = 0;
    while (waitpid(pid, &status, WNOHANG) == 0) {
        if (std::chrono::steady_clock::now() >= end) {
            kill(pid, SIGKILL);
            waitpid(pid, &status, 0);
            return -1;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// Polls cond for up to 30 s.
template <class Cond> bool Within30s(Cond cond) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (std::chrono::steady_clock::now() < end) {
        if (cond()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return cond();
}

bool HasLine(const std::filesystem::path& file, const std::string& text) {
    for (const auto& line : test::RingRecords(file))
        if (line.find(text) != std::string::npos) return true;
    return false;
}

class LibraryCollectionTest : public test::SessionTest {
protected:
    SessionOptions Options(std::uint32_t dllLevel) const { return SessionTest::Options(0, dllLevel); }
    std::filesystem::path DllFile() const { return File("QorCam_Dll.log"); }
};

TEST_F(LibraryCollectionTest, LinesOfALibraryProcessLandInTheFileInOrder) {
    session_.StartLogging(Options(1));
    EXPECT_EQ(area_.Level(), 1u);
    auto writer = os::Process::Spawn(QORCAM_TRACE_WRITER, {"40"});
    ASSERT_TRUE(writer.has_value());
    ASSERT_EQ(writer->Wait(30000), 0);
    const std::string pid = "ProcessID=" + std::to_string(writer->Id());
    // The writer's last line is its DLL DETACH.
    ASSERT_TRUE(test::Eventually([&] {
        const auto lines = test::RingRecords(DllFile());
        return !lines.empty() && lines.back().find("DLL DETACH " + pid) != std::string::npos;
    })) << ReadFile(DllFile());
    session_.StopLogging();
    EXPECT_EQ(area_.Level(), 0u);

    const auto lines = test::RingRecords(DllFile());
    EXPECT_NE(lines.front().find("DLL ATTACH " + pid), std::string::npos) << lines.front();
    const std::regex stamp(R"(\d{4}/\d{2}/\d{2} \d{2}:\d{2}:\d{2}'\d{3}  .*)");
    const std::regex purge(R"(.{25}QORCAMFILTER_Purge +(Start|End  ) ThreadID=\d+, )" + pid);
    std::vector<bool> purgeStarts;
    for (const auto& line : lines) {
        ASSERT_TRUE(std::regex_match(line, stamp)) << line;
        if (line.find("QORCAMFILTER_Purge") == std::string::npos) continue;
        ASSERT_TRUE(std::regex_match(line, purge)) << line;
        purgeStarts.push_back(line.find("Start") != std::string::npos);
    }
    // Every line arrived, in order: start and end lines of 40 purges alternate.
    ASSERT_EQ(purgeStarts.size(), 80u);
    for (std::size_t i = 0; i < purgeStarts.size(); ++i)
        EXPECT_EQ(purgeStarts[i], i % 2 == 0) << i;
}

TEST_F(LibraryCollectionTest, ACountAbove32DrainsOnly32SlotsAndEmptiesTheArea) {
    session_.StartLogging(Options(2));
    os::SharedMemory memory(shared::kLogFileName, sizeof(shared::LogShareMemory));
    auto* m = static_cast<shared::LogShareMemory*>(memory.Data());
    os::NamedMutex mutex(shared::kLogMutexName);
    {
        os::NamedMutexLock lock(mutex);
        for (std::uint32_t i = 0; i < shared::kLogSlotCount; ++i)
            std::snprintf(m->slot[i], 1024, "line %u\n", i);
        // A slot without its NUL ends with the slot.
        std::memset(m->slot[31], 'x', shared::kLogSlotSize);
        m->count = 0xFFFFFFF0u;
    }
    area_.LogEvent().Set();
    ASSERT_TRUE(test::Eventually([&] { return m->count == 0; }));
    session_.StopLogging();
    const auto lines = test::RingRecords(DllFile());
    ASSERT_EQ(lines.size(), 32u);
    EXPECT_EQ(lines[0], "line 0");
    EXPECT_EQ(lines[30], "line 30");
    EXPECT_EQ(lines[31], std::string(shared::kLogSlotSize, 'x'));
}

// A library process that finds the area full drops its lines; the file says
// how many, with one line where they are missing.
TEST_F(LibraryCollectionTest, LinesDroppedOnAFullAreaAreCountedWhereTheGapIs) {
    session_.StartLogging(Options(1));
    os::SharedMemory memory(shared::kLogFileName, sizeof(shared::LogShareMemory));
    auto* m = static_cast<shared::LogShareMemory*>(memory.Data());
    os::NamedMutex mutex(shared::kLogMutexName);
    {
        // Full, and the collector not told: nothing drains while the writer runs.
        os::NamedMutexLock lock(mutex);
        for (std::uint32_t i = 0; i < shared::kLogSlotCount; ++i)
            std::snprintf(m->slot[i], 1024, "line %u\n", i);
        m->count = shared::kLogSlotCount;
    }
    auto writer = os::Process::Spawn(QORCAM_TRACE_WRITER, {"40", "burst"});
    ASSERT_TRUE(writer.has_value());
    ASSERT_EQ(writer->Wait(30000), 0);
    area_.LogEvent().Set();
    ASSERT_TRUE(test::Eventually([&] { return test::RingRecords(DllFile()).size() == 33u; }))
        << ReadFile(DllFile());
    session_.StopLogging();
    const auto lines = test::RingRecords(DllFile());
    ASSERT_EQ(lines.size(), 33u);
    EXPECT_EQ(lines[31], "line 31");
    std::smatch match;
    const std::regex gap(R"(.{25}\*\*\* (\d+) trace lines dropped here: the trace area was full \*\*\*)");
    ASSERT_TRUE(std::regex_match(lines[32], match, gap)) << lines[32];
    // 40 purges give a start and an end line each, besides the attach and detach lines.
    EXPECT_GE(std::stoul(match[1].str()), 82u);
    EXPECT_EQ(m->count, 0u);
}

TEST_F(LibraryCollectionTest, StopLeavesWaitingLinesInTheAreaAndOffTouchesNothing) {
    os::SharedMemory memory(shared::kLogFileName, sizeof(shared::LogShareMemory));
    auto* m = static_cast<shared::LogShareMemory*>(memory.Data());

    // Library level "OFF": the level word stays as it was and no file is made.
    m->level = 2;
    auto off = Options(0);
    off.sysLevel = 0;
    session_.StartLogging(off);
    EXPECT_TRUE(session_.IsLogging());
    EXPECT_EQ(m->level, 2u);
    session_.StopLogging();
    EXPECT_FALSE(std::filesystem::exists(DllFile()));

    session_.StartLogging(Options(1));
    session_.StopLogging();
    // Lines that arrive after Stop wait for the next drain.
    std::snprintf(m->slot[0], 1024, "late\n");
    m->count = 1;
    area_.LogEvent().Set();
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_EQ(m->count, 1u);
    session_.StartLogging(Options(1));
    ASSERT_TRUE(test::Eventually([&] { return m->count == 0; }));
    session_.StopLogging();
    EXPECT_EQ(test::RingRecords(DllFile()), std::vector<std::string>{"late"});
}

TEST_F(LibraryCollectionTest, RootCollectsEveryUsersMarkedLinesInAFileOfTheirOwnAndAnotherUserOnlyItsOwn) {
    if (geteuid() != 0) GTEST_SKIP() << "running processes as other users needs root";
    constexpr uid_t kWriter = 65534, kOther = 65533;
    if (!CanBecome(kWriter) || !CanBecome(kOther)) GTEST_SKIP() << "uids 65534 and 65533 can't be taken here";
    const std::string root = std::getenv("QORCAM_ROOT");
    chmod(root.c_str(), 0755); // other users reach the run folder through it, as through /run
    ASSERT_FALSE(os::Paths::SharedObjects().empty());
    const std::string users = os::Paths::Run() + "/user";

    // Folders that are not safely their user's are passed over: a planted link, one owned by another uid,
    // a name that is no uid.
    std::filesystem::create_directory_symlink(users + "/0", users + "/4001");
    std::filesystem::create_directory(users + "/4002");
    std::filesystem::create_directory(users + "/x4003");
    ASSERT_EQ(chown((users + "/x4003").c_str(), 4003, 4003), 0);
    // The writer's own folder name taken by another user first: the writer's
    // library and its collection go to a spare folder of the writer's instead.
    std::filesystem::create_directory(users + "/" + std::to_string(kWriter));
    ASSERT_EQ(chown((users + "/" + std::to_string(kWriter)).c_str(), kOther, kOther), 0);
    EXPECT_TRUE(OtherUserFolders().empty());

    // Root's tool shows the lines of a library process of another user, in
    // a file of that user's own, each line marked with the user.
    session_.StartLogging(Options(1));
    const pid_t writer = RunAs(kWriter, {QORCAM_TRACE_WRITER, "20", "wait"});
    ASSERT_GT(writer, 0);
    EXPECT_EQ(ExitOf(writer), 0) << "the writer's tracing was not switched on";
    EXPECT_EQ(OtherUserFolders(), std::vector<std::uint32_t>{kWriter});
    const std::string pid = "ProcessID=" + std::to_string(writer);
    const auto userFile = File(("QorCam_Dll_User" + std::to_string(kWriter) + ".log").c_str());
    EXPECT_TRUE(Within30s([&] { return HasLine(userFile, "DLL DETACH " + pid); })) << ReadFile(userFile);
    session_.StopLogging();
    int purges = 0;
    for (const auto& line : test::RingRecords(userFile)) {
        EXPECT_EQ(line.rfind("[user 65534] ", 0), 0u) << line;
        purges += line.find("QORCAMFILTER_Purge") != std::string::npos && line.find(pid) != std::string::npos;
    }
    EXPECT_EQ(purges, 40);
    // Root's own file holds none of them, only where they went: the user
    // can't push root's lines out of root's ring.
    const auto rootLines = test::RingRecords(DllFile());
    for (const auto& line : rootLines)
        EXPECT_EQ(line.find(pid), std::string::npos) << line;
    EXPECT_TRUE(HasLine(DllFile(), "lines of user 65534 are collected in QorCam_Dll_User65534.log"))
        << ReadFile(DllFile());

    // Another user's tool shows its own user's lines and none of the first user's, whose lines wait in
    // that user's area meanwhile.
    const pid_t waiting = RunAs(kWriter, {QORCAM_TRACE_WRITER, "5", "alone"});
    ASSERT_GT(waiting, 0);
    ASSERT_EQ(ExitOf(waiting), 0);
    const std::filesystem::path otherLogs = root + "/other-logs";
    std::filesystem::create_directory(otherLogs);
    ASSERT_EQ(chown(otherLogs.c_str(), kOther, kOther), 0);
    const pid_t tool = fork();
    ASSERT_GE(tool, 0);
    if (tool == 0) {
        // This process has no other thread: the session runs here as the other user.
        if (setgroups(0, nullptr) != 0 || setgid(kOther) != 0 || setuid(kOther) != 0) _exit(126);
        CTraceArea area;
        if (!area.Map()) _exit(4);
        CLogSession session(area, {});
        auto options = Options(1);
        options.folder = otherLogs.string();
        session.StartLogging(options);
        auto own = os::Process::Spawn(QORCAM_TRACE_WRITER, {"5"});
        bool seen = own && own->Wait(60000) == 0 &&
                    Within30s([&] {
                        return HasLine(otherLogs / "QorCam_Dll.log", "DLL DETACH ProcessID=" + std::to_string(own->Id()));
                    });
        session.StopLogging();
        _exit(seen ? 0 : 3);
    }
    EXPECT_EQ(ExitOf(tool), 0) << "the other user's tool did not show its own user's lines";
    const auto lines = test::RingRecords(otherLogs / "QorCam_Dll.log");
    EXPECT_FALSE(lines.empty());
    for (const auto& line : lines)
        EXPECT_EQ(line.find("ProcessID=" + std::to_string(waiting)), std::string::npos) << line;
}

TEST_F(LibraryCollectionTest, TheToolsOwnProcessIsExcludedFromTracing) {
    // A second handle keeps the library loaded after the tool unloads it, as
    // any other process using it would.
    os::DynamicLibrary keep;
    ASSERT_TRUE(keep.Open(kLibraryName)) << keep.ErrorText();
    const auto id = LoadLibraryIdentity(kLibraryName, os::Process::CurrentId());
    ASSERT_TRUE(id.has_value());
    EXPECT_EQ(id->major * 10000 + id->minor * 100 + id->patch, 10106u);
    EXPECT_TRUE(std::regex_match(id->buildDate, std::regex(R"([A-Z][a-z]{2} [ 123]\d \d{4})")))
        << id->buildDate;

    area_.SetLevel(1);
    auto alloc =
        keep.Function<std::uint32_t (*)(std::uint32_t, std::uint32_t, std::uint32_t)>("QORCAMFILTER_Alloc");
    ASSERT_NE(alloc, nullptr);
    alloc(2, 2, 0);
    EXPECT_TRUE(area_.Take().empty());
    area_.SetLevel(0);

    EXPECT_FALSE(LoadLibraryIdentity("libNoSuchQorCam.so", 1).has_value());
}

} // namespace
} // namespace qorcam::tracelog
