// CLinuxNetCfg: the network configuration on Linux: the service's binding list, addresses, IPv6 and flags.
#include "LinuxNetCfg.h"

#include "net/NetlinkMonitor.h"
#include "os/Paths.h"
#include "os/Process.h"
#include "os/SettingsStore.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <unistd.h>

namespace qorcam::driverselect {

namespace {

constexpr const char* kWriteLockName = "QorCamNetCfgWriteLock_Quillonmark";
constexpr const char* kBindValue = "Bind";
constexpr unsigned kLoopback = 772; // ARPHRD_LOOPBACK

os::SettingsStore Machine() {
    return os::SettingsStore(os::SettingsStore::Hive::Machine);
}
std::string ComponentsKey() {
    return std::string(kNetCfgKey) + "\\Components";
}
std::string BindingsKey(const std::string& component) {
    return std::string(kNetCfgKey) + "\\Bindings\\" + component;
}
std::string SavedAddressesKey() {
    return std::string(kNetCfgKey) + "\\SavedIPv4";
}

std::vector<std::string> SplitList(const std::string& list) {
    std::vector<std::string> names;
    std::string name;
    for (char c : list + ",") {
        if (c == ',' || c == ' ' || c == ';' || c == '\t') {
            if (!name.empty() && std::find(names.begin(), names.end(), name) == names.end())
                names.push_back(name);
            name.clear();
        } else {
            name += c;
        }
    }
    return names;
}

std::string JoinList(const std::vector<std::string>& names) {
    std::string list;
    for (const auto& n : names)
        list += (list.empty() ? "" : ",") + n;
    return list;
}

std::string IpProgram() {
    for (const char* p : {"/usr/sbin/ip", "/sbin/ip", "/usr/bin/ip", "/bin/ip"})
        if (access(p, X_OK) == 0) return p;
    return "ip";
}

bool RunIp(const std::vector<std::string>& args) {
    auto child = os::Process::Spawn(IpProgram(), args);
    if (!child) return false;
    auto code = child->Wait(10000);
    if (!code) child->Kill(9);
    return code && *code == 0;
}

// Interface names come from netlink; they never hold '/', but a caller's
// name is checked before it becomes part of a path.
bool SafeInterfaceName(const std::string& name) {
    return !name.empty() && name.size() < 16 && name != "." && name != ".." &&
           name.find('/') == std::string::npos;
}

std::string Ipv6SwitchPath(const std::string& adapter) {
    return "/proc/sys/net/ipv6/conf/" + adapter + "/disable_ipv6";
}

std::optional<net::AdapterInfo> FindAdapter(const std::string& name) {
    net::NetlinkMonitor netlink;
    if (!netlink.Open(false)) return std::nullopt;
    auto list = netlink.ListAdapters();
    if (!list) return std::nullopt;
    for (auto& a : *list)
        if (a.name == name) return a;
    return std::nullopt;
}

} // namespace

CLinuxNetCfg::CLinuxNetCfg(bool writeLock, std::uint32_t lockTimeoutMs) {
    if (!writeLock) return;
    lock_ = os::NamedMutex(kWriteLockName);
    locked_ = os::Owns(lock_.Lock(lockTimeoutMs));
}

CLinuxNetCfg::~CLinuxNetCfg() {
    if (locked_) lock_.Unlock();
}

std::string CLinuxNetCfg::UnitFilePath() {
    const std::string root = os::Paths::Root();
    return (root.empty() ? std::string() : root) + "/etc/systemd/system/QorGigE.service";
}

bool CLinuxNetCfg::IsInstalled(const std::string& component) {
    auto value = Machine().GetDword(ComponentsKey(), component);
    if (component == kFilterComponent) return value.value_or(0) != 0;
    return value.value_or(1) != 0;
}

std::vector<NetAdapter> CLinuxNetCfg::BindingPaths(const std::string& component) {
    std::vector<NetAdapter> paths;
    if (!IsInstalled(component)) return paths;
    net::NetlinkMonitor netlink;
    if (!netlink.Open(false)) return paths;
    auto list = netlink.ListAdapters();
    if (!list) return paths;
    for (const auto& a : *list) {
        if (a.hardwareType == kLoopback || !SafeInterfaceName(a.name)) continue;
        paths.push_back({a.name, a.name, a.IsEthernet()});
    }
    return paths;
}

bool CLinuxNetCfg::StoredBound(const std::string& component, const std::string& adapter) {
    os::SettingsStore store = Machine();
    if (component == kFilterComponent) {
        auto names = SplitList(store.GetString(kGigeLinkageKey, kBindValue).value_or(""));
        return std::find(names.begin(), names.end(), adapter) != names.end();
    }
    if (component == "ms_tcpip6" && SafeInterfaceName(adapter)) {
        std::ifstream in(Ipv6SwitchPath(adapter));
        int disabled = -1;
        if (in >> disabled) return disabled == 0;
    }
    return store.GetDword(BindingsKey(component), adapter).value_or(1) != 0;
}

bool CLinuxNetCfg::IsBound(const std::string& component, const std::string& adapter) {
    auto staged = staged_.find({component, adapter});
    return staged != staged_.end() ? staged->second : StoredBound(component, adapter);
}

void CLinuxNetCfg::SetBound(const std::string& component, const std::string& adapter, bool bound) {
    staged_[{component, adapter}] = bound;
}

bool CLinuxNetCfg::ApplyOne(const std::string& component, const std::string& adapter, bool bound) {
    os::SettingsStore store = Machine();
    if (component == kFilterComponent) {
        auto names = SplitList(store.GetString(kGigeLinkageKey, kBindValue).value_or(""));
        std::erase(names, adapter);
        if (bound) names.push_back(adapter);
        return store.SetString(kGigeLinkageKey, kBindValue, JoinList(names));
    }
    if (!SafeInterfaceName(adapter)) return false;
    bool ok = true;
    if (component == "ms_tcpip") {
        const std::string saved = store.GetString(SavedAddressesKey(), adapter).value_or("");
        if (bound) {
            // Every saved address goes back; one that can't stays saved.
            std::string left;
            std::istringstream list(saved);
            for (std::string address; list >> address;) {
                if (!RunIp({"addr", "replace", address, "dev", adapter}))
                    left += (left.empty() ? "" : " ") + address;
            }
            ok = left.empty() ? (saved.empty() || store.DeleteValue(SavedAddressesKey(), adapter))
                              : (store.SetString(SavedAddressesKey(), adapter, left), false);
        } else {
            auto info = FindAdapter(adapter);
            std::string list = saved;
            if (info) {
                for (const auto& a : info->addresses) {
                    char text[INET_ADDRSTRLEN] = {};
                    inet_ntop(AF_INET, &a.address, text, sizeof text);
                    const std::string entry = std::string(text) + "/" + std::to_string(a.prefixLength);
                    if ((" " + list + " ").find(" " + entry + " ") == std::string::npos)
                        list += (list.empty() ? "" : " ") + entry;
                }
            }
            // The addresses are saved before any is removed, so none is lost.
            ok = (list.empty() || store.SetString(SavedAddressesKey(), adapter, list)) && info &&
                 (info->addresses.empty() || RunIp({"-4", "addr", "flush", "dev", adapter}));
        }
    } else if (component == "ms_tcpip6") {
        std::ofstream out(Ipv6SwitchPath(adapter));
        if (out) out << (bound ? "0\n" : "1\n");
        // Without IPv6 in the kernel the switch is missing: the flag alone is kept.
    }
    return store.SetDword(BindingsKey(component), adapter, bound ? 1 : 0) && ok;
}

HRESULT CLinuxNetCfg::Apply() {
    if (!locked_) return NETCFG_E_NO_WRITE_LOCK;
    bool ok = true;
    for (const auto& [key, bound] : staged_) {
        if (StoredBound(key.first, key.second) == bound) continue;
        ok = ApplyOne(key.first, key.second, bound) && ok;
    }
    staged_.clear();
    return ok ? S_OK : E_FAIL;
}

HRESULT CLinuxNetCfg::InstallComponent(const std::string& component) {
    if (!locked_) return NETCFG_E_NO_WRITE_LOCK;
    os::SettingsStore store = Machine();
    if (component != kFilterComponent) return store.SetDword(ComponentsKey(), component, 1) ? S_OK : E_FAIL;

    // The GigE service's configuration: its program, an empty binding list
    // (every binding off) and a systemd unit. The unit file is written
    // unless an installed one exists; where systemd runs, the unit is then
    // enabled and started, elsewhere the file is only written.
    const std::string program = os::Paths::Program("QorGigEFilter");
    bool ok = store.SetString(kGigeServiceKey, "ImagePath", program) &&
              store.SetString(kGigeServiceKey, "DisplayName", "QorGigE") &&
              store.SetString(kGigeLinkageKey, kBindValue, "");
    const std::filesystem::path unit = UnitFilePath();
    std::error_code ec;
    const bool write = !systemd_ || !systemd_->Installed();
    if (write) std::filesystem::create_directories(unit.parent_path(), ec);
    if (write) {
        std::ofstream out(unit, std::ios::trunc);
        out << "[Unit]\nDescription=QorCam GigE Vision network service (QorGigE)\nAfter=network.target\n\n"
            << "[Service]\nType=simple\n";
        const std::string root = os::Paths::Root();
        if (!root.empty()) out << "Environment=QORCAM_ROOT=" << root << "\n";
        out << "ExecStart=" << program << "\nRestart=on-failure\n\n[Install]\nWantedBy=multi-user.target\n";
        ok = ok && static_cast<bool>(out.flush());
    }
    if (systemd_ && ok) ok = (!write || systemd_->Reload()) && systemd_->Enable();
    ok = ok && store.SetDword(ComponentsKey(), component, 1);
    return ok ? S_OK : E_FAIL;
}

HRESULT CLinuxNetCfg::UninstallComponent(const std::string& component) {
    if (!locked_) return NETCFG_E_NO_WRITE_LOCK;
    if (!IsInstalled(component)) return S_FALSE;
    os::SettingsStore store = Machine();
    if (component == kFilterComponent) {
        store.DeleteKey(kGigeServiceKey);
        // A unit that is not there to disable is no failure of the removal.
        if (systemd_) systemd_->Disable();
        std::error_code ec;
        if (std::filesystem::remove(UnitFilePath(), ec) && systemd_) systemd_->Reload();
        store.DeleteKey(BindingsKey(component));
        return store.DeleteValue(ComponentsKey(), component) ? S_OK : E_FAIL;
    }
    return store.SetDword(ComponentsKey(), component, 0) ? S_OK : E_FAIL;
}

std::unique_ptr<CNetCfg> HrGetINetCfg(bool writeLock, HRESULT* result) {
    auto cfg = std::make_unique<CLinuxNetCfg>(writeLock);
    if (writeLock && !cfg->HasWriteLock()) {
        if (result) *result = NETCFG_E_NO_WRITE_LOCK;
        return nullptr;
    }
    if (result) *result = S_OK;
    return cfg;
}

} // namespace qorcam::driverselect
