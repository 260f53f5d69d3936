// Camera windows in the main frame on an offscreen display, over a stand-in camera library.
#include "FakeCameraLibrary.h"

#include "CameraWindow.h"
#include "MainFrame.h"

#include <QApplication>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QPixmap>
#include <QPushButton>

#include "QtTestApp.h"

#include <gtest/gtest.h>

#include <cstdlib>

using namespace qorcam::viewer;
using qorcam::viewer::testing::ConvApi;

namespace {

using qorcam::viewer::testing::Application;
using qorcam::viewer::testing::Pump;

struct Viewer {
    QApplication& qapp = Application();
    ConvApi api;
    CQorViewerApp app{api};
    CMainFrame frame{app};
    Viewer() {
        api.width = 64;
        api.height = 48;
        frame.resize(900, 700);
        frame.show();
        Pump();
    }
    CChildWindow* Window() { return frame.WindowOf(app.activeChild); }
    // One delivered buffer of grey value v through the registered callback.
    void Deliver(uint8_t v) {
        std::vector<uint8_t> raw(64 * 48 * 3, v);
        QORCAM_IMAGEDATAINFO info{};
        info.CType = QORCAM_CTYPE_USB;
        info.Info.CUsb.Payload_Flag = TRUE;
        ASSERT_NE(api.callBack, nullptr);
        api.callBack(reinterpret_cast<HCAMERA>(0x10), raw.data(), uint32_t(raw.size()), 64, 48, &info,
                     api.callBackContext);
    }
};

} // namespace

TEST(CameraWindow, OpensShowsLiveImagesAndCloses) {
    Viewer v;
    v.frame.OpenCamera(5, QORCAM_CTYPE_USB);
    Pump();
    CChildWindow* window = v.Window();
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(v.frame.pendingCameraId, 0xFFFFFFFFFFFFFFFFull);
    EXPECT_EQ(window->windowTitle(), "Model-7 0x000000000000AB12");
    EXPECT_EQ(window->View()->size(), QSize(64, 48));
    EXPECT_EQ(v.app.cameraTable[0xAB12].known, 1);
    EXPECT_EQ(v.app.activeChild.load()->gridFlag, 1);

    window->OnStartImage();
    EXPECT_EQ(window->Frame().running, 1u);
    v.Deliver(200);
    Pump(100);
    QImage shot = window->View()->grab().toImage();
    EXPECT_EQ(qGray(shot.pixel(20, 20)), 200);
    if (const char* out = std::getenv("QORCAM_VIEWER_SHOT")) v.frame.grab().save(out);

    window->OnStopImage();
    EXPECT_EQ(window->Frame().running, 0u);
    window->close();
    Pump();
    EXPECT_EQ(v.app.activeChild.load(), nullptr);
    EXPECT_TRUE(v.app.openChildren.empty());
    EXPECT_EQ(v.api.calls.back(), "Close");
}

TEST(CameraWindow, LostCameraComesBackRunningWithItsRecoverValue) {
    Viewer v;
    v.frame.OpenCamera(5, QORCAM_CTYPE_USB);
    Pump();
    CChildFrame* child = v.app.activeChild;
    ASSERT_NE(child, nullptr);
    v.frame.WindowOf(child)->OnStartImage();
    child->recover = 1;
    v.frame.SendCameraCheck(child, 0, 1); // lost
    Pump();
    EXPECT_EQ(v.frame.WindowOf(child), nullptr);
    const CCameraIDInfo lost = v.app.cameraTable[0xAB12];
    EXPECT_EQ(lost.reopen, 1);
    EXPECT_EQ(lost.wasRunning, 1u);

    v.frame.OpenCamera(0xAB12, QORCAM_CTYPE_USB);
    Pump();
    ASSERT_NE(v.Window(), nullptr);
    EXPECT_EQ(v.Window()->Frame().running, 1u);
    EXPECT_EQ(v.Window()->Frame().recover, 1u);
    EXPECT_EQ(v.app.cameraTable[0xAB12].reopen, 0);
}

TEST(CameraWindow, AFailedStreamTestIsShownOncePerStartTheUserAsksFor) {
    Viewer v;
    v.api.cameraType = QORCAM_CTYPE_GIGE; // the stream test fails (error 13)
    std::vector<std::string> messages;
    v.frame.onMessage = [&](const std::string& text) { messages.push_back(text); };
    v.frame.OpenCamera(5, QORCAM_CTYPE_GIGE);
    Pump();
    CChildWindow* window = v.Window();
    ASSERT_NE(window, nullptr);
    FormView* modeSet = v.frame.ModeSetPane()->View();
    auto button = [&](int id) { return qobject_cast<QPushButton*>(modeSet->Control(id)); };
    auto deliver = [&](uint32_t width) {
        std::vector<uint8_t> raw(64 * 48 * 3, 50);
        QORCAM_IMAGEDATAINFO info{};
        info.CType = QORCAM_CTYPE_GIGE;
        info.Info.CGigE.Payload_Flag = TRUE;
        info.Info.CGigE.StreamInfo.SType = 1;
        info.Info.CGigE.StreamInfo.Data.Image.Width = width;
        info.Info.CGigE.StreamInfo.Data.Image.Height = 48;
        v.api.callBack(reinterpret_cast<HCAMERA>(0x10), raw.data(), uint32_t(raw.size()), width, 48, &info,
                       v.api.callBackContext);
    };

    button(CFormModeSet::kStart)->click();
    Pump();
    ASSERT_EQ(window->Frame().running, 1u);
    EXPECT_EQ(messages, (std::vector<std::string>{"Test packet error[13]"}));

    // Restarts the viewer makes by itself test the stream again but say nothing:
    // record mode on and off, and a frame of another size.
    const int tests = v.api.streamTests;
    button(CFormModeSet::kRecord)->click();
    Pump();
    ASSERT_TRUE(v.frame.RecordMode());
    button(CFormModeSet::kRecord)->click();
    Pump();
    ASSERT_FALSE(v.frame.RecordMode());
    deliver(64);
    deliver(32);
    Pump();
    EXPECT_FALSE(window->Frame().FormatChanged());
    EXPECT_EQ(window->Frame().running, 1u);
    EXPECT_GE(v.api.streamTests, tests + 3);
    EXPECT_EQ(messages.size(), 1u);

    // The user's next Start (from the mode-set pane or the All Start button) shows it again.
    button(CFormModeSet::kStop)->click();
    button(CFormModeSet::kStart)->click();
    Pump();
    button(CFormModeSet::kAllStop)->click();
    button(CFormModeSet::kAllStart)->click();
    Pump();
    EXPECT_EQ(messages, std::vector<std::string>(3, "Test packet error[13]"));
}
