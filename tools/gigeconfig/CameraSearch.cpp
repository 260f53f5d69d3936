// The camera search: discovery answers to camera entries, their status and description-file names.
#include "CameraSearch.h"

#include "GigeIoctl.h"
#include "IpText.h"

#include <array>
#include <cstring>
#include <memory>
#include <thread>

namespace qorcam::gigeconfig {

namespace {

std::vector<std::string> Split(const std::string& text, const char* separators) {
    std::vector<std::string> pieces;
    std::string piece;
    for (char c : text) {
        if (std::strchr(separators, c)) {
            pieces.push_back(piece);
            piece.clear();
        } else {
            piece += c;
        }
    }
    pieces.push_back(piece);
    return pieces;
}

// Fixed-size text fields from a camera are not always zero-terminated.
std::string FieldText(const char* field, std::size_t size) {
    return std::string(field, strnlen(field, size));
}

} // namespace

GvcpCommandBlock CameraCommand(const CameraEntry& camera, std::uint32_t command, std::uint32_t address,
                               std::uint16_t length, CRequestIds& ids) {
    GvcpCommandBlock block{};
    block.command = command;
    block.adapterNumber = camera.adapterNumber;
    block.address = address;
    block.length = length;
    block.requestId = ids.Next();
    std::memcpy(block.mac, camera.mac.data(), 6);
    block.ip = camera.ip;
    return block;
}

std::optional<DescriptionName> ParseDescriptionUrl(const std::string& url) {
    const auto pieces = Split(url, ":;");
    std::string file;
    if (pieces[0] == "Local" || pieces[0] == "File") {
        if (pieces.size() < 2) return std::nullopt;
        file = pieces[1];
        if (file.find(".zip") == std::string::npos && file.find(".xml") == std::string::npos)
            return std::nullopt;
    } else if (pieces[0] == "http") {
        std::string rest;
        for (std::size_t i = 1; i < pieces.size(); ++i)
            rest += (i > 1 ? ":" : "") + pieces[i];
        for (const auto& p : Split(rest, "/"))
            if (p.find(".xml") != std::string::npos) {
                file = p;
                break;
            }
        if (file.empty()) return std::nullopt;
    } else {
        return std::nullopt;
    }
    std::size_t cut = file.find(".zip");
    if (cut == std::string::npos) cut = file.find(".xml");
    std::string base = file.substr(0, cut);
    for (char& c : base)
        if (c == '.') c = '_';
    return DescriptionName{file, base};
}

CameraEntry CameraFromAnswer(const GigeDiscoveryAnswer& a) {
    CameraEntry c;
    c.adapterNumber = a.adapterNumber;
    std::memcpy(c.mac.data(), a.mac, 6);
    c.ipConfigOptions = a.ipConfigOptions;
    c.ipConfigCurrent = a.ipConfigCurrent;
    c.ip = a.ip;
    c.mask = a.mask;
    c.gateway = a.gateway;
    c.vendorName = FieldText(a.manufacturerName, sizeof a.manufacturerName);
    c.modelName = FieldText(a.modelName, sizeof a.modelName);
    c.userName = FieldText(a.userDefinedName, sizeof a.userDefinedName);
    return c;
}

void RemoveDuplicateCameras(std::vector<CameraEntry>& cameras) {
    std::vector<CameraEntry> kept;
    for (auto& c : cameras) {
        bool seen = false;
        for (const auto& k : kept)
            seen = seen || k.mac == c.mac;
        if (!seen) kept.push_back(std::move(c));
    }
    cameras = std::move(kept);
}

std::optional<std::uint32_t> StatusFromAddresses(const CameraEntry& camera,
                                                 const std::vector<NicEntry>& nics) {
    const NicEntry* nic = nullptr;
    for (const auto& n : nics)
        if (n.adapterNumber == camera.adapterNumber) {
            nic = &n;
            break;
        }
    if (!nic) return kStatusOtherError;
    const std::uint32_t mask = WiderMask(nic->mask, camera.mask);
    const bool outside = (camera.ip & mask) != (nic->ip & mask);
    if (nic->windowsIp) {
        if (outside) return kStatusSubnetOutside;
    } else {
        if (!(camera.ipConfigCurrent & 2)) return kStatusDhcpOff;
        if (outside) return kStatusInitializing;
    }
    return std::nullopt;
}

bool ReadCameraDescription(CameraEntry& camera, CGvcpSender& sender, CRequestIds& ids) {
    camera.status = kStatusOtherError;
    auto block = std::make_unique<GvcpCommandBlock>();
    auto prepare = [&](std::uint32_t command, std::uint32_t address, std::uint16_t length) {
        *block = CameraCommand(camera, command, address, length, ids);
    };
    prepare(1, 0x0934, 4);
    if (sender.SendNicCmd(*block) != 0) return false;
    if (block->length == 4) {
        std::uint32_t capability = 0;
        std::memcpy(&capability, block->data, 4);
        camera.writeMem = (capability >> 1) & 1;
    }
    prepare(2, 0x0200, 512);
    if (sender.SendNicCmd(*block) != 0) return false;
    // The URL is text from the camera: only what it sent, never past the block.
    const std::size_t length = std::min<std::size_t>(block->length, sizeof block->data);
    const std::string url(reinterpret_cast<const char*>(block->data),
                          strnlen(reinterpret_cast<const char*>(block->data), length));
    if (auto name = ParseDescriptionUrl(url)) {
        camera.xmlFileName = name->fileName;
        camera.xmlBaseName = name->baseName;
        camera.status = kStatusOk;
    }
    return true;
}

std::vector<CameraEntry> CollectDiscoveryAnswers(CGigeDevice& device, const SearchTimings& timings) {
    constexpr std::size_t kRequests = 100;
    struct Slot {
        devio::Overlapped overlapped;
        std::array<std::uint8_t, 802> answer{};
    };
    std::vector<std::unique_ptr<Slot>> slots;
    auto& handle = device.Handle();
    for (std::size_t i = 0; i < kRequests; ++i) {
        auto slot = std::make_unique<Slot>();
        const auto status =
            handle.DeviceIoControl(gige::IOCTL_GIGE_GetDiscoveryAck, nullptr, 0, slot->answer.data(),
                                   slot->answer.size(), slot->overlapped);
        slots.push_back(std::move(slot));
        if (status != devio::STATUS_PENDING) break;
    }
    std::vector<CameraEntry> cameras;
    if (slots.size() == kRequests && device.StartDiscovery() == devio::STATUS_SUCCESS) {
        for (std::size_t i = 0; i < slots.size(); ++i) {
            Slot& s = *slots[i];
            if (!s.overlapped.CompletionEvent().Wait(i == 0 ? timings.firstMs : timings.nextMs)) break;
            if (s.overlapped.Status() != devio::STATUS_SUCCESS ||
                s.overlapped.OutputBytes() < sizeof(GigeDiscoveryAnswer))
                break;
            GigeDiscoveryAnswer answer;
            std::memcpy(&answer, s.answer.data(), sizeof answer);
            cameras.push_back(CameraFromAnswer(answer));
        }
    }
    handle.CancelIo();
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    for (auto& s : slots) {
        std::uint64_t bytes = 0;
        handle.GetOverlappedResult(s->overlapped, &bytes, true);
    }
    return cameras;
}

} // namespace qorcam::gigeconfig
