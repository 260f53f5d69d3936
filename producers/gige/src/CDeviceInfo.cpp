// The record of one discovered GigE camera, as the service's device list gives it.
#include "CDeviceInfo.h"

#include "gentl/DeviceId.h"
#include "gentl/InfoFillers.h"

#include <arpa/inet.h>
#include <cstring>

namespace GenICam::Client {
namespace {

template <size_t N> std::string FieldText(const char (&field)[N]) {
    return std::string(field, strnlen(field, N));
}

} // namespace

CDeviceInfo::CDeviceInfo(const qorcam::gige::GigeDeviceRecord& record,
                         const qorcam::gige::GigeDeviceLink& link)
    : m_cameraIp(record.ip), m_adapterIp(ntohl(link.adapterIp)),
      m_linkSpeed(link.linkSpeedMbps <= 100 ? 100 : 1000), m_versionMinor(record.versionMinor),
      m_versionMajor(record.versionMajor), m_deviceMode(record.deviceMode),
      m_manufacturer(FieldText(record.manufacturerName)), m_model(FieldText(record.modelName)),
      m_deviceVersion(FieldText(record.deviceVersion)),
      m_manufacturerInfo(FieldText(record.manufacturerInfo)), m_serialNumber(FieldText(record.serialNumber)),
      m_userName(FieldText(record.userDefinedName)) {
    for (uint8_t byte : record.mac)
        m_mac = (m_mac << 8) | byte;
}

std::string CDeviceInfo::GetID() const {
    return "GigEVision::" + std::to_string(0x0300000000000000ULL | m_mac);
}

bool CDeviceInfo::IsMatch(const std::string& text) const {
    return ToUpperText(DeviceIdNumber(text)) == std::to_string(0x0300000000000000ULL | m_mac);
}

} // namespace GenICam::Client
