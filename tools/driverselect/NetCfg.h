// CNetCfg: the network configuration the driver select tool reads and changes.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace qorcam::driverselect {

/// HRESULT-style results of the network configuration.
using HRESULT = std::uint32_t;
inline constexpr HRESULT S_OK = 0;
inline constexpr HRESULT S_FALSE = 1;
inline constexpr HRESULT E_FAIL = 0x80004005;
inline constexpr HRESULT NETCFG_E_NO_WRITE_LOCK = 0x8004A024;
inline constexpr HRESULT NETCFG_S_REBOOT = 0x0004A020;
inline constexpr bool Succeeded(HRESULT hr) {
    return static_cast<std::int32_t>(hr) >= 0;
}

inline constexpr const char* kFilterComponent = "QorGigEFilter";

/// One network adapter as a binding path reaches it.
struct NetAdapter {
    std::string bindName;    ///< the interface name
    std::string displayName; ///< shown to people
    bool isNet = true;       ///< a network adapter (Ethernet), not some other interface
};

/// The network components (protocols and services) and their bindings to
/// the adapters: which component serves which adapter.
///
/// Guarantees: binding changes are staged by SetBound and take effect only
/// with Apply; IsBound answers the staged state. An object obtained with the
/// write lock holds it (a machine-wide named lock, waited for at most
/// 15000 ms) until it is destroyed; one without may only read.
class CNetCfg {
public:
    virtual ~CNetCfg() = default;

    virtual bool IsInstalled(const std::string& component) = 0;
    /// Adapters below the component (every interface of the namespace but the loopback).
    virtual std::vector<NetAdapter> BindingPaths(const std::string& component) = 0;
    virtual bool IsBound(const std::string& component, const std::string& adapter) = 0;
    virtual void SetBound(const std::string& component, const std::string& adapter, bool bound) = 0;
    virtual HRESULT Apply() = 0;

    virtual HRESULT InstallComponent(const std::string& component) = 0;
    virtual HRESULT UninstallComponent(const std::string& component) = 0;
};

/// Opens the system's network configuration (HrGetINetCfg): with writeLock,
/// waits up to 15000 ms for the lock (NETCFG_E_NO_WRITE_LOCK when another
/// writer keeps it). Empty result with the HRESULT on failure.
std::unique_ptr<CNetCfg> HrGetINetCfg(bool writeLock, HRESULT* result);

} // namespace qorcam::driverselect
