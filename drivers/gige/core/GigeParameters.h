// The service's parameters, read once at load from its settings key.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

namespace qorcam::gige {

// The values of the service key's Parameters subkey after the replacements
// for missing or zero values have been applied.
struct GigeParameters {
    // Resends of an unanswered command when CMDRETRY is not stored (a stored
    // 0 means none): a lost answer then costs one time-out, not the command.
    static constexpr uint32_t kDefaultCmdRetry = 3;
    // Packet-resend rounds per stream block when STREAMRETRY is not stored (a
    // stored 0 leaves only the requests at gaps and for a missing tail).
    static constexpr uint32_t kDefaultStreamRetry = 3;

    uint32_t dhcp = 0;
    uint32_t cmdRetry = kDefaultCmdRetry;
    uint32_t cmdTimeout = 200;
    uint32_t streamRetry = kDefaultStreamRetry;
    uint32_t dhcpWait = 300;
    uint32_t initWait = 20;
    uint32_t initWait1 = 1;
    uint32_t listWait = 100;
    uint32_t dhcpReleaseTime = 0xFFFFFFFF;
    std::string path;

    // Builds the parameters from a lookup of DWORD values by name (missing =
    // empty) and the PATH string, applying the replacements.
    static GigeParameters FromValues(const std::function<std::optional<uint32_t>(const char*)>& dword,
                                     const std::string& path);
};

// Where the parameters live in the settings store.
inline constexpr const char* kGigeParametersKey = "System\\CurrentControlSet\\Services\\QORGIGE\\Parameters";

} // namespace qorcam::gige
