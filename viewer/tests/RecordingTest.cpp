// A camera window's record ring, triggers and writer, playback of the written folder, and snapshots.
#include "CameraApi.h"
#include "ChildFrame.h"
#include "FakeCameraLibrary.h"
#include "ImageFiles.h"
#include "Recorder.h"

#include <gtest/gtest.h>

#include <chrono>
#include <climits>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <mutex>
#include <thread>

using namespace qorcam::viewer;
using qorcam::viewer::testing::ConvApi;
namespace fs = std::filesystem;

namespace {

struct TempDir {
    fs::path path;
    TempDir() {
        std::string pattern = (fs::temp_directory_path() / "qorcam-record-XXXXXX").string();
        path = ::mkdtemp(pattern.data()) ? pattern : "";
    }
    ~TempDir() {
        std::error_code e;
        fs::remove_all(path, e);
    }
};

/// Notices of the window, from the UI thread and the workers alike.
class RecordHost : public IChildHost {
public:
    void ChildMessageBox(const std::string&) override {}
    bool IsChild(CChildFrame*) override { return isChildCalls++ < childFor; }
    void PostInfoUpdate(CChildFrame*) override {}
    void PostRepaint(CChildFrame*) override {}
    void SetWatchdog(CChildFrame*, unsigned) override {}
    void LayoutChanged(CChildFrame*) override {}
    void PostRecordProgress(CChildFrame*) override { ++progress; }
    void PostRecordDone(CChildFrame* child) override {
        std::lock_guard lock(m);
        done.push_back(child);
    }
    void PostFrameBusy(CChildFrame*, bool busy) override {
        std::lock_guard lock(m);
        this->busy.push_back(busy);
    }
    void RecordWritten(CChildFrame*, const std::string& title, const std::string& time,
                       const std::string& ini) override {
        std::lock_guard lock(m);
        written.push_back(title + "|" + time + "|" + ini);
    }
    std::vector<CChildFrame*> Done() {
        std::lock_guard lock(m);
        return done;
    }
    std::vector<bool> Busy() {
        std::lock_guard lock(m);
        return busy;
    }

    std::atomic<int> isChildCalls{0};
    std::atomic<int> childFor{INT_MAX};
    std::atomic<int> progress{0};
    std::mutex m;
    std::vector<CChildFrame*> done;
    std::vector<bool> busy;
    std::vector<std::string> written;
};

template <class F> bool WaitFor(F&& condition) {
    for (int i = 0; i < 60000; ++i) {
        if (condition()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return condition();
}

std::string Read(const fs::path& p) {
    std::ifstream in(p);
    return {std::istreambuf_iterator<char>(in), {}};
}

/// A running 4 x 2, 24-bit camera window with a ring of ringCount slots.
struct Recorder {
    TempDir dir;
    ConvApi api;
    RecordHost host;
    std::atomic<uint8_t> appRunning{1};
    CRecordSettings settings;
    CChildFrame frame{&api, &host};
    std::vector<uint8_t> raw;

    explicit Recorder(uint32_t ringCount, uint32_t setCount) {
        settings.running = &appRunning;
        settings.setCount = setCount;
        settings.folderPath = (dir.path / "20260101-120000-001").string();
        settings.folderName = "20260101-120000-001";
        frame.recordSettings = &settings;
        frame.ConnectCamera(5, QORCAM_CTYPE_USB);
        frame.AllocRecordBuffers(ringCount);
        frame.StartImage(CChildFrame::StartReason::Restart);
    }
    /// One converted frame whose pixels all hold v.
    void Feed(uint8_t v) {
        QORCAM_IMAGEDATAINFO info{};
        info.CType = QORCAM_CTYPE_USB;
        info.Info.CUsb.Payload_Flag = TRUE;
        raw.assign(24, v);
        frame.OnBuffer(frame.hCamera, raw.data(), 24, &info, frame.nextDisplayTime);
    }
    uint8_t Slot(uint32_t i) { return frame.Slot(i)[0]; }
    fs::path Folder() { return fs::path(settings.folderPath) / frame.title; }
    void WaitWriter() {
        ASSERT_TRUE(WaitFor([&] { return !frame.WriterBusy(); }));
    }
};

} // namespace

TEST(RecordRing, SlotsFillAndWrap) {
    Recorder r(4, 2);
    ASSERT_EQ(r.frame.ringCount, 4u);
    EXPECT_TRUE(r.frame.displayBuffer.empty());
    for (uint8_t v = 1; v <= 6; ++v)
        r.Feed(v);
    // Frames 5 and 6 went over slots 0 and 1; the view shows the last slot written.
    EXPECT_EQ(r.Slot(0), 5);
    EXPECT_EQ(r.Slot(1), 6);
    EXPECT_EQ(r.Slot(2), 3);
    EXPECT_EQ(r.frame.writeIndex, 2u);
    EXPECT_EQ(r.frame.written, 4u);
    EXPECT_EQ(r.frame.ringFull, 1);
    size_t size;
    EXPECT_EQ(r.frame.DisplayBits(size), r.frame.Slot(1));
    EXPECT_EQ(size, 24u);
    // Record mode off: the window has its own buffer again.
    r.frame.FreeRecordBuffers();
    EXPECT_EQ(r.frame.ringCount, 0u);
    EXPECT_EQ(r.frame.DisplayBits(size), r.frame.displayBuffer.data());
    EXPECT_EQ(r.frame.running, 1u);
    r.Feed(9);
    EXPECT_EQ(r.frame.displayBuffer[0], 9);
}

TEST(RecordRing, TriggerPositions) {
    struct Case {
        const char* trigger;
        uint32_t ring, set, write;
        uint32_t start, end, collected;
        uint8_t counting, frozen;
    } cases[] = {
        {"start", 100, 10, 7, 7, kNoSlot, 0, 1, 0},
        {"center", 100, 10, 3, 98, kNoSlot, 5, 1, 0},
        {"center", 100, 10, 50, 45, kNoSlot, 5, 1, 0},
        {"end", 100, 10, 0, 90, 99, 10, 0, 1},
        {"end", 100, 10, 5, 95, 4, 10, 0, 1},
        {"end", 100, 10, 50, 40, 49, 10, 0, 1},
        // A set count beyond the ring is held to it, so the window never overruns itself.
        {"end", 4, 10, 1, 1, 0, 4, 0, 1},
        {"center", 4, 10, 1, 3, kNoSlot, 2, 1, 0},
    };
    for (const Case& c : cases) {
        Recorder r(c.ring, c.set);
        r.frame.writeIndex = c.write;
        const std::string t = c.trigger;
        if (t == "start") r.frame.TriggerRecordStart();
        if (t == "center") r.frame.TriggerRecordCenter();
        if (t == "end") r.frame.TriggerRecord();
        EXPECT_EQ(r.frame.windowStart, c.start) << t << " W=" << c.write;
        EXPECT_EQ(r.frame.windowEnd, c.end) << t << " W=" << c.write;
        EXPECT_EQ(r.frame.collected, c.collected) << t << " W=" << c.write;
        EXPECT_EQ(r.frame.counting, c.counting) << t;
        EXPECT_EQ(r.frame.frozen, c.frozen) << t;
        // The end trigger completes the window at once.
        EXPECT_EQ(r.host.Done().size(), t == "end" ? 1u : 0u) << t;
    }
    // Without record mode or a ring the triggers do nothing.
    Recorder none(0, 10);
    none.frame.TriggerRecord();
    none.frame.TriggerRecordCenter();
    EXPECT_EQ(none.frame.windowStart, kNoSlot);
    EXPECT_EQ(none.frame.counting, 0);
    none.Feed(3); // and frames go nowhere
    EXPECT_EQ(none.api.conversions, 0);
}

TEST(RecordRing, StartTriggerRecordsTheNextFramesAndWritesThem) {
    Recorder r(5, 3);
    r.Feed(1);
    r.Feed(2);
    r.frame.TriggerRecordStart();
    r.Feed(10);
    r.Feed(11);
    EXPECT_TRUE(r.host.Done().empty());
    r.Feed(12);
    ASSERT_EQ(r.host.Done().size(), 1u);
    EXPECT_EQ(r.frame.counting, 0);
    EXPECT_EQ(r.frame.pendingWrite, 1);
    EXPECT_EQ(r.settings.saving, 1);

    r.frame.StartRecordWriter();
    EXPECT_EQ(r.frame.frozen, 1);
    // Frozen while writing: frames that come meanwhile overwrite nothing.
    r.Feed(99);
    r.WaitWriter();
    for (int k = 1; k <= 3; ++k) {
        char name[32];
        std::snprintf(name, sizeof name, "QorCam_Viewer%04d.bmp", k);
        std::vector<uint8_t> pixels(32);
        ASSERT_TRUE(ReadBmpFile((r.Folder() / name).string(), pixels.data(), 32, 4, 2)) << name;
        EXPECT_EQ(pixels[0], 9 + k) << name; // 24-bit grey pixels become 32-bit
        EXPECT_EQ(pixels[3], 0);
    }
    EXPECT_FALSE(fs::exists(r.Folder() / "QorCam_Viewer0004.bmp"));
    const std::string ini = Read(r.Folder() / kRecordIniName);
    EXPECT_NE(ini.find("Camera Name=Model-7 0x000000000000AB12\n"), std::string::npos) << ini;
    EXPECT_NE(ini.find("Rec Time=20260101-120000-001\n"), std::string::npos);
    EXPECT_NE(ini.find("Result=Success\n"), std::string::npos);
    EXPECT_NE(ini.find("Save num=3\nSet num=3\n"), std::string::npos);
    EXPECT_NE(ini.find("Width=4\nHeight=2\nImageSize=32\n"), std::string::npos);
    ASSERT_EQ(r.host.written.size(), 1u);
    EXPECT_EQ(r.host.written[0],
              "Model-7 0x000000000000AB12|20260101-120000-001|" + (r.Folder() / kRecordIniName).string());
    // Written: the done notice names the window, the window is empty again,
    // and the next writer start finds nothing and lets the ring run.
    ASSERT_EQ(r.host.Done().size(), 2u);
    EXPECT_EQ(r.host.Done()[1], &r.frame);
    EXPECT_EQ(r.frame.pendingWrite, 0);
    EXPECT_EQ(r.frame.windowStart, kNoSlot);
    EXPECT_EQ(r.frame.saved, 3u);
    r.frame.StartRecordWriter();
    EXPECT_FALSE(r.frame.WriterBusy());
    EXPECT_EQ(r.frame.frozen, 0);
}

TEST(RecordRing, EndTriggerOverTheWholeRingKeepsItsFirstFrame) {
    // With the set count equal to the ring, the slot the frozen ring would
    // convert into is the window's first: it must still hold its frame.
    Recorder r(3, 3);
    for (uint8_t v = 1; v <= 4; ++v)
        r.Feed(v); // slots: 4 2 3, write index 1
    r.frame.TriggerRecord();
    EXPECT_EQ(r.frame.windowStart, 1u);
    EXPECT_EQ(r.frame.windowEnd, 0u);
    r.Feed(50);
    r.Feed(51);
    EXPECT_EQ(r.Slot(1), 2);
    size_t size;
    EXPECT_EQ(r.frame.DisplayBits(size)[0], 51); // the view still shows live frames
    r.frame.StartRecordWriter();
    r.WaitWriter();
    std::vector<uint8_t> pixels(32);
    for (auto [k, v] : {std::pair{1, 2}, {2, 3}, {3, 4}}) {
        char name[32];
        std::snprintf(name, sizeof name, "QorCam_Viewer%04d.bmp", k);
        ASSERT_TRUE(ReadBmpFile((r.Folder() / name).string(), pixels.data(), 32, 4, 2));
        EXPECT_EQ(pixels[0], v) << k;
    }
}

TEST(RecordRing, WriterStartsThatSaveNothingOrAreCancelled) {
    {
        // Nothing collected: nothing saved, and the ring runs again.
        Recorder r(5, 3);
        r.frame.frozen = 1;
        r.frame.StartRecordWriter();
        EXPECT_FALSE(r.frame.WriterBusy());
        EXPECT_EQ(r.frame.frozen, 0);
        EXPECT_FALSE(fs::exists(r.Folder()));
    }
    {
        // Stopped after two of four frames: the window holds fewer than the set count.
        Recorder r(6, 4);
        r.frame.TriggerRecordStart();
        r.Feed(1);
        r.Feed(2);
        r.frame.StartRecordWriter();
        r.WaitWriter();
        EXPECT_EQ(r.frame.windowEnd, 1u);
        EXPECT_NE(
            Read(r.Folder() / kRecordIniName).find("Result=Success & Recording is canceled\nSave num=2\n"),
            std::string::npos);
    }
    {
        // The window closes after the first frame: the INI tells, the done notice has no window.
        Recorder r(4, 3);
        r.frame.TriggerRecordStart();
        for (uint8_t v = 1; v <= 3; ++v)
            r.Feed(v);
        r.host.isChildCalls = 0;
        r.host.childFor = 2; // the writer's start and its first frame
        r.frame.StartRecordWriter();
        r.WaitWriter();
        const std::string ini = Read(r.Folder() / kRecordIniName);
        EXPECT_NE(ini.find("Result=ERROR!!! BMP Saving is canceled\nSave num=1\n"), std::string::npos) << ini;
        EXPECT_EQ(r.host.Done().back(), nullptr);
        EXPECT_TRUE(r.host.written.empty());
    }
    {
        // The application is closing: nothing is written, no done notice.
        Recorder r(4, 3);
        r.frame.TriggerRecordStart();
        for (uint8_t v = 1; v <= 3; ++v)
            r.Feed(v);
        const size_t notices = r.host.Done().size();
        r.appRunning = 0;
        r.frame.StartRecordWriter();
        r.WaitWriter();
        EXPECT_FALSE(fs::exists(r.Folder()));
        EXPECT_EQ(r.frame.saved, 0u);
        EXPECT_EQ(r.host.Done().size(), notices);
    }
}

TEST(RecordRing, CollectingCatchesUpWithLateFrames) {
    Recorder r(10, 4);
    r.frame.displayRate = 10;
    const int64_t start = r.frame.nextDisplayTime;
    std::vector<uint8_t> raw(24, 1);
    QORCAM_IMAGEDATAINFO info{};
    info.CType = QORCAM_CTYPE_USB;
    info.Info.CUsb.Payload_Flag = TRUE;
    r.frame.TriggerRecordStart();
    // Three buffers arrive together a whole second late: each is still collected.
    const int64_t late = start + kCounterFrequency;
    for (int i = 0; i < 3; ++i)
        r.frame.OnBuffer(r.frame.hCamera, raw.data(), 24, &info, late);
    EXPECT_EQ(r.frame.collected, 3u);
    EXPECT_EQ(r.api.conversions, 3);
}

TEST(Playback, WrittenRecordPlaysBack) {
    Recorder r(5, 3);
    r.frame.TriggerRecordStart();
    for (uint8_t v = 21; v <= 23; ++v)
        r.Feed(v);
    r.frame.StartRecordWriter();
    r.WaitWriter();
    const std::string ini = (r.Folder() / kRecordIniName).string();

    ConvApi api;
    RecordHost host;
    CChildFrame player(&api, &host);
    player.recordSettings = &r.settings;
    ASSERT_TRUE(player.OpenRecordFolder(ini));
    EXPECT_EQ(player.title, "20260101-120000-001 - Model-7 0x000000000000AB12");
    // Busy while loading, idle when done.
    ASSERT_TRUE(WaitFor([&] { return player.recInfo.loading == 0 && host.Busy().size() == 2; }));
    EXPECT_EQ(host.Busy(), (std::vector<bool>{true, false}));
    EXPECT_EQ(player.recInfo.frameCount, 3u);
    EXPECT_EQ(player.recInfo.currentFrame, 0u);
    ASSERT_NE(player.Header(), nullptr);
    EXPECT_EQ(player.Header()->biBitCount, 32);
    size_t size;
    EXPECT_EQ(player.DisplayBits(size)[0], 21);
    EXPECT_EQ(size, 32u);
    // Timer steps go round the frames.
    std::vector<int> shown;
    for (int i = 0; i < 4; ++i) {
        player.PlaybackStep();
        shown.push_back(player.DisplayBits(size)[0]);
    }
    EXPECT_EQ(shown, (std::vector<int>{21, 22, 23, 21}));
    EXPECT_TRUE(player.ShowFrame(2));
    EXPECT_EQ(player.DisplayBits(size)[0], 23);
    EXPECT_FALSE(player.ShowFrame(3));

    // The budget limits what is loaded.
    r.settings.memoryBudget = 2 * 32 + 5;
    CChildFrame small(&api, &host);
    small.recordSettings = &r.settings;
    ASSERT_TRUE(small.OpenRecordFolder(ini));
    ASSERT_TRUE(WaitFor([&] { return small.recInfo.loading == 0; }));
    EXPECT_EQ(small.recInfo.frameCount, 2u);
}

TEST(Playback, DamagedFoldersLoadWhatTheyCan) {
    TempDir dir;
    RecordIni ini{"Cam", "T", "Success", 3, 3, 4, 2, 32};
    WriteRecordIni((dir.path / kRecordIniName).string(), ini);
    Bgrx image;
    image.width = 4;
    image.height = 2;
    image.pixels.assign(32, 7);
    ASSERT_TRUE(WriteBmpFile((dir.path / "QorCam_Viewer0001.bmp").string(), image));
    ASSERT_TRUE(WriteBmpFile((dir.path / "QorCam_Viewer0002.bmp").string(), image));
    fs::resize_file(dir.path / "QorCam_Viewer0002.bmp", 60); // cut short
    ASSERT_TRUE(WriteBmpFile((dir.path / "QorCam_Viewer0003.bmp").string(), image));

    ConvApi api;
    RecordHost host;
    {
        CChildFrame player(&api, &host);
        ASSERT_TRUE(player.OpenRecordFolder((dir.path / kRecordIniName).string()));
        ASSERT_TRUE(WaitFor([&] { return player.recInfo.loading == 0; }));
        EXPECT_EQ(player.recInfo.frameCount, 1u);
        player.PlaybackStep();
        player.PlaybackStep();
        size_t size;
        EXPECT_EQ(player.DisplayBits(size)[0], 7);
    }
    // Without its first frame the folder opens with nothing to show.
    fs::remove(dir.path / "QorCam_Viewer0001.bmp");
    CChildFrame player(&api, &host);
    ASSERT_TRUE(player.OpenRecordFolder((dir.path / kRecordIniName).string()));
    ASSERT_TRUE(WaitFor([&] { return player.recInfo.loading == 0; }));
    EXPECT_EQ(player.recInfo.frameCount, 0u);
    EXPECT_FALSE(player.HasDisplay());
    player.PlaybackStep();
    EXPECT_FALSE(player.HasDisplay());
    // An INI that can't be read opens nothing.
    CChildFrame none(&api, &host);
    EXPECT_FALSE(none.OpenRecordFolder((dir.path / "missing.ini").string()));
}

TEST(Playback, ClosingWhileLoadingStopsTheLoader) {
    TempDir dir;
    RecordIni ini{"Cam", "T", "Success", 50, 50, 4, 2, 32};
    WriteRecordIni((dir.path / kRecordIniName).string(), ini);
    Bgrx image;
    image.width = 4;
    image.height = 2;
    image.pixels.assign(32, 7);
    for (int k = 1; k <= 50; ++k) {
        char name[32];
        std::snprintf(name, sizeof name, "QorCam_Viewer%04d.bmp", k);
        WriteBmpFile((dir.path / name).string(), image);
    }
    ConvApi api;
    RecordHost host;
    host.childFor = 3;
    CChildFrame player(&api, &host);
    ASSERT_TRUE(player.OpenRecordFolder((dir.path / kRecordIniName).string()));
    player.StopWorkers();
    EXPECT_LE(player.recInfo.loaded, 3u);
    EXPECT_EQ(host.busy.back(), false);
}

TEST(Snapshot, CaptureAndSave) {
    TempDir dir;
    ConvApi api;
    RecordHost host;
    CChildFrame frame(&api, &host);
    frame.ConnectCamera(5, QORCAM_CTYPE_USB);
    frame.StartImage(CChildFrame::StartReason::Restart);
    std::vector<std::pair<ImageFileType, std::string>> encoded;
    frame.imageEncoder = [&](const Bgrx& image, ImageFileType type, const std::string& name) {
        EXPECT_EQ(image.pixels.size(), 32u);
        encoded.emplace_back(type, name);
        return true;
    };
    frame.payloadSize = 20;
    QORCAM_IMAGEDATAINFO info{};
    std::vector<uint8_t> raw(24, 0);
    auto feed = [&](uint8_t v) {
        raw.assign(24, v);
        frame.OnBuffer(frame.hCamera, raw.data(), 24, &info, frame.nextDisplayTime);
    };
    // Without a capture nothing is written.
    feed(1);
    frame.SaveImage((dir.path / "a.bmp").string());
    EXPECT_FALSE(fs::exists(dir.path / "a.bmp"));
    // Two captures in a row keep only the second copies.
    frame.CaptureImage(true);
    feed(2);
    frame.CaptureImage(true);
    EXPECT_EQ(frame.capturedImage, std::vector<uint8_t>(24, 2));
    EXPECT_EQ(frame.capturedRawImage, std::vector<uint8_t>(20, 2));
    // Raw: header and payload; the raw copy stays, the image copy goes.
    frame.SaveImage((dir.path / "a.RAW").string());
    const std::string rawFile = Read(dir.path / "a.RAW");
    ASSERT_EQ(rawFile.size(), 36u);
    EXPECT_EQ(rawFile[0], 4);
    EXPECT_EQ(rawFile[16], 2);
    EXPECT_TRUE(frame.capturedImage.empty());
    EXPECT_FALSE(frame.capturedRawImage.empty());

    struct {
        const char* name;
        bool file;
        size_t encoded;
    } saves[] = {{"b.bmp", true, 0},  {"c.JPG", false, 1}, {"d.png", false, 2},
                 {"e.tif", false, 3}, {"f.gif", true, 3},  {"g.xyz", false, 3}};
    for (const auto& s : saves) {
        frame.CaptureImage(true);
        frame.SaveImage((dir.path / s.name).string());
        EXPECT_EQ(fs::exists(dir.path / s.name), s.file) << s.name;
        EXPECT_EQ(encoded.size(), s.encoded) << s.name;
        EXPECT_TRUE(frame.capturedImage.empty());
        EXPECT_TRUE(frame.capturedRawImage.empty());
    }
    EXPECT_EQ(encoded[0], std::make_pair(ImageFileType::Jpeg, (dir.path / "c.JPG").string()));
    std::vector<uint8_t> pixels(32);
    ASSERT_TRUE(ReadBmpFile((dir.path / "b.bmp").string(), pixels.data(), 32, 4, 2));
    EXPECT_EQ(pixels, (std::vector<uint8_t>{2, 2, 2, 0, 2, 2, 2, 0, 2, 2, 2, 0, 2, 2, 2, 0,
                                            2, 2, 2, 0, 2, 2, 2, 0, 2, 2, 2, 0, 2, 2, 2, 0}));
    // wParam 0 drops both copies.
    frame.CaptureImage(true);
    frame.CaptureImage(false);
    EXPECT_TRUE(frame.capturedImage.empty());
    EXPECT_TRUE(frame.capturedRawImage.empty());
}
