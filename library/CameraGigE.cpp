// CameraGigE: CCameraGigE, a camera opened through a GigE Vision producer.
#include "CameraGigE.h"

#include "GenTLCustom.h"
#include "GenTLProducer.h"
#include "ImageBuffer.h"
#include "QorCamDLL.h"

#include <algorithm>
#include <cstring>
#include <utility>

namespace qorcam::library {

namespace {

// Remote registers: the stream channel's packet size and its capability word.
constexpr std::uint64_t kPacketSizeRegister = 0x0D04;
constexpr std::uint64_t kStreamCapabilityRegister = 0x0960;
// The stream channel's host port and destination address.
constexpr std::uint64_t kStreamPortRegister = 0x0D00;
constexpr std::uint64_t kStreamDestinationRegister = 0x0D18;

std::uint32_t FromNetwork(const std::uint8_t bytes[4]) {
    return (std::uint32_t{bytes[0]} << 24) | (std::uint32_t{bytes[1]} << 16) |
           (std::uint32_t{bytes[2]} << 8) | bytes[3];
}

} // namespace

CCameraGigE::CCameraGigE(CGenTL& producer, CInterface& iface, std::string id, DEV_HANDLE device,
                         std::uint32_t urlIndex, bool watch)
    : CCamera(producer, iface, std::move(id), device, urlIndex, watch) {
    // The settings' own failures (a failed stream test among them) are not the open's.
    CQorCamDLL& library = Producer().Library();
    const std::uint32_t lastError = library.GetLastErrorCode();
    try {
        ApplyOpenSettings();
    } catch (...) {
        // The camera stays open with what was set so far.
    }
    library.SetLastErrorCode(lastError);
}

namespace {

// A node's value brought to the nearest step at or below target within its range.
std::int64_t StepBelow(genapi::IInteger& node, std::int64_t target) {
    const std::int64_t min = node.GetMin(), max = node.GetMax();
    const std::int64_t inc = std::max<std::int64_t>(node.GetInc(), 1);
    if (target > max) return max;
    if (target < min) return min;
    return min + ((target - min) / inc) * inc;
}

} // namespace

void CCameraGigE::ApplyOpenSettings() {
    genapi::CNodeMapRef& map = *NodeMap();
    auto integer = [&](const char* name) { return dynamic_cast<genapi::IInteger*>(map._GetNode(name)); };
    for (const char* selector :
         {"DeviceLinkSelector", "DeviceStreamChannelSelector", "GevStreamChannelSelector"}) {
        genapi::IInteger* node = integer(selector);
        if (node != nullptr && genapi::IsWritable(node)) node->SetValue(node->GetMin());
    }
    if (IsWatch()) return;

    std::uint32_t adapter = 0;
    DeviceInfo(DEVICE_INFO_CUSTOM_BUS_NUMBER, &adapter, sizeof adapter);
    std::size_t size = sizeof adapter;
    Producer().fn.GCWritePort(Device(), DEV_REG_102, &adapter, &size);

    genapi::IInteger* heartbeat = integer("GevHeartbeatTimeout");
    if (heartbeat == nullptr) heartbeat = integer("DeviceLinkHeartbeatTimeout");
    if (heartbeat != nullptr) {
        constexpr std::int64_t kHeartbeatMs = 10000;
        const std::int64_t target = StepBelow(*heartbeat, kHeartbeatMs);
        if (heartbeat->GetValue() != target) {
            heartbeat->SetValue(target);
            std::uint32_t value = static_cast<std::uint32_t>(target);
            size = sizeof value;
            Producer().fn.GCWritePort(Device(), DEV_REG_HEARTBEAT, &value, &size);
        }
        auto* disable = dynamic_cast<genapi::IBoolean*>(map._GetNode("GevGVCPHeartbeatDisable"));
        auto* mode = dynamic_cast<genapi::IEnumeration*>(map._GetNode("DeviceLinkHeartbeatMode"));
        if (disable != nullptr && genapi::IsWritable(disable)) {
            disable->SetValue(false);
        } else if (mode != nullptr && genapi::IsWritable(mode)) {
            mode->FromString("Off");
        }
    }

    genapi::IInteger* packet = integer("GevSCPSPacketSize");
    if (packet == nullptr) packet = integer("DeviceStreamChannelPacketSize");
    if (packet == nullptr) return;
    for (std::int64_t target : {std::int64_t{9000}, std::int64_t{1500}}) {
        const std::int64_t value = StepBelow(*packet, target);
        if (packet->GetValue() != value) packet->SetValue(value);
        if (value <= 1500 || TestStream()) return;
    }
}

CCameraGigE::~CCameraGigE() {
    StopAndRelease();
}

bool CCameraGigE::AllocResources(const std::uint8_t* ipAddr, bool recover) {
    static constexpr char kName[] = "CCameraGigE::AllocResources";
    CQorCamDLL& library = Producer().Library();
    if (HasResources()) {
        library.SetLastErrorCode(STATUSQORCAM_RESOURCE_ERROR);
        return false;
    }
    if (!IsWatch()) {
        std::uint32_t destination = 0;
        if (ipAddr != nullptr && ipAddr[0] == 239) {
            destination = FromNetwork(ipAddr);
        } else {
            QORCAM_CAMERAINFO info;
            if (!CCamera::CameraInfo(&info)) return false;
            destination = info.BusNumber;
            if (destination == 0) {
                library.SetLastErrorCode(STATUSQORCAM_GIGE_IPADDR_ERROR);
                return false;
            }
        }
        if (!WriteStreamRegister(0, DS_REG_DESTINATION, destination)) return ProducerFailed(kName);
    }
    if (!WriteStreamRegister(0, DS_REG_FLAG_103, recover ? 1 : 0)) return ProducerFailed(kName);
    if (!CCamera::AllocResources()) {
        if (!IsWatch()) WriteStreamRegister(0, DS_REG_DESTINATION, 0);
        return false;
    }
    if (!ReadPayloadSize()) return false;

    auto readRemote = [this](std::uint64_t address, std::uint8_t(&bytes)[4]) {
        std::size_t size = sizeof bytes;
        return ReadPort(address, bytes, size) >= 0 && size == sizeof bytes;
    };
    std::uint8_t packetSize[4] = {}, capability[4] = {};
    std::uint32_t major = 0;
    if (!readRemote(kPacketSizeRegister, packetSize) ||
        !DeviceInfo(DEVICE_INFO_CUSTOM_SPEC_MAJOR, &major, sizeof major)) {
        library.SetLastErrorCode(STATUSQORCAM_COMMUNICATE_ERROR);
        return false;
    }
    if (major >= 2 && !readRemote(kStreamCapabilityRegister, capability)) std::memset(capability, 0, 4);
    const std::uint32_t overhead = (capability[0] & 0x40) != 0 ? 48 : 36;
    const std::uint32_t packet = FromNetwork(packetSize) & 0xFFFF;
    // A packet that holds no payload can't carry a block: nothing could be sized from it.
    if (packet <= overhead) {
        library.SetLastErrorCode(STATUSQORCAM_COMMUNICATE_ERROR);
        return false;
    }
    const std::uint32_t packetPayload = packet - overhead;
    infoOffset_ = (payloadSize_ + 15) & ~7u;
    packetsPerBlock_ = payloadSize_ / packetPayload + (payloadSize_ % packetPayload != 0 ? 1 : 0);
    bufferSize_ = (((packetsPerBlock_ + 7) >> 3) + infoOffset_ + 577) & ~15u;
    WriteStreamRegister(0, DS_REG_INFO_OFFSET, infoOffset_);
    WriteStreamRegister(0, DS_REG_PACKET_COUNT, packetsPerBlock_);
    return true;
}

bool CCameraGigE::TestStream() {
    QORCAM_CAMERAINFO info;
    CCamera::CameraInfo(&info);
    WriteStreamRegister(0, DS_REG_DESTINATION, info.BusNumber);
    std::uint32_t timeout = 100;
    std::size_t size = sizeof timeout;
    Producer().fn.GCWritePort(Device(), DEV_REG_TEST_TIMEOUT, &timeout, &size);
    // A read that fails leaves no result: it counts as a failed test.
    std::uint32_t result = STATUSQORCAM_UNDEF_ERROR;
    size = sizeof result;
    if (Producer().fn.GCReadPort(Device(), DEV_REG_TEST_PACKET, &result, &size) < 0)
        result = STATUSQORCAM_UNDEF_ERROR;
    if (result == 0) return true;
    Producer().Library().SetLastErrorCode(result);
    return false;
}

bool CCameraGigE::QueryMulticast(bool& multicast) {
    SetMulticast(false);
    multicast = false;
    std::uint8_t port[4] = {}, destination[4] = {};
    std::size_t size = sizeof port;
    if (ReadPort(kStreamPortRegister, port, size) < 0) {
        Producer().Library().SetLastErrorCode(STATUSQORCAM_COMMUNICATE_ERROR);
        return false;
    }
    if (FromNetwork(port) != 0) {
        size = sizeof destination;
        if (ReadPort(kStreamDestinationRegister, destination, size) < 0) {
            Producer().Library().SetLastErrorCode(STATUSQORCAM_COMMUNICATE_ERROR);
            return false;
        }
        multicast = destination[0] == 239;
    }
    SetMulticast(multicast);
    return true;
}

void CCameraGigE::DecodeImageDataInfo(const BufferView& buffer, std::uint32_t, std::uint32_t bytes,
                                      QORCAM_IMAGEDATAINFO* info) {
    info->CType = 1;
    auto& part = info->Info.CGigE;
    // The block information and the count of missing packets behind it; a buffer
    // too small to hold them (sizes changed since it was made) reports no payload.
    constexpr std::uint64_t kArea = sizeof(QORCAM_GIGESTREAMINFO);
    if (std::uint64_t{buffer.infoOffset} + kArea + 4 > buffer.size) {
        part.Payload_Flag = 0;
        return;
    }
    const std::uint8_t* area = buffer.memory + buffer.infoOffset;
    std::uint32_t missing = 0;
    std::memcpy(&missing, area + kArea, sizeof missing);
    part.Payload_Flag = missing == 0 && bytes != 0 ? 1 : 0;
    std::memcpy(&part.StreamInfo, area, kArea);
    part.StreamInfo.MissingPackets = missing;
}

bool CCameraGigE::WholeImage(const BufferView& buffer, std::uint32_t, std::uint32_t bytes) const {
    // A block without data (a camera that could not fill its image sends a leader and a trailer
    // only) wrote nothing: the buffer still holds an older image.
    if (buffer.memory == nullptr || bytes == 0) return false;
    constexpr std::uint64_t kMissingAt = sizeof(QORCAM_GIGESTREAMINFO);
    if (std::uint64_t{buffer.infoOffset} + kMissingAt + 4 > buffer.size) return false;
    std::uint32_t missing = 0;
    std::memcpy(&missing, buffer.memory + buffer.infoOffset + kMissingAt, sizeof missing);
    return missing == 0;
}

void CCameraGigE::BeforeAnnounce(const Image_Buffer& image) {
    // A producer that doesn't know the register leaves the memory as any consumer memory (one copy).
    if (image.MemoryFile() >= 0)
        WriteStreamRegister(0, DS_REG_BUFFER_MEMORY, static_cast<std::uint32_t>(image.MemoryFile()));
}

bool CCameraGigE::ReleaseResources() {
    if (IsStarted()) {
        Producer().Library().SetLastErrorCode(STATUSQORCAM_STARTED_ERROR);
        return false;
    }
    if (!HasResources()) {
        Producer().Library().SetLastErrorCode(STATUSQORCAM_NOTRESOURCE_ERROR);
        return false;
    }
    if (!IsWatch()) WriteStreamRegister(0, DS_REG_DESTINATION, 0);
    return CCamera::ReleaseResources();
}

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
