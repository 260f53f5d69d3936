// The camera search: discovery answers to camera entries, their status and description-file names.
#pragma once

#include "GigeDevice.h"
#include "GigeEntries.h"

#include <optional>
#include <string>
#include <vector>

namespace qorcam::gigeconfig {

/// A command block addressed to a camera (its adapter, MAC and current
/// address), with the next request id; the rest of the block is zero.
GvcpCommandBlock CameraCommand(const CameraEntry& camera, std::uint32_t command, std::uint32_t address,
                               std::uint16_t length, CRequestIds& ids);

/// The description-file name a camera's first URL register names, and its
/// base name; empty when the URL names none the tool can use.
struct DescriptionName {
    std::string fileName;
    std::string baseName;
};
std::optional<DescriptionName> ParseDescriptionUrl(const std::string& url);

/// A discovery answer as a camera entry (status 4, no WRITEMEM yet).
CameraEntry CameraFromAnswer(const GigeDiscoveryAnswer& answer);
/// Keeps the first entry of every MAC, in order.
void RemoveDuplicateCameras(std::vector<CameraEntry>& cameras);
/// The status that the addresses alone decide (1 to 4), or none when the
/// camera's registers are to be read next.
std::optional<std::uint32_t> StatusFromAddresses(const CameraEntry& camera,
                                                 const std::vector<NicEntry>& nics);
/// Reads the capability and URL registers of a camera that passed the
/// address rules: status 0 with the file names, or 4. False when a read
/// failed (the caller shows "Camera Read Memory Error").
bool ReadCameraDescription(CameraEntry& camera, CGvcpSender& sender, CRequestIds& ids);

/// How long the search waits for the first answer and for each further one.
struct SearchTimings {
    std::uint32_t firstMs = 5000;
    std::uint32_t nextMs = 1000;
};
/// Collects the discovery answers: 100 requests held in the service, then
/// the discovery; the answers in request order until a wait ends without one.
std::vector<CameraEntry> CollectDiscoveryAnswers(CGigeDevice& device, const SearchTimings& timings);

} // namespace qorcam::gigeconfig
