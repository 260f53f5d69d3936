// SystemdUnit: CSystemdUnit, a service unit driven through systemctl.
#include "SystemdUnit.h"

#include "os/Paths.h"
#include "os/Process.h"

#include <cstdint>
#include <fstream>
#include <unistd.h>

namespace qorcam::gigeconfig {

namespace {

constexpr std::uint32_t kSystemctlTimeoutMs = 30000;

bool Pid1IsSystemd() {
    std::ifstream comm("/proc/1/comm");
    std::string name;
    return std::getline(comm, name) && name == "systemd";
}

} // namespace

CSystemdUnit::CSystemdUnit(std::string unit, std::string systemctl, std::vector<std::string> unitFolders)
    : unit_(std::move(unit)), systemctl_(std::move(systemctl)), folders_(std::move(unitFolders)) {}

std::optional<CSystemdUnit> CSystemdUnit::Machine(const std::string& unit) {
    if (!os::Paths::Root().empty() || !Pid1IsSystemd()) return std::nullopt;
    for (const char* systemctl : {"/usr/bin/systemctl", "/bin/systemctl"}) {
        if (access(systemctl, X_OK) == 0)
            return CSystemdUnit(unit, systemctl,
                                {"/etc/systemd/system", "/run/systemd/system", "/usr/local/lib/systemd/system",
                                 "/usr/lib/systemd/system", "/lib/systemd/system"});
    }
    return std::nullopt;
}

bool CSystemdUnit::Installed() const {
    for (const auto& folder : folders_)
        if (access((folder + "/" + unit_).c_str(), F_OK) == 0) return true;
    return false;
}

bool CSystemdUnit::IsActive() const {
    return Run({"is-active", "--quiet", unit_});
}
bool CSystemdUnit::Start() const {
    return Run({"start", unit_});
}
bool CSystemdUnit::Stop() const {
    return Run({"stop", unit_});
}
bool CSystemdUnit::Enable() const {
    return Run({"enable", "--now", unit_});
}
bool CSystemdUnit::Disable() const {
    return Run({"disable", "--now", unit_});
}
bool CSystemdUnit::Reload() const {
    return Run({"daemon-reload"});
}

bool CSystemdUnit::Run(const std::vector<std::string>& args) const {
    auto child = os::Process::Spawn(systemctl_, args);
    if (!child) return false;
    auto code = child->Wait(kSystemctlTimeoutMs);
    if (!code) child->Kill(9);
    return code && *code == 0;
}

} // namespace qorcam::gigeconfig
