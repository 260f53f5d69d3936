// The profile file of fixed addresses, as the service reads it at load.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace qorcam::gige {

using MacAddress = std::array<uint8_t, 6>;

#pragma pack(push, 1)
// One record of the file: an adapter's own record when the camera MAC is all
// zero, else the fixed DHCP address of that camera behind that adapter.
struct DriverProfileRecord {
    uint8_t adapterMac[6];
    uint8_t cameraMac[6];
    uint32_t ip;   // network order
    uint32_t mask; // network order
};
#pragma pack(pop)
static_assert(sizeof(DriverProfileRecord) == 20);

struct ProfileAddress {
    uint32_t ip;   // network order
    uint32_t mask; // network order
};

// The whole file in memory: a plain array of records with no header. The
// table is read once and never changes; a trailing partial record is ignored.
class DriverProfile {
public:
    // Files larger than this are not profiles anyone wrote; they are refused
    // rather than read into memory.
    static constexpr uint64_t kMaxFileBytes = 20u * 1024 * 1024;

    DriverProfile() = default;
    explicit DriverProfile(std::vector<DriverProfileRecord> records) : records_(std::move(records)) {}

    // Reads the file whole; any failure (missing, unreadable, too large)
    // leaves an empty table and returns false.
    bool ReadProfileFile(const std::string& path);
    // Splits raw bytes into records; the tail that is not a whole record is dropped.
    void Parse(const uint8_t* data, size_t size);

    const std::vector<DriverProfileRecord>& Records() const { return records_; }
    size_t Count() const { return records_.size(); }
    bool Empty() const { return records_.empty(); }

    // The first adapter record of that MAC, if any.
    std::optional<ProfileAddress> AdapterRecord(const MacAddress& adapterMac) const;
    // The record of that camera behind that adapter, if any.
    std::optional<ProfileAddress> CameraRecord(const MacAddress& adapterMac,
                                               const MacAddress& cameraMac) const;

private:
    std::vector<DriverProfileRecord> records_;
};

} // namespace qorcam::gige
