// DriverCollectionTest: the driver collectors against small message devices and against the GigE service.
#include "DriverCollector.h"
#include "SessionFixture.h"

#include "GigeIoctl.h"
#include "QorCamShared.h"
#include "UsbDeviceControl.h"
#include "devio/DeviceName.h"
#include "devio/ServiceControl.h"

#include <gtest/gtest.h>

#include <regex>

namespace qorcam::tracelog {
namespace {

using test::Eventually;
using test::MessageDevice;
using test::Record;

const MessageDevice::Codes kGigeCodes{gige::IOCTL_GIGE_GetVersion, gige::IOCTL_GIGE_SetMessageEnable,
                                      gige::IOCTL_GIGE_GetMessage, 540};
const MessageDevice::Codes kUsbCodes{usbdrv::IOCTL_USB_GetVersion, usbdrv::IOCTL_USB_SetMessageEnable,
                                     usbdrv::IOCTL_USB_GetMessage, 1012};

// The lines of a driver log, without their time prefix.
std::vector<std::string> Lines(const std::filesystem::path& file) {
    const std::regex stamp(R"(\d{4}/\d{2}/\d{2} \d{2}:\d{2}:\d{2}'\d{3}  (.*))");
    std::vector<std::string> lines;
    for (const auto& line : test::RingRecords(file)) {
        std::smatch m;
        lines.push_back(std::regex_match(line, m, stamp) ? m[1].str() : "(no stamp) " + line);
    }
    return lines;
}

std::filesystem::path UsbSocket(const std::string& name) {
    return devio::DeviceInterfaceDirectory(shared::kUsbDeviceClass) / name;
}

class DriverCollectionTest : public test::SessionTest {
protected:
    SessionOptions Options(std::uint32_t sysLevel) const { return SessionTest::Options(sysLevel, 0); }
};

TEST_F(DriverCollectionTest, GigeRecordsAreLoggedInOrderAndStopCancelsEveryRequest) {
    MessageDevice gige(kGigeCodes, 10106);
    ASSERT_TRUE(gige.Start(devio::DevicePath("\\\\.\\QORGIGE")));
    session_.StartLogging(Options(2));
    ASSERT_TRUE(session_.GigeLogging());
    ASSERT_TRUE(Eventually([&] { return gige.Pending() == 10; }));

    // More records than slots: each slot is sent again after its record.
    std::vector<std::string> expected;
    for (std::uint32_t i = 0; i < 25; ++i) {
        ASSERT_TRUE(Eventually([&] { return gige.Pending() > 0; }));
        ASSERT_TRUE(gige.Post(Record({0x1A2B + i, i}, u"message " + std::u16string(1, u'a' + i % 26))));
        char line[80];
        std::snprintf(line, sizeof line, "Number =0x%08X Status=0x%08X message %c", 0x1A2B + i, i,
                      'a' + i % 26);
        expected.push_back(line);
    }
    ASSERT_TRUE(Eventually([&] { return Lines(File("QorGigE_Sys.log")).size() == expected.size(); }));
    ASSERT_TRUE(Eventually([&] { return gige.Pending() == 10; }));
    session_.StopLogging();

    EXPECT_EQ(Lines(File("QorGigE_Sys.log")), expected);
    EXPECT_EQ(gige.Pending(), 0u);
    EXPECT_EQ(gige.EnableLevels(), (std::vector<std::uint32_t>{2, 0}));
    EXPECT_TRUE(messages_.empty());
}

TEST_F(DriverCollectionTest, VersionMismatchOrNoDeviceMeansNoDriverLog) {
    {
        session_.StartLogging(Options(1));
        EXPECT_FALSE(session_.GigeLogging());
        EXPECT_EQ(session_.UsbDeviceCount(), 0u);
        session_.StopLogging();
        EXPECT_TRUE(messages_.empty()); // nothing to open is no error
    }
    MessageDevice gige(kGigeCodes, 10105);
    MessageDevice usb(kUsbCodes, 10107);
    ASSERT_TRUE(gige.Start(devio::DevicePath("\\\\.\\QORGIGE")));
    ASSERT_TRUE(usb.Start(UsbSocket("cam0")));
    session_.StartLogging(Options(1));
    EXPECT_FALSE(session_.GigeLogging());
    EXPECT_EQ(session_.UsbDeviceCount(), 0u);
    session_.StopLogging();
    EXPECT_EQ(messages_, (std::vector<std::string>{"GigE Filter Version Error Not Log",
                                                   "USB Drv Version Error Not Log"}));
    EXPECT_FALSE(std::filesystem::exists(File("QorGigE_Sys.log")));
    EXPECT_FALSE(std::filesystem::exists(File("QorUSB_Sys.log")));
    EXPECT_TRUE(gige.EnableLevels().empty());
}

TEST_F(DriverCollectionTest, UsbDevicesShareOneFileAndFollowArrivalAndRemoval) {
    auto a = std::make_unique<MessageDevice>(kUsbCodes, 10106);
    auto b = std::make_unique<MessageDevice>(kUsbCodes, 10106);
    ASSERT_TRUE(a->Start(UsbSocket("cam0")));
    ASSERT_TRUE(b->Start(UsbSocket("cam1")));
    session_.StartLogging(Options(1));
    ASSERT_EQ(session_.UsbDeviceCount(), 2u);
    // One version request, on the first device only.
    EXPECT_EQ(a->VersionRequests() + b->VersionRequests(), 1);
    ASSERT_TRUE(Eventually([&] { return a->Pending() == 10 && b->Pending() == 10; }));
    ASSERT_TRUE(a->Post(Record({0x2A1B, 17, 0}, u"from a")));
    ASSERT_TRUE(Eventually([&] { return Lines(File("QorUSB_Sys.log")).size() == 1; }));
    ASSERT_TRUE(b->Post(Record({0x2A1B, 18, 0}, u"from b")));
    ASSERT_TRUE(Eventually([&] { return Lines(File("QorUSB_Sys.log")).size() == 2; }));

    // Other events, and events while idle, are ignored.
    EXPECT_TRUE(session_.OnDeviceChange(0x8000));
    EXPECT_EQ(session_.UsbDeviceCount(), 2u);

    // b leaves, c arrives: b's collector ends, c gets one without a version request.
    b.reset();
    MessageDevice c(kUsbCodes, 1); // a wrong version goes unnoticed for a later device
    ASSERT_TRUE(c.Start(UsbSocket("cam2")));
    EXPECT_TRUE(session_.OnDeviceChange(DBT_DEVNODES_CHANGED));
    EXPECT_EQ(session_.UsbDeviceCount(), 2u);
    EXPECT_EQ(c.VersionRequests(), 0);
    ASSERT_TRUE(Eventually([&] { return c.Pending() == 10; }));
    ASSERT_TRUE(c.Post(Record({0x0001, 19, 5}, u"from c")));
    ASSERT_TRUE(Eventually([&] { return Lines(File("QorUSB_Sys.log")).size() == 3; }));
    EXPECT_EQ(a->Pending(), 10u); // a goes on undisturbed

    session_.StopLogging();
    EXPECT_EQ(Lines(File("QorUSB_Sys.log")),
              (std::vector<std::string>{"Vendor=0x2A1B SerialNumber=17 Status=0x00000000 from a",
                                        "Vendor=0x2A1B SerialNumber=18 Status=0x00000000 from b",
                                        "Vendor=0x0001 SerialNumber=19 Status=0x00000005 from c"}));
    EXPECT_EQ(a->EnableLevels(), (std::vector<std::uint32_t>{1, 0}));
    EXPECT_EQ(c.EnableLevels(), (std::vector<std::uint32_t>{1, 0}));
    EXPECT_EQ(a->Pending(), 0u);
    EXPECT_FALSE(session_.OnDeviceChange(DBT_DEVNODES_CHANGED) && session_.UsbDeviceCount() != 0);
}

TEST_F(DriverCollectionTest, ADeviceArrivingAfterAStartWithoutDevicesStillGetsItsRecordsLogged) {
    session_.StartLogging(Options(1));
    EXPECT_EQ(session_.UsbDeviceCount(), 0u);
    MessageDevice late(kUsbCodes, 10106);
    ASSERT_TRUE(late.Start(UsbSocket("cam0")));
    session_.OnDeviceChange(DBT_DEVNODES_CHANGED);
    ASSERT_TRUE(Eventually([&] { return late.Pending() == 10; }));
    ASSERT_TRUE(late.Post(Record({1, 2, 3}, u"late")));
    ASSERT_TRUE(Eventually([&] { return Lines(File("QorUSB_Sys.log")).size() == 1; }));
    session_.StopLogging();
}

TEST_F(DriverCollectionTest, AFailedRequestEndsOnlyThatCollector) {
    MessageDevice gige(kGigeCodes, 10106);
    MessageDevice usb(kUsbCodes, 10106);
    ASSERT_TRUE(gige.Start(devio::DevicePath("\\\\.\\QORGIGE")));
    ASSERT_TRUE(usb.Start(UsbSocket("cam0")));
    session_.StartLogging(Options(1));
    ASSERT_TRUE(Eventually([&] { return gige.Pending() == 10 && usb.Pending() == 10; }));
    ASSERT_TRUE(usb.Fail(0xC000009D));
    // The failed collector cancels its other nine requests and disables messages.
    ASSERT_TRUE(Eventually([&] { return usb.Pending() == 0 && usb.EnableLevels().size() == 2; }));
    EXPECT_EQ(usb.EnableLevels().back(), 0u);
    ASSERT_TRUE(gige.Post(Record({7, 0}, u"still here")));
    ASSERT_TRUE(Eventually([&] { return Lines(File("QorGigE_Sys.log")).size() == 1; }));
    session_.StopLogging();
}

TEST_F(DriverCollectionTest, ACollectorEndsOnItsDeviceStopEventAlone) {
    MessageDevice usb(kUsbCodes, 10106);
    ASSERT_TRUE(usb.Start(UsbSocket("cam0")));
    devio::DeviceHandle handle;
    ASSERT_EQ(handle.Open(UsbSocket("cam0").string()), devio::STATUS_SUCCESS);
    os::Event dialogStop(os::ResetMode::Manual), deviceStop(os::ResetMode::Manual);
    CRingLogFile closed; // records arriving while the file is closed are dropped
    os::Thread thread;
    thread.Start([&] { RunDriverCollector({handle, kUsbSource, 2, dialogStop, &deviceStop, closed}); });
    ASSERT_TRUE(Eventually([&] { return usb.Pending() == 10; }));
    ASSERT_TRUE(usb.Post(Record({1, 2, 3}, u"dropped")));
    ASSERT_TRUE(Eventually([&] { return usb.Pending() == 10; }));
    deviceStop.Set();
    ASSERT_TRUE(thread.Wait(10000));
    EXPECT_EQ(usb.Pending(), 0u);
    EXPECT_EQ(usb.EnableLevels(), (std::vector<std::uint32_t>{2, 0}));
}

// The GigE service itself, under this test's root, serving no adapter: it
// answers the version and keeps the message requests pending.
TEST_F(DriverCollectionTest, AgainstTheGigeService) {
    const std::filesystem::path program = QORCAM_GIGE_SERVICE;
    if (!std::filesystem::exists(program)) GTEST_SKIP() << "QorGigEFilter was not built";
    devio::ServiceControl service({"QORGIGE", program, {program.string()}, "\\\\.\\QORGIGE"});
    std::string error;
    if (!service.Start(&error)) GTEST_SKIP() << "the GigE service does not start here: " << error;

    session_.StartLogging(Options(1));
    EXPECT_TRUE(session_.GigeLogging());
    EXPECT_TRUE(messages_.empty());
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    session_.StopLogging(); // returns only when all ten requests have completed
    EXPECT_FALSE(session_.GigeLogging());
    EXPECT_TRUE(std::filesystem::exists(File("QorGigE_Sys.log")));
    EXPECT_TRUE(service.Stop(&error)) << error;
}

} // namespace
} // namespace qorcam::tracelog
