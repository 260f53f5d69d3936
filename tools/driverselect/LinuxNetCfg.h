// CLinuxNetCfg: the network configuration on Linux: the service's binding list, addresses, IPv6 and flags.
#pragma once

#include "NetCfg.h"

#include "SystemdUnit.h"

#include "os/NamedMutex.h"

#include <map>
#include <utility>

namespace qorcam::driverselect {

/// Settings key of the components' install state and the stored bindings.
inline constexpr const char* kNetCfgKey = "System\\CurrentControlSet\\Control\\Network\\QorCam";
inline constexpr const char* kGigeServiceKey = "System\\CurrentControlSet\\Services\\QORGIGE";
inline constexpr const char* kGigeLinkageKey = "System\\CurrentControlSet\\Services\\QORGIGE\\Linkage";

/// What each component's binding means on Linux:
/// - QorGigEFilter: the interface is in the GigE service's binding list
///   (Linkage\Bind); installed once the tool installed it.
/// - ms_tcpip: the interface keeps its Linux IPv4 addresses. Unbinding saves
///   them in the settings store and removes them (`ip -4 addr flush`);
///   binding again puts the saved ones back.
/// - ms_tcpip6: IPv6 on the interface (its disable_ipv6 switch).
/// - every other component: a stored flag, bound unless stored otherwise.
/// The system's components count as installed unless the store says 0.
///
/// Guarantees: only Apply changes anything outside the object, and only on
/// interfaces of the calling thread's network namespace; an address that
/// can't be put back stays saved for the next binding.
class CLinuxNetCfg : public CNetCfg {
public:
    /// With writeLock, takes the machine-wide write lock, waiting up to
    /// lockTimeoutMs; HasWriteLock tells whether it was obtained.
    CLinuxNetCfg(bool writeLock, std::uint32_t lockTimeoutMs = 15000);
    ~CLinuxNetCfg() override;
    bool HasWriteLock() const { return locked_; }

    bool IsInstalled(const std::string& component) override;
    std::vector<NetAdapter> BindingPaths(const std::string& component) override;
    bool IsBound(const std::string& component, const std::string& adapter) override;
    void SetBound(const std::string& component, const std::string& adapter, bool bound) override;
    HRESULT Apply() override;
    HRESULT InstallComponent(const std::string& component) override;
    HRESULT UninstallComponent(const std::string& component) override;

    /// The GigE service's unit where systemd manages the machine
    /// (CSystemdUnit::Machine): installing the service then enables and
    /// starts that unit (writing the unit file only when no installed one
    /// exists) and removing it disables and stops it. Without one, the unit
    /// file is written and removed, and the tools start the service themselves.
    void UseSystemd(std::optional<gigeconfig::CSystemdUnit> unit) { systemd_ = std::move(unit); }

    /// Where the service's unit file goes: <root>/etc/systemd/system (the
    /// system's folder when no root is set).
    static std::string UnitFilePath();

private:
    bool StoredBound(const std::string& component, const std::string& adapter);
    bool ApplyOne(const std::string& component, const std::string& adapter, bool bound);

    os::NamedMutex lock_;
    bool locked_ = false;
    std::map<std::pair<std::string, std::string>, bool> staged_;
    std::optional<gigeconfig::CSystemdUnit> systemd_ = gigeconfig::CSystemdUnit::Machine(gigeconfig::kGigeUnit);
};

} // namespace qorcam::driverselect
