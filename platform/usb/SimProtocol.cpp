// SimProtocol: checks of the simulated device's records, and where the devices live.
#include "usb/SimProtocol.h"

#include "os/Paths.h"

#include <array>
#include <cctype>

namespace qorcam::usb::sim {

namespace {

constexpr std::array<Status, 10> kWireOrder = {
    Status::Success,  Status::Timeout,          Status::Cancelled, Status::Stall,        Status::NoDevice,
    Status::Overflow, Status::InvalidParameter, Status::Busy,      Status::NotSupported, Status::IoError};

} // namespace

std::uint32_t ToWire(Status status) {
    for (std::size_t i = 0; i < kWireOrder.size(); ++i)
        if (kWireOrder[i] == status) return static_cast<std::uint32_t>(i);
    return static_cast<std::uint32_t>(kWireOrder.size() - 1);
}

std::optional<Status> FromWire(std::uint32_t value) {
    if (value >= kWireOrder.size()) return std::nullopt;
    return kWireOrder[value];
}

bool DeviceAccepts(const RecordHeader& header) {
    if (header.magic != kRecordMagic || header.flags != 0) return false;
    switch (static_cast<RecordType>(header.type)) {
    case RecordType::Control:
        return header.bodyLength >= sizeof(ControlBody) && header.bodyLength <= sizeof(ControlBody) + 0xFFFF;
    case RecordType::BulkOut:
        return header.bodyLength >= sizeof(TransferBody) &&
               header.bodyLength <= sizeof(TransferBody) + kMaxTransferLength;
    case RecordType::BulkIn:
        return header.bodyLength == sizeof(TransferBody);
    case RecordType::Cancel:
    case RecordType::Claim:
        return header.bodyLength == 0;
    case RecordType::SimCommand:
        return header.bodyLength >= 1 && header.bodyLength <= kMaxCommandText;
    default:
        return false;
    }
}

bool HostAccepts(const RecordHeader& header) {
    if (header.magic != kRecordMagic || header.flags != 0) return false;
    switch (static_cast<RecordType>(header.type)) {
    case RecordType::Completion:
        return header.bodyLength >= sizeof(CompletionBody) &&
               header.bodyLength <= sizeof(CompletionBody) + kMaxTransferLength;
    case RecordType::SimReply:
        return header.bodyLength <= kMaxCommandText;
    default:
        return false;
    }
}

std::string DeviceFolder() {
    const std::string folder = os::Paths::Run() + "/usbsim";
    os::Paths::CreateFolder(folder);
    return folder;
}

bool ValidDeviceName(const std::string& name) {
    if (name.empty() || name.size() > 64 || name[0] == '.') return false;
    for (unsigned char c : name)
        if (!std::isalnum(c) && c != '-' && c != '_' && c != '.') return false;
    return true;
}

} // namespace qorcam::usb::sim
