// DescriptionLoader: URL parsing, device memory and file reads, unzipping, add-on and node binding.
#include "description/DescriptionLoader.h"

#include "description/ZipReader.h"

#include "genapi/GenericException.h"
#include "os/Paths.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <vector>

namespace qorcam::description {

namespace {

constexpr int32_t URL_INFO_URL = 0;
constexpr size_t kUrlBufferSize = 2048;

[[noreturn]] void Throw(const char* text) {
    throw DescriptionError(text);
}

std::string Upper(std::string s) {
    for (char& c : s)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return s;
}

/// Hexadecimal up to the first character that is no hex digit; false when
/// the number does not fit 64 bits.
bool ParseHex(const std::string& text, uint64_t& value) {
    value = 0;
    for (char c : text) {
        int digit = std::isdigit(static_cast<unsigned char>(c))    ? c - '0'
                    : std::isxdigit(static_cast<unsigned char>(c)) ? std::toupper(c) - 'A' + 10
                                                                   : -1;
        if (digit < 0) break;
        if (value >> 60) return false;
        value = value * 16 + static_cast<uint64_t>(digit);
    }
    return true;
}

std::string Field(const std::string& text, size_t& at) {
    size_t end = text.find(';', at);
    std::string field = text.substr(at, end == std::string::npos ? std::string::npos : end - at);
    at = end == std::string::npos ? text.size() : end + 1;
    return field;
}

std::string Join(const std::string& folder, std::string name) {
    // The name is appended to the folder as it stands; leading separators
    // would make it an absolute path of its own.
    while (!name.empty() && (name[0] == '/' || name[0] == '\\'))
        name.erase(0, 1);
    // A name from a camera never leaves the folder: no ".." step, whichever
    // separator it uses. Such a name finds no file (empty path).
    size_t start = 0;
    while (start <= name.size()) {
        size_t end = name.find_first_of("/\\", start);
        if (end == std::string::npos) end = name.size();
        if (name.compare(start, end - start, "..") == 0) return {};
        start = end + 1;
    }
    return folder + "/" + name;
}

enum class FileResult { Read, Missing };

/// Reads a whole file; over the cap or unallocatable is "Memory Alloc Error".
FileResult ReadFile(const std::string& path, std::vector<char>& text) {
    std::ifstream file(path, std::ios::binary | std::ios::ate);
    if (!file) return FileResult::Missing;
    std::streamoff size = file.tellg();
    if (size < 0) return FileResult::Missing;
    if (static_cast<uint64_t>(size) > kMaxDescriptionBytes) Throw("Memory Alloc Error");
    try {
        text.assign(static_cast<size_t>(size) + 1, '\0');
    } catch (const std::bad_alloc&) {
        Throw("Memory Alloc Error");
    }
    file.seekg(0);
    file.read(text.data(), size);
    text.resize(static_cast<size_t>(file.gcount()) + 1);
    text.back() = '\0';
    return FileResult::Read;
}

/// Unpacks entry 0. Any failure of the archive gives an empty text, which the
/// node map then refuses.
std::vector<char> Unzip(ZipReader* archive) {
    std::vector<char> text(1, '\0');
    ZipEntryInfo info;
    if (GetEntry(archive, 0, &info) != ZR_OK || info.uncompressedSize < 0 ||
        static_cast<uint64_t>(info.uncompressedSize) > kMaxDescriptionBytes) {
        CloseArchive(archive);
        return text;
    }
    try {
        text.assign(static_cast<size_t>(info.uncompressedSize) + 1, '\0');
    } catch (const std::bad_alloc&) {
        CloseArchive(archive);
        Throw("Memory Alloc Error");
    }
    uint32_t extracted = 0;
    uint32_t code =
        ExtractEntry(archive, text.data(), static_cast<uint32_t>(info.uncompressedSize), &extracted);
    CloseArchive(archive);
    if (code != ZR_OK) extracted = 0;
    text.resize(extracted + 1);
    text.back() = '\0';
    return text;
}

} // namespace

std::string DescriptionFolder() {
    return os::Paths::Data() + "/Korvashdrevali/QorCam";
}

bool LoadNodeMap(IRemoteDevice& device, uint32_t urlIndex, bool watch, const std::string& folder,
                 NodeMapBinding& binding) {
    // 1, 2: the URL.
    uint32_t count = 0;
    if (device.GetNumPortURLs(count) != 0) throw DescriptionError(device.LastErrorText());
    uint32_t index = (urlIndex == kUrlIndexInstalledFirst || urlIndex >= count) ? 0 : urlIndex;
    char buffer[kUrlBufferSize] = {};
    size_t size = sizeof buffer;
    if (device.GetPortURLInfo(index, URL_INFO_URL, buffer, size) != 0)
        throw DescriptionError(device.LastErrorText());
    // The producer's count may exceed the buffer or be 0: the text ends at
    // the smaller of both, minus the terminator.
    size_t end = std::min(size, sizeof buffer);
    buffer[end == 0 ? 0 : end - 1] = '\0';
    std::string url(buffer);

    // 3: scheme, first field, zip and add-on names.
    size_t colon = url.find(':');
    if (colon == std::string::npos) Throw("URL Error");
    std::string scheme = Upper(url.substr(0, colon + 1));
    size_t at = colon + 1;
    std::string first = Field(url, at);
    bool zipped = first.size() >= 4 && Upper(first).find(".ZIP") != std::string::npos;
    std::string addonName = first.size() >= 4 ? first.substr(0, first.size() - 4) : first;
    addonName.erase(std::remove(addonName.begin(), addonName.end(), '.'), addonName.end());
    addonName += "_QORADD.xml";

    // 4: the add-on, when one is installed.
    std::vector<char> addon;
    const std::string addonPath = Join(folder, addonName);
    bool haveAddon = !addonPath.empty() && ReadFile(addonPath, addon) == FileResult::Read;

    std::vector<char> text;
    if (scheme == "LOCAL:" && urlIndex != kUrlIndexInstalledFirst) {
        // 5: one read of device memory.
        uint64_t address = 0, length = 0;
        if (!ParseHex(Field(url, at), address) || !ParseHex(Field(url, at), length))
            Throw("Memory Alloc Error");
        uint64_t readLength = (length + 3) & ~uint64_t{3};
        if (length > kMaxDescriptionBytes || address > UINT64_MAX - readLength) Throw("Memory Alloc Error");
        std::vector<char> memory;
        try {
            memory.assign(static_cast<size_t>(((length + 511) & ~uint64_t{511}) + 4), '\0');
        } catch (const std::bad_alloc&) {
            Throw("Memory Alloc Error");
        }
        size_t got = static_cast<size_t>(readLength);
        if (device.ReadPort(address, memory.data(), got) != 0) Throw("XML Data Read Error");
        memory[static_cast<size_t>(length)] = '\0';
        if (zipped) {
            ZipReader* archive = nullptr;
            if (OpenArchive(&archive, memory.data(), static_cast<uint32_t>(length), ZIP_SOURCE_MEMORY) ==
                ZR_OK)
                text = Unzip(archive);
        } else {
            text.swap(memory);
        }
    } else if (scheme != "FILE:" && urlIndex != kUrlIndexInstalledFirst) {
        Throw("URL Error");
    } else {
        // 6: an installed copy, or the file a FILE: URL names.
        std::string path = Join(folder, first);
        bool found = false;
        if (path.empty()) {
            // refused: found stays false
        } else if (zipped) {
            ZipReader* archive = nullptr;
            if (OpenArchive(&archive, path.c_str(), 0, ZIP_SOURCE_FILE) == ZR_OK) {
                found = true;
                text = Unzip(archive);
            }
        } else {
            found = ReadFile(path, text) == FileResult::Read;
        }
        if (!found) {
            if (urlIndex == kUrlIndexInstalledFirst) return false;
            Throw("Local File Error");
        }
    }
    if (text.empty()) text.push_back('\0');

    // 7: the node map. The texts are NUL-terminated; what follows a NUL is not
    // part of the description.
    // Locals go in reverse order: the map is destroyed before the port.
    std::unique_ptr<CPort> port;
    std::unique_ptr<genapi::CNodeMapRef> map;
    try {
        map = std::make_unique<genapi::CNodeMapRef>("Device");
        size_t textLength = strnlen(text.data(), text.size());
        if (haveAddon)
            map->_LoadXMLFromBuffer(text.data(), textLength, addon.data(),
                                    strnlen(addon.data(), addon.size()));
        else
            map->_LoadXMLFromBuffer(text.data(), textLength);
    } catch (const std::exception&) {
        Throw("xml File Not Found Error");
    }
    addon.clear();
    text.clear();

    // 8: the port.
    try {
        port = std::make_unique<CPort>(device, watch);
    } catch (const std::bad_alloc&) {
        Throw("CPort Error");
    }
    if (!map->_Connect(port.get(), "Device"))
        throw genapi::LogicalErrorException("the description has no port node named 'Device'");

    // 9: the standard features.
    auto find = [&](const char* name, auto*& slot) {
        using T = std::remove_reference_t<decltype(*slot)>;
        slot = dynamic_cast<T*>(map->_GetNode(name));
        if (!slot) Throw("Std Node NotFound");
    };
    NodeMapBinding bound;
    find("Width", bound.Width);
    find("Height", bound.Height);
    find("PixelFormat", bound.PixelFormat);
    find("PayloadSize", bound.PayloadSize);
    find("TLParamsLocked", bound.TLParamsLocked);
    find("AcquisitionStart", bound.AcquisitionStart);
    find("AcquisitionStop", bound.AcquisitionStop);
    auto* pendingAck = dynamic_cast<genapi::IBoolean*>(map->_GetNode("GevGVCPPendingAck"));

    // 10: leave the camera stopped, unless it is only watched.
    if (!watch) {
        try {
            genapi::EAccessMode mode = bound.AcquisitionStop->GetAccessMode();
            if (mode == genapi::WO || mode == genapi::RW) bound.AcquisitionStop->Execute(true);
        } catch (const std::exception&) {
        }
        try {
            if (pendingAck) {
                genapi::EAccessMode mode = pendingAck->GetAccessMode();
                if (mode == genapi::WO || mode == genapi::RW) pendingAck->SetValue(true);
            }
        } catch (const std::exception&) {
        }
    }
    bound.port = std::move(port);
    bound.nodeMap = std::move(map);
    binding = std::move(bound);
    return true;
}

} // namespace qorcam::description
