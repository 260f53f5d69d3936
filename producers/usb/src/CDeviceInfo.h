// The record of one USB3 Vision camera: what its driver device and bootstrap registers say about it.
#pragma once

#include <cstdint>
#include <string>

namespace GenICam::Client {

// Built once from a driver device path by reading the camera's bootstrap registers (ABRM, SBRM, EIRM),
// after which it keeps no handle. Copies carry every field. The id is "USB3Vision::" and the unsigned
// decimal of 0x0310000000000000 OR the device number.
class CDeviceInfo {
public:
    // Opens the path, tells the service the camera's maxima and reads the registers. Throws
    // runtime_error "CreateFile Error" when the device can't be opened and "IOCTL_USB_SendCmd Error"
    // when any request fails or a register answer is short.
    explicit CDeviceInfo(const std::string& devicePath);
    CDeviceInfo(const CDeviceInfo&) = default;
    CDeviceInfo& operator=(const CDeviceInfo&) = default;
    virtual ~CDeviceInfo() = default;

    virtual std::string GetID() const;
    virtual std::string GetDisplayName() const { return m_model + " (" + m_serialNumber + " )"; }
    // Does `text` name this camera? The part after the first "::" (the whole text without one) up to
    // the next "::" is compared with the decimal; an empty part throws invalid_argument
    // "Invalid Device Name".
    bool IsMatch(const std::string& text) const;

    const std::string& GetManufacturer() const { return m_manufacturer; }
    const std::string& GetModel() const { return m_model; }
    const std::string& GetFamilyName() const { return m_family; }
    const std::string& GetDeviceVersion() const { return m_deviceVersion; }
    const std::string& GetManufacturerInfo() const { return m_manufacturerInfo; }
    const std::string& GetSerialNumber() const { return m_serialNumber; }
    const std::string& GetUserName() const { return m_userName; }
    const std::string& GetDevicePath() const { return m_devicePath; }
    uint64_t GetDeviceNumber() const { return m_deviceNumber; }
    uint16_t GetGenCPMajor() const { return m_genCPMajor; }
    uint16_t GetGenCPMinor() const { return m_genCPMinor; }
    uint64_t GetCapability() const { return m_capability; }
    void SetNumber1002(uint32_t value) { m_number1002 = value; }
    uint32_t GetNumber1002() const { return m_number1002; }
    uint32_t GetControlMaxPacketSize() const { return m_controlMaxPacket; }
    uint32_t GetMaxCommandTransfer() const { return m_maxCommand; }
    uint32_t GetMaxAckTransfer() const { return m_maxAck; }
    uint32_t GetMaxEventTransfer() const { return m_maxEvent; }
    uint64_t GetManifestAddress() const { return m_manifest; }
    uint64_t GetSirmAddress() const { return m_sirm; }
    uint64_t GetEirmAddress() const { return m_eirm; }

protected:
    CDeviceInfo() = default;

private:
    uint64_t m_deviceNumber = 0;
    uint32_t m_number1002 = 0;
    uint32_t m_controlMaxPacket = 0;
    uint16_t m_genCPMajor = 0, m_genCPMinor = 0;
    uint32_t m_maxCommand = 0, m_maxAck = 0, m_maxEvent = 0;
    uint64_t m_capability = 0;
    uint64_t m_manifest = 0, m_sirm = 0, m_eirm = 0;
    std::string m_manufacturer, m_model, m_family, m_deviceVersion, m_manufacturerInfo, m_serialNumber,
        m_userName;
    std::string m_devicePath;
};

// The device number of a camera: the GUID text read as a hexadecimal number (up to its first character
// that is not a hexadecimal digit); when its low 24 bits are zero they come from the serial number
// read as a decimal number.
uint64_t UsbDeviceNumber(const char16_t* guid, size_t guidChars, const std::string& serialNumber);

} // namespace GenICam::Client
