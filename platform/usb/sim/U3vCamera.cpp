// U3vCamera: registers, the GenCP command channel, events and block streaming of the simulated camera.
#include "U3vCamera.h"

#include "DeviceDescription.h"
#include "LittleEndian.h"
#include "U3vRegisters.h"

#include "usb/Descriptors.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <sstream>

namespace qorcam::usb::sim {

using namespace u3v;

namespace {

std::vector<std::uint8_t> ControlPacket(std::uint32_t prefix, std::uint16_t flagsOrStatus,
                                        std::uint16_t command, std::uint16_t requestId,
                                        std::span<const std::uint8_t> data) {
    std::vector<std::uint8_t> packet;
    Put32(packet, prefix);
    Put16(packet, flagsOrStatus);
    Put16(packet, command);
    Put16(packet, static_cast<std::uint32_t>(data.size()));
    Put16(packet, requestId);
    packet.insert(packet.end(), data.begin(), data.end());
    return packet;
}

std::uint64_t NameHash(const std::string& name) {
    std::uint64_t hash = 1469598103934665603ull;
    for (unsigned char c : name)
        hash = (hash ^ c) * 1099511628211ull;
    return hash;
}

} // namespace

U3vCamera::U3vCamera(CameraOptions options) : options_(std::move(options)) {
    const std::uint64_t hash = NameHash(options_.name);
    if (options_.serial.empty()) {
        char serial[16];
        std::snprintf(serial, sizeof(serial), "%08llu", static_cast<unsigned long long>(hash % 100000000ull));
        options_.serial = serial;
    }
    if (options_.guid.empty()) {
        char guid[16];
        std::snprintf(guid, sizeof(guid), "%012llX", static_cast<unsigned long long>(hash >> 16));
        options_.guid = guid;
    }
    BuildConfiguration();
    BuildMemory();
}

std::vector<std::uint8_t> U3vCamera::DeviceDescriptor() const {
    std::vector<std::uint8_t> d{18, kDescriptorDevice};
    Put16(d, options_.usb2 ? 0x0210 : 0x0300);
    // Miscellaneous class with interface association descriptors.
    d.insert(d.end(), {0xEF, 0x02, 0x01, static_cast<std::uint8_t>(options_.usb2 ? 64 : 9)});
    Put16(d, 0x1209); // vendor
    Put16(d, 0x5556); // product
    Put16(d, 0x0100);
    d.insert(d.end(), {1, 2, 3, 1});
    return d;
}

void U3vCamera::BuildConfiguration() {
    const std::uint16_t packet = MaxPacket();
    const std::uint8_t interfaces = options_.eventInterface ? 3 : 2;
    std::vector<std::uint8_t>& c = configuration_;
    c = {9, kDescriptorConfiguration, 0, 0, interfaces, 1, 0, 0x80, 0x32};
    c.insert(c.end(),
             {8, kDescriptorInterfaceAssociation, 0, interfaces, kClassMiscellaneous, kSubclassU3v, 0, 0});
    auto endpoint = [&](std::uint8_t address) {
        c.insert(c.end(), {7, kDescriptorEndpoint, address, kTransferTypeBulk});
        Put16(c, packet);
        c.push_back(0);
        if (!options_.usb2) c.insert(c.end(), {6, 0x30, 0, 0, 0, 0}); // SuperSpeed companion
    };
    auto interface = [&](std::uint8_t number, std::uint8_t endpoints, std::uint8_t protocol) {
        c.insert(c.end(), {9, kDescriptorInterface, number, 0, endpoints, kClassMiscellaneous, kSubclassU3v,
                           protocol, 0});
    };
    interface(0, 2, kU3vProtocolControl);
    if (options_.deviceInfo) {
        c.insert(c.end(), {20, kDescriptorU3vDeviceInfo, 0x01});
        Put32(c, 0x00010000); // GenCP 1.0: minor, then major
        Put32(c, 0x00010000); // USB3 Vision 1.0
        // GUID, vendor, model, family, device version, manufacturer info,
        // serial, user-defined name; then the speeds: high and super.
        c.insert(c.end(), {4, 1, 2, 5, 6, 7, 3, 8, static_cast<std::uint8_t>(options_.usb2 ? 0x04 : 0x0C)});
    }
    endpoint(kEndpointControlOut);
    endpoint(kEndpointControlIn);
    std::uint8_t next = 1;
    if (options_.eventInterface) {
        interface(next++, 1, kU3vProtocolEvent);
        endpoint(kEndpointEvent);
    }
    interface(next, 1, kU3vProtocolStream);
    endpoint(kEndpointStream);
    c[2] = static_cast<std::uint8_t>(c.size());
    c[3] = static_cast<std::uint8_t>(c.size() >> 8);
}

std::optional<std::u16string> U3vCamera::String(std::uint8_t index) const {
    std::string text;
    switch (index) {
    case 1:
        text = options_.vendor;
        break;
    case 2:
        text = options_.model;
        break;
    case 3:
        text = options_.serial;
        break;
    case 4:
        text = options_.guid;
        break;
    case 5:
        text = options_.family;
        break;
    case 6:
        text = options_.deviceVersion;
        break;
    case 7:
        text = options_.manufacturerInfo;
        break;
    case 8:
        text = GetString(abrm_, kAbrmUserDefinedName);
        break;
    default:
        return std::nullopt;
    }
    return std::u16string(text.begin(), text.end());
}

void U3vCamera::BuildMemory() {
    abrm_ = {0, std::vector<std::uint8_t>(kAbrmSize)};
    Set32(abrm_, kAbrmGenCpVersion, 0x00010000);
    SetString(abrm_, kAbrmManufacturerName, options_.vendor);
    SetString(abrm_, kAbrmModelName, options_.model);
    SetString(abrm_, kAbrmFamilyName, options_.family);
    SetString(abrm_, kAbrmDeviceVersion, options_.deviceVersion);
    SetString(abrm_, kAbrmManufacturerInfo, options_.manufacturerInfo);
    SetString(abrm_, kAbrmSerialNumber, options_.serial);
    SetString(abrm_, kAbrmUserDefinedName, options_.userDefinedName);
    // User-defined name, timestamp, family name, SBRM, written length.
    Set64(abrm_, kAbrmDeviceCapability, 0xB09);
    Set32(abrm_, kAbrmMaxDeviceResponseTime, 100);
    Set64(abrm_, kAbrmManifestTableAddress, kManifestBase);
    Set64(abrm_, kAbrmSbrmAddress, kSbrmBase);
    Set64(abrm_, kAbrmTimestampIncrement, 1);
    Set32(abrm_, kAbrmProtocolEndianness, 0xFFFFFFFF);
    Set32(abrm_, kAbrmImplementationEndianness, 0xFFFFFFFF);

    sbrm_ = {kSbrmBase, std::vector<std::uint8_t>(kSbrmSize)};
    Set32(sbrm_, kSbrmU3vVersion, 0x00010000);
    Set64(sbrm_, kSbrmU3vcpCapability, options_.eventInterface ? 0x3 : 0x1);
    Set32(sbrm_, kSbrmMaxCommandTransfer, 1024);
    Set32(sbrm_, kSbrmMaxAckTransfer, 1024);
    Set32(sbrm_, kSbrmStreamChannels, 1);
    Set64(sbrm_, kSbrmSirmAddress, kSirmBase);
    Set32(sbrm_, kSbrmSirmLength, kSirmSize);
    Set64(sbrm_, kSbrmEirmAddress, options_.eventInterface ? kEirmBase : 0);
    Set32(sbrm_, kSbrmEirmLength, options_.eventInterface ? kEirmSize : 0);
    Set32(sbrm_, kSbrmCurrentSpeed, options_.usb2 ? 0x4 : 0x8);

    sirm_ = {kSirmBase, std::vector<std::uint8_t>(kSirmSize)};
    Set32(sirm_, kSiRequiredLeaderSize, kLeaderSize);
    Set32(sirm_, kSiRequiredTrailerSize, kTrailerSize);
    eirm_ = {kEirmBase, std::vector<std::uint8_t>(options_.eventInterface ? kEirmSize : 0)};
    if (options_.eventInterface) Set32(eirm_, kEiMaxEventTransfer, 256);

    features_ = {kFeatureBase, std::vector<std::uint8_t>(kFeatureSize)};
    Set32(features_, kFeatureWidth, options_.width);
    Set32(features_, kFeatureHeight, options_.height);
    Set32(features_, kFeaturePixelFormat, options_.pixelFormat);
    UpdateImageSize();

    const std::string xml = DeviceDescription::Xml(options_.vendor, options_.model);
    if (options_.zip) {
        description_ = {kDescriptionBase, DeviceDescription::Zip(options_.model + ".xml", xml)};
    } else {
        description_ = {kDescriptionBase, std::vector<std::uint8_t>(xml.begin(), xml.end())};
    }
    const std::uint64_t fileSize = description_.bytes.size();
    // Hosts read in whole 4-byte words, so the last read may pass the end
    // of the file by up to 3 bytes: they read zeros there.
    description_.bytes.resize((fileSize + 7) / 8 * 8);
    manifest_ = {kManifestBase, {}};
    Put64(manifest_.bytes, 1);
    Put32(manifest_.bytes, 1u << 24); // file version 1.0.0
    // Device description, compression in bits 10-15, schema 1.1.
    Put32(manifest_.bytes, (options_.zip ? 1u << 10 : 0u) | 1u << 16 | 1u << 24);
    Put64(manifest_.bytes, kDescriptionBase);
    Put64(manifest_.bytes, fileSize);
    manifest_.bytes.resize(8 + 64); // no SHA-1 given
}

void U3vCamera::UpdateImageSize() {
    const std::uint64_t payload =
        static_cast<std::uint64_t>(Get32(features_, kFeatureWidth)) * Get32(features_, kFeatureHeight);
    Set32(features_, kFeaturePayloadSize, static_cast<std::uint32_t>(payload));
    Set64(sirm_, kSiRequiredPayloadSize, payload);
    // The camera's own transfer layout: 64 KiB transfers, the rest in whole
    // packets, the last bytes on their own.
    const std::uint32_t packet = MaxPacket();
    std::uint32_t size = static_cast<std::uint32_t>(std::min<std::uint64_t>(payload, 65536));
    if (size >= packet) size -= size % packet;
    const std::uint32_t count = size == 0 ? 0 : static_cast<std::uint32_t>(payload / size);
    const std::uint32_t rest = static_cast<std::uint32_t>(payload - static_cast<std::uint64_t>(count) * size);
    Set32(sirm_, kSiPayloadTransferSize, size);
    Set32(sirm_, kSiPayloadTransferCount, count);
    Set32(sirm_, kSiPayloadFinalTransfer1Size, rest - rest % packet);
    Set32(sirm_, kSiPayloadFinalTransfer2Size, rest % packet);
}

std::uint32_t U3vCamera::Get32(const Region& region, std::uint64_t offset) const {
    std::uint32_t value = 0;
    std::memcpy(&value, region.bytes.data() + offset, 4);
    return value;
}
void U3vCamera::Set32(Region& region, std::uint64_t offset, std::uint32_t value) {
    std::memcpy(region.bytes.data() + offset, &value, 4);
}
void U3vCamera::Set64(Region& region, std::uint64_t offset, std::uint64_t value) {
    std::memcpy(region.bytes.data() + offset, &value, 8);
}
void U3vCamera::SetString(Region& region, std::uint64_t offset, const std::string& text) {
    std::memset(region.bytes.data() + offset, 0, kStringLength);
    std::memcpy(region.bytes.data() + offset, text.data(),
                std::min<std::size_t>(text.size(), kStringLength - 1));
}
std::string U3vCamera::GetString(const Region& region, std::uint64_t offset) const {
    const char* text = reinterpret_cast<const char*>(region.bytes.data() + offset);
    return std::string(text, strnlen(text, kStringLength));
}

std::uint64_t U3vCamera::Timestamp() const {
    return static_cast<std::uint64_t>(
        std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now() - start_)
            .count());
}

const U3vCamera::Region* U3vCamera::FindRegion(std::uint64_t address, std::uint64_t length) const {
    for (const Region* region : {&abrm_, &sbrm_, &sirm_, &eirm_, &manifest_, &features_, &description_}) {
        const std::uint64_t size = region->bytes.size();
        if (address >= region->base && address - region->base < size &&
            length <= size - (address - region->base))
            return region;
    }
    return nullptr;
}

std::uint16_t U3vCamera::ReadMemory(std::uint64_t address, std::uint32_t length,
                                    std::vector<std::uint8_t>& out) const {
    out.clear();
    const Region* region = FindRegion(address, length);
    if (region == nullptr) return kStatusInvalidAddress;
    const auto from = region->bytes.begin() + static_cast<std::ptrdiff_t>(address - region->base);
    out.assign(from, from + length);
    return kStatusSuccess;
}

std::uint16_t U3vCamera::WriteMemory(std::uint64_t address, std::span<const std::uint8_t> data) {
    if (data.empty()) return kStatusSuccess;
    const Region* region = FindRegion(address, data.size());
    if (region == nullptr) return kStatusInvalidAddress;
    const std::uint64_t offset = address - region->base;
    const std::uint64_t end = offset + data.size();
    auto inside = [&](std::uint64_t from, std::uint64_t to) { return offset >= from && end <= to; };

    if (region == &abrm_) {
        Region& abrm = abrm_;
        if (inside(kAbrmUserDefinedName, kAbrmUserDefinedName + kStringLength) ||
            inside(kAbrmDeviceConfiguration, kAbrmHeartbeatTimeout + 4)) {
            std::copy(data.begin(), data.end(), abrm.bytes.begin() + static_cast<std::ptrdiff_t>(offset));
            abrm.bytes[kAbrmUserDefinedName + kStringLength - 1] = 0;
            return kStatusSuccess;
        }
        if (offset == kAbrmTimestampLatch && data.size() == 4) {
            if (data[0] & 1) Set64(abrm, kAbrmTimestamp, Timestamp());
            return kStatusSuccess;
        }
        return kStatusWriteProtect;
    }
    if (region == &sbrm_) {
        if (inside(kSbrmU3vcpConfiguration, kSbrmU3vcpConfiguration + 8)) {
            std::copy(data.begin(), data.end(), sbrm_.bytes.begin() + static_cast<std::ptrdiff_t>(offset));
            return kStatusSuccess;
        }
        return kStatusWriteProtect;
    }
    if (region == &manifest_ || region == &description_) return kStatusWriteProtect;

    // The register maps take whole, aligned 4-byte registers.
    if (offset % 4 != 0 || data.size() % 4 != 0) return kStatusBadAlignment;
    for (std::size_t i = 0; i < data.size(); i += 4) {
        std::uint32_t value;
        std::memcpy(&value, data.data() + i, 4);
        const std::uint16_t status = WriteRegister(*region, offset + i, value);
        if (status != kStatusSuccess) return status;
    }
    return kStatusSuccess;
}

std::uint16_t U3vCamera::WriteRegister(const Region& region, std::uint64_t offset, std::uint32_t value) {
    if (&region == &sirm_) {
        const bool enabled = (Get32(sirm_, kSiControl) & 1) != 0;
        switch (offset) {
        case kSiControl:
            Set32(sirm_, kSiControl, value & 1);
            if ((value & 1) && !enabled) {
                layout_ = {Get32(sirm_, kSiPayloadTransferSize), Get32(sirm_, kSiPayloadTransferCount),
                           Get32(sirm_, kSiPayloadFinalTransfer1Size),
                           Get32(sirm_, kSiPayloadFinalTransfer2Size)};
                blockId_ = 0;
            }
            UpdateStreaming();
            return kStatusSuccess;
        case kSiMaxLeaderSize:
        case kSiMaxTrailerSize:
        case kSiPayloadTransferSize:
        case kSiPayloadTransferCount:
        case kSiPayloadFinalTransfer1Size:
        case kSiPayloadFinalTransfer2Size:
            if (enabled) return kStatusAccessDenied;
            // One transfer never exceeds what a record carries.
            if (offset != kSiPayloadTransferCount && value > (16u << 20)) return kStatusInvalidParameter;
            Set32(sirm_, offset, value);
            return kStatusSuccess;
        default:
            return kStatusWriteProtect;
        }
    }
    if (&region == &eirm_) {
        if (offset == kEiControl) {
            Set32(eirm_, kEiControl, value & 1);
            return kStatusSuccess;
        }
        if (offset == kEiEventTestControl) {
            if (value & 1) SendEvent(kEventIdTest, false);
            return kStatusSuccess;
        }
        return kStatusWriteProtect;
    }
    // The camera's features.
    switch (offset) {
    case kFeatureWidth:
    case kFeatureHeight:
    case kFeaturePixelFormat: {
        if (acquiring_) return kStatusAccessDenied;
        const bool valid = offset == kFeatureWidth    ? value >= 16 && value <= 4096 && value % 8 == 0
                           : offset == kFeatureHeight ? value >= 2 && value <= 4096 && value % 2 == 0
                                                      : value == kPixelMono8 || value == kPixelBayerRG8;
        if (!valid) return kStatusInvalidParameter;
        Set32(features_, offset, value);
        UpdateImageSize();
        return kStatusSuccess;
    }
    case kFeatureAcquisitionStart:
        acquiring_ = true;
        UpdateStreaming();
        return kStatusSuccess;
    case kFeatureAcquisitionStop:
        acquiring_ = false;
        UpdateStreaming();
        return kStatusSuccess;
    default:
        return kStatusWriteProtect;
    }
}

void U3vCamera::OnBulkOut(std::uint8_t endpoint, std::span<const std::uint8_t> data) {
    if (endpoint == kEndpointControlOut) HandleCommand(data);
}

void U3vCamera::HandleCommand(std::span<const std::uint8_t> packet) {
    if (packet.size() < 12) return;
    const std::uint32_t prefix = Get16(packet, 0) | static_cast<std::uint32_t>(Get16(packet, 2)) << 16;
    const std::uint16_t flags = Get16(packet, 4);
    const std::uint16_t command = Get16(packet, 6);
    const std::uint16_t length = Get16(packet, 8);
    const std::uint16_t requestId = Get16(packet, 10);
    // Hosts acknowledge events with either prefix; they are only counted.
    if (command == kEventAck && (prefix == kPrefixControl || prefix == kPrefixEvent)) {
        ++eventAcks_;
        return;
    }
    // Without the prefix it is no command: dropped without an answer.
    if (prefix != kPrefixControl) return;
    if ((flags & kFlagResend) && !lastAck_.empty() && requestId == lastRequestId_) {
        Deliver(lastAck_);
        return;
    }

    const auto body = packet.subspan(12);
    std::uint16_t status = kStatusSuccess;
    std::uint16_t ackCommand = static_cast<std::uint16_t>(command + 1);
    std::vector<std::uint8_t> ackData;
    const std::uint32_t maxCommand = Get32(sbrm_, kSbrmMaxCommandTransfer);
    const std::uint32_t maxAck = Get32(sbrm_, kSbrmMaxAckTransfer);
    if (length != body.size() || packet.size() > maxCommand) {
        status = kStatusInvalidHeader;
    } else if (command == kReadMemCmd) {
        if (length != 12) {
            status = kStatusInvalidHeader;
        } else {
            const std::uint16_t count = Get16(body, 10);
            if (count > maxAck - 12)
                status = kStatusInvalidParameter;
            else
                status = ReadMemory(Get64(body, 0), count, ackData);
        }
    } else if (command == kWriteMemCmd) {
        if (length < 8) {
            status = kStatusInvalidHeader;
        } else {
            status = WriteMemory(Get64(body, 0), body.subspan(8));
            Put16(ackData, 0);
            Put16(ackData, status == kStatusSuccess ? length - 8u : 0u);
        }
    } else {
        status = kStatusNotImplemented;
    }
    if (!(flags & kFlagAckRequested)) return;
    if (status != kStatusSuccess && command == kReadMemCmd) ackData.clear();
    auto ack = ControlPacket(kPrefixControl, status, ackCommand, requestId, ackData);
    lastAck_ = ack;
    lastRequestId_ = requestId;

    if (options_.pendingAcks > 0) {
        --options_.pendingAcks;
        std::vector<std::uint8_t> pending;
        Put16(pending, 0);
        Put16(pending, options_.pendingTimeoutMs);
        server_->Send(kEndpointControlIn,
                      ControlPacket(kPrefixControl, kStatusSuccess, kPendingAck, requestId, pending));
        server_->Schedule(options_.pendingDelayMs, [this, ack] { Deliver(ack); });
        return;
    }
    Deliver(std::move(ack));
}

void U3vCamera::Deliver(std::vector<std::uint8_t> ack) {
    if (options_.dropAcks > 0) {
        --options_.dropAcks;
        return;
    }
    server_->Send(kEndpointControlIn, std::move(ack));
}

bool U3vCamera::SendEvent(std::uint16_t id, bool twice) {
    if (!options_.eventInterface || (Get32(eirm_, kEiControl) & 1) == 0) return false;
    std::vector<std::uint8_t> data;
    Put16(data, 0);
    Put16(data, id);
    Put64(data, Timestamp());
    const auto packet = ControlPacket(kPrefixEvent, kFlagAckRequested, kEventCmd, ++eventRequestId_, data);
    server_->Send(kEndpointEvent, packet);
    if (twice) server_->Send(kEndpointEvent, packet);
    return true;
}

void U3vCamera::UpdateStreaming() {
    const bool run = acquiring_ && (Get32(sirm_, kSiControl) & 1) != 0;
    if (run == streaming_) return;
    streaming_ = run;
    ++generation_;
    if (run) {
        const std::uint64_t generation = generation_;
        server_->Schedule(0, [this, generation] { FrameTick(generation); });
    }
}

void U3vCamera::FrameTick(std::uint64_t generation) {
    if (!streaming_ || generation != generation_) return;
    server_->Schedule(1000 / std::max<std::uint32_t>(options_.framesPerSecond, 1),
                      [this, generation] { FrameTick(generation); });
    if (server_->Halted(kEndpointStream) || server_->Queued(kEndpointStream) > 0) {
        ++framesDropped_;
        return;
    }
    SendBlock();
    if (options_.disconnectAfterBlocks != 0 && blocksSent_ >= options_.disconnectAfterBlocks) {
        // No further block; the host gets a moment to take the last one.
        ++generation_;
        server_->Schedule(100, [this] { server_->Stop(); });
    }
}

void U3vCamera::SendBlock() {
    const std::uint32_t width = Get32(features_, kFeatureWidth);
    const std::uint32_t height = Get32(features_, kFeatureHeight);
    const std::uint32_t format = Get32(features_, kFeaturePixelFormat);
    const std::uint64_t payloadSize = static_cast<std::uint64_t>(width) * height;
    const std::uint64_t id = blockId_++;
    const std::uint64_t timestamp = Timestamp();

    std::vector<std::uint8_t> leader;
    Put32(leader, kMagicLeader);
    Put16(leader, 0);
    Put16(leader, kLeaderSize);
    Put64(leader, id);
    Put16(leader, 0);
    Put16(leader, kPayloadImage);
    Put64(leader, timestamp);
    Put32(leader, format);
    Put32(leader, width);
    Put32(leader, height);
    Put32(leader, 0); // offset x
    Put32(leader, 0); // offset y
    Put16(leader, 0); // padding x
    Put16(leader, 0);
    server_->Send(kEndpointStream, std::move(leader));

    // A ramp that moves by one grey level per block.
    std::vector<std::uint8_t> image(payloadSize);
    for (std::uint32_t y = 0; y < height; ++y)
        for (std::uint32_t x = 0; x < width; ++x)
            image[static_cast<std::size_t>(y) * width + x] = static_cast<std::uint8_t>(x + y + id);

    std::uint64_t sent = 0;
    auto transfer = [&](std::uint32_t size) {
        const std::uint64_t length = std::min<std::uint64_t>(size, payloadSize - sent);
        if (length == 0) return;
        server_->Send(kEndpointStream,
                      std::vector<std::uint8_t>(image.begin() + static_cast<std::ptrdiff_t>(sent),
                                                image.begin() + static_cast<std::ptrdiff_t>(sent + length)));
        sent += length;
    };
    for (std::uint32_t i = 0; i < layout_.count && sent < payloadSize; ++i)
        transfer(layout_.size);
    transfer(layout_.final1);
    transfer(layout_.final2);

    std::vector<std::uint8_t> trailer;
    Put32(trailer, kMagicTrailer);
    Put16(trailer, 0);
    Put16(trailer, kTrailerSize);
    Put64(trailer, id);
    // A layout too small for the image loses the rest, and says so.
    Put16(trailer, sent < payloadSize ? kStatusDataDiscarded : kStatusSuccess);
    Put16(trailer, 0);
    Put64(trailer, sent);
    Put32(trailer, width == 0 ? 0 : static_cast<std::uint32_t>(sent / width));
    server_->Send(kEndpointStream, std::move(trailer));
    ++blocksSent_;
}

void U3vCamera::OnHaltCleared(std::uint8_t endpoint) {
    // The rest of a block interrupted by the halt is of no use to the host.
    if (endpoint == kEndpointStream) server_->Flush(kEndpointStream);
}

void U3vCamera::OnReleased() {
    // The next host finds the camera as after a reset of the device.
    acquiring_ = false;
    Set32(sirm_, kSiControl, 0);
    if (options_.eventInterface) Set32(eirm_, kEiControl, 0);
    lastAck_.clear();
    UpdateStreaming();
}

std::string U3vCamera::OnCommand(const std::string& text) {
    std::istringstream in(text);
    std::string verb;
    in >> verb;
    auto number = [&](std::uint32_t fallback) {
        std::string word;
        if (!(in >> word)) return fallback;
        try {
            return static_cast<std::uint32_t>(std::stoul(word, nullptr, 0));
        } catch (...) {
            return fallback;
        }
    };
    if (verb == "drop-ack") {
        options_.dropAcks += number(1);
        return "ok";
    }
    if (verb == "pending-ack") {
        options_.pendingTimeoutMs = std::min<std::uint32_t>(number(500), 0xFFFF);
        options_.pendingDelayMs = number(100);
        options_.pendingAcks = number(1);
        return "ok";
    }
    if (verb == "stall") {
        const std::uint32_t endpoint = number(0);
        if (endpoint == 0 || endpoint > 0xFF) return "error: stall needs an endpoint";
        server_->Halt(static_cast<std::uint8_t>(endpoint));
        return "ok";
    }
    if (verb == "event") {
        const std::uint32_t id = number(kEventIdTest);
        std::string mode;
        in >> mode;
        return SendEvent(static_cast<std::uint16_t>(id), mode == "repeat") ? "ok"
                                                                           : "error: events are disabled";
    }
    if (verb == "disconnect") {
        server_->Stop();
        return "ok";
    }
    if (verb == "status") {
        std::ostringstream out;
        out << "acquiring=" << acquiring_ << " streaming=" << streaming_ << " blocks=" << blocksSent_
            << " dropped=" << framesDropped_ << " event-acks=" << eventAcks_
            << " claimed=" << (server_->Claimed() ? 1 : 0);
        return out.str();
    }
    return "error: unknown command";
}

} // namespace qorcam::usb::sim
