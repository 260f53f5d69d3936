// RingLogFileTest: header, names, line ends, the ring's wrap and how existing files are continued.
#include "RingLogFile.h"
#include "TracelogTestSupport.h"

#include <gtest/gtest.h>

#include <fstream>

namespace qorcam::tracelog {
namespace {

using test::ReadFile;

const LibraryIdentity kIdentity{1, 2, 3, "Mar 14 2025"};

class RingLogFileTest : public ::testing::Test {
protected:
    std::filesystem::path File() const { return root_.Path() / "ring.log"; }
    std::uint32_t HeaderOffset() const {
        return static_cast<std::uint32_t>(std::stoul(ReadFile(File()).substr(0, 10)));
    }

    test::ScopedRoot root_;
};

TEST(LogFileHeaderTest, IsFortyOneBytesWhateverTheDate) {
    EXPECT_EQ(LogFileHeader(123, kIdentity), "0000000123 Version  1.02.03 Mar 14 2025\r\n");
    // A date that does not fit is cut and a short one padded, so the first
    // record at byte 41 is never overwritten.
    EXPECT_EQ(LogFileHeader(41, {1, 2, 3, "September 14 2025"}),
              "0000000041 Version  1.02.03 September 1\r\n");
    EXPECT_EQ(LogFileHeader(41, {1, 2, 3, ""}), "0000000041 Version  1.02.03            \r\n");
    EXPECT_EQ(LogFileHeader(41, {429496, 72, 95, "Mar 14 2025"}).size(), kLogFileHeaderSize);
}

TEST(LogFileNameTest, FixationAndAutoNames) {
    const std::string stamp = StartStamp({2016, 12, 28, 9, 30, 5, 999, 3});
    EXPECT_EQ(stamp, "2016_1228_093005");
    const struct {
        LogSource source;
        const char* fixed;
        const char* automatic;
    } cases[] = {
        {LogSource::GigeDriver, "QorGigE_Sys.log", "QorGigE_Sys_2016_1228_093005.Log"},
        {LogSource::UsbDriver, "QorUSB_Sys.log", "QorUSB_Sys_2016_1228_093005.Log"},
        {LogSource::Library, "QorCam_Dll.log", "QorCam_Dll_2016_1228_093005.Log"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(LogFileName(c.source, CreateMode::Fixation, stamp), c.fixed);
        EXPECT_EQ(LogFileName(c.source, CreateMode::Auto, stamp), c.automatic);
    }
}

TEST_F(RingLogFileTest, NewFileHoldsHeaderRecordAndMarkerWithCrLfLineEnds) {
    CRingLogFile file;
    ASSERT_TRUE(file.Open(File(), CreateMode::Auto, 10240, false, kIdentity));
    ASSERT_TRUE(file.WriteRecord("first line\n"));
    // Flushed per record: the file is complete before it is closed.
    EXPECT_EQ(ReadFile(File()), "0000000053 Version  1.02.03 Mar 14 2025\r\nfirst line\r\n\r\n\r\n\r\n\r\n");
    ASSERT_TRUE(file.WriteRecord("two\nlines\n"));
    EXPECT_EQ(ReadFile(File()), "0000000065 Version  1.02.03 Mar 14 2025\r\nfirst line\r\ntwo\r\nlines\r\n"
                                "\r\n\r\n\r\n\r\n");
    // An empty text adds nothing but still rewrites marker and header.
    ASSERT_TRUE(file.WriteRecord(""));
    EXPECT_EQ(HeaderOffset(), 65u);
}

TEST_F(RingLogFileTest, DriverRecordsCarryTheTimePrefix) {
    CRingLogFile file;
    ASSERT_TRUE(file.Open(File(), CreateMode::Auto, 10240, false, kIdentity));
    const os::LocalTime t{2025, 3, 4, 5, 6, 7, 89, 2};
    ASSERT_TRUE(file.WriteRecord("Number =0x00001A2B Status=0x00000000 abc\n", &t));
    EXPECT_EQ(ReadFile(File()).substr(41),
              "2025/03/04 05:06:07'089  Number =0x00001A2B Status=0x00000000 abc\r\n"
              "\r\n\r\n\r\n\r\n");
}

TEST_F(RingLogFileTest, RecordPastTheLimitIsWrittenWholeAndTheNextOneWraps) {
    CRingLogFile file;
    ASSERT_TRUE(file.Open(File(), CreateMode::Auto, 10240, false, kIdentity));
    // 101 records of 100 stored bytes leave the write offset at 10141, inside
    // the limit; the next record ends past it, at byte 10300.
    const std::string record = std::string(98, 'a') + "\n";
    for (int i = 0; i < 101; ++i)
        ASSERT_TRUE(file.WriteRecord(record));
    EXPECT_EQ(HeaderOffset(), 10141u);
    const std::string last = std::string(157, 'b') + "\n";
    ASSERT_TRUE(file.WriteRecord(last));
    EXPECT_EQ(HeaderOffset(), 10300u);
    ASSERT_TRUE(file.WriteRecord(std::string(98, 'c') + "\n"));
    const std::string content = ReadFile(File());
    EXPECT_EQ(HeaderOffset(), 141u);
    EXPECT_EQ(content.substr(41, 100), std::string(98, 'c') + "\r\n");
    EXPECT_EQ(content.substr(141, 8), kEndMarker);
    // The old lap stays behind the new marker, with its own marker at 10300.
    EXPECT_EQ(content.substr(10141, 159), std::string(157, 'b') + "\r\n");
    EXPECT_EQ(content.substr(10300), kEndMarker);
}

TEST_F(RingLogFileTest, FixationContinuesAFileWithinTheBoundAndRestartsALargerOne) {
    const std::uint32_t limit = 10240;
    for (const std::size_t size : {std::size_t{limit} + 2048, std::size_t{limit} + 2049}) {
        {
            std::ofstream out(File(), std::ios::binary | std::ios::trunc);
            out << LogFileHeader(141, kIdentity) << std::string(100, 'x') << kEndMarker;
            out << std::string(size - 149, 'y');
        }
        CRingLogFile file;
        ASSERT_TRUE(file.Open(File(), CreateMode::Fixation, limit, false, kIdentity));
        ASSERT_TRUE(file.WriteRecord("z\n"));
        file.Close();
        const std::string content = ReadFile(File());
        if (size == limit + 2048u) {
            EXPECT_EQ(content.size(), size);
            EXPECT_EQ(content.substr(141, 11), "z\r\n" + std::string(kEndMarker));
            EXPECT_EQ(HeaderOffset(), 144u);
        } else {
            EXPECT_EQ(content, LogFileHeader(44, kIdentity) + "z\r\n" + kEndMarker);
        }
    }
}

TEST_F(RingLogFileTest, AutoModeEmptiesAnExistingFile) {
    {
        std::ofstream out(File(), std::ios::binary);
        out << LogFileHeader(141, kIdentity) << std::string(300, 'x');
    }
    CRingLogFile file;
    ASSERT_TRUE(file.Open(File(), CreateMode::Auto, 10240, false, kIdentity));
    ASSERT_TRUE(file.WriteRecord("z\n"));
    EXPECT_EQ(ReadFile(File()).size(), 41u + 3 + 8);
}

TEST_F(RingLogFileTest, AHeaderWithoutAUsableNumberStartsAtByte41) {
    const std::string damaged[] = {
        "not a number at all, just some text here\r\n",
        "0000000012 Version  1.02.03 Mar 14 2025\r\n", // below 41
        "9999999999 Version  1.02.03 Mar 14 2025\r\n", // far beyond the file's end
        "-000000100 Version  1.02.03 Mar 14 2025\r\n",
    };
    for (const auto& head : damaged) {
        {
            std::ofstream out(File(), std::ios::binary | std::ios::trunc);
            out << head << std::string(200, 'x');
        }
        CRingLogFile file;
        ASSERT_TRUE(file.Open(File(), CreateMode::Fixation, 10240, false, kIdentity));
        ASSERT_TRUE(file.WriteRecord("z\n"));
        file.Close();
        const std::string content = ReadFile(File());
        EXPECT_EQ(content.size(), head.size() + 200) << head;
        EXPECT_EQ(content.substr(0, 52), LogFileHeader(44, kIdentity) + "z\r\n" + kEndMarker) << head;
    }
}

TEST_F(RingLogFileTest, WritesFailQuietlyWhileClosed) {
    CRingLogFile file;
    EXPECT_FALSE(file.WriteRecord("lost\n"));
    EXPECT_FALSE(file.Open((root_.Path() / "no" / "such" / "folder.log").string(), CreateMode::Auto, 10240,
                           false, kIdentity));
    EXPECT_FALSE(file.IsOpen());
}

} // namespace
} // namespace qorcam::tracelog
