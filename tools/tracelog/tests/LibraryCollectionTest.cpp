// LibraryCollectionTest: the library collector draining lines that a real library process writes.
#include "LibraryIdentity.h"
#include "SessionFixture.h"

#include "os/DynamicLibrary.h"
#include "os/Process.h"

#include <gtest/gtest.h>

#include <cstring>
#include <regex>

namespace qorcam::tracelog {
namespace {

using test::ReadFile;

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
