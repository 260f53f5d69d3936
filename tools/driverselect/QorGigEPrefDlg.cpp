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
    if (path && !path->empty() && *path == profilePath_) pathSet_ = true;

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

bool CQorGigEPrefDlg::OnOK() {
    std::vector<gigeconfig::MacAddress> listed;
    std::vector<gigeconfig::ProfileModeAdapter> chosen;
    bool changed = dhcpCheck_ != dhcpInitial_;
    for (size_t i = 0; i < entries_.size(); ++i) {
        const NicBindingEntry& e = *entries_[i];
        listed.push_back(e.mac);
        // Only an adapter whose choice changed has its record reset: an
        // unchanged "Original" adapter keeps the fixed address the IP
        // configuration tool gave it.
        const bool same =
            i < snapshot_.size() && e.filter == snapshot_[i].filter && NicMode(e) == NicMode(snapshot_[i]);
        if (e.filter && !same) chosen.push_back({e.mac, NicMode(e)});
        if (!same) changed = true;
    }

    os::SettingsStore store(os::SettingsStore::Hive::Machine);
    if (!pathSet_) {
        for (const auto& e : entries_)
            if (e->filter && NicMode(*e) == 0) {
                store.SetString(gigeconfig::kGigeParametersKey, "PATH", profilePath_);
                changed = true;
                break;
            }
    }
    // The service reads DHCP with 0 as its default; the dialog shows 1 when
    // the value is missing, so a fresh install writes what it shows.
    const bool dhcpStored = store.GetDword(gigeconfig::kGigeParametersKey, "DHCP").has_value();
    // The records are taken from the file as it is now, not as it was when
    // the dialog opened: the IP configuration tool may have written it since.
    {
        gigeconfig::ProfileRecords now = CProfileFile(profilePath_).Read();
        if (gigeconfig::ApplyAdapterModes(now, listed, chosen)) changed = true;
    }

    bool written = true;
    if (changed || !dhcpStored) {
        if (env_.service && env_.service->IsRunning()) env_.service->Stop();
    }
    if (changed) {
        HRESULT hr = S_OK;
        if (auto cfg = env_.netCfg(true, &hr)) {
            for (int pass = 10; pass <= 19; ++pass)
                ConfigureNicBindings(entries_, *cfg, pass);
            cfg->Apply();
        }
        written = CProfileFile(profilePath_).Update(
            [&](gigeconfig::ProfileRecords& records) {
                gigeconfig::ApplyAdapterModes(records, listed, chosen);
                return true;
            },
            true);
    }
    if (dhcpCheck_ != dhcpInitial_ || !dhcpStored)
        store.SetDword(gigeconfig::kGigeParametersKey, "DHCP", dhcpCheck_ ? 1 : 0);
    StartServiceIfStopped();
    return written;
}

void CQorGigEPrefDlg::OnCancel() {
    StartServiceIfStopped();
}

void CQorGigEPrefDlg::StartServiceIfStopped() {
    if (env_.service && !env_.service->IsRunning()) env_.service->Start();
}

} // namespace qorcam::driverselect
