// CGigeDevice: the IP configuration tool's handle on the GigE service's device.
#include "GigeDevice.h"

#include "GigeIoctl.h"
#include "os/Waitable.h"

#include <algorithm>
#include <cstring>

namespace qorcam::gigeconfig {

using namespace gige;

devio::NtStatus CGigeDevice::Open() {
    return handle_.Open("\\\\.\\QORGIGE");
}

devio::NtStatus CGigeDevice::Request(std::uint32_t code, const void* in, std::size_t inLength, void* out,
                                     std::size_t outLength, std::uint32_t waitMs, std::uint64_t* bytes) {
    devio::Overlapped overlapped;
    std::uint64_t count = 0;
    devio::NtStatus status = handle_.DeviceIoControl(code, in, inLength, out, outLength, overlapped);
    if (status == devio::STATUS_PENDING) {
        if (!overlapped.CompletionEvent().Wait(waitMs == 0 ? os::kInfinite : waitMs)) handle_.CancelIo();
        status = handle_.GetOverlappedResult(overlapped, &count, true);
    } else {
        count = overlapped.Information();
    }
    if (bytes) *bytes = count;
    return status;
}

std::uint32_t CGigeDevice::GetVersion() {
    GigeVersionInfo version{};
    if (Request(IOCTL_GIGE_GetVersion, nullptr, 0, &version, sizeof version, 0) != devio::STATUS_SUCCESS)
        return 0;
    return version.version;
}

std::vector<NicInfoRecord> CGigeDevice::GetNicList() {
    std::uint32_t count = 0;
    if (Request(IOCTL_GIGE_GetNicCount, nullptr, 0, &count, sizeof count, 0) != devio::STATUS_SUCCESS ||
        count == 0)
        return {};
    // The count is the service's word; a list can't be larger than what a
    // service binds, so an absurd count is cut rather than allocated.
    count = std::min<std::uint32_t>(count, 4096);
    std::vector<NicInfoRecord> list(count);
    std::uint64_t bytes = 0;
    const devio::NtStatus status = Request(IOCTL_GIGE_GetNicList, &count, sizeof count, list.data(),
                                           list.size() * sizeof(NicInfoRecord), 0, &bytes);
    if (!devio::NtSuccess(status)) return {};
    list.resize(std::min<std::uint64_t>(bytes / sizeof(NicInfoRecord), list.size()));
    return list;
}

void CGigeDevice::SetAdapterAddress(const std::u16string& name, std::uint32_t ip, std::uint32_t mask) {
    GigeAdapterAddress address{};
    const std::size_t n = std::min(name.size(), kAdapterNameChars - 1);
    std::memcpy(address.shortName, name.data(), n * sizeof(char16_t));
    address.ip = ip;
    address.mask = mask;
    Request(IOCTL_GIGE_SetAdapterAddress, &address, sizeof address, nullptr, 0, 0);
}

devio::NtStatus CGigeDevice::StartDiscovery() {
    return Request(IOCTL_GIGE_StartDiscovery, nullptr, 0, nullptr, 0, 0);
}

std::uint32_t CGigeDevice::SendNicCmd(GvcpCommandBlock& block, bool noLimit) {
    return Request(IOCTL_GIGE_SendNicCmd, &block, sizeof block, &block, sizeof block,
                   noLimit ? 0 : kCommandWaitMs);
}

std::uint32_t CGigeDevice::SetCameraIp(const std::uint8_t mac[6], std::uint32_t ip) {
    GigeCameraAddress address{};
    std::memcpy(address.mac, mac, 6);
    address.ip = ip;
    return Request(IOCTL_GIGE_SetCameraIp, &address, sizeof address, nullptr, 0, 0);
}

} // namespace qorcam::gigeconfig
