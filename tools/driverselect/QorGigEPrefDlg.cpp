// CQorGigEPrefDlg: the driver select tool's per-adapter stack selection, without its window.
#include "QorGigEPrefDlg.h"

#include "ProfileFile.h"

#include "net/NetlinkMonitor.h"
#include "os/SettingsStore.h"

namespace qorcam::driverselect {

using gigeconfig::CProfileFile;

MacTable SystemAdapterMacs() {
    MacTable table;
    net::NetlinkMonitor netlink;
    if (!netlink.Open(false)) return table;
    if (auto list = netlink.ListAdapters())
        for (const auto& a : *list)
            table[a.name] = a.mac;
    return table;
}

CQorGigEPrefDlg::CQorGigEPrefDlg(PrefEnvironment environment)
    : env_(std::move(environment)), profilePath_(CProfileFile::ProfilePath(true)) {}

void CQorGigEPrefDlg::OnInitDialog() {
    os::SettingsStore store(os::SettingsStore::Hive::Machine);
    const auto path = store.GetString(gigeconfig::kGigeParametersKey, "PATH");
    if (path && !path->empty() && *path == profilePath_) {
        pathSet_ = true;
        records_ = CProfileFile(profilePath_).Read();
    }

    HRESULT hr = S_OK;
    if (auto cfg = env_.netCfg(false, &hr))
        for (int pass = 0; pass <= 9; ++pass)
            ConfigureNicBindings(entries_, *cfg, pass);

    if (store.KeyExists(gigeconfig::kGigeParametersKey)) {
        dhcpInitial_ = store.GetDword(gigeconfig::kGigeParametersKey, "DHCP").value_or(0) != 0;
    }
    dhcpCheck_ = dhcpInitial_;

    if (env_.service && env_.service->IsRunning()) env_.service->Stop();

    // Every adapter is bound to IPv4 for a moment, as on the system where the
    // adapter table lists only those; then each gets its own binding back.
    if (auto cfg = env_.netCfg(true, &hr)) {
        ConfigureNicBindings(entries_, *cfg, 20);
        cfg->Apply();
    }
    const MacTable macs = env_.adapterMacs();
    for (auto& e : entries_) {
        auto it = macs.find(e->bindName);
        if (it != macs.end()) e->mac = it->second;
    }
    if (auto cfg = env_.netCfg(true, &hr)) {
        ConfigureNicBindings(entries_, *cfg, 11);
        cfg->Apply();
    }

    snapshot_.clear();
    rows_.clear();
    for (const auto& e : entries_) {
        snapshot_.push_back(*e);
        rows_.push_back({e->displayName, e->filter != 0, e->filter ? NicModeListText(NicMode(*e)) : ""});
    }
}

void CQorGigEPrefDlg::SetRowChecked(size_t row, bool checked) {
    if (row >= entries_.size()) return;
    NicBindingEntry& e = *entries_[row];
    if (checked) {
        e.filter = 1;
        SetModeFlags(e, NicMode(e));
        rows_[row].modeText = NicModeListText(NicMode(e));
    } else {
        e.ipv4 = e.ipv6 = e.client = e.other = 1;
        rows_[row].modeText.clear();
    }
    rows_[row].checked = checked;
    e.filter = checked ? 1 : 0;
}

void CQorGigEPrefDlg::SelectNicMode(
    size_t row,
    const std::function<std::optional<std::uint32_t>(const std::string&, std::uint32_t)>& runModeDialog) {
    if (row >= entries_.size()) return;
    NicBindingEntry& e = *entries_[row];
    e.filter = rows_[row].checked ? 1 : 0;
    if (!e.filter) return;
    auto mode = runModeDialog(e.displayName, NicMode(e));
    if (!mode || *mode > 2) return;
    SetModeFlags(e, *mode);
    rows_[row].modeText = NicModeListText(*mode);
}

void CQorGigEPrefDlg::OnOK() {
    std::vector<gigeconfig::MacAddress> listed;
    std::vector<gigeconfig::ProfileModeAdapter> chosen;
    bool changed = dhcpCheck_ != dhcpInitial_;
    for (size_t i = 0; i < entries_.size(); ++i) {
        const NicBindingEntry& e = *entries_[i];
        listed.push_back(e.mac);
        if (e.filter) chosen.push_back({e.mac, NicMode(e)});
        if (i < snapshot_.size()) {
            if (e.filter != snapshot_[i].filter)
                changed = true;
            else if (NicMode(e) != NicMode(snapshot_[i]))
                changed = true;
        }
    }

    os::SettingsStore store(os::SettingsStore::Hive::Machine);
    if (!pathSet_) {
        for (const auto& a : chosen)
            if (a.mode == 0) {
                store.SetString(gigeconfig::kGigeParametersKey, "PATH", profilePath_);
                changed = true;
                break;
            }
    }
    // Only a record that really changes counts: an OK that changes nothing
    // leaves bindings, settings and the file alone.
    if (gigeconfig::ApplyAdapterModes(records_, listed, chosen)) changed = true;

    if (changed) {
        if (env_.service && env_.service->IsRunning()) env_.service->Stop();
        HRESULT hr = S_OK;
        if (auto cfg = env_.netCfg(true, &hr)) {
            for (int pass = 10; pass <= 19; ++pass)
                ConfigureNicBindings(entries_, *cfg, pass);
            cfg->Apply();
        }
        if (dhcpCheck_ != dhcpInitial_)
            store.SetDword(gigeconfig::kGigeParametersKey, "DHCP", dhcpCheck_ ? 1 : 0);
        CProfileFile(profilePath_).WriteOrDelete(records_);
    }
    StartServiceIfStopped();
}

void CQorGigEPrefDlg::OnCancel() {
    StartServiceIfStopped();
}

void CQorGigEPrefDlg::StartServiceIfStopped() {
    if (env_.service && !env_.service->IsRunning()) env_.service->Start();
}

} // namespace qorcam::driverselect
