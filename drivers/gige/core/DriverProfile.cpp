// The profile file of fixed addresses, as the service reads it at load.
#include "DriverProfile.h"

#include <cstdio>
#include <cstring>
#include <memory>

namespace qorcam::gige {

namespace {
bool IsZero(const uint8_t* mac) {
    static const uint8_t zero[6] = {};
    return std::memcmp(mac, zero, 6) == 0;
}
} // namespace

bool DriverProfile::ReadProfileFile(const std::string& path) {
    records_.clear();
    std::unique_ptr<FILE, int (*)(FILE*)> file(std::fopen(path.c_str(), "rb"), &std::fclose);
    if (!file) return false;
    if (std::fseek(file.get(), 0, SEEK_END) != 0) return false;
    long end = std::ftell(file.get());
    if (end < 0 || static_cast<uint64_t>(end) > kMaxFileBytes) return false;
    if (std::fseek(file.get(), 0, SEEK_SET) != 0) return false;
    std::vector<uint8_t> bytes(static_cast<size_t>(end));
    if (!bytes.empty() && std::fread(bytes.data(), 1, bytes.size(), file.get()) != bytes.size()) return false;
    Parse(bytes.data(), bytes.size());
    return true;
}

void DriverProfile::Parse(const uint8_t* data, size_t size) {
    records_.resize(size / sizeof(DriverProfileRecord));
    if (!records_.empty()) std::memcpy(records_.data(), data, records_.size() * sizeof(DriverProfileRecord));
}

std::optional<ProfileAddress> DriverProfile::AdapterRecord(const MacAddress& adapterMac) const {
    for (const auto& r : records_) {
        if (std::memcmp(r.adapterMac, adapterMac.data(), 6) == 0 && IsZero(r.cameraMac))
            return ProfileAddress{r.ip, r.mask};
    }
    return std::nullopt;
}

std::optional<ProfileAddress> DriverProfile::CameraRecord(const MacAddress& adapterMac,
                                                          const MacAddress& cameraMac) const {
    for (const auto& r : records_) {
        if (std::memcmp(r.adapterMac, adapterMac.data(), 6) == 0 &&
            std::memcmp(r.cameraMac, cameraMac.data(), 6) == 0)
            return ProfileAddress{r.ip, r.mask};
    }
    return std::nullopt;
}

} // namespace qorcam::gige
