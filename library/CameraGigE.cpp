// CameraGigE: CCameraGigE, a camera opened through a GigE Vision producer.
#include "CameraGigE.h"

#include "GenTLCustom.h"

#include <cstring>

namespace qorcam::library {

bool CCameraGigE::CameraInfo(QORCAM_GIGECAMERAINFO* info) {
    std::memset(info, 0, sizeof *info);
    char text[1024];
    std::uint32_t value = 0;
    auto fail = [this] {
        InfoFailed("CCameraGigE::CameraInfo");
        return false;
    };
    if (!DeviceInfo(DEVICE_INFO_ID, text, sizeof text)) return fail();
    text[sizeof text - 1] = '\0';
    const std::uint64_t number = CameraNumberOf(text);
    for (int i = 0; i < 6; ++i)
        info->MACAddr[i] = static_cast<std::uint8_t>(number >> (8 * (5 - i)));
    if (!DeviceInfo(DEVICE_INFO_CUSTOM_SPEC_MAJOR, &value, sizeof value)) return fail();
    info->Spec_Major = static_cast<std::uint16_t>(value);
    if (!DeviceInfo(DEVICE_INFO_CUSTOM_SPEC_MINOR, &value, sizeof value)) return fail();
    info->Spec_Minor = static_cast<std::uint16_t>(value);
    if (!DeviceInfo(DEVICE_INFO_CUSTOM_DEV_MODE, &value, sizeof value)) return fail();
    info->Dev_Mode = value;
    if (!TextInfo(DEVICE_INFO_VENDOR, info->VendorName, sizeof info->VendorName) ||
        !TextInfo(DEVICE_INFO_MODEL, info->ModelName, sizeof info->ModelName) ||
        !TextInfo(DEVICE_INFO_CUSTOM_DEV_VERSION, info->Dev_Ver, sizeof info->Dev_Ver) ||
        !TextInfo(DEVICE_INFO_CUSTOM_VENDOR_INFO, info->Vendor_Info, sizeof info->Vendor_Info) ||
        !TextInfo(DEVICE_INFO_CUSTOM_SERIAL_NUMBER, info->SerialNumber, sizeof info->SerialNumber) ||
        !TextInfo(DEVICE_INFO_CUSTOM_USER_NAME, info->UserName, sizeof info->UserName))
        return fail();
    if (!DeviceInfo(DEVICE_INFO_CUSTOM_BUS_NUMBER, &value, sizeof value)) return fail();
    info->BusNumber = value;
    return true;
}

} // namespace qorcam::library
