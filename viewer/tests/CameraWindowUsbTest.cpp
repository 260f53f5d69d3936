// A camera window over the built camera library, its USB producer and the USB service program, with
// a simulated USB3 Vision camera on the virtual bus, on an offscreen display.
#include "CameraWindow.h"
#include "MainFrame.h"

#include "SimulatedUsbCamera.h"

#include "genapi/Pointer.h"

#include "QtTestApp.h"

#include <gtest/gtest.h>

#include <QImage>

#include <cstddef>
#include <cstdlib>
#include <filesystem>
#include <vector>

using namespace qorcam::viewer;
using qorcam::testing::SimulatedUsbCamera;
using qorcam::viewer::testing::Application;
using qorcam::viewer::testing::Pump;
using qorcam::viewer::testing::PumpUntil;

namespace {

constexpr uint32_t kWidth = SimulatedUsbCamera::kWidth, kHeight = SimulatedUsbCamera::kHeight;

// The id of the first USB camera the library lists, or 0.
uint64_t ListedUsbCamera(CameraLibrary& api) {
    constexpr uint32_t kRoom = 16;
    // The list is declared with one entry; the caller gives room for Count entries.
    std::vector<uint8_t> block(offsetof(QORCAM_LIST, Info) + kRoom * sizeof(QORCAM_CAMERAINFO));
    auto* list = reinterpret_cast<QORCAM_LIST*>(block.data());
    list->Count = kRoom;
    if (!api.GetList(list)) return 0;
    for (uint32_t i = 0; i < list->Count && i < kRoom; ++i)
        if (list->Info[i].CameraType == QORCAM_CTYPE_USB) return list->Info[i].UID;
    return 0;
}

// The image the view draws (copied from the window's bits, so the sanitizers see a read of freed
// memory): the camera's size, in the 32-bit colour bitmap the window shows every camera in, and grey
// in every pixel as Mono8 data is.
QImage ShownImage(const CChildFrame& child) {
    const QImage image = CChildView::ImageOf(child);
    EXPECT_FALSE(image.isNull());
    EXPECT_EQ(image.size(), QSize(int(kWidth), int(kHeight)));
    EXPECT_EQ(image.format(), QImage::Format_RGB32);
    int coloured = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x) {
            const QRgb pixel = image.pixel(x, y);
            coloured += qRed(pixel) != qGreen(pixel) || qGreen(pixel) != qBlue(pixel);
        }
    EXPECT_EQ(coloured, 0);
    return image;
}

} // namespace

// Opens the camera from the list, streams into the view, stops with the last image kept, streams
// again and closes. Skipped when the simulated camera or the service can't run here.
TEST(CameraWindowUsb, StreamsStopsAndRestartsASimulatedUsbCamera) {
    Application();
    SimulatedUsbCamera usb;
    if (const std::string failed = usb.Start(QOR_U3V_SIM_CAMERA, QOR_USB_DRV); !failed.empty())
        GTEST_SKIP() << failed;
    // The built library, which finds the built USB producer beside it.
    const std::filesystem::path folder = std::filesystem::path(QORCAM_LIBRARY_PATH).parent_path();
    setenv("QORCAM_APILIB", folder.c_str(), 1);
    unsetenv("GENICAM_ROOT_V2_4");
    {
        CameraLibrary api;
        ASSERT_TRUE(api.Load()) << api.ErrorText();
        ASSERT_EQ(std::filesystem::path(api.LoadedFrom()).parent_path(), folder);
        ASSERT_TRUE(api.SetStructVersion(LIBRARY_STRUCT_VERSION));
        uint64_t id = 0;
        if (!SimulatedUsbCamera::Find([&] { return (id = ListedUsbCamera(api)) != 0; })) {
            if (const std::string ended = usb.Ended(); !ended.empty()) GTEST_SKIP() << ended;
            FAIL() << "the simulated USB camera was never listed";
        }

        CQorViewerApp app(api);
        CMainFrame frame(app);
        frame.resize(900, 700);
        frame.show();
        Pump();
        frame.OpenCamera(id, QORCAM_CTYPE_USB);
        Pump();
        CChildFrame* child = app.activeChild;
        ASSERT_NE(child, nullptr) << "the camera window didn't open";
        EXPECT_EQ(child->vendorName, SimulatedUsbCamera::kVendor);
        EXPECT_EQ(child->modelName, SimulatedUsbCamera::kModel);
        ASSERT_NE(child->nodeMap, nullptr);
        qorcam::genapi::CIntegerPtr width(child->nodeMap->GetNode("Width"));
        ASSERT_TRUE(width.IsValid());
        EXPECT_EQ(width->GetValue(), kWidth);
        qorcam::genapi::CEnumerationPtr format(child->nodeMap->GetNode("PixelFormat"));
        ASSERT_TRUE(format.IsValid());
        EXPECT_EQ(format->ToString(), "Mono8");
        CChildWindow* window = frame.WindowOf(child);
        ASSERT_NE(window, nullptr);

        uint64_t conversions = 0;
        for (int round = 0; round < 2; ++round) {
            SCOPED_TRACE("round " + std::to_string(round));
            window->OnStartImage();
            ASSERT_EQ(child->running, 1u);
            EXPECT_EQ(child->payloadSize, kWidth * kHeight);
            const BITMAPINFOHEADER* header = child->Header();
            ASSERT_NE(header, nullptr);
            EXPECT_EQ(header->biWidth, int32_t(kWidth));
            EXPECT_EQ(header->biHeight < 0 ? -header->biHeight : header->biHeight, int32_t(kHeight));
            EXPECT_EQ(header->biBitCount, 32);
            EXPECT_EQ(child->displayBuffer.size(), header->biSizeImage);

            // A few images reach the view.
            EXPECT_TRUE(PumpUntil([&] { return child->conversions >= conversions + 3; }, 60000))
                << "images converted: " << child->conversions - conversions;
            EXPECT_FALSE(child->FormatChanged());
            EXPECT_EQ(window->View()->size(), QSize(int(kWidth), int(kHeight)));
            ShownImage(*child);

            // Stopped, the last image stays shown and readable, and nothing more is delivered.
            window->OnStopImage();
            ASSERT_EQ(child->running, 0u);
            EXPECT_EQ(child->lastRawBuffer, nullptr);
            EXPECT_EQ(child->capturedRawImage.size(), size_t{kWidth} * kHeight);
            conversions = child->conversions;
            const QImage last = ShownImage(*child);
            Pump(300);
            EXPECT_EQ(child->conversions, conversions);
            EXPECT_EQ(ShownImage(*child), last);
            EXPECT_FALSE(frame.grab().isNull()); // paints the view from the kept image
        }

        window->close();
        Pump();
        EXPECT_EQ(app.activeChild.load(), nullptr);
        app.Stop();
    }
    unsetenv("QORCAM_APILIB");
    EXPECT_TRUE(usb.Stop()) << "the USB service didn't end";
}
