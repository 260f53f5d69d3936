// The record of one USB3 Vision camera: what its driver device and bootstrap registers say about it.
#include "CDeviceInfo.h"

#include "UsbService.h"
#include "gentl/DeviceId.h"
#include "gentl/InfoFillers.h"

#include <stdexcept>

namespace GenICam::Client {

using namespace qorcam;
using namespace qorcam::usb;

namespace {

constexpr uint64_t kIdBase = 0x0310000000000000ULL;
constexpr size_t kTextBytes = 64;

[[noreturn]] void Fail() {
    throw std::runtime_error("IOCTL_USB_SendCmd Error");
}

// A register read whose answer must be whole: a short answer would leave part of the value unknown.
template <class T> T ReadValue(devio::DeviceHandle& driver, uint64_t address) {
    uint8_t data[sizeof(T)] = {};
    const CmdReadResult r = ReadMemory(driver, address, sizeof(T), data);
    if (r.status != devio::STATUS_SUCCESS || r.dataBytes != sizeof(T)) Fail();
    return Get<T>(data, 0);
}

// A 64-byte text register; the text ends at its first zero byte or at the bytes that came back.
std::string ReadText(devio::DeviceHandle& driver, uint64_t address) {
    uint8_t data[kTextBytes] = {};
    const CmdReadResult r = ReadMemory(driver, address, kTextBytes, data);
    if (r.status != devio::STATUS_SUCCESS) Fail();
    const char* text = reinterpret_cast<const char*>(data);
    return std::string(text, strnlen(text, r.dataBytes));
}

void SetMaxSize(devio::DeviceHandle& driver, const usbdrv::UsbMaxSizes& sizes) {
    if (CallAndWait(driver, usbdrv::IOCTL_USB_SetMaxSize, &sizes, sizeof sizes) != devio::STATUS_SUCCESS)
        Fail();
}

int HexDigit(char16_t c) {
    if (c >= u'0' && c <= u'9') return c - u'0';
    if (c >= u'a' && c <= u'f') return c - u'a' + 10;
    if (c >= u'A' && c <= u'F') return c - u'A' + 10;
    return -1;
}

} // namespace

uint64_t UsbDeviceNumber(const char16_t* guid, size_t guidChars, const std::string& serialNumber) {
    uint64_t number = 0;
    for (size_t i = 0; i < guidChars && i < 16; ++i) {
        const int digit = HexDigit(guid[i]);
        if (digit < 0) break;
        number = (number << 4) | static_cast<uint64_t>(digit);
    }
    if ((number & 0xFFFFFF) == 0) {
        uint64_t serial = 0;
        for (char c : serialNumber) {
            if (c < '0' || c > '9') break;
            serial = serial * 10 + static_cast<uint64_t>(c - '0');
        }
        number |= serial & 0xFFFFFF;
    }
    return number;
}

CDeviceInfo::CDeviceInfo(const std::string& devicePath) : m_devicePath(devicePath) {
    devio::DeviceHandle driver;
    if (driver.Open(devicePath) != devio::STATUS_SUCCESS) throw std::runtime_error("CreateFile Error");

    usbdrv::UsbDeviceInfoRecord record{};
    uint64_t bytes = 0;
    if (CallAndWait(driver, usbdrv::IOCTL_USB_GetDeviceInfo, nullptr, 0, &record, sizeof record, &bytes) !=
            devio::STATUS_SUCCESS ||
        bytes < sizeof record.controlOutMaxPacketSize)
        Fail();
    m_controlMaxPacket = record.controlOutMaxPacketSize;
    // Only the characters that came back are read as the GUID.
    const size_t guidChars = bytes <= 4 ? 0 : std::min<size_t>((bytes - 4) / 2, 13);

    const uint32_t responseTime = ReadValue<uint32_t>(driver, 0x01CC);
    SetMaxSize(driver, {responseTime, 0, 0, 0});

    m_capability = ReadValue<uint64_t>(driver, 0x01C4);
    const uint32_t version = ReadValue<uint32_t>(driver, 0x0000);
    m_genCPMajor = static_cast<uint16_t>(version >> 16);
    m_genCPMinor = static_cast<uint16_t>(version & 0xFFFF);
    m_manifest = ReadValue<uint64_t>(driver, 0x01D0);
    const uint64_t sbrm = ReadValue<uint64_t>(driver, 0x01D8);
    m_maxCommand = ReadValue<uint32_t>(driver, sbrm + 0x14);
    m_maxAck = ReadValue<uint32_t>(driver, sbrm + 0x18);
    m_sirm = ReadValue<uint64_t>(driver, sbrm + 0x20);
    m_eirm = ReadValue<uint64_t>(driver, sbrm + 0x2C);
    // A camera without an event interface has no EIRM (address 0): no events.
    m_maxEvent = m_eirm != 0 ? ReadValue<uint32_t>(driver, m_eirm + 4) : 0;
    SetMaxSize(driver, {0, m_maxCommand, m_maxAck, m_maxEvent});

    m_manufacturer = ReadText(driver, 0x0004);
    m_model = ReadText(driver, 0x0044);
    m_family = ReadText(driver, 0x0084);
    m_deviceVersion = ReadText(driver, 0x00C4);
    m_manufacturerInfo = ReadText(driver, 0x0104);
    m_serialNumber = ReadText(driver, 0x0144);
    m_userName = ReadText(driver, 0x0184);
    m_capability = ReadValue<uint64_t>(driver, 0x01C4);

    m_deviceNumber = UsbDeviceNumber(record.deviceGuid, guidChars, m_serialNumber);
}

std::string CDeviceInfo::GetID() const {
    return "USB3Vision::" + std::to_string(kIdBase | m_deviceNumber);
}

bool CDeviceInfo::IsMatch(const std::string& text) const {
    return DeviceIdNumber(text) == std::to_string(kIdBase | m_deviceNumber);
}

} // namespace GenICam::Client
