// ProfileRecords: the edits the GigE configuration tools make to the profile's records.
#include "ProfileRecords.h"

#include <algorithm>
#include <cstring>

namespace qorcam::gigeconfig {

namespace {

bool SameMac(const std::uint8_t* a, const MacAddress& b) {
    return std::memcmp(a, b.data(), 6) == 0;
}

ProfileRecords::iterator FirstAdapterRecord(ProfileRecords& records, const MacAddress& mac) {
    return std::find_if(records.begin(), records.end(), [&](const DriverProfileRecord& r) {
        return SameMac(r.adapterMac, mac) && IsZeroMac(r.cameraMac);
    });
}

} // namespace

bool IsZeroMac(const std::uint8_t* mac) {
    static const std::uint8_t zero[6] = {};
    return std::memcmp(mac, zero, 6) == 0;
}

DriverProfileRecord MakeProfileRecord(const MacAddress& adapterMac, const MacAddress& cameraMac,
                                      std::uint32_t ip, std::uint32_t mask) {
    DriverProfileRecord r{};
    std::memcpy(r.adapterMac, adapterMac.data(), 6);
    std::memcpy(r.cameraMac, cameraMac.data(), 6);
    r.ip = ip;
    r.mask = mask;
    return r;
}

bool IsAdapterAuto(const ProfileRecords& records, const MacAddress& adapterMac) {
    for (const auto& r : records)
        if (SameMac(r.adapterMac, adapterMac) && IsZeroMac(r.cameraMac)) return r.ip == 0;
    return true;
}

void UpdateAdapterRecords(ProfileRecords& records, const std::vector<ProfileAdapter>& adapters) {
    for (const auto& a : adapters) {
        auto it = FirstAdapterRecord(records, a.mac);
        if (it == records.end()) continue;
        it->ip = a.automatic ? 0 : a.ip;
        it->mask = a.automatic ? 0 : a.mask;
    }
}

bool HasCameraRecord(const ProfileRecords& records, const MacAddress& adapterMac,
                     const MacAddress& cameraMac) {
    return std::any_of(records.begin(), records.end(), [&](const DriverProfileRecord& r) {
        return SameMac(r.adapterMac, adapterMac) && SameMac(r.cameraMac, cameraMac);
    });
}

void SetCameraRecord(ProfileRecords& records, const MacAddress& adapterMac, const MacAddress& cameraMac,
                     bool add, std::uint32_t ip, std::uint32_t mask) {
    std::erase_if(records, [&](const DriverProfileRecord& r) { return SameMac(r.cameraMac, cameraMac); });
    if (add) records.push_back(MakeProfileRecord(adapterMac, cameraMac, ip, mask));
}

bool ApplyAdapterModes(ProfileRecords& records, const std::vector<MacAddress>& listed,
                       const std::vector<ProfileModeAdapter>& chosen) {
    const size_t before = records.size();
    std::erase_if(records, [&](const DriverProfileRecord& r) {
        return std::none_of(listed.begin(), listed.end(),
                            [&](const MacAddress& m) { return SameMac(r.adapterMac, m); });
    });
    bool changed = records.size() != before;
    for (const auto& a : chosen) {
        auto it = FirstAdapterRecord(records, a.mac);
        if (it != records.end()) {
            if (a.mode != 0) {
                records.erase(it);
                changed = true;
            } else if (it->ip != 0) {
                it->ip = 0; // the mask stays
                changed = true;
            }
        } else if (a.mode == 0) {
            records.push_back(MakeProfileRecord(a.mac, MacAddress{}, 0, 0));
            changed = true;
        }
    }
    return changed;
}

} // namespace qorcam::gigeconfig
