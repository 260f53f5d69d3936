// SystemdUnit: one of our service units driven through systemctl, where systemd manages the machine.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace qorcam::gigeconfig {

/// The GigE service's unit, as installed and as the driver select tool writes it.
inline constexpr const char* kGigeUnit = "QorGigE.service";

/// A unit driven with systemctl.
///
/// Guarantees: Machine() gives a unit only where systemd manages this
/// machine's services (PID 1 is systemd, systemctl is there) and no
/// QORCAM_ROOT relocates the system, so tests and side-by-side copies never
/// touch the machine's units; elsewhere the tools start the service program
/// themselves. Every systemctl call is bounded (30 s) and true only when it
/// ends with 0.
class CSystemdUnit {
public:
    /// unitFolders: where Installed() looks for the unit file.
    CSystemdUnit(std::string unit, std::string systemctl, std::vector<std::string> unitFolders);
    static std::optional<CSystemdUnit> Machine(const std::string& unit);

    const std::string& Name() const { return unit_; }
    /// A unit file of this name lies in one of the unit folders.
    bool Installed() const;
    bool IsActive() const;
    bool Start() const;
    bool Stop() const;
    /// Enabled for every boot and started now.
    bool Enable() const;
    /// Disabled and stopped now.
    bool Disable() const;
    /// systemd reads the unit files again.
    bool Reload() const;

private:
    bool Run(const std::vector<std::string>& args) const;

    std::string unit_;
    std::string systemctl_;
    std::vector<std::string> folders_;
};

} // namespace qorcam::gigeconfig
