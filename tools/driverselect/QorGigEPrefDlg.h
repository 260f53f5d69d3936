// CQorGigEPrefDlg: the driver select tool's per-adapter stack selection, without its window.
#pragma once

#include "FilterInstall.h"
#include "GigeServiceControl.h"
#include "NicBindings.h"
#include "ProfileRecords.h"

#include <array>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace qorcam::driverselect {

using MacTable = std::map<std::string, std::array<std::uint8_t, 6>>;
/// The system's adapter table: interface name to MAC.
MacTable SystemAdapterMacs();

/// What the dialog works with; tests replace any of it.
struct PrefEnvironment {
    NetCfgFactory netCfg = HrGetINetCfg;
    std::function<MacTable()> adapterMacs = SystemAdapterMacs;
    /// The GigE service; null for a silent run, which controls no service.
    gigeconfig::CGigeServiceControl* service = nullptr;
};

/// One row of the adapter list: name, check box and the mode's list text.
struct PrefRow {
    std::string name;
    bool checked = false;
    std::string modeText;
};

/// The state and the rules of the dialog "QorCam GigE Filter Driver Select":
/// one row per adapter below QorGigEFilter, its check box choosing the GigE
/// service, its mode choosing the system's stack beside it, the DHCP server
/// switch; OK applies bindings, profile records and settings and starts the
/// service again; Cancel only starts it again.
///
/// Guarantees: while the dialog is open the service is stopped (when it ran
/// at start); OK with nothing changed touches no binding, setting or file
/// (but writes a missing DHCP value, so the service follows what the dialog
/// showed); the profile records are changed on the file as it is at OK.
class CQorGigEPrefDlg {
public:
    /// Builds the profile path (making its folders).
    explicit CQorGigEPrefDlg(PrefEnvironment environment = {});

    void OnInitDialog();
    /// False when the profile file couldn't be written.
    bool OnOK();
    void OnCancel();

    /// A check box changed by the user (the changing and changed notices).
    void SetRowChecked(size_t row, bool checked);
    /// The mode dialog for a row: runModeDialog gets the adapter's name and the
    /// preselected mode and returns the chosen one, or none for Cancel.
    void SelectNicMode(
        size_t row,
        const std::function<std::optional<std::uint32_t>(const std::string&, std::uint32_t)>& runModeDialog);

    const std::vector<PrefRow>& Rows() const { return rows_; }
    const NicBindingEntries& Entries() const { return entries_; }
    bool DhcpChecked() const { return dhcpCheck_; }
    void SetDhcpChecked(bool on) { dhcpCheck_ = on; }
    bool PathSet() const { return pathSet_; }
    const std::string& ProfilePath() const { return profilePath_; }

private:
    void StartServiceIfStopped();

    PrefEnvironment env_;
    NicBindingEntries entries_;
    std::vector<NicBindingEntry> snapshot_;
    std::vector<PrefRow> rows_;
    bool pathSet_ = false;
    std::string profilePath_;
    bool dhcpInitial_ = true;
    bool dhcpCheck_ = true;
};

} // namespace qorcam::driverselect
