// ReadDescriptionFile: copies a camera's description file out of its memory into the profile folder.
#include "DescriptionReader.h"

#include "CameraSearch.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

namespace qorcam::gigeconfig {

namespace {

constexpr std::uint32_t kChunk = 512;
// Answers without data in a row before the reading counts as failed.
constexpr int kMaxEmptyAnswers = 3;

std::vector<std::string> SplitUrl(const std::string& url) {
    std::vector<std::string> pieces(1);
    for (char c : url) {
        if (c == ':' || c == ';')
            pieces.emplace_back();
        else
            pieces.back() += c;
    }
    return pieces;
}

bool ParseHex(const std::string& text, std::uint32_t* value) {
    if (text.empty() || text.size() > 8) return false;
    char* end = nullptr;
    const unsigned long v = std::strtoul(text.c_str(), &end, 16);
    if (*end != '\0') return false;
    *value = static_cast<std::uint32_t>(v);
    return true;
}

bool PlainFileName(const std::string& name) {
    return !name.empty() && name != "." && name != ".." && name.find('/') == std::string::npos &&
           name.find('\\') == std::string::npos;
}

} // namespace

DescriptionRead ReadDescriptionFile(CGvcpSender& sender, CRequestIds& ids, const CameraEntry& camera,
                                    const std::string& folder,
                                    const std::function<void(const std::string&)>& message) {
    auto block = std::make_unique<GvcpCommandBlock>();
    auto readMem = [&](std::uint32_t address, std::uint16_t length) {
        *block = CameraCommand(camera, 2, address, length, ids);
        return sender.SendNicCmd(*block) == 0;
    };
    if (!readMem(0x0200, kChunk)) {
        message("Camera Read Memory Error");
        return DescriptionRead::UrlFailed;
    }
    const std::size_t urlLength = std::min<std::size_t>(block->length, sizeof block->data);
    const auto* text = reinterpret_cast<const char*>(block->data);
    const auto pieces = SplitUrl(std::string(text, strnlen(text, urlLength)));
    std::uint32_t address = 0, length = 0;
    if (pieces.size() < 4 || pieces[0] != "Local" || !ParseHex(pieces[2], &address) ||
        !ParseHex(pieces[3], &length))
        return DescriptionRead::Skipped;
    if (length > kMaxDescriptionBytes) return DescriptionRead::Failed;

    // The whole chunks up to the next multiple of 512 above the length are read.
    const std::uint32_t rounded = (length / kChunk + 1) * kChunk;
    std::vector<std::uint8_t> buffer(rounded);
    std::uint32_t filled = 0, remaining = rounded;
    int empty = 0;
    while (remaining > 0) {
        if (!readMem(address, static_cast<std::uint16_t>(std::min(remaining, kChunk)))) {
            message("Camera Read Memory Error");
            return DescriptionRead::Failed;
        }
        const std::uint32_t got = std::min<std::uint32_t>({block->length, kChunk, remaining});
        if (got == 0) {
            if (filled >= length) break; // the file is whole; only the rounding is missing
            if (++empty >= kMaxEmptyAnswers) {
                message("Camera Read Memory Error");
                return DescriptionRead::Failed;
            }
            remaining = std::min(remaining, length % kChunk);
            continue;
        }
        empty = 0;
        std::memcpy(buffer.data() + filled, block->data, got);
        filled += got;
        address += got;
        remaining -= got;
    }

    // A short file is not written: the camera's file is either whole or not there.
    if (filled < length) {
        message("Camera Read Memory Error");
        return DescriptionRead::Failed;
    }
    if (!PlainFileName(camera.xmlFileName)) return DescriptionRead::Failed;
    std::unique_ptr<FILE, int (*)(FILE*)> file(std::fopen((folder + "/" + camera.xmlFileName).c_str(), "wb"),
                                               &std::fclose);
    if (!file) return DescriptionRead::Failed;
    if (std::fwrite(buffer.data(), 1, length, file.get()) != length) return DescriptionRead::Failed;
    return DescriptionRead::Written;
}

} // namespace qorcam::gigeconfig
