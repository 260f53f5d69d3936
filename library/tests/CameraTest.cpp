// CameraTest: cameras of the scripted producers opened, described, inspected and closed through the built
// library, and register access through cameras and register-only handles.
#include "LibraryFixture.h"

#include "ZipWriter.h"
#include "genapi/GenApiC.h"

#include <condition_variable>
#include <cstring>
#include <fstream>
#include <functional>
#include <future>
#include <mutex>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace {

constexpr uint64_t kGigE = 73588229205; // 0x001122334455
constexpr uint64_t kGigE2 = 5;
constexpr uint64_t kUsb = 12;
constexpr uint64_t kUsbBadUrl = 13;
constexpr uint64_t kBusy = 77;
constexpr uint64_t kAny = 0xFFFFFFFFFFFFFFFFull;

using qorcam::testing::CameraXml;

std::string Hex(size_t v) {
    char text[32];
    std::snprintf(text, sizeof text, "%zX", v);
    return text;
}

/// A pointer as the trace lines write it: 16 upper-case hex digits.
std::string Hex(const void* p) {
    char text[32];
    std::snprintf(text, sizeof text, "%016zX", reinterpret_cast<size_t>(p));
    return text;
}

class CameraTest : public qorcam::testing::LibraryFixture {
protected:
    void SetUp() override {
        LibraryFixture::SetUp();
        const std::string xml = CameraXml();
        const std::string file = WriteFile("cam.xml", xml);
        const std::string noLocked = WriteFile("nolocked.xml", CameraXml(false));
        const std::string port = " Local:cam.xml;10000;" + Hex(xml.size()) + " " + file + " 10000\n";
        Install("QorGigEGenTL.cti", "prefix GigEVision\ninterface if0\n"
                                    "device if0 73588229205 VendorG ModelG1 camA 3232235777 1000\n"
                                    "device if0 5 VendorG ModelG2 cam2 7 100\n"
                                    "device if0 77 VendorG Busy busy 7 100\n"
                                    "port if0 73588229205" +
                                        port + "port if0 5" + port + "elsewhere if0 77\n");
        Install("QorUSBGenTL.cti", "prefix USB3Vision\ninterface usb0\n"
                                   "device usb0 12 VendorU ModelU userA 2 512\n"
                                   "device usb0 13 VendorU ModelU2 userB 2 1024\n"
                                   "device usb0 14 VendorU ModelU3 userC 2 1024\n"
                                   "port usb0 12" +
                                       port +
                                       "port usb0 13 Bad:cam.xml;10000;10\n"
                                       "port usb0 14 local:x.xml;10000;" +
                                       Hex(CameraXml(false).size()) + " " + noLocked + " 10000\n");
        ASSERT_NO_FATAL_FAILURE(LoadAndStart());
    }

    HCAMERA Open(uint64_t uid) {
        HCAMERA camera = nullptr;
        EXPECT_TRUE(QORCAM_FN(QORCAM_Open)(uid, &camera)) << "error " << LastError();
        return camera;
    }
    int PortWrites(const char* file, const char* path, uint64_t number) {
        auto writes = Hook<int (*)(const char*, uint64_t)>(file, "ScriptedGenTL_PortWrites");
        return writes != nullptr ? writes(path, number) : -2;
    }
    void SetVisible(const char* file, const char* path, uint64_t number, bool visible) {
        auto set = Hook<int (*)(const char*, uint64_t, int)>(file, "ScriptedGenTL_SetVisible");
        ASSERT_NE(set, nullptr);
        ASSERT_EQ(set(path, number, visible ? 1 : 0), 0);
    }
    static QORCAM_OPENREQUEST Request(uint64_t uid, const std::string& name) {
        QORCAM_OPENREQUEST request{};
        request.UID = uid;
        std::strncpy(request.UserName, name.c_str(), sizeof request.UserName - 1);
        return request;
    }
};

TEST_F(CameraTest, OpenedCameraHasItsNodeMapOverTheDevicePortAndItsRecords) {
    HCAMERA camera = Open(kGigE);
    ASSERT_NE(camera, nullptr);
    EXPECT_TRUE(Traced({"QORCAM_Open", "Start Req UID=0x00000011 22334455"}));
    EXPECT_TRUE(Traced({"QORCAM_Open", "End HCAMERA=0x"}));

    void* map = nullptr;
    ASSERT_TRUE(QORCAM_FN(QORCAM_GetNodeMap)(camera, &map));
    ASSERT_NE(map, nullptr);
    // The node map reads the registers the library's port writes: the flat interface the library exports
    // works on the map it hands out.
    uint8_t width[4] = {0, 0, 0x02, 0x80};
    uint32_t length = sizeof width;
    ASSERT_TRUE(QORCAM_FN(QORCAM_WritePort)(camera, 0x100, width, &length));
    EXPECT_EQ(length, 4u);
    QGA_NODE node = nullptr;
    ASSERT_EQ(Fn<decltype(&QgaGetNode)>("QgaGetNode")(map, "Width", &node), QGA_OK);
    int64_t value = 0;
    ASSERT_EQ(Fn<decltype(&QgaGetInt)>("QgaGetInt")(node, &value), QGA_OK);
    EXPECT_EQ(value, 640);
    // The description lies in device memory at 0x10000.
    char head[5] = {};
    length = 5;
    ASSERT_TRUE(QORCAM_FN(QORCAM_ReadPort)(camera, 0x10000, head, &length));
    EXPECT_EQ(std::string(head, 5), "<?xml");

    QORCAM_CAMERAINFO info;
    ASSERT_TRUE(QORCAM_FN(QORCAM_CameraInfo)(camera, &info));
    EXPECT_EQ(info.UID, kGigE);
    EXPECT_EQ(info.CameraType, 1u);
    EXPECT_EQ(info.Speed, static_cast<uint32_t>(QORCAM_S1000M));
    EXPECT_EQ(info.BusNumber, 3232235777u);
    EXPECT_STREQ(info.ModelName, "ModelG1");

    QORCAM_GIGECAMERAINFO gige;
    ASSERT_TRUE(QORCAM_FN(QORCAM_CameraInfoGigE)(camera, &gige));
    const uint8_t mac[6] = {0x00, 0x11, 0x22, 0x33, 0x44, 0x55};
    EXPECT_EQ(std::memcmp(gige.MACAddr, mac, 6), 0);
    EXPECT_EQ(gige.Spec_Major, 2);
    EXPECT_EQ(gige.Spec_Minor, 1);
    EXPECT_STREQ(gige.UserName, "camA");
    EXPECT_STREQ(gige.SerialNumber, "SN73588229205");
    // The vendor text is cut to its 48-byte field.
    EXPECT_EQ(std::string(gige.Vendor_Info, sizeof gige.Vendor_Info).substr(0, 6), "Vendor");

    QORCAM_USBCAMERAINFO usb;
    EXPECT_FALSE(QORCAM_FN(QORCAM_CameraInfoUSB)(camera, &usb));
    EXPECT_EQ(LastError(), STATUSQORCAM_FUNCTION_ONLYUSB);
    EXPECT_TRUE(Traced({"QORCAM_CameraInfoUSB", "Error=20, HCAMERA=0x"}));

    ASSERT_TRUE(QORCAM_FN(QORCAM_Close)(camera));
    // The handle is stale now.
    EXPECT_FALSE(QORCAM_FN(QORCAM_GetNodeMap)(camera, &map));
    EXPECT_EQ(LastError(), STATUSQORCAM_PARAMETER_ERROR);
    EXPECT_FALSE(QORCAM_FN(QORCAM_Close)(camera));
    EXPECT_EQ(LastError(), STATUSQORCAM_PARAMETER_ERROR);
}

TEST_F(CameraTest, EveryFunctionOfTheFlatNodeMapInterfaceLeavesTheLibrary) {
    std::ifstream header(GENAPI_C_HEADER);
    ASSERT_TRUE(header) << GENAPI_C_HEADER;
    std::stringstream text;
    text << header.rdbuf();
    const std::string content = text.str();
    std::set<std::string> names;
    const std::regex function(R"(\b(Qga[A-Za-z]+)\s*\()");
    for (auto it = std::sregex_iterator(content.begin(), content.end(), function);
         it != std::sregex_iterator(); ++it)
        names.insert((*it)[1]);
    EXPECT_GT(names.size(), 20u);
    for (const std::string& name : names)
        EXPECT_NE(dlsym(handle_, name.c_str()), nullptr) << name;
}

TEST_F(CameraTest, UsbCameraRecordAndGigEOnlyExports) {
    HCAMERA camera = Open(kUsb);
    ASSERT_NE(camera, nullptr);
    QORCAM_USBCAMERAINFO usb;
    ASSERT_TRUE(QORCAM_FN(QORCAM_CameraInfoUSB)(camera, &usb));
    EXPECT_EQ(usb.GenCP_Version, 0x00020001u);
    EXPECT_STREQ(usb.FamilyName, "Family");
    EXPECT_EQ(usb.Dev_Capability, 0x0123456789ABCDEFull);
    QORCAM_CAMERAINFO info;
    ASSERT_TRUE(QORCAM_FN(QORCAM_CameraInfo)(camera, &info));
    EXPECT_EQ(info.CameraType, 2u);
    EXPECT_EQ(info.Speed, static_cast<uint32_t>(QORCAM_SUSB2));
    QORCAM_GIGECAMERAINFO gige;
    EXPECT_FALSE(QORCAM_FN(QORCAM_CameraInfoGigE)(camera, &gige));
    EXPECT_EQ(LastError(), STATUSQORCAM_FUNCTION_ONLYGIGE);
    EXPECT_FALSE(QORCAM_FN(QORCAM_CameraInfo)(camera, nullptr));
    EXPECT_EQ(LastError(), STATUSQORCAM_PARAMETER_ERROR);
    EXPECT_TRUE(QORCAM_FN(QORCAM_Close)(camera));
}

TEST_F(CameraTest, OpenFailuresReportTheWalksCodes) {
    auto open = QORCAM_FN(QORCAM_Open);
    auto watchOpen = QORCAM_FN(QORCAM_WatchOpen);
    struct Case {
        decltype(open) fn;
        uint64_t uid;
        STATUS_RTNCODE code;
    } cases[] = {
        {open, 0, STATUSQORCAM_PARAMETER_ERROR},
        {open, 999, STATUSQORCAM_CANNOT_FOUND},
        {open, kBusy, STATUSQORCAM_OPENED},
        {watchOpen, kUsb, STATUSQORCAM_OPEN_ERROR}, // a watch open by number meets the USB3 Vision producer
    };
    for (const Case& c : cases) {
        HCAMERA camera = reinterpret_cast<HCAMERA>(1);
        EXPECT_FALSE(c.fn(c.uid, &camera)) << c.uid;
        EXPECT_EQ(LastError(), c.code) << c.uid;
        EXPECT_EQ(camera, nullptr);
    }
    EXPECT_FALSE(open(kGigE, nullptr));
    EXPECT_EQ(LastError(), STATUSQORCAM_PARAMETER_ERROR);
    EXPECT_TRUE(Traced({"QORCAM_Open", "Error=4, ThreadID="}));

    // A description without TLParamsLocked, a URL of an unknown scheme: the open fails with the loader's
    // text.
    HCAMERA camera = nullptr;
    EXPECT_FALSE(open(14, &camera));
    EXPECT_EQ(LastError(), STATUSQORCAM_CANNOT_FOUND);
    EXPECT_TRUE(Traced({"CInterface::OpenCamera", "Std Node NotFound"}));
    EXPECT_FALSE(open(kUsbBadUrl, &camera));
    EXPECT_TRUE(Traced({"CInterface::OpenCamera", "URL Error"}));
    // The failed opens closed their devices again: with the good cameras held, register handles get them.
    for (int i = 0; i < 3; ++i)
        EXPECT_NE(Open(kAny), nullptr);
    for (uint64_t expected : {kUsbBadUrl, uint64_t{14}}) {
        HCAMERA reg = nullptr;
        ASSERT_TRUE(QORCAM_FN(QORCAM_OpenReg)(&reg));
        QORCAM_CAMERAINFO info;
        ASSERT_TRUE(QORCAM_FN(QORCAM_CameraRegInfo)(reg, &info));
        EXPECT_EQ(info.UID, expected);
    }
    HCAMERA none = reinterpret_cast<HCAMERA>(1);
    EXPECT_FALSE(QORCAM_FN(QORCAM_OpenReg)(&none));
    EXPECT_EQ(LastError(), STATUSQORCAM_CANNOT_FOUND);
    EXPECT_EQ(none, nullptr);
}

TEST_F(CameraTest, RequestsByNumberOrNameAndFirstFree) {
    auto openGigE = QORCAM_FN(QORCAM_OpenGigE);
    auto openUsb = QORCAM_FN(QORCAM_OpenUSB);
    HCAMERA untouched = reinterpret_cast<HCAMERA>(1);
    QORCAM_OPENREQUEST both = Request(kGigE, "camA");
    EXPECT_FALSE(openGigE(&both, &untouched));
    EXPECT_EQ(LastError(), STATUSQORCAM_PARAMETER_ERROR);
    EXPECT_EQ(untouched, reinterpret_cast<HCAMERA>(1));
    QORCAM_OPENREQUEST sixteen = Request(kAny, std::string(16, 'n'));
    EXPECT_FALSE(openGigE(&sixteen, &untouched));
    EXPECT_EQ(LastError(), STATUSQORCAM_PARAMETER_ERROR);
    HCAMERA camera = nullptr;
    EXPECT_FALSE(openUsb(&sixteen, &camera)); // USB names may be longer: the walk finds none
    EXPECT_EQ(LastError(), STATUSQORCAM_CANNOT_FOUND);
    EXPECT_FALSE(openGigE(nullptr, &camera));
    EXPECT_EQ(LastError(), STATUSQORCAM_PARAMETER_ERROR);

    QORCAM_OPENREQUEST wrongCase = Request(kAny, "CAM2");
    EXPECT_FALSE(openGigE(&wrongCase, &camera));
    EXPECT_EQ(LastError(), STATUSQORCAM_CANNOT_FOUND);
    QORCAM_OPENREQUEST byName = Request(kAny, "cam2");
    ASSERT_TRUE(openGigE(&byName, &camera));
    QORCAM_CAMERAINFO info;
    ASSERT_TRUE(QORCAM_FN(QORCAM_CameraInfo)(camera, &info));
    EXPECT_EQ(info.UID, kGigE2);
    EXPECT_FALSE(openGigE(&byName, &untouched));
    EXPECT_EQ(LastError(), STATUSQORCAM_OPENED);
    QORCAM_OPENREQUEST usbByNumber = Request(kUsb, "");
    HCAMERA usb = nullptr;
    EXPECT_FALSE(openGigE(&usbByNumber, &usb)); // the GigE producer does not have it
    EXPECT_EQ(LastError(), STATUSQORCAM_CANNOT_FOUND);
    ASSERT_TRUE(openUsb(&usbByNumber, &usb));

    // First free: the GigE camera left, then none (the others are busy or fail to open).
    QORCAM_OPENREQUEST any = Request(kAny, "");
    HCAMERA first = nullptr;
    ASSERT_TRUE(openGigE(&any, &first));
    ASSERT_TRUE(QORCAM_FN(QORCAM_CameraInfo)(first, &info));
    EXPECT_EQ(info.UID, kGigE);
    EXPECT_FALSE(openGigE(&any, &untouched));
    EXPECT_EQ(LastError(), STATUSQORCAM_CANNOT_FOUND);
    QORCAM_FN(QORCAM_CloseAll)();
    EXPECT_FALSE(QORCAM_FN(QORCAM_CameraInfo)(first, &info));
    EXPECT_EQ(LastError(), STATUSQORCAM_PARAMETER_ERROR);
}

TEST_F(CameraTest, AnOpenRightAfterAListTakesTheListedCameraAndRefreshesOnlyWhenItFindsNone) {
    auto updates = Hook<int (*)(const char*)>("QorGigEGenTL.cti", "ScriptedGenTL_UpdateCount");
    ASSERT_NE(updates, nullptr);
    std::vector<char> block(offsetof(QORCAM_LIST, Info) + 8 * sizeof(QORCAM_CAMERAINFO));
    reinterpret_cast<QORCAM_LIST*>(block.data())->Count = 8;
    ASSERT_TRUE(QORCAM_FN(QORCAM_GetList)(reinterpret_cast<QORCAM_LIST*>(block.data())));
    const int listed = updates("if0");

    // The camera is in the list just made: no second discovery.
    HCAMERA camera = Open(kGigE2);
    ASSERT_NE(camera, nullptr);
    EXPECT_EQ(updates("if0"), listed);
    // The camera is open elsewhere: the list's answer stands.
    HCAMERA untouched = nullptr;
    EXPECT_FALSE(QORCAM_FN(QORCAM_Open)(kBusy, &untouched));
    EXPECT_EQ(LastError(), STATUSQORCAM_OPENED);
    EXPECT_EQ(updates("if0"), listed);
    // Not in the list: refreshed once before the open gives up.
    EXPECT_FALSE(QORCAM_FN(QORCAM_Open)(999, &untouched));
    EXPECT_EQ(LastError(), STATUSQORCAM_CANNOT_FOUND);
    EXPECT_EQ(updates("if0"), listed + 1);
    EXPECT_TRUE(QORCAM_FN(QORCAM_Close)(camera));
}

TEST_F(CameraTest, WatchCamerasWriteNothingAndCloseOnlyByTheirOwnExport) {
    HCAMERA watch = nullptr;
    ASSERT_TRUE(QORCAM_FN(QORCAM_WatchOpen)(kGigE, &watch));
    EXPECT_EQ(PortWrites("QorGigEGenTL.cti", "if0", kGigE), 0);
    EXPECT_FALSE(QORCAM_FN(QORCAM_Close)(watch));
    EXPECT_EQ(LastError(), STATUSQORCAM_NO_OPEN);
    EXPECT_TRUE(Traced({"QORCAM_Close", "Error=6, HCAMERA=0x"}));
    ASSERT_TRUE(QORCAM_FN(QORCAM_WatchClose)(watch));

    // A normal open stops the acquisition while it loads.
    HCAMERA normal = Open(kGigE);
    EXPECT_GT(PortWrites("QorGigEGenTL.cti", "if0", kGigE), 0);
    EXPECT_FALSE(QORCAM_FN(QORCAM_WatchClose)(normal));
    EXPECT_EQ(LastError(), STATUSQORCAM_NO_OPEN);
    void* map = nullptr;
    EXPECT_TRUE(QORCAM_FN(QORCAM_GetNodeMap)(normal, &map));
    EXPECT_TRUE(QORCAM_FN(QORCAM_Close)(normal));
}

TEST_F(CameraTest, CameraThatIsGoneReportsItAndRefusesItsNodeMap) {
    HCAMERA camera = Open(kGigE);
    BOOL connected = FALSE;
    ASSERT_TRUE(QORCAM_FN(QORCAM_Camera)(camera, &connected));
    EXPECT_TRUE(connected);
    ASSERT_NO_FATAL_FAILURE(SetVisible("QorGigEGenTL.cti", "if0", kGigE, false));
    ASSERT_TRUE(QORCAM_FN(QORCAM_Camera)(camera, &connected));
    EXPECT_FALSE(connected);
    EXPECT_TRUE(Traced({"QORCAM_Camera", "Disconnect, HCAMERA=0x"}));
    void* map = reinterpret_cast<void*>(1);
    EXPECT_FALSE(QORCAM_FN(QORCAM_GetNodeMap)(camera, &map));
    EXPECT_EQ(LastError(), STATUSQORCAM_CANNOT_FOUND);
    EXPECT_EQ(map, reinterpret_cast<void*>(1));
    QORCAM_CAMERAINFO info;
    EXPECT_FALSE(QORCAM_FN(QORCAM_CameraInfo)(camera, &info));
    EXPECT_EQ(LastError(), STATUSQORCAM_CANNOT_FOUND);
    EXPECT_FALSE(QORCAM_FN(QORCAM_Camera)(camera, nullptr));
    EXPECT_EQ(LastError(), STATUSQORCAM_PARAMETER_ERROR);
    EXPECT_TRUE(QORCAM_FN(QORCAM_Close)(camera));
}

TEST_F(CameraTest, ConversionSettingsAndHeadersOfACameraWithoutStreamResources) {
    HCAMERA camera = Open(kGigE);
    uint8_t in[16] = {}, out[64] = {};
    // No conversion object until the settings are given (or images start).
    EXPECT_FALSE(QORCAM_FN(QORCAM_BufferConvExec)(camera, in, out));
    EXPECT_EQ(LastError(), STATUSQORCAM_UNDEF_ERROR);
    EXPECT_FALSE(QORCAM_FN(QORCAM_BufferConvExec)(camera, nullptr, out));
    EXPECT_EQ(LastError(), STATUSQORCAM_PARAMETER_ERROR);

    auto convMode = QORCAM_FN(QORCAM_ConvMode);
    QORCAM_COLORCONVMODE automatic{QORCAM_BMPmode, QORCAM_SFTAUTO, QORCAM_DIB24, 0, 0};
    QORCAM_COLORCONVMODE badDib{0, 0, 2, 0, 0};
    QORCAM_COLORCONVMODE badShift{0, -2, 0, 0, 0};
    EXPECT_TRUE(convMode(camera, &automatic, nullptr));
    EXPECT_TRUE(convMode(camera, nullptr, nullptr));
    for (QORCAM_COLORCONVMODE* bad : {&badDib, &badShift}) {
        EXPECT_FALSE(convMode(camera, bad, nullptr));
        EXPECT_EQ(LastError(), STATUSQORCAM_PARAMETER_ERROR);
    }
    // With a conversion object but no classified format there is nothing to convert.
    EXPECT_TRUE(QORCAM_FN(QORCAM_BufferConvExec)(camera, in, out));

    auto getBmp = QORCAM_FN(QORCAM_GetBMPINFO);
    uint32_t size = 0;
    EXPECT_FALSE(getBmp(camera, nullptr, &size, FALSE));
    EXPECT_EQ(LastError(), STATUSQORCAM_NOTRESOURCE_ERROR);
    EXPECT_FALSE(getBmp(camera, nullptr, nullptr, FALSE));
    EXPECT_EQ(LastError(), STATUSQORCAM_PARAMETER_ERROR);
    size = 44;
    EXPECT_FALSE(QORCAM_FN(QORCAM_SetBMPINFO)(camera, nullptr, &size, FALSE));
    EXPECT_EQ(LastError(), STATUSQORCAM_PARAMETER_ERROR);

    ASSERT_NO_FATAL_FAILURE(SetVisible("QorGigEGenTL.cti", "if0", kGigE, false));
    BOOL connected = TRUE;
    ASSERT_TRUE(QORCAM_FN(QORCAM_Camera)(camera, &connected));
    EXPECT_FALSE(convMode(camera, nullptr, nullptr));
    EXPECT_EQ(LastError(), STATUSQORCAM_CANNOT_FOUND);
    size = 0;
    EXPECT_FALSE(getBmp(camera, nullptr, &size, FALSE));
    EXPECT_EQ(LastError(), STATUSQORCAM_CANNOT_FOUND);
}

// Writes bytes to the camera's device memory through the library.
void Poke(HCAMERA camera, decltype(&QORCAM_WritePort) write, uint32_t address, std::vector<uint8_t> bytes) {
    uint32_t length = static_cast<uint32_t>(bytes.size());
    ASSERT_TRUE(write(camera, address, bytes.data(), &length));
}

TEST_F(CameraTest, GigEResourcesAreSizedFromThePacketSizeAndImagesStartAndStop) {
    HCAMERA camera = Open(kGigE);
    auto write = QORCAM_FN(QORCAM_WritePort);
    auto streamRegister = [&](uint32_t stream, uint64_t address) {
        auto get = Hook<int64_t (*)(const char*, uint64_t, uint32_t, uint64_t)>(
            "QorGigEGenTL.cti", "ScriptedGenTL_StreamRegister");
        return get != nullptr ? get("if0", kGigE, stream, address) : -2;
    };
    Poke(camera, write, 0x100, {0, 0, 0, 2});        // Width 2: a payload of 960 bytes
    Poke(camera, write, 0x0D04, {0, 0, 0x05, 0xDC}); // packets of 1500 bytes
    Poke(camera, write, 0x0960, {0x40, 0, 0, 0});    // with the larger per-packet overhead
    auto alloc = QORCAM_FN(QORCAM_ResourceAlloc);
    auto release = QORCAM_FN(QORCAM_ResourceRelease);
    auto start = QORCAM_FN(QORCAM_ImageStart);
    auto stop = QORCAM_FN(QORCAM_ImageStop);
    EXPECT_FALSE(start(camera));
    EXPECT_EQ(LastError(), STATUSQORCAM_NOTRESOURCE_ERROR);

    ASSERT_TRUE(alloc(camera)) << LastError();
    EXPECT_EQ(streamRegister(0, 0x104), 3232235777); // the adapter's address, from the bus number
    EXPECT_EQ(streamRegister(0, 0x103), 1);          // packet resend on
    EXPECT_EQ(streamRegister(0, 0x105), 968);    // (960 + 15) rounded down to 8
    EXPECT_EQ(streamRegister(0, 0x106), 1);      // 960 bytes fit one packet of 1452
    EXPECT_EQ(streamRegister(1, 0x100), 0x1234); // stream 1 shares stream 0's port
    EXPECT_FALSE(alloc(camera));
    EXPECT_EQ(LastError(), STATUSQORCAM_RESOURCE_ERROR);

    // With resources the camera's header can be had.
    uint32_t size = 0;
    ASSERT_TRUE(QORCAM_FN(QORCAM_GetBMPINFO)(camera, nullptr, &size, TRUE));
    EXPECT_EQ(size, 1064u);
    size = 43;
    BITMAPINFO info;
    EXPECT_FALSE(QORCAM_FN(QORCAM_GetBMPINFO)(camera, &info, &size, FALSE));
    EXPECT_EQ(LastError(), STATUSQORCAM_BUFFER_SHORT);
    std::vector<uint8_t> block(1064);
    size = 1064;
    ASSERT_TRUE(
        QORCAM_FN(QORCAM_GetBMPINFO)(camera, reinterpret_cast<BITMAPINFO*>(block.data()), &size, TRUE));
    const auto* header = reinterpret_cast<const BITMAPINFOHEADER*>(block.data());
    EXPECT_EQ(header->biBitCount, 8);
    EXPECT_EQ(header->biSizeImage, 4u * 480); // rows padded to 4 bytes

    ASSERT_TRUE(start(camera));
    EXPECT_EQ(streamRegister(0, 0x102), 1);
    EXPECT_FALSE(start(camera));
    EXPECT_EQ(LastError(), STATUSQORCAM_STARTED_ERROR);
    EXPECT_FALSE(release(camera));
    EXPECT_EQ(LastError(), STATUSQORCAM_STARTED_ERROR);
    // The start made the default conversion object: a 2 x 480 Mono8 image converts.
    std::vector<uint8_t> in(2 * 480, 7), out(2 * 480 * 4, 0);
    ASSERT_TRUE(QORCAM_FN(QORCAM_BufferConvExec)(camera, in.data(), out.data()));
    EXPECT_EQ(out[0], 7);
    ASSERT_TRUE(stop(camera));
    EXPECT_EQ(streamRegister(0, 0x102), 0);
    EXPECT_FALSE(stop(camera));
    EXPECT_EQ(LastError(), STATUSQORCAM_NOTSTART_ERROR);
    ASSERT_TRUE(release(camera));
    EXPECT_EQ(streamRegister(0, 0x104), 0);
    EXPECT_FALSE(release(camera));
    EXPECT_EQ(LastError(), STATUSQORCAM_NOTRESOURCE_ERROR);

    // A camera closed while started stops and releases on the way.
    ASSERT_TRUE(alloc(camera));
    ASSERT_TRUE(start(camera));
    EXPECT_TRUE(QORCAM_FN(QORCAM_Close)(camera));
    EXPECT_EQ(streamRegister(0, 0x102), 0);
    EXPECT_EQ(streamRegister(0, 0x104), 0);
}

TEST_F(CameraTest, GigEDestinationsAndPacketSizesThatCannotWork) {
    HCAMERA camera = Open(kGigE);
    auto write = QORCAM_FN(QORCAM_WritePort);
    auto allocGigE = QORCAM_FN(QORCAM_ResourceAllocGigE);
    Poke(camera, write, 0x100, {0, 0, 0, 2});
    for (std::vector<uint8_t> refused :
         {std::vector<uint8_t>{239, 128, 0, 1}, {239, 1, 0, 5}, {10, 0, 0, 1}}) {
        EXPECT_FALSE(allocGigE(camera, refused.data(), FALSE));
        EXPECT_EQ(LastError(), STATUSQORCAM_PARAMETER_ERROR);
    }
    // No packet size: nothing can be sized, but the resources are held until released.
    uint8_t group[4] = {239, 1, 1, 5};
    EXPECT_FALSE(allocGigE(camera, group, TRUE));
    EXPECT_EQ(LastError(), STATUSQORCAM_COMMUNICATE_ERROR);
    auto get = Hook<int64_t (*)(const char*, uint64_t, uint32_t, uint64_t)>("QorGigEGenTL.cti",
                                                                            "ScriptedGenTL_StreamRegister");
    ASSERT_NE(get, nullptr);
    EXPECT_EQ(get("if0", kGigE, 0, 0x104), 0xEF010105);
    EXPECT_EQ(get("if0", kGigE, 0, 0x103), 1);
    EXPECT_TRUE(QORCAM_FN(QORCAM_ResourceRelease)(camera));

    HCAMERA usb = Open(kUsb);
    EXPECT_FALSE(allocGigE(usb, nullptr, FALSE));
    EXPECT_EQ(LastError(), STATUSQORCAM_FUNCTION_ONLYGIGE);
    HCAMERA watch = nullptr;
    ASSERT_TRUE(QORCAM_FN(QORCAM_WatchOpen)(kGigE2, &watch));
    EXPECT_FALSE(QORCAM_FN(QORCAM_ResourceAlloc)(watch));
    EXPECT_EQ(LastError(), STATUSQORCAM_NO_OPEN);
}

TEST_F(CameraTest, UsbBuffersFollowTheStreamingInterfaceAlignment) {
    HCAMERA camera = Open(kUsb);
    auto write = QORCAM_FN(QORCAM_WritePort);
    auto get = [&](uint64_t address) {
        auto hook = Hook<int64_t (*)(const char*, uint64_t, uint32_t, uint64_t)>(
            "QorUSBGenTL.cti", "ScriptedGenTL_StreamRegister");
        return hook != nullptr ? hook("usb0", kUsb, 0, address) : -2;
    };
    Poke(camera, write, 0x100, {0, 0, 0, 2});                   // a payload of 960 bytes
    Poke(camera, write, 0x1D8, {0x00, 0x03, 0, 0, 0, 0, 0, 0}); // SBRM at 0x300
    Poke(camera, write, 0x320, {0x00, 0x04, 0, 0, 0, 0, 0, 0}); // SIRM at 0x400
    Poke(camera, write, 0x410, {52, 0, 0, 0});                  // leader size
    Poke(camera, write, 0x414, {32, 0, 0, 0});                  // trailer size
    struct Case {
        uint8_t exponent;
        int64_t leader, trailer;
    } cases[] = {{12, 4096, 8192}, {3, 1024, 1152}, {0, 1024, 1152}};
    for (const Case& c : cases) {
        Poke(camera, write, 0x400, {0, 0, 0, c.exponent});
        ASSERT_TRUE(QORCAM_FN(QORCAM_ResourceAlloc)(camera)) << LastError();
        EXPECT_EQ(get(0x107), c.leader) << int(c.exponent);
        EXPECT_EQ(get(0x108), c.trailer) << int(c.exponent);
        EXPECT_EQ(get(0x106), 0);
        ASSERT_TRUE(QORCAM_FN(QORCAM_ResourceRelease)(camera));
    }
}

TEST_F(CameraTest, WatchCamerasFollowOnlyAMulticastStream) {
    HCAMERA owner = Open(kGigE);
    auto write = QORCAM_FN(QORCAM_WritePort);
    HCAMERA watch = nullptr;
    ASSERT_TRUE(QORCAM_FN(QORCAM_WatchOpen)(kGigE2, &watch));
    BOOL standby = TRUE;
    ASSERT_TRUE(QORCAM_FN(QORCAM_WatchCamera)(watch, &standby));
    EXPECT_FALSE(standby); // no stream port set
    EXPECT_FALSE(QORCAM_FN(QORCAM_WatchAlloc)(watch));
    EXPECT_EQ(LastError(), STATUSQORCAM_NOTSTART_ERROR);
    EXPECT_FALSE(QORCAM_FN(QORCAM_WatchCamera)(owner, &standby));
    EXPECT_EQ(LastError(), STATUSQORCAM_NO_OPEN);

    // Another process streams device 5 to 239.1.1.5: its stream channel says so.
    Poke(watch, write, 0x0D00, {0, 0, 0x1F, 0x90});
    Poke(watch, write, 0x0D18, {239, 1, 1, 5});
    Poke(watch, write, 0x0D04, {0, 0, 0x05, 0xDC});
    ASSERT_TRUE(QORCAM_FN(QORCAM_WatchCamera)(watch, &standby));
    EXPECT_TRUE(standby);
    ASSERT_TRUE(QORCAM_FN(QORCAM_WatchAlloc)(watch)) << LastError();
    ASSERT_TRUE(QORCAM_FN(QORCAM_WatchStart)(watch));
    EXPECT_EQ(PortWrites("QorGigEGenTL.cti", "if0", kGigE2), 3); // only the test's own writes
    EXPECT_FALSE(QORCAM_FN(QORCAM_WatchRelease)(watch));
    EXPECT_EQ(LastError(), STATUSQORCAM_STARTED_ERROR);
    ASSERT_TRUE(QORCAM_FN(QORCAM_WatchStop)(watch));
    ASSERT_TRUE(QORCAM_FN(QORCAM_WatchRelease)(watch));
    EXPECT_FALSE(QORCAM_FN(QORCAM_ImageStart)(watch));
    EXPECT_EQ(LastError(), STATUSQORCAM_NO_OPEN);
}

TEST_F(CameraTest, StreamTestPacketLogAndCommandTimeOut) {
    HCAMERA camera = Open(kGigE);
    HCAMERA usb = Open(kUsb);
    auto reg = Hook<int64_t (*)(const char*, uint64_t, uint64_t, int64_t)>("QorGigEGenTL.cti",
                                                                           "ScriptedGenTL_DeviceRegister");
    ASSERT_NE(reg, nullptr);
    auto test = QORCAM_FN(QORCAM_TestStream);
    ASSERT_TRUE(test(camera));
    EXPECT_EQ(reg("if0", kGigE, 0x101, -1), 100);
    reg("if0", kGigE, 0x100, 14);
    EXPECT_FALSE(test(camera));
    EXPECT_EQ(LastError(), 14); // the producer's result word
    EXPECT_FALSE(test(usb));
    EXPECT_EQ(LastError(), STATUSQORCAM_FUNCTION_ONLYGIGE);

    QORCAM_PKTLOG log;
    EXPECT_FALSE(QORCAM_FN(QORCAM_GetGigEPktLog)(camera, &log));
    EXPECT_EQ(LastError(), STATUSQORCAM_NOTRESOURCE_ERROR);
    EXPECT_FALSE(QORCAM_FN(QORCAM_GetGigEPktLog)(usb, &log));
    EXPECT_EQ(LastError(), STATUSQORCAM_FUNCTION_ONLYGIGE);

    auto timeout = QORCAM_FN(QORCAM_SetCmdTimeOut);
    struct Case {
        uint32_t value;
        bool accepted;
        int64_t written;
    } cases[] = {
        {499, false, 0}, {600001, false, 0}, {500, true, 500}, {600000, true, 600000}, {0, true, 0xFFFFFFFF}};
    for (const Case& c : cases) {
        EXPECT_EQ(timeout(camera, c.value), c.accepted ? TRUE : FALSE) << c.value;
        if (c.accepted) {
            EXPECT_EQ(reg("if0", kGigE, 0x104, -1), c.written);
        } else {
            EXPECT_EQ(LastError(), STATUSQORCAM_PARAMETER_ERROR);
        }
    }
}

TEST_F(CameraTest, ImageRequestsAreQueuedCompletedAndFreed) {
    HCAMERA camera = Open(kGigE);
    auto write = QORCAM_FN(QORCAM_WritePort);
    Poke(camera, write, 0x100, {0, 0, 0, 2});
    Poke(camera, write, 0x0D04, {0, 0, 0x05, 0xDC});
    ASSERT_TRUE(QORCAM_FN(QORCAM_ResourceAlloc)(camera));
    ASSERT_TRUE(QORCAM_FN(QORCAM_ImageStart)(camera));
    auto complete = [&](uint32_t status) {
        auto hook = Hook<int (*)(const char*, uint64_t, uint32_t, uint32_t, uint32_t)>(
            "QorGigEGenTL.cti", "ScriptedGenTL_CompleteOn");
        return hook != nullptr ? hook("if0", kGigE, 0, status, 960) : -2;
    };
    auto alloc = QORCAM_FN(QORCAM_ImageAlloc);
    auto req = QORCAM_FN(QORCAM_ImageReq);
    auto wait = QORCAM_FN(QORCAM_ImageComplete);
    auto free = QORCAM_FN(QORCAM_ImageFree);
    EXPECT_FALSE(alloc(camera, nullptr));
    EXPECT_EQ(LastError(), STATUSQORCAM_PARAMETER_ERROR);
    QORCAM_IMAGE* image = nullptr;
    ForgetLines(); // an empty trace area: the lines of the next call all land in it
    ASSERT_TRUE(alloc(camera, &image));
    // The lines of the image exports name the image record before the camera.
    const std::string named = "Buffer=0x" + Hex(image) + ", HCAMERA=0x" + Hex(camera);
    EXPECT_TRUE(Traced({"QORCAM_ImageAlloc", "End   " + named}));
    EXPECT_EQ(image->Width, 2u);
    EXPECT_EQ(image->Height, 480u);
    EXPECT_EQ(image->Length, 960u);
    EXPECT_EQ(image->PixelFormatID, 0x01080001u);
    EXPECT_EQ(image->EndianMode, static_cast<uint32_t>(QORCAM_LITTLEENDIAN));
    std::memset(image->pBuffer, 0, 1536); // the buffer size of this layout

    EXPECT_FALSE(wait(camera, image, 0, nullptr));
    EXPECT_EQ(LastError(), STATUSQORCAM_PARAMETER_ERROR); // never requested
    ForgetLines();
    ASSERT_TRUE(req(camera, image));
    EXPECT_TRUE(Traced({"QORCAM_ImageReq", "Start " + named}));
    EXPECT_EQ(image->Status, STATUSQORCAM_REQUEST_PENDING);
    ForgetLines();
    EXPECT_FALSE(req(camera, image));
    EXPECT_TRUE(Traced({"QORCAM_ImageReq", "Error=12, " + named}));
    EXPECT_EQ(LastError(), STATUSQORCAM_REQUEST_EXEC);
    ForgetLines();
    EXPECT_FALSE(wait(camera, image, 0, nullptr));
    EXPECT_TRUE(Traced({"QORCAM_ImageComplete", "Error=13, " + named}));
    EXPECT_EQ(LastError(), STATUSQORCAM_REQUEST_TIMEOUT);

    ASSERT_EQ(complete(0), 0);
    QORCAM_IMAGEDATAINFO info;
    std::memset(&info, 0x5A, sizeof info);
    ASSERT_TRUE(wait(camera, image, 5000, &info));
    EXPECT_EQ(image->Status, STATUSQORCAM_COMPLETE);
    EXPECT_EQ(info.CType, 1u);
    EXPECT_EQ(info.Info.CGigE.Payload_Flag, 1);
    // A collected buffer stays announced: it can't be freed until the requests are taken back.
    EXPECT_FALSE(free(camera, image));
    EXPECT_EQ(LastError(), STATUSQORCAM_REQUEST_EXEC);

    // A block completed with packets still missing is a failed request, and says how many are missing.
    ASSERT_TRUE(req(camera, image));
    const uint32_t missing = 3;
    std::memcpy(image->pBuffer + 968 + 540, &missing, 4);
    ASSERT_EQ(complete(0), 0);
    EXPECT_FALSE(wait(camera, image, 5000, &info));
    EXPECT_EQ(LastError(), STATUSQORCAM_REQUEST_ERROR);
    EXPECT_EQ(image->Status, STATUSQORCAM_REQUEST_ERROR);
    EXPECT_EQ(info.Info.CGigE.Payload_Flag, 0);
    EXPECT_EQ(info.Info.CGigE.StreamInfo.MissingPackets, 3u);
    std::memset(image->pBuffer + 968 + 540, 0, 4);

    ASSERT_TRUE(req(camera, image));
    ASSERT_EQ(complete(0x40000001), 0);
    EXPECT_FALSE(wait(camera, image, 5000, &info));
    EXPECT_EQ(LastError(), STATUSQORCAM_REQUEST_ERROR);
    EXPECT_EQ(image->Status, STATUSQORCAM_REQUEST_ERROR);

    // The image converts with the camera's conversion object; records made elsewhere are refused.
    std::vector<uint8_t> out(2 * 480 * 4);
    EXPECT_TRUE(QORCAM_FN(QORCAM_ImageConvExec)(camera, image, out.data()));
    QORCAM_IMAGE own = *image;
    EXPECT_FALSE(QORCAM_FN(QORCAM_ImageConvExec)(camera, &own, out.data()));
    EXPECT_EQ(LastError(), STATUSQORCAM_PARAMETER_ERROR);
    EXPECT_FALSE(req(camera, &own));
    EXPECT_EQ(LastError(), STATUSQORCAM_PARAMETER_ERROR);

    EXPECT_FALSE(QORCAM_FN(QORCAM_ImageFreeAll)(camera));
    EXPECT_EQ(LastError(), STATUSQORCAM_STARTED_ERROR);

    // Frame starts on stream 1: an empty request, completed by any frame start, its handle reused.
    void* vsync = nullptr;
    ForgetLines();
    ASSERT_TRUE(QORCAM_FN(QORCAM_VSyncReq)(camera, &vsync));
    const std::string request = "Handle=0x" + Hex(vsync) + ", HCAMERA=0x" + Hex(camera);
    EXPECT_TRUE(Traced({"QORCAM_VSyncReq", "End " + request}));
    ForgetLines();
    EXPECT_FALSE(QORCAM_FN(QORCAM_VSyncComplete)(camera, vsync, 0));
    EXPECT_TRUE(Traced({"QORCAM_VSyncComplete", "Error=13, " + request}));
    EXPECT_EQ(LastError(), STATUSQORCAM_REQUEST_TIMEOUT);
    auto frameStart = Hook<int (*)(const char*, uint64_t, uint32_t, uint32_t, uint32_t)>(
        "QorGigEGenTL.cti", "ScriptedGenTL_CompleteOn");
    ASSERT_EQ(frameStart("if0", kGigE, 1, 0, 0), 0);
    ForgetLines();
    EXPECT_TRUE(QORCAM_FN(QORCAM_VSyncComplete)(camera, vsync, 5000));
    EXPECT_TRUE(Traced({"QORCAM_VSyncComplete", "End   " + request}));
    EXPECT_FALSE(QORCAM_FN(QORCAM_VSyncComplete)(camera, vsync, 0));
    EXPECT_EQ(LastError(), STATUSQORCAM_PARAMETER_ERROR); // collected: no request pending
    void* again = nullptr;
    ASSERT_TRUE(QORCAM_FN(QORCAM_VSyncReq)(camera, &again));
    EXPECT_EQ(again, vsync);
    EXPECT_FALSE(QORCAM_FN(QORCAM_VSyncReq)(camera, nullptr));
    EXPECT_EQ(LastError(), STATUSQORCAM_PARAMETER_ERROR);
    ASSERT_TRUE(QORCAM_FN(QORCAM_ImageReqAbortAll)(camera));
    QORCAM_IMAGE* second = nullptr;
    ASSERT_TRUE(alloc(camera, &second));
    EXPECT_TRUE(free(camera, image));
    EXPECT_FALSE(free(camera, image)); // freed: no longer a record of the library
    EXPECT_EQ(LastError(), STATUSQORCAM_PARAMETER_ERROR);

    // New resources of another size: the older image no longer fits a request.
    ASSERT_TRUE(QORCAM_FN(QORCAM_ImageStop)(camera));
    ASSERT_TRUE(QORCAM_FN(QORCAM_ResourceRelease)(camera));
    Poke(camera, write, 0x100, {0, 0, 0, 4});
    ASSERT_TRUE(QORCAM_FN(QORCAM_ResourceAlloc)(camera));
    EXPECT_FALSE(req(camera, second));
    EXPECT_EQ(LastError(), STATUSQORCAM_PARAMETER_ERROR);
    // Images of another camera are not this one's.
    HCAMERA other = Open(kGigE2);
    Poke(other, write, 0x0D04, {0, 0, 0x05, 0xDC});
    Poke(other, write, 0x100, {0, 0, 0, 4});
    ASSERT_TRUE(QORCAM_FN(QORCAM_ResourceAlloc)(other));
    EXPECT_FALSE(free(other, second));
    EXPECT_EQ(LastError(), STATUSQORCAM_REQUEST_NOTALLOC);
    EXPECT_TRUE(QORCAM_FN(QORCAM_ImageFreeAll)(camera));
}

// What the image callback received.
struct Frames {
    static void Call(HCAMERA camera, uint8_t* buffer, uint32_t length, uint32_t width, uint32_t height,
                     QORCAM_IMAGEDATAINFO* info, void* context) {
        auto* self = static_cast<Frames*>(context);
        std::lock_guard<std::mutex> guard(self->lock);
        self->lengths.push_back(length);
        self->ok = self->ok && camera == self->camera && buffer != nullptr && width == 2 && height == 480 &&
                   info != nullptr && info->CType == 1;
        self->changed.notify_all();
    }
    bool WaitFor(size_t count) {
        std::unique_lock<std::mutex> guard(lock);
        return changed.wait_for(guard, std::chrono::seconds(10), [&] { return lengths.size() >= count; });
    }
    HCAMERA camera = nullptr;
    std::mutex lock;
    std::condition_variable changed;
    std::vector<uint32_t> lengths;
    bool ok = true;
};

TEST_F(CameraTest, ImageCallbackGetsEveryFrameOnItsThread) {
    HCAMERA camera = Open(kGigE);
    auto write = QORCAM_FN(QORCAM_WritePort);
    Poke(camera, write, 0x100, {0, 0, 0, 2});
    Poke(camera, write, 0x0D04, {0, 0, 0x05, 0xDC});
    auto setCallback = QORCAM_FN(QORCAM_SetImageCallBack);
    Frames frames;
    frames.camera = camera;
    EXPECT_FALSE(setCallback(camera, &frames, &Frames::Call, 0, TRUE));
    EXPECT_EQ(LastError(), STATUSQORCAM_PARAMETER_ERROR);
    EXPECT_FALSE(setCallback(camera, &frames, &Frames::Call, 2, TRUE));
    EXPECT_EQ(LastError(), STATUSQORCAM_NOTRESOURCE_ERROR);
    EXPECT_TRUE(setCallback(camera, nullptr, nullptr, 0, FALSE)); // a stop without a start

    ASSERT_TRUE(QORCAM_FN(QORCAM_ResourceAlloc)(camera));
    ASSERT_TRUE(setCallback(camera, &frames, &Frames::Call, 2, TRUE));
    EXPECT_FALSE(setCallback(camera, &frames, &Frames::Call, 2, TRUE));
    EXPECT_EQ(LastError(), STATUSQORCAM_REQUEST_EXEC);
    ASSERT_TRUE(QORCAM_FN(QORCAM_ImageStart)(camera));
    auto complete = Hook<int (*)(const char*, uint64_t, uint32_t, uint32_t, uint32_t)>(
        "QorGigEGenTL.cti", "ScriptedGenTL_CompleteOn");
    // Two buffers are queued; each goes back to the queue after its callback, so frames keep coming.
    // A block that wrote no bytes (a leader and a trailer only) is a failed image too.
    const std::pair<uint32_t, uint32_t> completions[] = {{0u, 960}, {0x40000001u, 960}, {0xC0000001u, 960},
                                                          {0u, 0}, {0u, 960}};
    for (auto [status, bytes] : completions) {
        const size_t before = frames.lengths.size();
        ASSERT_EQ(complete("if0", kGigE, 0, status, bytes), 0);
        ASSERT_TRUE(frames.WaitFor(before + 1));
    }
    EXPECT_TRUE(setCallback(camera, nullptr, nullptr, 0, FALSE));
    std::lock_guard<std::mutex> guard(frames.lock);
    EXPECT_EQ(frames.lengths, (std::vector<uint32_t>{960, 960, 0, 0, 960}));
    EXPECT_TRUE(frames.ok);
    EXPECT_TRUE(Traced({"CCamera::Stream_Thread", "Stream BufCount"}));
}

TEST_F(CameraTest, ResourcesReleasedUnderARunningImageCallbackEndItsThreadFirst) {
    HCAMERA camera = Open(kGigE);
    auto write = QORCAM_FN(QORCAM_WritePort);
    Poke(camera, write, 0x100, {0, 0, 0, 2});
    Poke(camera, write, 0x0D04, {0, 0, 0x05, 0xDC});
    auto setCallback = QORCAM_FN(QORCAM_SetImageCallBack);
    Frames frames;
    frames.camera = camera;
    for (int round = 0; round < 3; ++round) {
        ASSERT_TRUE(QORCAM_FN(QORCAM_ResourceAlloc)(camera));
        ASSERT_TRUE(setCallback(camera, &frames, &Frames::Call, 2, TRUE));
        // The streaming thread still waits on the stream's event while it is taken down.
        ASSERT_TRUE(QORCAM_FN(QORCAM_ResourceRelease)(camera));
        // The callback stays registered until it is stopped.
        EXPECT_FALSE(setCallback(camera, &frames, &Frames::Call, 2, TRUE));
        EXPECT_TRUE(setCallback(camera, nullptr, nullptr, 0, FALSE));
    }
}

// A callback that, on its first frame, calls back into the library (removes
// itself or closes its camera) and keeps the last image it was given.
struct Reentrant {
    static void Call(HCAMERA camera, uint8_t* buffer, uint32_t length, uint32_t, uint32_t,
                     QORCAM_IMAGEDATAINFO*, void* context) {
        auto* self = static_cast<Reentrant*>(context);
        const bool first = self->calls.fetch_add(1) == 0;
        const BOOL result = first && self->action ? self->action(camera) : TRUE;
        std::lock_guard<std::mutex> guard(self->lock);
        self->last = buffer;
        self->length = length;
        if (first) self->result = result;
        self->returned = true;
        self->changed.notify_all();
    }
    bool WaitReturned() {
        std::unique_lock<std::mutex> guard(lock);
        return changed.wait_for(guard, std::chrono::seconds(30), [&] { return returned; });
    }
    std::function<BOOL(HCAMERA)> action;
    std::atomic<int> calls{0};
    std::mutex lock;
    std::condition_variable changed;
    bool returned = false;
    BOOL result = FALSE;
    uint8_t* last = nullptr;
    uint32_t length = 0;
};

TEST_F(CameraTest, CallbackRemovedOrCameraClosedFromInsideTheCallbackReturns) {
    auto setCallback = QORCAM_FN(QORCAM_SetImageCallBack);
    auto close = QORCAM_FN(QORCAM_Close);
    auto complete = Hook<int (*)(const char*, uint64_t, uint32_t, uint32_t, uint32_t)>(
        "QorGigEGenTL.cti", "ScriptedGenTL_CompleteOn");
    ASSERT_NE(complete, nullptr);
    for (bool closing : {false, true}) {
        SCOPED_TRACE(closing ? "close" : "remove");
        HCAMERA camera = Open(kGigE);
        ASSERT_NE(camera, nullptr);
        auto write = QORCAM_FN(QORCAM_WritePort);
        Poke(camera, write, 0x100, {0, 0, 0, 2});
        Poke(camera, write, 0x0D04, {0, 0, 0x05, 0xDC});
        ASSERT_TRUE(QORCAM_FN(QORCAM_ResourceAlloc)(camera));
        Reentrant inside;
        if (closing) {
            inside.action = close;
        } else {
            inside.action = [&](HCAMERA c) { return setCallback(c, nullptr, nullptr, 0, FALSE); };
        }
        ASSERT_TRUE(setCallback(camera, &inside, &Reentrant::Call, 2, FALSE));
        ASSERT_TRUE(QORCAM_FN(QORCAM_ImageStart)(camera));
        ASSERT_EQ(complete("if0", kGigE, 0, 0, 960), 0);
        ASSERT_TRUE(inside.WaitReturned()) << "the call from inside the callback does not return";
        EXPECT_TRUE(inside.result);
        if (closing) {
            // The handle is gone at once; the camera itself goes once the callback has returned.
            BOOL connected = FALSE;
            EXPECT_FALSE(QORCAM_FN(QORCAM_Camera)(camera, &connected));
            HCAMERA again = nullptr;
            const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(30);
            while (!QORCAM_FN(QORCAM_Open)(kGigE, &again) && std::chrono::steady_clock::now() < end)
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
            ASSERT_NE(again, nullptr) << "error " << LastError();
            EXPECT_TRUE(close(again));
        } else {
            // The stream ended with the callback: a new one can be set from outside and gets frames.
            Frames frames;
            frames.camera = camera;
            ASSERT_TRUE(setCallback(camera, &frames, &Frames::Call, 2, TRUE)) << LastError();
            ASSERT_EQ(complete("if0", kGigE, 0, 0, 960), 0);
            EXPECT_TRUE(frames.WaitFor(1));
            EXPECT_TRUE(setCallback(camera, nullptr, nullptr, 0, FALSE));
            EXPECT_EQ(inside.calls.load(), 1);
            EXPECT_TRUE(close(camera));
        }
    }
}

TEST_F(CameraTest, LastCallbackImageStaysValidUntilTheResourcesAreReleased) {
    HCAMERA camera = Open(kGigE);
    auto write = QORCAM_FN(QORCAM_WritePort);
    Poke(camera, write, 0x100, {0, 0, 0, 2});
    Poke(camera, write, 0x0D04, {0, 0, 0x05, 0xDC});
    auto setCallback = QORCAM_FN(QORCAM_SetImageCallBack);
    auto complete = Hook<int (*)(const char*, uint64_t, uint32_t, uint32_t, uint32_t)>(
        "QorGigEGenTL.cti", "ScriptedGenTL_CompleteOn");
    auto announced = Hook<int (*)(const char*, uint64_t, uint32_t)>("QorGigEGenTL.cti", "ScriptedGenTL_Announced");
    ASSERT_NE(complete, nullptr);
    ASSERT_NE(announced, nullptr);
    ASSERT_TRUE(QORCAM_FN(QORCAM_ResourceAlloc)(camera));

    Reentrant frames;
    ASSERT_TRUE(setCallback(camera, &frames, &Reentrant::Call, 2, FALSE));
    ASSERT_TRUE(QORCAM_FN(QORCAM_ImageStart)(camera));
    ASSERT_EQ(complete("if0", kGigE, 0, 0, 960), 0);
    ASSERT_TRUE(frames.WaitReturned());
    ASSERT_TRUE(QORCAM_FN(QORCAM_ImageStop)(camera));
    ASSERT_TRUE(setCallback(camera, nullptr, nullptr, 0, FALSE));
    // Stopped and removed: the image's memory is still the producer's buffer, announced and readable.
    EXPECT_EQ(announced("if0", kGigE, 0), 2);
    ASSERT_NE(frames.last, nullptr);
    ASSERT_EQ(frames.length, 960u);
    std::vector<uint8_t> copy(frames.last, frames.last + frames.length);

    // The next session replaces the buffers of the one before.
    Reentrant next;
    ASSERT_TRUE(setCallback(camera, &next, &Reentrant::Call, 3, FALSE));
    EXPECT_EQ(announced("if0", kGigE, 0), 3);
    ASSERT_TRUE(setCallback(camera, nullptr, nullptr, 0, FALSE));
    EXPECT_EQ(announced("if0", kGigE, 0), 3);
    ASSERT_TRUE(QORCAM_FN(QORCAM_ResourceRelease)(camera));
    EXPECT_EQ(announced("if0", kGigE, 0), 0);
}

// Calls on one camera from several threads.
using CompleteOnFn = int (*)(const char*, uint64_t, uint32_t, uint32_t, uint32_t);
using WaitingFn = int (*)(const char*, uint64_t, uint32_t);

// Polls `holds` until it is true, for at most `seconds`.
template <class Condition> bool Eventually(Condition holds, int seconds = 30) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    while (!holds()) {
        if (std::chrono::steady_clock::now() > end) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

// What a wait for an image returned, with the waiting thread's last error.
using WaitResult = std::pair<BOOL, STATUS_RTNCODE>;

class CameraThreadsTest : public CameraTest {
protected:
    void SetUp() override {
        CameraTest::SetUp();
        complete_ = Hook<CompleteOnFn>("QorGigEGenTL.cti", "ScriptedGenTL_CompleteOn");
        waiting_ = Hook<WaitingFn>("QorGigEGenTL.cti", "ScriptedGenTL_Waiting");
        ASSERT_NE(complete_, nullptr);
        ASSERT_NE(waiting_, nullptr);
    }
    // The GigE camera with frames of 960 bytes, its resources allocated and its images started.
    HCAMERA Streaming() {
        HCAMERA camera = Open(kGigE);
        auto write = QORCAM_FN(QORCAM_WritePort);
        for (auto [address, bytes] :
             {std::pair<uint32_t, std::vector<uint8_t>>{0x100, {0, 0, 0, 2}}, {0x0D04, {0, 0, 0x05, 0xDC}}}) {
            uint32_t length = static_cast<uint32_t>(bytes.size());
            EXPECT_TRUE(write(camera, address, bytes.data(), &length));
        }
        EXPECT_TRUE(QORCAM_FN(QORCAM_ResourceAlloc)(camera));
        EXPECT_TRUE(QORCAM_FN(QORCAM_ImageStart)(camera));
        return camera;
    }
    // A wait for an image on a thread of its own.
    std::future<WaitResult> Wait(HCAMERA camera, QORCAM_IMAGE* image, uint32_t timeout) {
        auto wait = QORCAM_FN(QORCAM_ImageComplete);
        auto lastError = QORCAM_FN(QORCAM_GetLastError);
        return std::async(std::launch::async, [=] {
            const BOOL ok = wait(camera, image, timeout, nullptr);
            return WaitResult(ok, lastError());
        });
    }
    // How many threads wait in the producer for the camera's next frame.
    int Waiting() { return waiting_("if0", kGigE, 0); }

    CompleteOnFn complete_ = nullptr;
    WaitingFn waiting_ = nullptr;
};

TEST_F(CameraThreadsTest, EveryWaiterOfACameraCollectsItsOwnImage) {
    HCAMERA camera = Streaming();
    auto alloc = QORCAM_FN(QORCAM_ImageAlloc);
    auto req = QORCAM_FN(QORCAM_ImageReq);
    QORCAM_IMAGE* earlier = nullptr;
    QORCAM_IMAGE* later = nullptr;
    ASSERT_TRUE(alloc(camera, &earlier));
    ASSERT_TRUE(alloc(camera, &later));
    // The waiter of the later request is the first to wait, so the earlier frame reaches the producer
    // while it waits there; the earlier request's waiter must still see that frame as its own.
    for (int round = 0; round < 5; ++round) {
        SCOPED_TRACE(round);
        ASSERT_TRUE(req(camera, earlier));
        ASSERT_TRUE(req(camera, later));
        auto second = Wait(camera, later, 20000);
        ASSERT_TRUE(Eventually([&] { return Waiting() == 1; }));
        ForgetLines();
        auto first = Wait(camera, earlier, 20000);
        ASSERT_TRUE(Eventually([&] {
            return Traced({"QORCAM_ImageComplete", "Start Buffer=0x" + Hex(earlier)});
        }));
        ASSERT_EQ(complete_("if0", kGigE, 0, 0, 960), 0);
        EXPECT_EQ(first.get(), WaitResult(TRUE, STATUSQORCAM_COMPLETE));
        ASSERT_EQ(complete_("if0", kGigE, 0, 0, 960), 0);
        EXPECT_EQ(second.get(), WaitResult(TRUE, STATUSQORCAM_COMPLETE));
    }
    // Each waiter ends at its own time-out while the other waits on.
    ASSERT_TRUE(req(camera, earlier));
    ASSERT_TRUE(req(camera, later));
    auto patient = Wait(camera, later, 20000);
    ASSERT_TRUE(Eventually([&] { return Waiting() == 1; }));
    auto hasty = Wait(camera, earlier, 1);
    EXPECT_EQ(hasty.get(), WaitResult(FALSE, STATUSQORCAM_REQUEST_TIMEOUT));
    ASSERT_EQ(complete_("if0", kGigE, 0, 0, 960), 0);
    ASSERT_EQ(complete_("if0", kGigE, 0, 0, 960), 0);
    EXPECT_EQ(patient.get(), WaitResult(TRUE, STATUSQORCAM_COMPLETE));
    EXPECT_TRUE(QORCAM_FN(QORCAM_ImageComplete)(camera, earlier, 0, nullptr)); // its frame came meanwhile
}

TEST_F(CameraThreadsTest, ClosingACameraEndsTheCallsOnItAndTheLastOneTakesItAway) {
    const std::pair<const char*, std::function<bool(HCAMERA)>> closers[] = {
        {"QORCAM_Close", [&](HCAMERA camera) { return QORCAM_FN(QORCAM_Close)(camera) == TRUE; }},
        {"QORCAM_CloseAll",
         [&](HCAMERA) {
             QORCAM_FN(QORCAM_CloseAll)();
             return true;
         }},
    };
    auto cameraInfo = QORCAM_FN(QORCAM_CameraInfo);
    auto readPort = QORCAM_FN(QORCAM_ReadPort);
    auto present = QORCAM_FN(QORCAM_Camera);
    auto nodeMap = QORCAM_FN(QORCAM_GetNodeMap);
    auto packetLog = QORCAM_FN(QORCAM_GetGigEPktLog);
    auto convert = QORCAM_FN(QORCAM_BufferConvExec);
    auto lastError = QORCAM_FN(QORCAM_GetLastError);
    for (const auto& [name, close] : closers) {
        SCOPED_TRACE(name);
        HCAMERA camera = Streaming();
        QORCAM_IMAGE* images[2] = {};
        for (QORCAM_IMAGE*& image : images) {
            ASSERT_TRUE(QORCAM_FN(QORCAM_ImageAlloc)(camera, &image));
            ASSERT_TRUE(QORCAM_FN(QORCAM_ImageReq)(camera, image));
        }
        // Two waits without a time limit: one in the producer, the other behind it.
        std::vector<std::future<WaitResult>> waits;
        waits.push_back(Wait(camera, images[0], 0xFFFFFFFF));
        // (No assertion may leave before the close: the waits have no end of their own.)
        EXPECT_TRUE(Eventually([&] { return Waiting() == 1; }));
        waits.push_back(Wait(camera, images[1], 0xFFFFFFFF));

        // Callers that keep using the handle until it is refused.
        const std::vector<std::function<BOOL()>> calls = {
            [&] {
                QORCAM_CAMERAINFO info;
                return cameraInfo(camera, &info);
            },
            [&] {
                uint8_t bytes[4];
                uint32_t length = sizeof bytes;
                return readPort(camera, 0x100, bytes, &length);
            },
            [&] {
                BOOL connected = FALSE;
                return present(camera, &connected);
            },
            [&] {
                void* map = nullptr;
                return nodeMap(camera, &map);
            },
            [&] {
                QORCAM_PKTLOG log;
                return packetLog(camera, &log);
            },
            [&] {
                std::vector<uint8_t> in(960), out(960 * 4);
                return convert(camera, in.data(), out.data());
            },
        };
        std::atomic<int> done{0};
        std::vector<std::future<std::vector<STATUS_RTNCODE>>> callers;
        for (const auto& call : calls) {
            callers.push_back(std::async(std::launch::async, [&, call] {
                std::vector<STATUS_RTNCODE> refusals; // the failures, the last one ending the loop
                for (int i = 0; i < 10000000; ++i) {
                    if (call()) {
                        ++done;
                        continue;
                    }
                    refusals.push_back(lastError());
                    if (refusals.back() == STATUSQORCAM_PARAMETER_ERROR) break;
                }
                return refusals;
            }));
        }
        EXPECT_TRUE(Eventually([&] { return done.load() >= 600; }));

        EXPECT_TRUE(close(camera));
        for (auto& caller : callers)
            EXPECT_EQ(caller.get(), std::vector<STATUS_RTNCODE>{STATUSQORCAM_PARAMETER_ERROR});
        // A wait ends as one on released resources; one that came too late finds the handle refused.
        for (auto& wait : waits) {
            const auto [ok, error] = wait.get();
            EXPECT_FALSE(ok);
            EXPECT_TRUE(error == STATUSQORCAM_REQUEST_TIMEOUT || error == STATUSQORCAM_PARAMETER_ERROR)
                << error;
        }
        EXPECT_FALSE(QORCAM_FN(QORCAM_Close)(camera));
        EXPECT_EQ(LastError(), STATUSQORCAM_PARAMETER_ERROR);
        // The last call took the camera away: its device is free again.
        HCAMERA again = Open(kGigE);
        ASSERT_NE(again, nullptr);
        EXPECT_TRUE(QORCAM_FN(QORCAM_Close)(again));
    }
}

TEST_F(CameraTest, UsbFramesAreDescribedByTheirLeaderAndTrailer) {
    HCAMERA camera = Open(kUsb);
    auto write = QORCAM_FN(QORCAM_WritePort);
    Poke(camera, write, 0x100, {0, 0, 0, 2}); // a payload of 960 bytes
    Poke(camera, write, 0x10, {52, 0, 0, 0}); // leader and trailer sizes of the streaming interface at 0
    Poke(camera, write, 0x14, {32, 0, 0, 0});
    ASSERT_TRUE(QORCAM_FN(QORCAM_ResourceAlloc)(camera));
    QORCAM_IMAGE* image = nullptr;
    ASSERT_TRUE(QORCAM_FN(QORCAM_ImageAlloc)(camera, &image));
    uint8_t* leader = image->pBuffer + 1024; // the payload rounded up to 128
    uint8_t* trailer = image->pBuffer + 1152;
    std::memset(image->pBuffer, 0, 1280);
    std::memcpy(leader, "U3VL", 4);
    const uint64_t frameId = 77;
    const uint16_t type = 1;
    const uint32_t width = 2, sizeY = 480;
    const uint64_t dataSize = 960;
    std::memcpy(leader + 8, &frameId, 8);
    std::memcpy(leader + 18, &type, 2);
    std::memcpy(leader + 32, &width, 4);
    std::memcpy(trailer, "U3VT", 4);
    std::memcpy(trailer + 20, &dataSize, 8);
    std::memcpy(trailer + 28, &sizeY, 4);
    auto complete = Hook<int (*)(const char*, uint64_t, uint32_t, uint32_t, uint32_t)>(
        "QorUSBGenTL.cti", "ScriptedGenTL_CompleteOn");
    for (uint32_t bytes : {960u, 900u}) {
        ASSERT_TRUE(QORCAM_FN(QORCAM_ImageReq)(camera, image));
        ASSERT_EQ(complete("usb0", kUsb, 0, 0, bytes), 0);
        QORCAM_IMAGEDATAINFO info{};
        ASSERT_TRUE(QORCAM_FN(QORCAM_ImageComplete)(camera, image, 5000, &info));
        EXPECT_EQ(info.CType, 2u);
        EXPECT_EQ(info.Info.CUsb.Payload_Flag, bytes == 960 ? 1 : 0) << bytes;
        // The record is packed: its fields are copied before they are compared.
        const uint32_t gotType = info.Info.CUsb.StreamInfo.SType;
        const uint64_t gotFrame = info.Info.CUsb.StreamInfo.Frame_ID;
        const uint64_t gotSize = info.Info.CUsb.StreamInfo.DataSize;
        const uint32_t gotWidth = info.Info.CUsb.StreamInfo.Data.Image.Width;
        const uint32_t gotSizeY = info.Info.CUsb.StreamInfo.Data.Image.Size_Y;
        EXPECT_EQ(gotType, 1u);
        EXPECT_EQ(gotFrame, frameId);
        EXPECT_EQ(gotSize, dataSize);
        EXPECT_EQ(gotWidth, width);
        EXPECT_EQ(gotSizeY, sizeY);
    }
}

TEST_F(CameraTest, RegisterHandlesHoldTheirDeviceAndAreNotCameraHandles) {
    HCAMERA reg = nullptr;
    ASSERT_TRUE(QORCAM_FN(QORCAM_OpenReg)(&reg));
    EXPECT_TRUE(Traced({"QORCAM_OpenReg", "End HCAMERA=0x"}));
    QORCAM_CAMERAINFO info;
    ASSERT_TRUE(QORCAM_FN(QORCAM_CameraRegInfo)(reg, &info));
    EXPECT_EQ(info.UID, kGigE);
    EXPECT_EQ(info.Speed, static_cast<uint32_t>(QORCAM_S1000M));

    char head[8] = {};
    uint32_t length = sizeof head;
    ASSERT_TRUE(QORCAM_FN(QORCAM_ReadReg)(reg, 0x10000, head, &length));
    EXPECT_EQ(std::string(head, 5), "<?xml");
    uint8_t value[4] = {1, 2, 3, 4};
    length = 4;
    ASSERT_TRUE(QORCAM_FN(QORCAM_WriteReg)(reg, 0x200, value, &length));
    // Outside the device's memory: a communication error, Length as it was.
    length = 4;
    EXPECT_FALSE(QORCAM_FN(QORCAM_ReadReg)(reg, 0xFFFFFFF0u, value, &length));
    EXPECT_EQ(LastError(), STATUSQORCAM_COMMUNICATE_ERROR);
    EXPECT_EQ(length, 4u);
    EXPECT_FALSE(QORCAM_FN(QORCAM_ReadReg)(reg, 0x200, value, nullptr));
    EXPECT_EQ(LastError(), STATUSQORCAM_PARAMETER_ERROR);

    // The device is held: opening it by number finds it open.
    HCAMERA camera = nullptr;
    EXPECT_FALSE(QORCAM_FN(QORCAM_Open)(kGigE, &camera));
    EXPECT_EQ(LastError(), STATUSQORCAM_OPENED);
    camera = Open(kGigE2);
    // Each kind of handle is refused by the other kind's exports, and so is a closed one.
    length = 4;
    EXPECT_FALSE(QORCAM_FN(QORCAM_ReadPort)(reg, 0x200, value, &length));
    EXPECT_EQ(LastError(), STATUSQORCAM_PARAMETER_ERROR);
    EXPECT_FALSE(QORCAM_FN(QORCAM_ReadReg)(camera, 0x200, value, &length));
    EXPECT_EQ(LastError(), STATUSQORCAM_PARAMETER_ERROR);
    EXPECT_FALSE(QORCAM_FN(QORCAM_CloseReg)(camera));
    EXPECT_EQ(LastError(), STATUSQORCAM_PARAMETER_ERROR);
    EXPECT_FALSE(QORCAM_FN(QORCAM_Close)(reg));
    EXPECT_EQ(LastError(), STATUSQORCAM_PARAMETER_ERROR);
    HCTBL conv = nullptr;
    ASSERT_TRUE(QORCAM_FN(QORCAM_CreateConvHandle)(&conv, nullptr, nullptr));
    EXPECT_FALSE(QORCAM_FN(QORCAM_Close)(conv));
    EXPECT_EQ(LastError(), STATUSQORCAM_PARAMETER_ERROR);

    ASSERT_TRUE(QORCAM_FN(QORCAM_CloseReg)(reg));
    EXPECT_FALSE(QORCAM_FN(QORCAM_ReadReg)(reg, 0x200, value, &length));
    EXPECT_EQ(LastError(), STATUSQORCAM_PARAMETER_ERROR);
    HCAMERA again = Open(kGigE);
    EXPECT_NE(again, nullptr);
    EXPECT_FALSE(QORCAM_FN(QORCAM_OpenReg)(nullptr));
    EXPECT_EQ(LastError(), STATUSQORCAM_PARAMETER_ERROR);
}

} // namespace

namespace {

// A camera whose device memory holds the emulator's public description, zipped.
class PublicDescriptionTest : public qorcam::testing::LibraryFixture {};

TEST_F(PublicDescriptionTest, ZippedDescriptionInDeviceMemoryBuildsTheNodeMap) {
    std::ifstream in(PUBLIC_DESCRIPTION, std::ios::binary);
    ASSERT_TRUE(in) << PUBLIC_DESCRIPTION;
    std::stringstream xml;
    xml << in.rdbuf();
    const std::vector<uint8_t> zip = qorcam::description::testing::MakeZip({{"camera.xml", xml.str()}});
    const std::string file = WriteFile("camera.zip", std::string(zip.begin(), zip.end()));
    Install("QorGigEGenTL.cti", "prefix GigEVision\ninterface if0\n"
                                "device if0 9 Vendor Model - 1 1000\n"
                                "port if0 9 Local:camera_1.0.zip;20000;" +
                                    Hex(zip.size()) + " " + file + " 20000\n");
    ASSERT_NO_FATAL_FAILURE(LoadAndStart());

    HCAMERA camera = nullptr;
    ASSERT_TRUE(QORCAM_FN(QORCAM_Open)(9, &camera)) << LastError();
    void* map = nullptr;
    ASSERT_TRUE(QORCAM_FN(QORCAM_GetNodeMap)(camera, &map));
    // Width lies on a big-endian register at 0x100 of this description.
    uint8_t width[4] = {0, 0, 0x01, 0x00};
    uint32_t length = 4;
    ASSERT_TRUE(QORCAM_FN(QORCAM_WritePort)(camera, 0x100, width, &length));
    QGA_NODE node = nullptr;
    ASSERT_EQ(Fn<decltype(&QgaGetNode)>("QgaGetNode")(map, "Width", &node), QGA_OK);
    int64_t value = 0;
    ASSERT_EQ(Fn<decltype(&QgaGetInt)>("QgaGetInt")(node, &value), QGA_OK);
    EXPECT_EQ(value, 256);
    EXPECT_TRUE(QORCAM_FN(QORCAM_Close)(camera));
}

} // namespace

namespace {

// A GigE camera with heartbeat and packet size features, opened with and without a passing stream test.
class GigEOpenSettingsTest : public qorcam::testing::LibraryFixture {
protected:
    void SetUp() override {
        LibraryFixture::SetUp();
        std::string xml = CameraXml();
        const std::string extra =
            "<Integer Name='GevHeartbeatTimeout'><pValue>HeartbeatReg</pValue><Min>500</Min><Max>5000</Max>"
            "<Inc>1</Inc></Integer>"
            "<IntReg "
            "Name='HeartbeatReg'><Address>0x204</Address><Length>4</Length><AccessMode>RW</AccessMode>"
            "<pPort>Device</pPort><Cachable>NoCache</Cachable></IntReg>"
            "<Integer Name='GevSCPSPacketSize'><pValue>PacketReg</pValue><Min>600</Min><Max>16110</Max>"
            "<Inc>8</Inc></Integer>"
            "<IntReg Name='PacketReg'><Address>0x200</Address><Length>4</Length><AccessMode>RW</AccessMode>"
            "<pPort>Device</pPort><Cachable>NoCache</Cachable></IntReg>";
        xml.replace(xml.find("<Port Name='Device'/>"), 0, extra);
        const std::string file = WriteFile("settings.xml", xml);
        const std::string port = " Local:settings.xml;10000;" + Hex(xml.size()) + " " + file + " 10000\n";
        Install("QorGigEGenTL.cti", "prefix GigEVision\ninterface if0\n"
                                    "device if0 1 V M - 3232235777 1000\ndevice if0 2 V M - 3232235777 1000\n"
                                    "port if0 1" +
                                        port + "port if0 2" + port);
        ASSERT_NO_FATAL_FAILURE(LoadAndStart());
        reg_ = Hook<int64_t (*)(const char*, uint64_t, uint64_t, int64_t)>("QorGigEGenTL.cti",
                                                                           "ScriptedGenTL_DeviceRegister");
        ASSERT_NE(reg_, nullptr);
    }
    uint32_t PacketSize(HCAMERA camera) {
        uint32_t value = 0, length = 4;
        EXPECT_TRUE(QORCAM_FN(QORCAM_ReadPort)(camera, 0x200, &value, &length));
        return value;
    }
    int64_t (*reg_)(const char*, uint64_t, uint64_t, int64_t) = nullptr;
};

TEST_F(GigEOpenSettingsTest, HeartbeatAndThePacketSizeThatPassesTheStreamTest) {
    HCAMERA camera = nullptr;
    ASSERT_TRUE(QORCAM_FN(QORCAM_Open)(1, &camera));
    EXPECT_EQ(PacketSize(camera), 9000u);
    EXPECT_EQ(reg_("if0", 1, 0x103, -1), 5000); // the heartbeat node's maximum, below 10 s
    EXPECT_EQ(reg_("if0", 1, 0x102, -1), 3232235777);

    reg_("if0", 2, 0x100, 5); // the stream test fails on the second camera
    HCAMERA second = nullptr;
    ASSERT_TRUE(QORCAM_FN(QORCAM_Open)(2, &second));
    EXPECT_EQ(LastError(), STATUSQORCAM_COMPLETE);
    EXPECT_EQ(PacketSize(second), 1496u); // 600 + 112 * 8
}

} // namespace
