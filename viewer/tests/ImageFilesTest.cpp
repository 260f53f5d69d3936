// Raw, BMP and GIF files of snapshots and records, and the record INI, against damaged input.
#include "ImageFiles.h"
#include "Recorder.h"

#include <gif_lib.h>
#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sys/resource.h>

using namespace qorcam::viewer;
namespace fs = std::filesystem;

namespace {

/// A private folder, removed with everything in it.
struct TempDir {
    fs::path path;
    TempDir() {
        std::string pattern = (fs::temp_directory_path() / "qorcam-imagefiles-XXXXXX").string();
        path = ::mkdtemp(pattern.data()) ? pattern : "";
    }
    ~TempDir() {
        std::error_code e;
        fs::remove_all(path, e);
    }
    std::string operator/(const std::string& name) const { return (path / name).string(); }
};

std::vector<uint8_t> ReadFile(const std::string& name) {
    std::ifstream in(name, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

void WriteBytes(const std::string& name, const std::vector<uint8_t>& bytes) {
    std::ofstream out(name, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

std::vector<uint8_t> HeaderBytes(const BITMAPINFOHEADER& hd, const std::vector<RGBQUAD>& table = {}) {
    std::vector<uint8_t> info(sizeof hd + table.size() * sizeof(RGBQUAD));
    std::memcpy(info.data(), &hd, sizeof hd);
    if (!table.empty()) std::memcpy(info.data() + sizeof hd, table.data(), table.size() * sizeof(RGBQUAD));
    return info;
}

BITMAPINFOHEADER Header(int32_t w, int32_t h, uint16_t bits, uint32_t size) {
    BITMAPINFOHEADER hd{};
    hd.biSize = sizeof hd;
    hd.biWidth = w;
    hd.biHeight = h;
    hd.biPlanes = 1;
    hd.biBitCount = bits;
    hd.biSizeImage = size;
    return hd;
}

} // namespace

TEST(RawFile, HeaderAndFile) {
    // A 1920 x 1080 Mono8 payload.
    const auto h = RawFileHeader(2073600, 1920, 1080);
    const std::array<uint8_t, 16> want = {0x80, 0x07, 0x38, 0x04, 0x1F, 0x00, 0x00, 0xA4,
                                          8,    0,    16,   0,    0,    0,    0,    0};
    EXPECT_EQ(h, want);
    // No width or height: no bits per pixel rather than a division by zero.
    EXPECT_EQ(RawFileHeader(100, 0, 10)[8], 0);
    EXPECT_EQ(RawFileHeader(100, 10, 0)[8], 0);

    TempDir dir;
    std::vector<uint8_t> payload(2073600);
    for (size_t i = 0; i < payload.size(); ++i)
        payload[i] = static_cast<uint8_t>(i * 7);
    ASSERT_EQ(SaveRawFile(dir / "a.raw", payload.data(), uint32_t(payload.size()), 1920, 1080), 1);
    const auto file = ReadFile(dir / "a.raw");
    ASSERT_EQ(file.size(), 2073616u);
    EXPECT_TRUE(std::equal(want.begin(), want.end(), file.begin()));
    EXPECT_TRUE(std::equal(payload.begin(), payload.end(), file.begin() + 16));
    // A folder that isn't there: nothing written, failure told.
    EXPECT_EQ(SaveRawFile(dir / "none/a.raw", payload.data(), 16, 4, 4), 0);
}

TEST(RawFile, IncompleteFileIsRemoved) {
    TempDir dir;
    // The file size limit makes the payload write fail part-way.
    std::signal(SIGXFSZ, SIG_IGN);
    rlimit old{};
    ::getrlimit(RLIMIT_FSIZE, &old);
    rlimit small = old;
    small.rlim_cur = 1000;
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
    std::vector<uint8_t> payload(5000, 1);
    const int result = SaveRawFile(dir / "cut.raw", payload.data(), uint32_t(payload.size()), 50, 100);
    ::setrlimit(RLIMIT_FSIZE, &old);
    EXPECT_EQ(result, 0);
    EXPECT_FALSE(fs::exists(dir / "cut.raw"));
}

TEST(ImageFiles, TypeByExtension) {
    const std::pair<const char*, ImageFileType> cases[] = {
        {"a.bmp", ImageFileType::Bmp},   {"a.JPG", ImageFileType::Jpeg},
        {"a.jpe", ImageFileType::Jpeg},  {"a.Jpeg", ImageFileType::Jpeg},
        {"a.png", ImageFileType::Png},   {"a.TIF", ImageFileType::Tiff},
        {"a.tiff", ImageFileType::None}, {"a.gif", ImageFileType::Gif},
        {"a.raw", ImageFileType::Raw},   {"a.txt", ImageFileType::None},
        {"noext", ImageFileType::None},  {"dir.png/name", ImageFileType::None}};
    for (const auto& [path, type] : cases)
        EXPECT_EQ(ImageFileTypeFor(ExtensionOf(path)), type) << path;
}

TEST(ImageFiles, BitmapsBecome32Bit) {
    // 8 bits with a colour table, rows padded to four bytes: 3 x 2.
    std::vector<RGBQUAD> table(256);
    table[1] = {10, 20, 30, 99};
    table[2] = {40, 50, 60, 99};
    const std::vector<uint8_t> mono = {1, 2, 1, 0xEE, 2, 2, 2, 0xEE};
    Bgrx image;
    ASSERT_TRUE(ToBgrx(HeaderBytes(Header(3, 2, 8, 8), table), mono.data(), mono.size(), image));
    EXPECT_EQ(image.pixels.size(), 24u);
    // The camera's rows run top-down: its first row is the last of the result.
    EXPECT_EQ(std::vector<uint8_t>(image.pixels.begin(), image.pixels.begin() + 8),
              (std::vector<uint8_t>{40, 50, 60, 0, 40, 50, 60, 0}));
    EXPECT_EQ(std::vector<uint8_t>(image.pixels.begin() + 12, image.pixels.begin() + 20),
              (std::vector<uint8_t>{10, 20, 30, 0, 40, 50, 60, 0}));
    // The same without padding (the buffer is too short for padded rows).
    const std::vector<uint8_t> tight = {1, 1, 1, 2, 1, 1};
    ASSERT_TRUE(ToBgrx(HeaderBytes(Header(3, 2, 8, 6), table), tight.data(), tight.size(), image));
    EXPECT_EQ(image.pixels[0], 40);
    EXPECT_EQ(image.pixels[12], 10);
    // Without a colour table the values are grey.
    ASSERT_TRUE(ToBgrx(HeaderBytes(Header(3, 2, 8, 8)), mono.data(), mono.size(), image));
    EXPECT_EQ(std::vector<uint8_t>(image.pixels.begin(), image.pixels.begin() + 4),
              (std::vector<uint8_t>{2, 2, 2, 0}));
    // 24 bits; a negative height changes nothing.
    const std::vector<uint8_t> colour = {1, 2, 3, 4, 5, 6, 0, 0, 7, 8, 9, 10, 11, 12, 0, 0};
    ASSERT_TRUE(ToBgrx(HeaderBytes(Header(2, -2, 24, 16)), colour.data(), colour.size(), image));
    EXPECT_EQ(image.height, 2);
    EXPECT_EQ(image.pixels, (std::vector<uint8_t>{7, 8, 9, 0, 10, 11, 12, 0, 1, 2, 3, 0, 4, 5, 6, 0}));
    // What can't be converted is refused.
    struct {
        BITMAPINFOHEADER hd;
        size_t bytes;
    } bad[] = {{Header(2, 2, 24, 16), 11},
               {Header(2, 2, 16, 8), 8},
               {Header(0, 2, 24, 0), 16},
               {Header(2, 0, 24, 16), 16},
               {Header(-2, 2, 24, 16), 16}};
    for (const auto& b : bad)
        EXPECT_FALSE(ToBgrx(HeaderBytes(b.hd), colour.data(), b.bytes, image));
    auto compressed = Header(2, 2, 24, 16);
    compressed.biCompression = 1;
    EXPECT_FALSE(ToBgrx(HeaderBytes(compressed), colour.data(), 16, image));
    EXPECT_FALSE(ToBgrx(std::vector<uint8_t>(20), colour.data(), 16, image));
}

TEST(BmpFile, WrittenFramesReadBackAndDamagedOnesDoNot) {
    TempDir dir;
    Bgrx image;
    image.width = 3;
    image.height = 2;
    for (int i = 0; i < 24; ++i)
        image.pixels.push_back(uint8_t(i + 1));
    const std::string good = dir / "good.bmp";
    ASSERT_TRUE(WriteBmpFile(good, image));
    const auto bytes = ReadFile(good);
    ASSERT_EQ(bytes.size(), 78u);
    std::vector<uint8_t> buffer(24);
    ASSERT_TRUE(ReadBmpFile(good, buffer.data(), 24, 3, 2));
    EXPECT_EQ(buffer, image.pixels);

    auto with = [&](size_t at, uint8_t v) {
        auto b = bytes;
        b[at] = v;
        return b;
    };
    struct {
        const char* what;
        std::vector<uint8_t> file;
    } damaged[] = {
        {"empty", {}},
        {"header only", std::vector<uint8_t>(bytes.begin(), bytes.begin() + 54)},
        {"one byte short", std::vector<uint8_t>(bytes.begin(), bytes.end() - 1)},
        {"one byte long",
         [&] {
             auto b = bytes;
             b.push_back(0);
             return b;
         }()},
        {"not BM", with(0, 'X')},
        {"file size", with(2, 77)},
        {"pixel offset", with(10, 58)},
        {"info size", with(14, 108)},
        {"width", with(18, 4)},
        {"height", with(22, 1)},
        {"24 bits", with(28, 24)},
        {"compressed", with(30, 1)},
    };
    for (const auto& d : damaged) {
        const std::string name = dir / "bad.bmp";
        WriteBytes(name, d.file);
        EXPECT_FALSE(ReadBmpFile(name, buffer.data(), 24, 3, 2)) << d.what;
    }
    EXPECT_FALSE(ReadBmpFile(dir / "missing.bmp", buffer.data(), 24, 3, 2));
    EXPECT_FALSE(ReadBmpFile(dir.path.string(), buffer.data(), 24, 3, 2)); // a folder
    // A size that does not match the picture is refused before anything is read.
    EXPECT_FALSE(ReadBmpFile(good, buffer.data(), 20, 3, 2));
}

TEST(GifFile, WritesAPictureGiflibReadsBack) {
    TempDir dir;
    Bgrx image;
    image.width = 4;
    image.height = 2;
    // Bottom row blue, top row red.
    for (int i = 0; i < 4; ++i)
        image.pixels.insert(image.pixels.end(), {255, 0, 0, 0});
    for (int i = 0; i < 4; ++i)
        image.pixels.insert(image.pixels.end(), {0, 0, 255, 0});
    const std::string name = dir / "a.gif";
    ASSERT_TRUE(WriteGifFile(name, image));
    int error = 0;
    GifFileType* gif = DGifOpenFileName(name.c_str(), &error);
    ASSERT_NE(gif, nullptr);
    ASSERT_EQ(DGifSlurp(gif), GIF_OK);
    EXPECT_EQ(gif->SWidth, 4);
    EXPECT_EQ(gif->SHeight, 2);
    ASSERT_EQ(gif->ImageCount, 1);
    const ColorMapObject* map = gif->SColorMap;
    auto colour = [&](int x, int y) { return map->Colors[gif->SavedImages[0].RasterBits[y * 4 + x]]; };
    EXPECT_GT(colour(0, 0).Red, 200);
    EXPECT_LT(colour(0, 0).Blue, 50);
    EXPECT_GT(colour(3, 1).Blue, 200);
    DGifCloseFile(gif, &error);
    EXPECT_FALSE(WriteGifFile(dir / "none/a.gif", image));
}

TEST(RecordIni, ReadsWhatIsWrittenAndRefusesTheRest) {
    TempDir dir;
    RecordIni ini{"Cam 0x0000000000000001", "20260101-120000-001", "Success", 3, 3, 4, 2, 32};
    const std::string path = dir / kRecordIniName;
    ASSERT_TRUE(WriteRecordIni(path, ini));
    CRecInfo info;
    ASSERT_TRUE(info.ReadRecordInfo(path));
    EXPECT_EQ(info.cameraName, ini.cameraName);
    EXPECT_EQ(info.savedCount, 3u);
    EXPECT_EQ(info.header.biWidth, 4);
    EXPECT_EQ(info.header.biHeight, 2);
    EXPECT_EQ(info.header.biBitCount, 32);
    EXPECT_EQ(info.header.biSizeImage, 32u);
    EXPECT_EQ(info.folderPath, dir.path.string() + "/");
    EXPECT_EQ(info.MakeRecordPath(), "20260101-120000-001 - Cam 0x0000000000000001");
    EXPECT_EQ(info.FramePath(12), dir.path.string() + "/QorCam_Viewer0012.bmp");

    // Whatever the INI is called, the frames are in its folder.
    WriteRecordIni(dir / "rec2.ini", ini);
    ASSERT_TRUE(info.ReadRecordInfo(dir / "rec2.ini"));
    EXPECT_EQ(info.folderPath, dir.path.string() + "/");

    // A name with a line break can't add keys of its own.
    RecordIni sneaky = ini;
    sneaky.cameraName = "x\n[BMP Size]\nWidth=999";
    WriteRecordIni(path, sneaky);
    ASSERT_TRUE(info.ReadRecordInfo(path));
    EXPECT_EQ(info.header.biWidth, 4);

    const struct {
        const char* what;
        const char* text;
    } bad[] = {
        {"no camera",
         "[Folder Info]\nSave num=3\n[BMP Size]\nWidth=4\nHeight=2\nImageSize=32\n[File Info]\nRec Time=t\n"},
        {"dash",
         "[File Info]\nCamera Name=-\nRec Time=t\n[Folder Info]\nSave num=3\n[BMP Size]\nWidth=4\nHeight=2\n"
         "ImageSize=32\n"},
        {"negative",
         "[File Info]\nCamera Name=c\nRec Time=t\n[Folder Info]\nSave num=-3\n[BMP Size]\nWidth=4\n"
         "Height=2\nImageSize=32\n"},
        {"no size", "[File Info]\nCamera Name=c\nRec Time=t\n[Folder Info]\nSave num=3\n[BMP Size]\nWidth=4\n"
                    "Height=2\nImageSize=0\n"},
        {"text size",
         "[File Info]\nCamera Name=c\nRec Time=t\n[Folder Info]\nSave num=3\n[BMP Size]\nWidth=4\n"
         "Height=2\nImageSize=abc\n"},
        {"no width",
         "[File Info]\nCamera Name=c\nRec Time=t\n[Folder Info]\nSave num=3\n[BMP Size]\nWidth=0\n"
         "Height=2\nImageSize=32\n"},
        {"size not 32 bits", "[File Info]\nCamera Name=c\nRec Time=t\n[Folder Info]\nSave num=3\n[BMP Size]\n"
                             "Width=4\nHeight=2\nImageSize=24\n"},
        {"huge", "[File Info]\nCamera Name=c\nRec Time=t\n[Folder Info]\nSave num=3\n[BMP Size]\n"
                 "Width=99999999999\nHeight=99999999999\nImageSize=2147483647\n"},
    };
    for (const auto& b : bad) {
        WriteBytes(path, std::vector<uint8_t>(b.text, b.text + std::strlen(b.text)));
        EXPECT_FALSE(info.ReadRecordInfo(path)) << b.what;
    }
    EXPECT_FALSE(info.ReadRecordInfo(dir / "missing.ini"));
}

TEST(RecordIni, ResultAndBudget) {
    EXPECT_EQ(RecordResult(10, 10, 10, false), "Success");
    EXPECT_EQ(RecordResult(9, 10, 10, false), "ERROR!!!");
    EXPECT_EQ(RecordResult(4, 4, 10, false), "Success & Recording is canceled");
    EXPECT_EQ(RecordResult(2, 10, 10, true), "ERROR!!! BMP Saving is canceled");
    EXPECT_EQ(RecordableCount(1000, {100, 150}), 4u);
    EXPECT_EQ(RecordableCount(1000, {}), 0u);
    EXPECT_EQ(RecordableCount(1000, {0}), 0u);
    EXPECT_GT(RecordMemoryBudget(), 0u);
    EXPECT_EQ(PathSafeName("a/../b 0x01"), "a_.._b 0x01");
}
