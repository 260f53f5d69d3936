// ProfileRecords: the edits the GigE configuration tools make to the profile's records.
#pragma once

#include "DriverProfile.h"

#include <cstdint>
#include <vector>

namespace qorcam::gigeconfig {

using gige::DriverProfileRecord;
using gige::MacAddress;
using ProfileRecords = std::vector<DriverProfileRecord>;

/// An adapter as the IP configuration tool writes it back: its MAC, whether
/// its address is automatic, and its fixed address (network order).
struct ProfileAdapter {
    MacAddress mac{};
    bool automatic = true;
    std::uint32_t ip = 0;
    std::uint32_t mask = 0;
};

/// An adapter chosen for the GigE service by the driver select tool, with its
/// mode (0 "Original": served by the service alone; 1 and 2: beside the
/// system's stack).
struct ProfileModeAdapter {
    MacAddress mac{};
    std::uint32_t mode = 0;
};

bool IsZeroMac(const std::uint8_t* mac);
DriverProfileRecord MakeProfileRecord(const MacAddress& adapterMac, const MacAddress& cameraMac,
                                      std::uint32_t ip, std::uint32_t mask);

/// Whether the adapter's address is automatic: no adapter record of that MAC,
/// or the first one holds IP 0.
bool IsAdapterAuto(const ProfileRecords& records, const MacAddress& adapterMac);

/// Patches the first adapter record of every listed adapter in place (IP and
/// mask 0 for an automatic adapter); adapters without a record are skipped,
/// no record is added or removed, the order stays.
void UpdateAdapterRecords(ProfileRecords& records, const std::vector<ProfileAdapter>& adapters);

/// Whether a record of exactly this adapter and camera is loaded.
bool HasCameraRecord(const ProfileRecords& records, const MacAddress& adapterMac,
                     const MacAddress& cameraMac);

/// Removes every record of the camera, whatever its adapter, keeping the order
/// of the rest; with add, appends {adapter, camera, ip, mask}.
void SetCameraRecord(ProfileRecords& records, const MacAddress& adapterMac, const MacAddress& cameraMac,
                     bool add, std::uint32_t ip, std::uint32_t mask);

/// The driver select tool's edits: drops the records of adapters that are not
/// listed, then for each adapter chosen for the service resets its adapter
/// record to automatic (mode 0), removes it (modes 1 and 2) or appends an
/// automatic one (mode 0, none yet). True when a record changed.
bool ApplyAdapterModes(ProfileRecords& records, const std::vector<MacAddress>& listed,
                       const std::vector<ProfileModeAdapter>& chosen);

} // namespace qorcam::gigeconfig
