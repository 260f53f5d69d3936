// TraceLogTest: the writer's side of the trace area: levels, the 32 slots, exclusion and damaged counts.
#include "TraceLog.h"
#include "TempRoot.h"
#include "TraceReader.h"

#include "os/Process.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <regex>
#include <string>

using qorcam::library::CTraceLog;

namespace {

class TraceLogTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(reader_.IsValid());
        log_.Open(&excluded_);
    }
    void TearDown() override { log_.Close(); }

    void Line(std::uint32_t level, const char* fmt, ...) __attribute__((format(printf, 3, 4))) {
        va_list args;
        va_start(args, fmt);
        log_.Write(level, fmt, args);
        va_end(args);
    }
    std::uint32_t Count() { return reader_.Area().count; }

    qorcam::testing::TempRoot root_;
    qorcam::testing::TraceReader reader_;
    volatile std::uint32_t excluded_ = 0;
    CTraceLog log_;
};

TEST_F(TraceLogTest, LevelDecidesWhichLinesAreWritten) {
    struct Case {
        std::uint32_t areaLevel;
        std::uint32_t lineLevel;
        bool written;
    };
    const Case cases[] = {{0, 1, false}, {0, 2, false}, {1, 1, true},
                          {1, 2, false}, {2, 1, true},  {2, 2, true}};
    for (const Case& c : cases) {
        reader_.SetLevel(c.areaLevel);
        Line(c.lineLevel, "x\n");
        EXPECT_EQ(reader_.Drain().size(), c.written ? 1u : 0u)
            << "area level " << c.areaLevel << ", line level " << c.lineLevel;
    }
}

TEST_F(TraceLogTest, LineCarriesTheTimePrefixAndEndsInALineFeed) {
    reader_.SetLevel(1);
    qorcam::library::TheTraceLog().Open(&excluded_);
    qorcam::library::TraceExport(1, "QORCAM_Test", "Start");
    qorcam::library::TraceCamera(1, "QORCAM_Test", "End  ", nullptr);
    qorcam::library::TheTraceLog().Close();
    const auto lines = reader_.Drain();
    ASSERT_EQ(lines.size(), 2u);
    const int pid = static_cast<int>(qorcam::os::Process::CurrentId());
    const std::regex start(
        R"(\d{4}/\d{2}/\d{2} \d{2}:\d{2}:\d{2}'\d{3}  QORCAM_Test {17} Start ThreadID=\d+, ProcessID=)" +
        std::to_string(pid) + "\n");
    EXPECT_TRUE(std::regex_match(lines[0], start)) << lines[0];
    EXPECT_NE(lines[1].find(" End   HCAMERA=0x0000000000000000, ThreadID="), std::string::npos) << lines[1];
}

TEST_F(TraceLogTest, ThirtyThirdPendingLineIsDroppedUntilTheReaderEmptiesTheArea) {
    reader_.SetLevel(1);
    for (int i = 0; i < 34; ++i)
        Line(1, "line %d\n", i);
    // The count keeps its published range; the two lines that found the area full are counted apart.
    EXPECT_EQ(reader_.Area().count, 32u);
    EXPECT_EQ(qorcam::shared::DroppedLogLines(reader_.Area()), 2u);
    const auto lines = reader_.Drain();
    ASSERT_EQ(lines.size(), 32u);
    EXPECT_NE(lines[31].find("line 31\n"), std::string::npos);

    Line(1, "after\n");
    EXPECT_EQ(Count(), 1u);
    EXPECT_NE(std::string(reader_.Area().slot[0]).find("after\n"), std::string::npos);
    // Filled again without a loss: nothing counted from the round before.
    for (int i = 1; i < 32; ++i)
        Line(1, "%s\n", std::string(2000, 'x').c_str());
    EXPECT_EQ(Count(), 32u);
    EXPECT_EQ(qorcam::shared::DroppedLogLines(reader_.Area()), 0u);
    const std::string last(reader_.Area().slot[31]);
    EXPECT_EQ(last.size(), qorcam::shared::kLogDropOffset - 1);
    EXPECT_EQ(last.back(), '\n');
}

TEST_F(TraceLogTest, ExcludedProcessWritesNothing) {
    reader_.SetLevel(2);
    excluded_ = qorcam::os::Process::CurrentId();
    Line(1, "hidden\n");
    EXPECT_EQ(Count(), 0u);
    excluded_ = excluded_ + 1;
    Line(1, "shown\n");
    EXPECT_EQ(Count(), 1u);
}

TEST_F(TraceLogTest, DamagedCountIsTakenAsAFullArea) {
    reader_.SetLevel(1);
    reader_.Area().count = 100000;
    Line(1, "nowhere\n");
    // A full area: the line is dropped and counted, the word left as it is.
    EXPECT_EQ(reader_.Area().count, 100000u);
    EXPECT_EQ(qorcam::shared::DroppedLogLines(reader_.Area()), 1u);
}

TEST_F(TraceLogTest, OverlongLineIsCutToItsSlotAndStillEndsTheLine) {
    reader_.SetLevel(1);
    const std::string text(3000, 'a');
    Line(1, "%s\n", text.c_str());
    const char* slot = reader_.Area().slot[0];
    EXPECT_EQ(slot[1022], '\n');
    EXPECT_EQ(slot[1023], '\0');
    EXPECT_EQ(std::string(slot).size(), 1023u);
}

} // namespace
