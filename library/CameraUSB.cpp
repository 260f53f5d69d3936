// CameraUSB: CCameraUSB, a camera opened through a USB3 Vision producer.
#include "CameraUSB.h"

#include "GenTLCustom.h"
#include "GenTLProducer.h"
#include "ImageBuffer.h"
#include "QorCamDLL.h"

#include <cstring>

namespace qorcam::library {

namespace {

// The register of the bootstrap map that holds the SBRM address, and offsets inside SBRM and SIRM.
constexpr std::uint64_t kSbrmAddress = 0x1D8;
constexpr std::uint64_t kSirmAddressInSbrm = 0x20;
constexpr std::uint64_t kLeaderSizeInSirm = 0x10;
constexpr std::uint64_t kTrailerSizeInSirm = 0x14;
constexpr std::uint64_t kLargest = 0xFFFFFFFF;

std::uint64_t RoundUp(std::uint64_t value, std::uint64_t alignment) {
    return (value + alignment - 1) / alignment * alignment;
}

} // namespace

CCameraUSB::~CCameraUSB() {
    StopAndRelease();
}

bool CCameraUSB::AllocResources() {
    if (!ReadPayloadSize()) return false;
    // Read as they come; a register that can't be read counts as 0.
    auto read = [this](std::uint64_t address, void* value, std::size_t size) {
        std::memset(value, 0, size);
        std::size_t got = size;
        if (ReadPort(address, value, got) < 0) std::memset(value, 0, size);
    };
    std::uint64_t sbrm = 0, sirm = 0;
    std::uint32_t siInfo = 0, leaderSize = 0, trailerSize = 0;
    read(kSbrmAddress, &sbrm, sizeof sbrm);
    read(sbrm + kSirmAddressInSbrm, &sirm, sizeof sirm);
    read(sirm, &siInfo, sizeof siInfo);
    read(sirm + kLeaderSizeInSirm, &leaderSize, sizeof leaderSize);
    read(sirm + kTrailerSizeInSirm, &trailerSize, sizeof trailerSize);
    // The alignment exponent is the top byte; beyond 2^31 no buffer of 32 bits could be aligned.
    const std::uint32_t exponent = siInfo >> 24;
    std::uint64_t alignment = exponent == 0 || exponent > 31 ? 0 : std::uint64_t{1} << exponent;
    if (exponent > 31) {
        Producer().Library().SetLastErrorCode(STATUSQORCAM_COMMUNICATE_ERROR);
        return false;
    }
    if (alignment < 128) alignment = 128;
    const std::uint64_t leader = RoundUp(payloadSize_, alignment);
    const std::uint64_t trailer = RoundUp(leaderSize, alignment) + leader;
    const std::uint64_t buffer = RoundUp(trailerSize, alignment) + trailer;
    if (buffer > kLargest) {
        Producer().Library().SetLastErrorCode(STATUSQORCAM_COMMUNICATE_ERROR);
        return false;
    }
    infoOffset_ = static_cast<std::uint32_t>(leader);
    trailerOffset_ = static_cast<std::uint32_t>(trailer);
    bufferSize_ = static_cast<std::uint32_t>(buffer);
    WriteStreamRegister(0, DS_REG_USB_107, infoOffset_);
    WriteStreamRegister(0, DS_REG_USB_108, trailerOffset_);
    WriteStreamRegister(0, DS_REG_USB_106, 0);
    return CCamera::AllocResources();
}

void CCameraUSB::DecodeImageDataInfo(const BufferView& buffer, std::uint32_t, std::uint32_t bytes,
                                     QORCAM_IMAGEDATAINFO* info) {
    info->CType = 2;
    auto& part = info->Info.CUsb;
    // The leader's fields end at 52 bytes, the trailer's at 36; both must lie inside the buffer.
    constexpr std::uint64_t kLeader = 52, kTrailer = 36;
    const std::uint8_t* base = buffer.memory;
    if (std::uint64_t{buffer.infoOffset} + kLeader > buffer.size ||
        std::uint64_t{trailerOffset_} + kTrailer > buffer.size) {
        part.Payload_Flag = 0;
        return;
    }
    const std::uint8_t* leader = base + buffer.infoOffset;
    const std::uint8_t* trailer = base + trailerOffset_;
    auto u16 = [](const std::uint8_t* p) {
        std::uint16_t v;
        std::memcpy(&v, p, 2);
        return v;
    };
    auto u32 = [](const std::uint8_t* p) {
        std::uint32_t v;
        std::memcpy(&v, p, 4);
        return v;
    };
    auto u64 = [](const std::uint8_t* p) {
        std::uint64_t v;
        std::memcpy(&v, p, 8);
        return v;
    };
    part.Payload_Flag =
        bytes == buffer.payload && std::memcmp(leader, "U3VL", 4) == 0 && std::memcmp(trailer, "U3VT", 4) == 0
            ? 1
            : 0;
    auto& stream = part.StreamInfo;
    stream.SType = u16(leader + 18);
    stream.Frame_ID = u64(leader + 8);
    stream.TimeStamp = u64(leader + 20);
    stream.DataSize = u64(trailer + 20);
    if (stream.SType == 1 || stream.SType == 0x4001) {
        auto& image = stream.Data.Ext_Chunk;
        image.Pixel_Type = u32(leader + 28);
        image.Width = u32(leader + 32);
        image.Height = u32(leader + 36);
        image.Offset_X = u32(leader + 40);
        image.Offset_Y = u32(leader + 44);
        image.Padding_X = u16(leader + 48);
        image.Padding_Y = u16(leader + 50);
        image.Size_Y = u32(trailer + 28);
        if (stream.SType == 0x4001) image.Chunk_ID = u32(trailer + 32);
    } else if (stream.SType == 0x4000) {
        stream.Data.Chunk.Chunk_ID = u32(trailer + 28);
    }
}

bool CCameraUSB::CameraInfo(QORCAM_USBCAMERAINFO* info) {
    std::memset(info, 0, sizeof *info);
    std::uint32_t major = 0, minor = 0, bus = 0;
    std::uint64_t capability = 0;
    auto fail = [this] {
        InfoFailed("CCameraUSB::CameraInfo");
        return false;
    };
    if (!DeviceInfo(DEVICE_INFO_CUSTOM_SPEC_MAJOR, &major, sizeof major) ||
        !DeviceInfo(DEVICE_INFO_CUSTOM_SPEC_MINOR, &minor, sizeof minor))
        return fail();
    info->GenCP_Version = (major << 16) | minor;
    if (!TextInfo(DEVICE_INFO_VENDOR, info->VendorName, sizeof info->VendorName) ||
        !TextInfo(DEVICE_INFO_MODEL, info->ModelName, sizeof info->ModelName) ||
        !TextInfo(DEVICE_INFO_CUSTOM_FAMILY_NAME, info->FamilyName, sizeof info->FamilyName) ||
        !TextInfo(DEVICE_INFO_CUSTOM_DEV_VERSION, info->Dev_Version, sizeof info->Dev_Version) ||
        !TextInfo(DEVICE_INFO_CUSTOM_VENDOR_INFO, info->Vendor_Info, sizeof info->Vendor_Info) ||
        !TextInfo(DEVICE_INFO_CUSTOM_SERIAL_NUMBER, info->SerialNumber, sizeof info->SerialNumber) ||
        !TextInfo(DEVICE_INFO_CUSTOM_USER_NAME, info->UserName, sizeof info->UserName))
        return fail();
    if (!DeviceInfo(DEVICE_INFO_CUSTOM_BUS_NUMBER, &bus, sizeof bus)) return fail();
    info->BusNumber = bus;
    if (!DeviceInfo(DEVICE_INFO_CUSTOM_CAPABILITY, &capability, sizeof capability)) return fail();
    info->Dev_Capability = capability;
    return true;
}

} // namespace qorcam::library
