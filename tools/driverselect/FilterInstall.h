// InstallFilterDriver and UninstallFilterDriver: the silent modes of the driver select tool.
#pragma once

#include "CommandLine.h"
#include "InstallLog.h"
#include "NetCfg.h"

#include <cstdint>
#include <functional>
#include <memory>

namespace qorcam::driverselect {

using NetCfgFactory = std::function<std::unique_ptr<CNetCfg>(bool writeLock, HRESULT* result)>;

/// Installs the component QorGigEFilter with every binding off and applies.
/// S_FALSE when it reaches no adapter (nothing applied; a failure to the caller).
HRESULT HrInstallNetComponent(CNetCfg& cfg);
/// Removes the component QorGigEFilter and applies when that worked.
void UninstallFilterComponent(CNetCfg& cfg);

/// /Install: 0 installed, 1 a step failed (the log names it; what the
/// install had done is undone), 2 an installed copy of the package already
/// exists (nothing changed).
int InstallFilterDriver(const CommandFlags& flags, const NetCfgFactory& netCfg = HrGetINetCfg);
/// /Uninstall: stops the GigE service, gives every adapter its system bindings back, removes the
/// component, every installed copy of the package and the profile file. Returns 1.
int UninstallFilterDriver(const NetCfgFactory& netCfg = HrGetINetCfg);

} // namespace qorcam::driverselect
