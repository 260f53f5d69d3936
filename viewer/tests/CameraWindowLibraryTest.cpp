// A camera window over the built camera library and a scripted USB camera, on an offscreen display.
#include "CameraWindow.h"
#include "MainFrame.h"
#include "PropertyFile.h"

#include "genapi/Pointer.h"

#include <QApplication>
#include <QCoreApplication>
#include <QElapsedTimer>

#include "QtTestApp.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <dlfcn.h>
#include <filesystem>
#include <fstream>
#include <unistd.h>

using namespace qorcam::viewer;
namespace fs = std::filesystem;

namespace {

using qorcam::viewer::testing::Application;
using qorcam::viewer::testing::Pump;

// Width on a register, 480 lines of Mono8.
std::string CameraXml() {
    return "<?xml version='1.0'?><RegisterDescription SchemaMajorVersion='1' SchemaMinorVersion='1'>"
           "<Category Name='Root'><pFeature>Width</pFeature><pFeature>Height</pFeature>"
           "<pFeature>PixelFormat</pFeature></Category>"
           "<Integer Name='Width'><pValue>WidthReg</pValue></Integer>"
           "<IntReg Name='WidthReg'><Address>0x100</Address><Length>4</Length>"
           "<AccessMode>RW</AccessMode><pPort>Device</pPort><Cachable>NoCache</Cachable>"
           "<Endianess>BigEndian</Endianess></IntReg>"
           "<Integer Name='Height'><Value>480</Value></Integer>"
           "<IntSwissKnife Name='PayloadSize'><pVariable Name='W'>Width</pVariable>"
           "<pVariable Name='H'>Height</pVariable><Formula>W*H</Formula></IntSwissKnife>"
           "<Enumeration Name='PixelFormat'><EnumEntry Name='Mono8'><Value>17301505</Value>"
           "</EnumEntry><Value>17301505</Value></Enumeration>"
           "<Integer Name='TLParamsLocked'><Value>0</Value></Integer>"
           "<Command Name='AcquisitionStart'><pValue>Acq</pValue><CommandValue>1</CommandValue></Command>"
           "<Command Name='AcquisitionStop'><pValue>Acq</pValue><CommandValue>0</CommandValue></Command>"
           "<IntReg Name='Acq'><Address>0x124</Address><Length>4</Length><AccessMode>WO</AccessMode>"
           "<pPort>Device</pPort></IntReg><Port Name='Device'/></RegisterDescription>";
}

// A temporary root with the built library and the scripted producer serving
// one USB camera (id 12) described by CameraXml.
class ScriptedRoot {
public:
    ScriptedRoot() {
        char pattern[] = "/tmp/qorcam-viewer-cam-XXXXXX";
        root = ::mkdtemp(pattern);
        setenv("QORCAM_ROOT", root.c_str(), 1);
        unsetenv("GENICAM_ROOT_V2_4");
        lib = root / "lib";
        fs::create_directories(lib);
        fs::copy_file(QORCAM_LIBRARY_PATH, lib / "libQorCam.so");
        fs::copy_file(SCRIPTED_PRODUCER_PATH, lib / "QorUSBGenTL.cti");
        const std::string xml = CameraXml();
        std::ofstream(root / "cam.xml") << xml;
        char size[16];
        std::snprintf(size, sizeof size, "%zX", xml.size());
        std::ofstream(lib / "QorUSBGenTL.cti.script")
            << "prefix USB3Vision\ninterface usb0\ndevice usb0 12 VendorU ModelU userA 2 512\n"
            << "port usb0 12 Local:cam.xml;10000;" << size << " " << (root / "cam.xml").string() << " 10000\n";
        setenv("QORCAM_APILIB", lib.c_str(), 1);
    }
    ~ScriptedRoot() {
        unsetenv("QORCAM_APILIB");
        unsetenv("QORCAM_ROOT");
        fs::remove_all(root);
    }
    /// Completes the camera's next queued buffer with bytes of data: 0, or -1 when none is queued.
    int Complete(uint32_t bytes) {
        void* producer = dlopen((lib / "QorUSBGenTL.cti").c_str(), RTLD_NOW | RTLD_NOLOAD);
        if (!producer) return -1;
        auto complete = reinterpret_cast<int (*)(const char*, uint64_t, uint32_t, uint32_t, uint32_t)>(
            dlsym(producer, "ScriptedGenTL_CompleteOn"));
        dlclose(producer);
        return complete ? complete("usb0", 12, 0, 0, bytes) : -1;
    }
    fs::path root, lib;
};

// The main frame with the property file dialog answered by the test.
class TestFrame : public CMainFrame {
public:
    using CMainFrame::CMainFrame;
    std::string AskPropertyFilePath(bool, const std::string&) override { return propertyPath; }
    std::string propertyPath;
};

} // namespace

TEST(CameraWindowLibrary, StreamsAScriptedCameraIntoTheView) {
    Application();
    ScriptedRoot scripted;
    {
        CameraLibrary api;
        ASSERT_TRUE(api.Load()) << api.ErrorText();
        ASSERT_TRUE(api.SetStructVersion(LIBRARY_STRUCT_VERSION));
        CQorViewerApp app(api);
        CMainFrame frame(app);
        frame.resize(900, 700);
        frame.show();
        Pump();

        frame.OpenCamera(12, QORCAM_CTYPE_USB);
        Pump();
        CChildFrame* child = app.activeChild;
        ASSERT_NE(child, nullptr);
        EXPECT_EQ(child->title, "userA 0x000000000000000C");
        ASSERT_NE(child->nodeMap, nullptr);
        qorcam::genapi::CIntegerPtr width(child->nodeMap->GetNode("Width"));
        ASSERT_TRUE(width.IsValid());
        width->SetValue(64);

        CChildWindow* window = frame.WindowOf(child);
        window->OnStartImage();
        ASSERT_EQ(child->running, 1u);
        EXPECT_EQ(child->payloadSize, 64u * 480u);
        ASSERT_NE(child->Header(), nullptr);
        EXPECT_EQ(child->displayBuffer.size(), child->Header()->biSizeImage);
        Pump();
        EXPECT_EQ(window->View()->size(), QSize(64, 480));

        ASSERT_EQ(scripted.Complete(64 * 480), 0);
        QElapsedTimer t;
        t.start();
        while (child->conversions == 0 && t.elapsed() < 5000) Pump(10);
        EXPECT_EQ(child->conversions, 1u);
        EXPECT_FALSE(CChildView::ImageOf(*child).isNull());
        if (const char* out = std::getenv("QORCAM_VIEWER_SHOT")) frame.grab().save(out);

        window->OnStopImage();
        EXPECT_EQ(child->running, 0u);
        window->close();
        Pump();
        EXPECT_EQ(app.activeChild.load(), nullptr);
        app.Stop();
    }
}

// Everything that stops a running camera keeps the last image: Stop itself,
// switching record mode on, and writing a property file while it runs. The
// last image's memory is read while it is still the library's delivery.
TEST(CameraWindowLibrary, StopRecordModeAndPropertyFileWhileRunningKeepTheLastImage) {
    Application();
    ScriptedRoot scripted;
    {
        CameraLibrary api;
        ASSERT_TRUE(api.Load()) << api.ErrorText();
        ASSERT_TRUE(api.SetStructVersion(LIBRARY_STRUCT_VERSION));
        CQorViewerApp app(api);
        TestFrame frame(app);
        frame.resize(900, 700);
        frame.show();
        Pump();
        frame.OpenCamera(12, QORCAM_CTYPE_USB);
        Pump();
        CChildFrame* child = app.activeChild;
        ASSERT_NE(child, nullptr);
        qorcam::genapi::CIntegerPtr(child->nodeMap->GetNode("Width"))->SetValue(32);
        CChildWindow* window = frame.WindowOf(child);

        uint64_t frames = 0;
        auto deliverOne = [&] {
            ASSERT_EQ(child->running, 1u);
            QElapsedTimer t;
            t.start();
            while (scripted.Complete(32 * 480) != 0 && t.elapsed() < 10000) Pump(10);
            ++frames;
            t.restart();
            while (child->conversions < frames && t.elapsed() < 10000) Pump(10);
            ASSERT_EQ(child->conversions, frames);
        };

        // Start, stop, start again.
        for (int round = 0; round < 2; ++round) {
            frames = child->conversions;
            window->OnStartImage();
            deliverOne();
            window->OnStopImage();
            ASSERT_EQ(child->running, 0u);
            EXPECT_EQ(child->capturedRawImage.size(), 32u * 480u) << "round " << round;
            EXPECT_EQ(child->lastRawBuffer, nullptr);
        }

        // Record mode on while running: stopped, given its ring, started again.
        frames = child->conversions;
        window->OnStartImage();
        deliverOne();
        frame.SetRecordMode(true);
        Pump();
        EXPECT_EQ(child->recordMode, 1u);
        EXPECT_EQ(child->capturedRawImage.size(), 32u * 480u);
        ASSERT_EQ(child->running, 1u);
        frames = child->conversions;
        deliverOne();
        frame.SetRecordMode(false);
        Pump();
        EXPECT_EQ(child->recordMode, 0u);
        ASSERT_EQ(child->running, 1u);

        // A property file written while the camera runs.
        frames = child->conversions;
        deliverOne();
        frame.propertyPath = (scripted.root / "props.ini").string();
        const std::optional<PropertyFileResult> saved = OnPropertyFile(*child, true, frame);
        ASSERT_TRUE(saved.has_value());
        EXPECT_TRUE(saved->ok);
        EXPECT_TRUE(fs::exists(frame.propertyPath));
        EXPECT_EQ(child->capturedRawImage.size(), 32u * 480u);
        Pump();
        EXPECT_EQ(child->running, 1u);
        frames = child->conversions;
        deliverOne();

        window->OnStopImage();
        window->close();
        Pump();
        app.Stop();
    }
}
