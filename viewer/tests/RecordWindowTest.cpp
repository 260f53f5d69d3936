// Recording from a camera window into a folder and playing it back in the main frame, offscreen.
#include "FakeCameraLibrary.h"

#include "CameraWindow.h"
#include "MainFrame.h"

#include <QApplication>
#include <QComboBox>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QImageReader>
#include <QLabel>
#include <QLineEdit>
#include <QPixmap>
#include <QPushButton>
#include <QRadioButton>
#include <QSlider>

#include "QtTestApp.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

using namespace qorcam::viewer;
using qorcam::viewer::testing::ConvApi;
namespace fs = std::filesystem;

namespace {

using qorcam::viewer::testing::Application;
using qorcam::viewer::testing::PumpUntil;

struct TempDir {
    fs::path path;
    TempDir() {
        std::string pattern = (fs::temp_directory_path() / "qorcam-recordwindow-XXXXXX").string();
        path = ::mkdtemp(pattern.data()) ? pattern : "";
    }
    ~TempDir() {
        std::error_code e;
        fs::remove_all(path, e);
    }
};


/// The main frame over a converting fake camera of 64 x 48 pixels.
struct ConvFrame {
    QApplication& qapp = Application();
    ConvApi api;
    CQorViewerApp app{api};
    CMainFrame frame{app};
    ConvFrame() {
        api.width = 64;
        api.height = 48;
    }
};

} // namespace

TEST(RecordWindow, RecordsAFolderAndPlaysItBack) {
    QApplication& qapp = Application();
    (void)qapp;
    TempDir dir;
    ConvApi api;
    api.width = 64;
    api.height = 48;
    CQorViewerApp app{api};
    CMainFrame frame{app};
    frame.resize(900, 700);
    frame.show();

    frame.OpenCamera(5, QORCAM_CTYPE_USB);
    CChildWindow* window = frame.WindowOf(app.activeChild);
    ASSERT_NE(window, nullptr);
    CChildFrame& camera = window->Frame();
    frame.recordSettings.setCount = 3;
    frame.recordSettings.folderPath = (dir.path / "20260101-120000-001").string();
    frame.recordSettings.folderName = "20260101-120000-001";
    camera.AllocRecordBuffers(5);
    window->OnStartImage();
    for (uint8_t v : {10, 20, 30}) {
        std::vector<uint8_t> raw(64 * 48 * 3, v);
        QORCAM_IMAGEDATAINFO info{};
        camera.nextDisplayTime = 0; // every buffer is due for display
        api.callBack(camera.hCamera, raw.data(), uint32_t(raw.size()), 64, 48, &info, api.callBackContext);
    }
    // The end trigger's done notice starts the writer; its own done notice
    // finds nothing more and lets the ring run again.
    camera.TriggerRecord();
    ASSERT_TRUE(
        PumpUntil([&] { return camera.windowStart == kNoSlot && !camera.frozen && !camera.WriterBusy(); }));
    EXPECT_EQ(frame.recordSettings.saving, 0);
    const fs::path folder = dir.path / "20260101-120000-001" / camera.title;
    const std::string ini = (folder / kRecordIniName).string();
    ASSERT_TRUE(fs::exists(ini));
    EXPECT_TRUE(fs::exists(folder / "QorCam_Viewer0003.bmp"));
    ASSERT_FALSE(app.folders.empty());
    EXPECT_EQ(app.folders.front()->name, camera.title);
    EXPECT_EQ(app.folders.front()->timeMap["20260101-120000-001"], ini);
    EXPECT_EQ(app.folders.front()->inUse, 1);
    window->close();
    ASSERT_TRUE(PumpUntil([&] { return app.openChildren.empty(); }));

    // Playback: the folder loads, the frames show and the timer steps through them.
    app.mode = 0;
    int busyChanges = 0;
    frame.onBusy = [&](bool) { ++busyChanges; };
    frame.OpenRecord(ini);
    CChildWindow* player = frame.WindowOf(app.activeChild);
    ASSERT_NE(player, nullptr);
    EXPECT_EQ(player->windowTitle(), "20260101-120000-001 - Model-7 0x000000000000AB12");
    // Busy while loading, idle after.
    ASSERT_TRUE(PumpUntil([&] { return player->Frame().recInfo.loading == 0 && busyChanges == 2; }));
    EXPECT_FALSE(frame.Busy());
    EXPECT_EQ(player->Frame().recInfo.frameCount, 3u);
    EXPECT_EQ(player->View()->size(), QSize(64, 48));
    PumpUntil([] { return true; });
    EXPECT_EQ(qGray(player->View()->grab().toImage().pixel(20, 20)), 10);
    player->OnStartImage();
    ASSERT_TRUE(PumpUntil([&] { return player->Frame().recInfo.currentFrame == 2; }));
    player->OnStopImage();
    EXPECT_EQ(player->Frame().running, 0u);

    // A record INI that can't be read opens no window.
    frame.OpenRecord((dir.path / "missing.ini").string());
    EXPECT_EQ(app.openChildren.size(), 1u);
    player->close();
    ASSERT_TRUE(PumpUntil([&] { return app.openChildren.empty(); }));
}

TEST(RecordWindow, ToolkitImageFormats) {
    Application();
    TempDir dir;
    Bgrx image;
    image.width = 8;
    image.height = 4;
    image.pixels.assign(8 * 4 * 4, 0);
    // The bottom row (first in memory) is white.
    std::fill(image.pixels.begin(), image.pixels.begin() + 32, 255);
    for (auto [type, name] : {std::pair{ImageFileType::Jpeg, "a.jpg"},
                              {ImageFileType::Png, "a.png"},
                              {ImageFileType::Tiff, "a.tif"}}) {
        const std::string path = (dir.path / name).string();
        ASSERT_TRUE(EncodeImage(image, type, path)) << name;
        QImage back(QString::fromStdString(path));
        ASSERT_FALSE(back.isNull()) << name;
        EXPECT_EQ(back.size(), QSize(8, 4));
        EXPECT_GT(qGray(back.pixel(4, 3)), 200) << name;
        EXPECT_LT(qGray(back.pixel(4, 0)), 50) << name;
    }
    EXPECT_FALSE(EncodeImage(image, ImageFileType::Bmp, (dir.path / "x.bmp").string()));
}

TEST(RecordWindow, RecordModeGivesEveryWindowARing) {
    Application();
    ConvApi api;
    api.width = 64;
    api.height = 48;
    CQorViewerApp app{api};
    CMainFrame frame{app};
    const uint32_t image = 192 * 48;
    frame.recordSettings.memoryBudget = 2 * 10 * image + 5;
    std::vector<CChildWindow*> windows;
    for (uint64_t id : {5, 6}) {
        frame.OpenCamera(id, QORCAM_CTYPE_USB);
        windows.push_back(frame.WindowOf(app.activeChild));
        ASSERT_NE(windows.back(), nullptr);
        windows.back()->OnStartImage();
    }
    frame.SetRecordMode(true);
    EXPECT_EQ(frame.recordSettings.recordableCount, 10u);
    EXPECT_EQ(frame.recordSettings.setCount, 10u);
    for (CChildWindow* w : windows) {
        EXPECT_EQ(w->Frame().ringCount, 10u);
        EXPECT_EQ(w->Frame().running, 1u); // stopped for the change and started again
        EXPECT_EQ(w->Frame().gridFlag, 0);
    }
    // A window opened in record mode gets its ring, and the budget is shared anew.
    frame.OpenCamera(7, QORCAM_CTYPE_USB);
    ASSERT_EQ(app.openChildren.size(), 3u);
    for (CChildFrame* c : app.openChildren)
        EXPECT_EQ(c->ringCount, 6u);

    frame.SetRecordMode(false);
    for (CChildWindow* w : windows) {
        EXPECT_EQ(w->Frame().ringCount, 0u);
        EXPECT_EQ(w->Frame().displayBuffer.size(), image);
        EXPECT_EQ(w->Frame().running, 1u);
    }
}

TEST(RecordWindow, PicturesKeepTheirTopRowOnTopThroughAFile) {
    Application();
    TempDir dir;
    // A 4 x 4 camera image, 24 bits, whose first row is white.
    BITMAPINFOHEADER hd{};
    hd.biSize = sizeof hd;
    hd.biWidth = 4;
    hd.biHeight = 4;
    hd.biPlanes = 1;
    hd.biBitCount = 24;
    hd.biSizeImage = 48;
    CChildFrame camera;
    camera.bitmapInfo.assign(reinterpret_cast<uint8_t*>(&hd), reinterpret_cast<uint8_t*>(&hd) + sizeof hd);
    camera.displayBuffer.assign(48, 0);
    std::fill(camera.displayBuffer.begin(), camera.displayBuffer.begin() + 12, 255);
    const QImage live = CChildView::ImageOf(camera);
    ASSERT_FALSE(live.isNull());
    EXPECT_EQ(qGray(live.pixel(1, 0)), 255);
    EXPECT_EQ(qGray(live.pixel(1, 3)), 0);

    // Written as a record frame and read back, it shows the same way.
    Bgrx image;
    ASSERT_TRUE(ToBgrx(camera.bitmapInfo, camera.displayBuffer.data(), 48, image));
    ASSERT_TRUE(WriteBmpFile((dir.path / "QorCam_Viewer0001.bmp").string(), image));
    RecordIni ini{"Cam", "T", "Success", 1, 1, 4, 4, 64};
    ASSERT_TRUE(WriteRecordIni((dir.path / kRecordIniName).string(), ini));
    struct Host : IChildHost {
        void ChildMessageBox(const std::string&) override {}
        bool IsChild(CChildFrame*) override { return true; }
        void PostInfoUpdate(CChildFrame*) override {}
        void PostRepaint(CChildFrame*) override {}
        void SetWatchdog(CChildFrame*, unsigned) override {}
        void LayoutChanged(CChildFrame*) override {}
    } host;
    ConvApi api;
    CChildFrame player(&api, &host);
    ASSERT_TRUE(player.OpenRecordFolder((dir.path / kRecordIniName).string()));
    ASSERT_TRUE(PumpUntil([&] { return player.recInfo.loading == 0; }));
    const QImage played = CChildView::ImageOf(player);
    ASSERT_FALSE(played.isNull());
    EXPECT_EQ(qGray(played.pixel(1, 0)), 255);
    EXPECT_EQ(qGray(played.pixel(1, 3)), 0);
    // The file itself is a BMP any reader shows the right way up.
    const QImage file(QString::fromStdString((dir.path / "QorCam_Viewer0001.bmp").string()));
    ASSERT_FALSE(file.isNull());
    EXPECT_EQ(qGray(file.pixel(1, 0)), 255);
    EXPECT_EQ(qGray(file.pixel(1, 3)), 0);
}

TEST(RecordWindow, TheRecordPaneRecordsAndPlaysBack) {
    Application();
    TempDir dir;
    // The record form's save folder lies under a private root.
    const char* oldRoot = std::getenv("QORCAM_ROOT");
    const std::string savedRoot = oldRoot ? oldRoot : "";
    setenv("QORCAM_ROOT", dir.path.c_str(), 1);
    ConvApi api;
    api.width = 64;
    api.height = 48;
    CQorViewerApp app{api};
    CMainFrame frame{app};
    frame.recordSettings.memoryBudget = 20 * 192 * 48; // twenty frames of the camera
    frame.resize(900, 700);
    frame.show();
    frame.OpenCamera(5, QORCAM_CTYPE_USB);
    CChildWindow* window = frame.WindowOf(app.activeChild);
    ASSERT_NE(window, nullptr);
    CChildFrame& camera = window->Frame();
    const std::string title = camera.title;
    window->OnStartImage();

    // The mode-set form's "Record" button: the record pane comes and every window gets its ring.
    auto* recordButton =
        qobject_cast<QPushButton*>(frame.ModeSetPane()->View()->Control(CFormModeSet::kRecord));
    ASSERT_NE(recordButton, nullptr);
    recordButton->click();
    ASSERT_TRUE(PumpUntil([&] { return frame.RecordMode() && frame.RecordPane()->isVisible(); }));
    EXPECT_EQ(camera.ringCount, 20u);
    EXPECT_EQ(camera.running, 1u);
    CFormRecordSet& form = frame.RecordPane()->Form();
    FormView* view = frame.RecordPane()->View();
    auto* start = qobject_cast<QPushButton*>(view->Control(CFormRecordSet::kStart));
    auto* frames = qobject_cast<QLineEdit*>(view->Control(CFormRecordSet::kFrames));
    auto* counter = qobject_cast<QLabel*>(view->Control(CFormRecordSet::kCounter));
    ASSERT_TRUE(start && frames && counter);
    EXPECT_EQ(form.saveFolder, (dir.path / "documents" / "QorCam_Viewer").string());
    EXPECT_EQ(frames->text(), "20");
    ASSERT_TRUE(start->isEnabled());

    // "After": ten frames asked for; three come before "Stop".
    frames->setText("10");
    emit frames->textEdited("10");
    start->click();
    EXPECT_EQ(start->text(), "Stop");
    EXPECT_EQ(frame.recordSettings.setCount, 10u);
    const std::string recordTime = frame.recordSettings.folderName;
    ASSERT_FALSE(recordTime.empty());
    EXPECT_TRUE(fs::is_directory(frame.recordSettings.folderPath));
    EXPECT_EQ(camera.counting, 1);
    for (uint8_t v : {10, 20, 30}) {
        std::vector<uint8_t> raw(64 * 48 * 3, v);
        QORCAM_IMAGEDATAINFO info{};
        camera.nextDisplayTime = 0; // every buffer is due for display
        api.callBack(camera.hCamera, raw.data(), uint32_t(raw.size()), 64, 48, &info, api.callBackContext);
    }
    ASSERT_TRUE(PumpUntil([&] { return counter->text() == "3 / 10"; })) << counter->text().toStdString();
    auto* playBack =
        qobject_cast<QRadioButton*>(frame.ModeSetPane()->View()->Control(CFormModeSet::kPlayBack));
    ASSERT_NE(playBack, nullptr);
    start->click();
    // Written: the mode may change again.
    ASSERT_TRUE(PumpUntil([&] {
        return !camera.WriterBusy() && !camera.pendingWrite && !frame.Saving() && start->text() == "Start" &&
               playBack->isEnabled();
    }));
    const fs::path folder = fs::path(frame.recordSettings.folderPath) / title;
    for (const char* name : {"QorCam_Viewer0001.bmp", "QorCam_Viewer0002.bmp", "QorCam_Viewer0003.bmp"})
        EXPECT_TRUE(fs::exists(folder / name)) << name;
    EXPECT_FALSE(fs::exists(folder / "QorCam_Viewer0004.bmp"));
    std::stringstream ini;
    ini << std::ifstream(folder / kRecordIniName).rdbuf();
    EXPECT_NE(ini.str().find("Result=Success & Recording is canceled\n"), std::string::npos) << ini.str();
    EXPECT_NE(ini.str().find("Save num=3\n"), std::string::npos);
    EXPECT_NE(ini.str().find("Set num=10\n"), std::string::npos);

    // Playback mode: the file view lists the record under its camera.
    playBack->click();
    ASSERT_TRUE(PumpUntil([&] { return app.openChildren.empty(); }));
    QTreeWidget* tree = frame.CameraTreePane()->Tree();
    ASSERT_EQ(tree->topLevelItemCount(), 1);
    QTreeWidgetItem* root = tree->topLevelItem(0);
    ASSERT_EQ(root->childCount(), 1);
    EXPECT_EQ(root->child(0)->text(0).toStdString(), title);
    ASSERT_EQ(root->child(0)->childCount(), 1);
    QTreeWidgetItem* item = root->child(0)->child(0);
    EXPECT_EQ(item->text(0).toStdString(), recordTime);

    // Opened from the tree, the record loads; the pane's slider shows its frames.
    emit tree->itemDoubleClicked(item, 0);
    CChildWindow* player = frame.WindowOf(app.activeChild);
    ASSERT_NE(player, nullptr);
    EXPECT_EQ(player->windowTitle().toStdString(), recordTime + " - " + title);
    auto* slider = qobject_cast<QSlider*>(view->Control(CFormRecordSet::kFrameSlider));
    ASSERT_NE(slider, nullptr);
    ASSERT_TRUE(PumpUntil([&] { return !player->Frame().recInfo.loading && !frame.Busy(); }));
    ASSERT_TRUE(PumpUntil([&] { return slider->isEnabled() && slider->maximum() == 3; }));
    EXPECT_FALSE(slider->isHidden());
    slider->setValue(2);
    EXPECT_EQ(player->Frame().recInfo.currentFrame, 1u);
    EXPECT_EQ(counter->text(), "2 / 3");
    PumpUntil([] { return true; });
    EXPECT_EQ(qGray(player->View()->grab().toImage().pixel(20, 20)), 20);

    player->close();
    ASSERT_TRUE(PumpUntil([&] { return app.openChildren.empty(); }));
    if (oldRoot)
        setenv("QORCAM_ROOT", savedRoot.c_str(), 1);
    else
        unsetenv("QORCAM_ROOT");
}

// The record pane shown while the camera is stopped is filled at once: its
// Start button, the frames per record and the window list.
TEST(RecordWindow, TheRecordPaneIsFilledWhenShown) {
    ConvFrame f;
    CQorViewerApp& app = f.app;
    CMainFrame& frame = f.frame;
    frame.recordSettings.memoryBudget = 20 * 192 * 48;
    frame.resize(900, 700);
    frame.show();
    frame.OpenCamera(5, QORCAM_CTYPE_USB);
    ASSERT_NE(app.activeChild.load(), nullptr);
    ASSERT_EQ(app.activeChild.load()->running, 0u);
    frame.Pane("Record")->show();
    ASSERT_TRUE(PumpUntil([&] { return frame.RecordMode(); }));
    qorcam::viewer::testing::Pump();
    FormView* view = frame.RecordPane()->View();
    auto* start = qobject_cast<QPushButton*>(view->Control(CFormRecordSet::kStart));
    auto* frames = qobject_cast<QLineEdit*>(view->Control(CFormRecordSet::kFrames));
    auto* windows = qobject_cast<QComboBox*>(view->Control(CFormRecordSet::kWindows));
    ASSERT_TRUE(start && frames && windows);
    EXPECT_TRUE(start->isEnabled());
    EXPECT_EQ(start->text(), "Start");
    EXPECT_EQ(frames->text(), "20");
    EXPECT_EQ(windows->count(), 1);
}

// A frame of another size than the window shows (a camera that lets its size
// change while it streams) is not converted into the old bitmap: the window
// starts its image again with the new size and is laid out to it.
TEST(RecordWindow, AFrameOfAnotherSizeLaysTheWindowOutAnew) {
    ConvFrame f;
    ConvApi& api = f.api;
    CQorViewerApp& app = f.app;
    CMainFrame& frame = f.frame;
    frame.resize(900, 700);
    frame.show();
    frame.OpenCamera(5, QORCAM_CTYPE_USB);
    CChildWindow* window = frame.WindowOf(app.activeChild);
    ASSERT_NE(window, nullptr);
    CChildFrame& camera = window->Frame();
    window->OnStartImage();
    ASSERT_EQ(camera.running, 1u);
    auto deliver = [&](uint32_t w, uint32_t h, uint32_t pixelType) {
        std::vector<uint8_t> raw(size_t{w} * h * 3, 7);
        QORCAM_IMAGEDATAINFO info{};
        info.CType = QORCAM_CTYPE_USB;
        info.Info.CUsb.Payload_Flag = 1;
        info.Info.CUsb.StreamInfo.SType = 1;
        QORCAM_STREAMINFO_IMAGE& image = info.Info.CUsb.StreamInfo.Data.Image;
        image.Width = w;
        image.Height = h;
        image.Pixel_Type = pixelType;
        camera.nextDisplayTime = 0;
        api.callBack(camera.hCamera, raw.data(), uint32_t(raw.size()), w, h, &info, api.callBackContext);
    };
    const uint32_t kRGB8 = 0x02180014, kBGR8 = 0x02180015;
    deliver(64, 48, kRGB8);
    ASSERT_TRUE(PumpUntil([&] { return window->View()->size() == QSize(64, 48); }));
    EXPECT_EQ(camera.conversions, 1u);

    // Bigger now: not converted (the old buffer is too small), then shown anew.
    api.width = 96;
    api.height = 60;
    deliver(96, 60, kRGB8);
    EXPECT_EQ(camera.conversions, 1u);
    ASSERT_TRUE(PumpUntil([&] { return camera.Header() && camera.Header()->biWidth == 96; }));
    ASSERT_TRUE(PumpUntil([&] { return window->View()->size() == QSize(96, 60); }));
    EXPECT_EQ(camera.running, 1u);
    EXPECT_EQ(camera.displayBuffer.size(), camera.Header()->biSizeImage);
    deliver(96, 60, kRGB8);
    EXPECT_EQ(camera.conversions, 2u);

    // Another pixel format at the same size: the same.
    deliver(96, 60, kBGR8);
    EXPECT_EQ(camera.conversions, 2u);
    EXPECT_TRUE(camera.FormatChanged());
    ASSERT_TRUE(PumpUntil([&] { return !camera.FormatChanged(); }));
    deliver(96, 60, kBGR8);
    EXPECT_EQ(camera.conversions, 3u);
    window->OnStopImage();
}

// A camera lost while running and found again restarts in its new window;
// the mode-set form's buttons show it running.
TEST(RecordWindow, ACameraThatCameBackRunningShowsStopInTheModeForm) {
    ConvFrame f;
    CQorViewerApp& app = f.app;
    CMainFrame& frame = f.frame;
    frame.show();
    {
        std::lock_guard lock(app.TableLock());
        CCameraIDInfo& entry = app.cameraTable[0xAB12]; // the id the fake camera reports
        entry.reopen = 1;
        entry.wasRunning = 1;
    }
    frame.OpenCamera(5, QORCAM_CTYPE_USB);
    qorcam::viewer::testing::Pump();
    ASSERT_NE(app.activeChild.load(), nullptr);
    EXPECT_EQ(app.activeChild.load()->running, 1u);
    auto* start = qobject_cast<QPushButton*>(frame.ModeSetPane()->View()->Control(CFormModeSet::kStart));
    auto* stop = qobject_cast<QPushButton*>(frame.ModeSetPane()->View()->Control(CFormModeSet::kStop));
    ASSERT_TRUE(start && stop);
    EXPECT_FALSE(start->isEnabled());
    EXPECT_TRUE(stop->isEnabled());
    frame.StopChild(app.activeChild);
}
