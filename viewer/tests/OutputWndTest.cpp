// The information output's lines: the active window's camera or record, its image, and the selected feature.
#include "ViewerFixture.h"

#include "OutputWnd.h"
#include "QorViewerApp.h"

#include <gtest/gtest.h>

using namespace qorcam::viewer;
using namespace qorcam::viewer::testing;
namespace genapi = qorcam::genapi;

namespace {

using Lines = std::vector<std::string>;

struct Output : ::testing::Test {
    FakeApi api;
    CQorViewerApp app{api};
    COutputWnd out{app};
    CChildFrame window;

    Output() {
        window.title = "Cam 0x0000000000000011";
        window.vendorName = "Vendor";
        window.modelName = "Model-7";
        window.userName = "Line 1";
        window.deviceVersion = "1.2";
        window.serialNumber = "S-42";
        window.uniqueId = "0x0000000000000011";
        app.openChildren.push_back(&window);
        app.activeChild = &window;
    }
    void Header(int32_t w, int32_t h) {
        window.bitmapInfo.assign(sizeof(BITMAPINFOHEADER), 0);
        auto* hd = reinterpret_cast<BITMAPINFOHEADER*>(window.bitmapInfo.data());
        hd->biSize = sizeof(BITMAPINFOHEADER);
        hd->biWidth = w;
        hd->biHeight = h;
    }
};

/// Nodes of every kind the feature list tells apart.
struct Nodes {
    MemoryPort port{0x100};
    genapi::CNodeMapRef map;
    Nodes() {
        map._LoadXMLFromString(
            Description(
                "<Integer Name='Signed'><Value>0</Value><Min>-10</Min><Max>10</Max></Integer>"
                "<Integer Name='Unsigned'><DisplayName>Big one</DisplayName><Description>All "
                "bits</Description><Value>0</Value><Min>0</Min><Max>4294967295</Max><Inc>2</Inc></Integer>"
                "<Integer Name='Fixed'><Value>7</Value><ImposedAccessMode>RO</ImposedAccessMode></Integer>"
                "<Integer Name='Ip'><Value>1</Value><Min>0</Min><Max>4294967295</Max>"
                "<Representation>IPV4Address</Representation></Integer>"
                "<Integer Name='Hex'><Value>1</Value><Min>0</Min><Max>65537</Max>"
                "<Representation>HexNumber</Representation></Integer>"
                "<Float Name='Stepped'><Value>1</Value><Min>0</Min><Max>4</Max><Inc>0.5</Inc></Float>"
                "<Float Name='Free'><Value>1</Value><Min>-1</Min><Max>1</Max></Float>"
                "<Float Name='ReadOnly'><Value>1</Value><ImposedAccessMode>RO</ImposedAccessMode></Float>"
                "<Boolean Name='Flag'><Visibility>Guru</Visibility><Value>1</Value></Boolean>"
                "<Command Name='Go'><pValue>Signed</pValue><CommandValue>1</CommandValue></Command>"
                "<Integer Name='Zero'><Value>0</Value></Integer>"
                "<Integer Name='Gone'><pIsAvailable>Zero</pIsAvailable><Value>1</Value></Integer>"
                "<Category Name='Root'><Visibility>Expert</Visibility><pFeature>Signed</pFeature></Category>")
                .c_str());
        map._Connect(&port);
        SetFeatureGuard([] { return true; });
    }
    ~Nodes() { SetFeatureGuard(nullptr); }
    genapi::INode* operator[](const char* name) { return map.GetNode(name); }
};

} // namespace

TEST_F(Output, CameraLinesNameTheActiveWindowsCamera) {
    out.ShowNodeInfo(nullptr);
    out.ShowImageInfo();
    out.ShowCameraInfo();
    EXPECT_EQ(out.Lines(COutputWnd::kCamera),
              (Lines{"[ Cam 0x0000000000000011 ]", "    VendorName : Vendor", "    ModelName : Model-7",
                     "    UserName : Line 1", "    DeviceVer : 1.2", "    SerialNo : S-42",
                     "    UniqueID : 0x0000000000000011"}));
    // The camera lines replace the other two lists' subject.
    EXPECT_TRUE(out.Lines(COutputWnd::kImage).empty());

    // No active window of the frame: every list stays empty.
    app.openChildren.clear();
    out.ShowCameraInfo();
    out.ShowImageInfo();
    EXPECT_TRUE(out.Lines(COutputWnd::kCamera).empty());
    EXPECT_TRUE(out.Lines(COutputWnd::kImage).empty());
    app.openChildren.push_back(&window);
    app.activeChild = nullptr;
    out.ShowCameraInfo();
    EXPECT_TRUE(out.Lines(COutputWnd::kCamera).empty());
}

TEST_F(Output, ImageLinesFollowTheWindowsState) {
    out.ShowImageInfo();
    EXPECT_EQ(out.Lines(COutputWnd::kImage),
              (Lines{"[ Cam 0x0000000000000011 ]", "    Size :", "    Image Stoped"}));

    Header(640, 480);
    window.running = 1;
    window.frameRate = -1.0;
    out.ShowImageInfo();
    EXPECT_EQ(out.Lines(COutputWnd::kImage),
              (Lines{"[ Cam 0x0000000000000011 ]", "    Size : 640 * 480", "    Image Started",
                     "    Recover OFF", "    FrameRate : -----", "    Error :   0%"}));

    window.recover = 1;
    window.frameRate = 29.5;
    window.errorCount = 100;
    out.ShowImageInfo();
    EXPECT_EQ(out.Lines(COutputWnd::kImage),
              (Lines{"[ Cam 0x0000000000000011 ]", "    Size : 640 * 480", "    Image Started",
                     "    Recover ON", "    FrameRate : 29.500", "    Error : 100%"}));
}

TEST_F(Output, PlaybackLinesShowTheRecordAndItsProgress) {
    app.mode = 0;
    window.title = "20260101-101010-001 - Cam 0x11";
    window.playback = 1;
    CRecInfo& record = window.recInfo;
    record.cameraName = "Cam 0x11";
    record.recordTime = "20260101-101010-001";
    record.folderPath = "/data/20260101-101010-001/Cam 0x11/";
    record.savedCount = 1234;
    record.loaded = 5;
    record.currentFrame = 4;
    record.frameCount = 1234;
    record.loading = 1;
    out.ShowCameraInfo();
    EXPECT_EQ(out.Lines(COutputWnd::kCamera),
              (Lines{"[ 20260101-101010-001 - Cam 0x11 ]", "    CameraName : Cam 0x11",
                     "    RecordTime : 20260101-101010-001", "    RecordNum : 1234", "    ReadNum : 5",
                     "    Folder : /data/20260101-101010-001/Cam 0x11/"}));

    Header(4, 2);
    out.ShowImageInfo();
    EXPECT_EQ(out.Lines(COutputWnd::kImage), (Lines{"[ 20260101-101010-001 - Cam 0x11 ]", "    Size : 4 * 2",
                                                    "    Image Reading", "    ReadNum : 0005 / 1234"}));
    record.loading = 0;
    out.ShowImageInfo();
    EXPECT_EQ(out.Lines(COutputWnd::kImage).back(), "    Image Stoped");
    record.currentFrame = 0;
    window.running = 1;
    window.displayRate = 15;
    out.ShowImageInfo();
    EXPECT_EQ(out.Lines(COutputWnd::kImage),
              (Lines{"[ 20260101-101010-001 - Cam 0x11 ]", "    Size : 4 * 2", "    Image Started",
                     "    ViewNum : 0001 / 1234", "    FrameRate : 15"}));

    // The feature list stays empty in playback.
    Nodes nodes;
    out.ShowNodeInfo(nodes["Signed"]);
    EXPECT_TRUE(out.Lines(COutputWnd::kFeature).empty());
}

TEST(OutputProgress, FieldsAreAsWideAsTheCountNeeds) {
    struct Case {
        uint32_t frame, count;
        const char* line;
    } cases[] = {{1, 99, "    N : 01 / 99"},          {7, 100, "    N : 007 / 100"},
                 {999, 999, "    N : 999 / 999"},     {1, 1000, "    N : 0001 / 1000"},
                 {1, 10000, "    N : 00001 / 10000"}, {123456, 123456, "    N : 123456 / 123456"}};
    for (const Case& c : cases)
        EXPECT_EQ(ProgressLine("N", c.frame, c.count), c.line);
}

TEST_F(Output, FeatureLinesDescribeTheSelectedNode) {
    Nodes nodes;
    out.ShowNodeInfo(nodes["Unsigned"]);
    EXPECT_EQ(out.Lines(COutputWnd::kFeature),
              (Lines{"[ Big one ]", "    Name : Unsigned", "    Description : All bits",
                     "    InterfaceType : IInteger interface   [ Min : 0  Max : 0x ffff ffff  Inc : 2 ]",
                     "    AccessMode : Read and Write", "    Visibility : Beginner"}));

    struct Case {
        const char* node;
        const char* interfaceLine;
    } cases[] = {
        {"Signed", "IInteger interface   [ Min : -10  Max : 10  Inc : 1 ]"},
        {"Fixed", "IInteger interface"},
        {"Ip",
         "IInteger interface   [ Min : [IPv4] 0.0.0.0  Max : [IPv4] 255.255.255.255  Inc : [IPv4] 0.0.0.1 ]"},
        {"Hex", "IInteger interface   [ Min : [HEX] 0000 0000 0000 0000  Max : [HEX] 0000 0000 0001 0001  "
                "Inc : [HEX] 0000 0000 0000 0001 ]"},
        {"Stepped", "IFloat interface   [ Min: 0.000000  Max : 4.000000  Inc : 0.500000 ]"},
        {"Free", "IFloat interface   [ Min: -1.000000  Max : 1.000000  Inc : has no increment ]"},
        {"ReadOnly", "IFloat interface"},
        {"Flag", "IBoolean interface"},
        {"Go", "ICommand interface"},
        {"Root", "ICategory interface"},
    };
    for (const Case& c : cases) {
        out.ShowNodeInfo(nodes[c.node]);
        ASSERT_EQ(out.Lines(COutputWnd::kFeature).size(), 6u) << c.node;
        EXPECT_EQ(out.Lines(COutputWnd::kFeature)[3], std::string("    InterfaceType : ") + c.interfaceLine);
    }
    out.ShowNodeInfo(nodes["Flag"]);
    EXPECT_EQ(out.Lines(COutputWnd::kFeature)[5], "    Visibility : Guru");
    out.ShowNodeInfo(nodes["Gone"]);
    EXPECT_EQ(out.Lines(COutputWnd::kFeature)[4], "    AccessMode : Not available");

    // With the camera gone the guarded limits read as zero.
    SetFeatureGuard([] { return false; });
    out.ShowNodeInfo(nodes["Signed"]);
    EXPECT_EQ(out.Lines(COutputWnd::kFeature)[3],
              "    InterfaceType : IInteger interface   [ Min : 0  Max : 0  Inc : 0 ]");
    SetFeatureGuard([] { return true; });

    // Texts that have no number of their own.
    EXPECT_EQ(AccessModeText(static_cast<genapi::EAccessMode>(6)),
              "used internally for AccessMode cycle detection");
    EXPECT_EQ(AccessModeText(static_cast<genapi::EAccessMode>(9)), "Unknown");
    EXPECT_EQ(VisibilityText(genapi::_UndefinedVisibility), "Object is not yet initialized");
    EXPECT_EQ(VisibilityText(static_cast<genapi::EVisibility>(4)), "Unknown");

    out.ShowNodeInfo(nullptr);
    EXPECT_TRUE(out.Lines(COutputWnd::kFeature).empty());
}
