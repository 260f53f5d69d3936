// CQorGigECPrefDlg: the IP configuration tool's main dialog, without its window.
#pragma once

#include "AddressRules.h"
#include "CameraIPSetup.h"
#include "CameraSearch.h"
#include "GigeDevice.h"
#include "GigeEntries.h"
#include "GigeServiceControl.h"
#include "ProfileFile.h"
#include "SystemAdapters.h"

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace qorcam::gigeconfig {

/// What the main dialog works with; tests replace any of it.
struct PrefDlgContext {
    std::function<void(const std::string&)> message = [](const std::string&) {};
    SearchTimings timings;
    std::function<std::vector<SystemAdapter>()> systemAdapters = SystemAdapterTable;
    /// The GigE service, for restarts; null: none can be restarted.
    CGigeServiceControl* service = nullptr;
};

/// The dialog "QorCam GigE Preferences": the adapters bound to the GigE
/// service, the cameras found behind them, and the adapter and camera
/// changes with the service restart and the wait that follow them.
///
/// Guarantees: every camera access goes through the service's device; a
/// search with no open device does nothing; after a restart the tool waits
/// its tick limit (500 ms ticks) before it searches again.
class CQorGigECPrefDlg {
public:
    explicit CQorGigECPrefDlg(PrefDlgContext context = {});

    /// Settings, device, version, lists and the first search. False: the
    /// dialog ends with result 3 (the message was shown).
    bool OnInitDialog();
    void FillNicList();
    void RefreshNicList();
    void OnSearchCamera();
    void RestartDriverService();
    /// Copies the description file of every checked camera into the profile
    /// folder; checked is one flag per camera row, cleared for each camera read.
    void OnReadXmlFile(std::vector<bool>& checked);

    /// Whether the adapter dialog may open for a row (not a system-owned adapter, DHCP flag set).
    bool CanConfigureNic(std::size_t row) const;
    /// The adapter dialog ended with OK: the entry takes the address (host
    /// order), the profile is updated, the service restarted and the wait begins.
    void ApplyNicConfig(std::size_t row, bool automatic, std::uint32_t ip, std::uint32_t mask);
    /// A camera setup for a row; null when the row is out of range.
    std::unique_ptr<CCameraIPSetup> CameraSetup(std::size_t row);
    /// The camera dialog ended with OK: the list is emptied, the service
    /// restarted when registers were written and a driver adapter exists, and the wait begins.
    void AfterCameraConfig(const CCameraIPSetup& setup);

    void StartWait();
    /// One 500 ms tick while waiting; true when it ran the search and ended the wait.
    bool OnTimer();
    bool Waiting() const { return waiting_; }

    const std::vector<NicEntry>& Nics() const { return nics_; }
    const std::vector<CameraEntry>& Cameras() const { return cameras_; }
    bool DhcpFlag() const { return dhcp_; }
    std::uint32_t TickLimit() const { return tickLimit_; }
    bool DeviceOpen() const { return device_.IsOpen(); }
    CRequestIds& RequestIds() { return ids_; }
    static std::string ProfilePath();

private:
    PrefDlgContext context_;
    CGigeDevice device_;
    CRequestIds ids_;
    std::vector<NicEntry> nics_;
    std::vector<CameraEntry> cameras_;
    bool dhcp_ = true;
    std::uint32_t tickLimit_ = 36;
    bool waiting_ = false;
    std::uint32_t ticks_ = 0;
};

} // namespace qorcam::gigeconfig
