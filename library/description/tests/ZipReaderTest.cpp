// The zip reader: entries, names, times, attributes, encrypted and damaged archives.
#include "ZipWriter.h"

#include "description/ZipReader.h"

#include <gtest/gtest.h>

#include <cstring>

using namespace qorcam::description;
using qorcam::description::testing::MakeZip;

TEST(ZipReader, SanitisedNames) {
    struct Case {
        const char* raw;
        const char* clean;
    } cases[] = {
        {"..\\..\\x.xml", "x.xml"},     {"C:\\a\\..\\b.xml", "b.xml"}, {"/abs/cam.xml", "abs/cam.xml"},
        {"a/../b/../c.xml", "c.xml"},   {"D:E:\\\\f.xml", "f.xml"},    {"plain.xml", "plain.xml"},
        {"a\\../b/..\\c.xml", "c.xml"},
    };
    for (const auto& c : cases) {
        char name[260];
        std::strcpy(name, c.raw);
        SanitiseEntryName(name);
        EXPECT_STREQ(name, c.clean) << c.raw;
    }
}

TEST(ZipReader, EntriesOfAnArchiveInMemory) {
    // A "UT" extra field with modification, access and creation times.
    std::vector<uint8_t> ut = {0x55, 0x54, 13, 0,    7,    0x00, 0x00, 0x00, 0x60,
                               0x10, 0,    0,  0x60, 0x20, 0,    0,    0x60};
    auto zip = MakeZip({{"first.xml", "<a/>", ut, nullptr, 3, 0x81A40000u},
                        {"..\\..\\second.xml", std::string(5000, 'x'), {}, nullptr, 0, 0x21}});
    ZipReader* reader = nullptr;
    ASSERT_EQ(OpenArchive(&reader, zip.data(), static_cast<uint32_t>(zip.size()), ZIP_SOURCE_MEMORY), ZR_OK);
    EXPECT_EQ(OpenArchive(&reader, zip.data(), static_cast<uint32_t>(zip.size()), ZIP_SOURCE_MEMORY),
              ZR_ALREADY_OPEN);

    ZipEntryInfo info;
    ASSERT_EQ(GetEntry(reader, -1, &info), ZR_OK);
    EXPECT_EQ(info.index, 2);
    EXPECT_STREQ(info.name, "");
    EXPECT_EQ(GetEntry(reader, 2, &info), ZR_BAD_INDEX);

    ASSERT_EQ(GetEntry(reader, 1, &info), ZR_OK);
    EXPECT_STREQ(info.name, "second.xml");
    EXPECT_EQ(info.uncompressedSize, 5000);
    EXPECT_EQ(info.attributes, 0x21u); // DOS host: read-only and archive as stored

    // Walking back to an earlier entry starts again from the first.
    ASSERT_EQ(GetEntry(reader, 0, &info), ZR_OK);
    EXPECT_STREQ(info.name, "first.xml");
    // Unix host: write permission set, so not read-only; archive always.
    EXPECT_EQ(info.attributes, 32u);
    EXPECT_EQ(info.modificationTime, (0x60000000ull + 11644473600ull) * 10000000ull);
    EXPECT_EQ(info.accessTime, (0x60000010ull + 11644473600ull) * 10000000ull);
    EXPECT_EQ(info.creationTime, (0x60000020ull + 11644473600ull) * 10000000ull);

    char text[8] = {};
    uint32_t got = 0;
    EXPECT_EQ(ExtractEntry(reader, text, 2, &got), ZR_MORE);
    EXPECT_EQ(got, 2u);
    EXPECT_EQ(ExtractEntry(reader, text + 2, 6, &got), ZR_OK);
    EXPECT_EQ(got, 2u);
    EXPECT_STREQ(text, "<a/>");
    EXPECT_EQ(CloseArchive(reader), ZR_OK);
    EXPECT_EQ(CloseArchive(nullptr), ZR_BAD_INDEX);
}

TEST(ZipReader, RefusesWhatItCannotRead) {
    ZipReader* reader = nullptr;
    const char junk[] = "this is not a zip archive at all";
    EXPECT_EQ(OpenArchive(&reader, junk, sizeof junk, ZIP_SOURCE_MEMORY), ZR_NO_ARCHIVE);
    EXPECT_EQ(reader, nullptr);
    EXPECT_EQ(OpenArchive(&reader, "/nonexistent/x.zip", 0, ZIP_SOURCE_FILE), ZR_NO_ARCHIVE);

    // Encrypted with a password the reader never has.
    auto locked = MakeZip({{"d.xml", "secret text", {}, "pw"}});
    ASSERT_EQ(OpenArchive(&reader, locked.data(), static_cast<uint32_t>(locked.size()), ZIP_SOURCE_MEMORY),
              ZR_OK);
    char buffer[64];
    uint32_t got = 0;
    EXPECT_EQ(ExtractEntry(reader, buffer, sizeof buffer, &got), ZR_PASSWORD);
    CloseArchive(reader);

    // Damaged compressed data: the read or the checksum fails, never more bytes than asked.
    auto zip = MakeZip({{"d.xml", std::string(2000, 'q') + "tail"}});
    for (size_t at = 40; at < zip.size() - 60; at += 7) {
        auto broken = zip;
        broken[at] ^= 0x5A;
        reader = nullptr;
        if (OpenArchive(&reader, broken.data(), static_cast<uint32_t>(broken.size()), ZIP_SOURCE_MEMORY) !=
            ZR_OK)
            continue;
        std::vector<char> out(2004);
        uint32_t code = ExtractEntry(reader, out.data(), static_cast<uint32_t>(out.size()), &got);
        EXPECT_LE(got, out.size());
        if (code == ZR_OK) {
            EXPECT_EQ(std::string(out.data(), got), std::string(2000, 'q') + "tail") << at;
        }
        CloseArchive(reader);
    }
}
