// Reading a camera's description file out of its memory in 512-byte chunks.
#include "DescriptionReader.h"
#include "ScriptedCamera.h"
#include "TempRoot.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

namespace qorcam::gigeconfig {
namespace {

namespace fs = std::filesystem;

class DescriptionReaderTest : public ::testing::Test {
protected:
    void SetUp() override {
        for (std::size_t i = 0; i < cam_.memory.size(); ++i)
            cam_.memory[i] = static_cast<std::uint8_t>(i * 7 + (i >> 8));
        camera_.xmlFileName = "dev.zip";
    }
    DescriptionRead Read() {
        return ReadDescriptionFile(cam_, ids_, camera_, temp_.Path().string(),
                                   [this](const std::string& m) { messages_.push_back(m); });
    }
    std::vector<std::uint16_t> ChunkLengths() const {
        std::vector<std::uint16_t> lengths;
        for (size_t i = 1; i < cam_.log.size(); ++i)
            lengths.push_back(cam_.log[i].length);
        return lengths;
    }
    std::string File() const {
        std::ifstream in(temp_.Path() / camera_.xmlFileName, std::ios::binary);
        return std::string((std::istreambuf_iterator<char>(in)), {});
    }
    std::string Memory(std::uint32_t at, std::uint32_t n) const {
        return std::string(reinterpret_cast<const char*>(cam_.memory.data()) + at, n);
    }

    test::TempRoot temp_{"xmlread"};
    test::ScriptedCamera cam_;
    CRequestIds ids_;
    CameraEntry camera_;
    std::vector<std::string> messages_;
};

TEST_F(DescriptionReaderTest, ReadsTheRoundedSizeAndWritesTheLength) {
    cam_.SetUrl("Local:dev.zip;8000;4A0");
    ASSERT_EQ(Read(), DescriptionRead::Written);
    // 1184 bytes: 512 + 512 + 512 read from 0x8000 (the next multiple of 512 above), 1184 written.
    EXPECT_EQ(ChunkLengths(), (std::vector<std::uint16_t>{512, 512, 512}));
    EXPECT_EQ(cam_.log[3].address, 0x8400u);
    EXPECT_EQ(File(), Memory(0x8000, 0x4A0));
    EXPECT_TRUE(messages_.empty());

    // A camera whose memory ends with the file: the empty answer leads to the tail alone.
    cam_.log.clear();
    cam_.memoryEnd = 0x8000 + 0x4A0;
    ASSERT_EQ(Read(), DescriptionRead::Written);
    EXPECT_EQ(ChunkLengths(), (std::vector<std::uint16_t>{512, 512, 512, 0x4A0 % 512}));
    EXPECT_EQ(File(), Memory(0x8000, 0x4A0));

    // A length that is a multiple of 512 gets one chunk more.
    cam_.log.clear();
    cam_.memoryEnd = 0x10000;
    cam_.SetUrl("Local:dev.zip;9000;400;");
    ASSERT_EQ(Read(), DescriptionRead::Written);
    EXPECT_EQ(ChunkLengths(), (std::vector<std::uint16_t>{512, 512, 512}));
    EXPECT_EQ(File(), Memory(0x9000, 0x400));
}

TEST_F(DescriptionReaderTest, UnusableUrlsFailuresAndHostileAnswers) {
    struct Case {
        const char* url;
        DescriptionRead expected;
    };
    const Case cases[] = {
        {"File:dev.zip;8000;4A0", DescriptionRead::Skipped},
        {"http://host/dev.xml", DescriptionRead::Skipped},
        {"Local:dev.zip;8000", DescriptionRead::Skipped},
        {"Local:dev.zip;80x0;10", DescriptionRead::Skipped},
        {"Local:dev.zip;8000;FFFFFFFF", DescriptionRead::Failed}, // larger than any description file
    };
    for (const auto& c : cases) {
        cam_.SetUrl(c.url);
        EXPECT_EQ(Read(), c.expected) << c.url;
    }
    EXPECT_FALSE(fs::exists(temp_.Path() / "dev.zip"));

    // A camera that answers without data ends as a failure, and no short file is written.
    cam_.SetUrl("Local:dev.zip;F000;400");
    cam_.memoryEnd = 0xF000;
    messages_.clear();
    EXPECT_EQ(Read(), DescriptionRead::Failed);
    EXPECT_EQ(messages_, std::vector<std::string>{"Camera Read Memory Error"});
    EXPECT_FALSE(fs::exists(temp_.Path() / "dev.zip"));

    // A file name with a path from the camera is not written anywhere.
    cam_.memoryEnd = 0x10000;
    cam_.SetUrl("Local:x.zip;8000;10");
    camera_.xmlFileName = "../escaped.zip";
    EXPECT_EQ(Read(), DescriptionRead::Failed);
    EXPECT_FALSE(fs::exists(temp_.Path().parent_path() / "escaped.zip"));

    // A chunk that fails; the URL register that fails.
    camera_.xmlFileName = "dev.zip";
    cam_.failAt.insert(0x8000);
    EXPECT_EQ(Read(), DescriptionRead::Failed);
    cam_.failAt.insert(0x0200);
    EXPECT_EQ(Read(), DescriptionRead::UrlFailed);
    EXPECT_FALSE(fs::exists(temp_.Path() / "dev.zip"));
}

} // namespace
} // namespace qorcam::gigeconfig
