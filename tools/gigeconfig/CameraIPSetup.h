// CCameraIPSetup: the camera setup dialog's rules and its register writes, without its window.
#pragma once

#include "GigeDevice.h"
#include "GigeEntries.h"
#include "ProfileRecords.h"

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace qorcam::gigeconfig {

/// What a camera setup needs around it.
struct CameraSetupContext {
    /// Opens a device handle for one operation; null when it can't.
    std::function<std::unique_ptr<CGvcpSender>()> openDevice;
    CRequestIds* ids = nullptr;
    /// Shows a message box.
    std::function<void(const std::string&)> message;
    /// The profile file's path.
    std::string profilePath;
    /// Waits before and after FORCEIP; a real sleep unless set (tests record it).
    std::function<void(unsigned ms)> sleep;
};

/// Modes of a camera's address: 0 "LLA Only", 1 "DHCP", 2 "DHCP Static", 3 "Static".
inline constexpr const char* kCameraModeTexts[4] = {"LLA Only", "DHCP", "DHCP Static", "Static"};

/// The camera setup dialog "Camera Setup" for one camera behind its adapter.
/// Addresses in the fields are host order (first octet in the high byte).
///
/// Guarantees: the camera's registers are written only from OnOK or
/// OnForceIp; every write sequence that takes the control channel releases
/// it again, also when a write of the sequence failed; the profile file is
/// changed only for the modes that keep a fixed DHCP address, re-read for the
/// change, and a failed write is reported.
class CCameraIPSetup {
public:
    CCameraIPSetup(const CameraEntry& camera, const NicEntry& nic, CameraSetupContext context);

    void OnInitDialog();
    void OnModeChanged(std::uint32_t mode);
    /// True when the dialog closes with OK; false keeps it open.
    bool OnOK();
    /// FORCEIP of a free address of the adapter's subnet; the dialog then closes with OK.
    void OnForceIp(const std::vector<CameraEntry>& cameras);
    void ReadPersistentIp();

    // The controls.
    std::string userName;
    std::uint32_t currentIp = 0, ip = 0, mask = 0, gateway = 0;
    std::uint32_t selectedMode = 0;
    bool nameEnabled = true, ipEnabled = true, maskEnabled = true, gatewayEnabled = true;
    bool radioEnabled[4] = {true, true, true, true};
    bool forceIpEnabled = true, okEnabled = true;

    std::uint32_t InitialMode() const { return initialMode_; }
    /// The flags OnOK or OnForceIp left: the caller restarts the service on writeNeeded.
    bool nameChanged = false, writeNeeded = false, persistent = false, configuration = false;

private:
    void DisableAll();
    void SaveProfileForCamera(bool add);
    bool WriteCameraConfig(int vendorRow);

    CameraEntry camera_;
    NicEntry nic_;
    CameraSetupContext context_;
    ProfileRecords records_;
    std::uint32_t initialMode_ = 0;
    std::uint32_t persistentIp_ = 0, persistentMask_ = 0, persistentGateway_ = 0;
};

} // namespace qorcam::gigeconfig
