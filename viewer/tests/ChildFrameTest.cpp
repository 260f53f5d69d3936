// The camera window's opening, acquisition and image callback over a stand-in library.
#include "CameraApi.h"
#include "ChildFrame.h"
#include "FakeCameraLibrary.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

using namespace qorcam::viewer;
using qorcam::viewer::testing::ConvApi;

namespace {

constexpr int64_t kSecond = kCounterFrequency;

class RecordingHost : public IChildHost {
public:
    void ChildMessageBox(const std::string& text) override { messages.push_back(text); }
    bool IsChild(CChildFrame*) override { return child; }
    void PostInfoUpdate(CChildFrame*) override { ++infoUpdates; }
    void PostRepaint(CChildFrame*) override { ++repaints; }
    void SetWatchdog(CChildFrame*, unsigned ms) override { watchdog = ms; }
    void LayoutChanged(CChildFrame*) override { ++layouts; }

    bool child = true;
    int infoUpdates = 0, repaints = 0, layouts = 0;
    unsigned watchdog = 0;
    std::vector<std::string> messages;
};

struct Window {
    ConvApi api;
    RecordingHost host;
    CChildFrame frame{&api, &host};
    Window() {
        frame.ConnectCamera(5, QORCAM_CTYPE_USB);
        frame.StartImage(CChildFrame::StartReason::Restart);
    }
    // Feeds one good buffer of value v at counter value now.
    void Feed(int64_t now, uint8_t v = 1, uint32_t type = QORCAM_CTYPE_USB, BOOL payload = TRUE) {
        QORCAM_IMAGEDATAINFO info{};
        info.CType = type;
        info.Info.CUsb.Payload_Flag = payload;
        raw.assign(24, v);
        frame.OnBuffer(frame.hCamera, raw.data(), 24, &info, now);
    }
    std::vector<uint8_t> raw;
};

} // namespace

TEST(ChildFrame, OpensTitlesAndStartsAndStops) {
    Window w;
    EXPECT_EQ(w.api.opened, 5u);
    EXPECT_EQ(w.frame.title, "Model-7 0x000000000000AB12");
    EXPECT_EQ(w.frame.uniqueId, "0x000000000000AB12");
    ASSERT_EQ(w.frame.running, 1u);
    EXPECT_EQ(w.frame.displayBuffer.size(), 24u);
    EXPECT_EQ(w.host.watchdog, 1500u);
    EXPECT_EQ(w.api.callBackContext, &w.frame);
    EXPECT_EQ(w.api.calls.back(), "ImageStart");

    w.frame.payloadSize = 24;
    w.Feed(w.frame.nextDisplayTime, 7);
    EXPECT_EQ(w.frame.displayBuffer[23], 7);
    w.frame.StopImage();
    EXPECT_EQ(w.frame.running, 0u);
    EXPECT_EQ(w.host.watchdog, 0u);
    // The callback is off before the last raw buffer is copied.
    const std::vector<std::string> tail(w.api.calls.end() - 3, w.api.calls.end());
    EXPECT_EQ(tail, (std::vector<std::string>{"ImageStop", "SetImageCallBack off", "ResourceRelease"}));
    EXPECT_EQ(w.frame.capturedRawImage, std::vector<uint8_t>(24, 7));
    EXPECT_EQ(w.frame.lastRawBuffer, nullptr);
}

TEST(ChildFrame, FailuresAreTold) {
    ConvApi api;
    RecordingHost host;
    {
        CChildFrame frame(&api, &host);
        api.openError = STATUSQORCAM_CANNOT_FOUND;
        EXPECT_FALSE(frame.ConnectCamera(5, QORCAM_CTYPE_USB));
        EXPECT_EQ(frame.hCamera, nullptr);
    }
    api.openError = STATUSQORCAM_COMPLETE;
    struct Case {
        STATUS_RTNCODE error;
        const char* text;
    } cases[] = {{STATUSQORCAM_NO_SUPPORT_PIXELFORMAT, "Not Support PixelFormat"},
                 {STATUSQORCAM_PARAMETER_ERROR, "Get BMPINFO Error"}};
    for (const Case& c : cases) {
        CChildFrame frame(&api, &host);
        ASSERT_TRUE(frame.ConnectCamera(5, QORCAM_CTYPE_USB));
        api.bmpError = c.error;
        EXPECT_FALSE(frame.StartImage(CChildFrame::StartReason::Restart));
        EXPECT_EQ(frame.running, 0u);
        EXPECT_EQ(frame.Header(), nullptr);
        EXPECT_EQ(api.callBack, nullptr);
        EXPECT_EQ(host.messages.back(), c.text);
        api.bmpError = STATUSQORCAM_COMPLETE;
    }
    EXPECT_EQ(host.messages.front(), "Camera Not found[5]");
}

TEST(ChildFrame, PacketSizeAndTitle) {
    struct {
        int64_t value, min, max, inc, want;
    } cases[] = {{576, 576, 9000, 4, 1440}, {576, 576, 1000, 4, 1000}, {1440, 576, 9000, 4, 1440},
                 {9000, 576, 9000, 4, 9000}, {576, 577, 9000, 8, 1433}, {576, 576, 9000, 0, 576}};
    for (auto& c : cases) EXPECT_EQ(PacketSizeFor(c.value, c.min, c.max, c.inc), c.want) << c.value << " " << c.max;
    EXPECT_EQ(CameraTitle("Cam", 0x1234ABCDull), "Cam 0x000000001234ABCD");
}

TEST(LiveImage, ConversionsArePacedToTheDisplayRate) {
    struct {
        uint32_t displayRate, cameraFps;
        int buffers, conversions;
    } cases[] = {{10, 30, 30, 10}, {10, 5, 10, 10}, {30, 30, 30, 30}};
    for (auto& c : cases) {
        Window w;
        w.frame.displayRate = c.displayRate;
        const int64_t start = w.frame.nextDisplayTime;
        for (int i = 0; i < c.buffers; ++i) w.Feed(start + i * (kSecond / c.cameraFps), uint8_t(i));
        EXPECT_EQ(w.api.conversions, c.conversions) << c.displayRate << " at " << c.cameraFps;
        // Every buffer repaints, converted or not.
        EXPECT_EQ(w.host.repaints, c.buffers);
    }
    // A late buffer does not leave a backlog of due conversions behind it.
    Window w;
    w.frame.displayRate = 10;
    const int64_t start = w.frame.nextDisplayTime;
    const int64_t late = start + 5 * kSecond + 1;
    w.Feed(late);
    EXPECT_GT(w.frame.nextDisplayTime, late);
    w.Feed(late + 1);
    EXPECT_EQ(w.api.conversions, 1);
}

TEST(LiveImage, FailedBuffersOfTheLastHundred) {
    Window w;
    const int64_t t = w.frame.nextDisplayTime;
    for (int i = 0; i < 100; ++i) w.Feed(t, 1, QORCAM_CTYPE_GIGE, FALSE);
    EXPECT_EQ(w.frame.errorCount, 100u);
    for (int i = 0; i < 30; ++i) w.Feed(t, 1, QORCAM_CTYPE_GIGE, TRUE);
    EXPECT_EQ(w.frame.errorCount, 70u);
    // Other camera types never count as failed.
    for (int i = 0; i < 100; ++i) w.Feed(t, 1, QORCAM_CTYPE_1394, FALSE);
    EXPECT_EQ(w.frame.errorCount, 0u);
    // A buffer without data is counted but not converted over the last image.
    Window v;
    v.Feed(v.frame.nextDisplayTime, 9);
    QORCAM_IMAGEDATAINFO info{};
    info.CType = QORCAM_CTYPE_USB;
    v.frame.OnBuffer(v.frame.hCamera, nullptr, 0, &info, v.frame.nextDisplayTime + kSecond);
    EXPECT_EQ(v.frame.errorCount, 1u);
    EXPECT_EQ(v.api.conversions, 1);
    EXPECT_EQ(v.frame.displayBuffer[0], 9);
    // Frames the library calls complete but that carry no picture fail too:
    // no data, or an image frame of no size with the buffer's stale bytes (the
    // camera emulator sends these after a size it can't send). The window
    // shows the failures instead of a frozen picture at "Error : 0%".
    for (uint32_t type : {QORCAM_CTYPE_GIGE, QORCAM_CTYPE_USB}) {
        Window z;
        QORCAM_IMAGEDATAINFO frame{};
        frame.CType = type;
        frame.Info.CGigE.Payload_Flag = TRUE;
        frame.Info.CGigE.StreamInfo.SType = 1;
        frame.Info.CUsb.StreamInfo.SType = 1; // width and height stay 0
        std::vector<uint8_t> stale(24, 6);
        for (int i = 0; i < 10; ++i)
            z.frame.OnBuffer(z.frame.hCamera, stale.data(), 24, &frame, z.frame.nextDisplayTime);
        z.frame.OnBuffer(z.frame.hCamera, stale.data(), 0, &frame, z.frame.nextDisplayTime);
        z.frame.OnBuffer(z.frame.hCamera, nullptr, 24, nullptr, z.frame.nextDisplayTime);
        EXPECT_EQ(z.frame.errorCount, 12u) << type;
        EXPECT_EQ(z.api.conversions, 0);
        // A frame with its size is shown and is no failure.
        if (type == QORCAM_CTYPE_GIGE) {
            frame.Info.CGigE.StreamInfo.Data.Image.Width = 4;
            frame.Info.CGigE.StreamInfo.Data.Image.Height = 2;
        } else {
            frame.Info.CUsb.StreamInfo.Data.Image.Width = 4;
            frame.Info.CUsb.StreamInfo.Data.Image.Height = 2;
        }
        z.frame.OnBuffer(z.frame.hCamera, stale.data(), 24, &frame, z.frame.nextDisplayTime);
        EXPECT_EQ(z.frame.errorCount, 12u);
        EXPECT_EQ(z.api.conversions, 1);
    }
}

TEST(LiveImage, FrameRateAndWatchdog) {
    Window w;
    const int64_t start = w.frame.rateWindowStart;
    int64_t last = start;
    for (int i = 1; i <= 31; ++i) w.Feed(last = start + i * (kSecond / 30));
    EXPECT_NEAR(w.frame.frameRate, 30.0, 0.01);
    EXPECT_EQ(w.host.infoUpdates, 1);
    // Stopped at 30 frames per second: still shown 1.9 s after the window start, gone at 2.
    w.frame.OnWatchdog(last + kSecond * 19 / 10);
    EXPECT_NEAR(w.frame.frameRate, 30.0, 0.01);
    w.frame.OnWatchdog(last + 2 * kSecond);
    EXPECT_EQ(w.frame.frameRate, -1.0);
    EXPECT_EQ(w.host.infoUpdates, 2);
    w.frame.OnWatchdog(last + 9 * kSecond);
    EXPECT_EQ(w.host.infoUpdates, 2);

    // At a quarter frame per second the wait is eight seconds.
    Window s;
    const int64_t s0 = s.frame.rateWindowStart;
    s.Feed(s0 + 4 * kSecond);
    EXPECT_NEAR(s.frame.frameRate, 0.25, 1e-9);
    s.frame.OnWatchdog(s0 + 4 * kSecond + 7 * kSecond);
    EXPECT_NEAR(s.frame.frameRate, 0.25, 1e-9);
    s.frame.OnWatchdog(s0 + 4 * kSecond + 8 * kSecond);
    EXPECT_EQ(s.frame.frameRate, -1.0);
}

TEST(LiveImage, ClosedWindowIsLeftAlone) {
    Window w;
    w.host.child = false;
    std::vector<uint8_t> raw(24, 3);
    QORCAM_IMAGEDATAINFO info{};
    w.api.callBack(w.frame.hCamera, raw.data(), 24, 4, 2, &info, w.api.callBackContext);
    EXPECT_EQ(w.frame.framesInWindow, 0u);
    EXPECT_EQ(w.api.conversions, 0);
    EXPECT_EQ(w.host.repaints, 0);
}
