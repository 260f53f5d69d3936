// The record of one discovered GigE camera, as the service's device list gives it.
#pragma once

#include "GigeRecords.h"

#include <cstdint>
#include <string>

namespace GenICam::Client {

// A camera as listed: addresses, link, GigE Vision version, device mode, MAC and the texts of its
// discovery answer. Its id is "GigEVision::" and the unsigned decimal of 0x0300000000000000 OR the
// 48-bit MAC; copies carry every field.
class CDeviceInfo {
public:
    CDeviceInfo() = default;
    // From one record of the device list and the link answer for it. Texts stop at their first zero
    // byte and never run past their field.
    CDeviceInfo(const qorcam::gige::GigeDeviceRecord& record, const qorcam::gige::GigeDeviceLink& link);
    CDeviceInfo(const CDeviceInfo&) = default;
    CDeviceInfo& operator=(const CDeviceInfo&) = default;
    virtual ~CDeviceInfo() = default;

    virtual std::string GetID() const;
    virtual std::string GetDisplayName() const { return m_model + " (" + m_serialNumber + " )"; }
    // Does `text` name this camera? The part after the first "::" (the whole text without one) up to
    // the next "::" is compared with the decimal, ignoring case; an empty part throws invalid_argument
    // "Invalid Device Name".
    bool IsMatch(const std::string& text) const;

    const std::string& GetManufacturer() const { return m_manufacturer; }
    const std::string& GetModel() const { return m_model; }
    uint16_t GetVersionMajor() const { return m_versionMajor; }
    uint16_t GetVersionMinor() const { return m_versionMinor; }
    uint32_t GetDeviceMode() const { return m_deviceMode; }
    const std::string& GetDeviceVersion() const { return m_deviceVersion; }
    const std::string& GetManufacturerInfo() const { return m_manufacturerInfo; }
    const std::string& GetSerialNumber() const { return m_serialNumber; }
    const std::string& GetUserName() const { return m_userName; }
    uint64_t GetMac() const { return m_mac; }

    void SetCameraAddress(uint32_t ip) { m_cameraIp = ip; }
    void SetAdapterAddress(uint32_t ip) { m_adapterIp = ip; }
    void SetLinkSpeed(uint32_t speed) { m_linkSpeed = speed; }
    // Network order, as the service keys its device entries.
    uint32_t GetCameraAddress() const { return m_cameraIp; }
    // Host order.
    uint32_t GetAdapterAddress() const { return m_adapterIp; }
    uint32_t GetLinkSpeed() const { return m_linkSpeed; }

    bool visible = true;

private:
    uint32_t m_cameraIp = 0;
    uint32_t m_adapterIp = 0;
    uint32_t m_linkSpeed = 1000;
    uint16_t m_versionMinor = 0;
    uint16_t m_versionMajor = 0;
    uint32_t m_deviceMode = 0;
    uint64_t m_mac = 0;
    std::string m_manufacturer, m_model, m_deviceVersion, m_manufacturerInfo, m_serialNumber, m_userName;
};

} // namespace GenICam::Client
