// InstallFilterDriver and UninstallFilterDriver: the silent modes of the driver select tool.
#include "FilterInstall.h"

#include "GigeServiceControl.h"
#include "InfStore.h"
#include "NicBindings.h"
#include "ProfileFile.h"

#include "os/Paths.h"

#include <cstdarg>
#include <cstdio>
#include <filesystem>
#include <unistd.h>

namespace qorcam::driverselect {

HRESULT HrInstallNetComponent(CNetCfg& cfg) {
    HRESULT hr = cfg.InstallComponent(kFilterComponent);
    if (!Succeeded(hr)) return hr;
    size_t walked = 0;
    for (const NetAdapter& adapter : cfg.BindingPaths(kFilterComponent)) {
        cfg.SetBound(kFilterComponent, adapter.bindName, false);
        ++walked;
    }
    return walked > 0 ? cfg.Apply() : S_FALSE;
}

void UninstallFilterComponent(CNetCfg& cfg) {
    if (!cfg.IsInstalled(kFilterComponent)) return;
    if (Succeeded(cfg.UninstallComponent(kFilterComponent))) cfg.Apply();
}

namespace {

// Why /Install failed, on stderr for the one who ran it (the log keeps the codes).
__attribute__((format(printf, 1, 2))) void InstallError(const char* format, ...) {
    std::fputs("QorGigEPref /Install: ", stderr);
    va_list args;
    va_start(args, format);
    std::vfprintf(stderr, format, args);
    va_end(args);
    std::fputc('\n', stderr);
}

std::string DefaultPackageFolder() {
    // Beside the tool in the build tree; share/qorcam beside an installed bin.
    const std::string own = os::Paths::ProgramFiles();
    const std::string beside = own + "/Driver/GigE";
    if (access((beside + "/QorGigE.inf").c_str(), F_OK) == 0) return beside;
    const std::string installed = own + "/../share/qorcam/Driver/GigE";
    return access((installed + "/QorGigE.inf").c_str(), F_OK) == 0 ? installed : beside;
}

} // namespace

int InstallFilterDriver(const CommandFlags& flags, const NetCfgFactory& netCfg) {
    CInstallLog log;
    if (flags.log) {
        log.Open();
        log.WriteLogLine("QorGigE Driver Install Start\n");
    }
    CInfStore store;
    if (const std::string installed = store.FindInstalledFilterInf(); !installed.empty()) {
        InstallError("the GigE service is installed already (%s); QorGigEPref /Uninstall removes it",
                     installed.c_str());
        log.WriteLogLine("Not Uninstall QorGigE Driver\n");
        log.WriteLogLine("QorGigE Driver Install End\n\n");
        return 2;
    }
    const std::string folder = flags.path ? flags.folder + "/Driver/GigE" : DefaultPackageFolder();

    bool failed = true;
    HRESULT hr = S_OK;
    std::unique_ptr<CNetCfg> cfg = netCfg(true, &hr);
    if (!cfg) {
        InstallError("the network configuration can't be opened (0x%08X); another program holds it", hr);
        log.WriteLogValue("Open HrGetINetCfg Error 0x%08X\n", hr);
    } else if (std::uint32_t error = store.SetupCopyOEMInf(folder + "/QorGigE.inf")) {
        InstallError("the service's package %s/QorGigE.inf can't be copied to %s (error %u)", folder.c_str(),
                     store.Folder().c_str(), error);
        log.WriteLogValue("SetupCopyOEMInf QorGigE.inf Install Error 0x%08X\n", error);
    } else if ((hr = HrInstallNetComponent(*cfg)) != S_OK) {
        if (hr == S_FALSE)
            InstallError("no network adapter found; nothing installed");
        else
            InstallError("the service could not be installed (0x%08X): its settings in %s"
                         " or its unit QorGigE.service (enabled and started with systemctl) failed",
                         hr, os::Paths::MachineSettings().c_str());
        log.WriteLogValue("HrInstallNetComponent Driver 0x%08X\n", hr);
        // Nothing of a failed install stays: the component and the package
        // copy would make every later install answer "installed already".
        UninstallFilterComponent(*cfg);
        const std::string copied = store.FindInstalledFilterInf();
        if (!copied.empty()) store.SetupUninstallOEMInf(std::filesystem::path(copied).filename().string());
    } else {
        failed = false;
    }
    log.WriteLogLine("QorGigE Driver Install End\n\n");
    log.Close();
    return failed ? 1 : 0;
}

int UninstallFilterDriver(const NetCfgFactory& netCfg) {
    // The service ends before its configuration goes.
    if (auto service = gigeconfig::CGigeServiceControl::System()) service->Stop();
    HRESULT hr = S_OK;
    if (std::unique_ptr<CNetCfg> cfg = netCfg(true, &hr)) {
        NicBindingEntries entries;
        ConfigureNicBindings(entries, *cfg, 21);
        UninstallFilterComponent(*cfg);
        for (int pass = 11; pass <= 19; ++pass)
            ConfigureNicBindings(entries, *cfg, pass);
        cfg->Apply();
    }

    // Every installed copy goes; a copy that can't be removed ends the loop,
    // since the search would find it again.
    CInfStore store;
    for (int round = 0; round < 1000; ++round) {
        const std::string path = store.FindInstalledFilterInf();
        if (path.empty()) break;
        if (access(path.c_str(), R_OK | W_OK) != 0) {
            std::error_code ec;
            std::filesystem::permissions(
                path, std::filesystem::perms::owner_read | std::filesystem::perms::owner_write,
                std::filesystem::perm_options::add, ec);
        }
        if (!store.SetupUninstallOEMInf(std::filesystem::path(path).filename().string())) break;
    }

    gigeconfig::CProfileFile(gigeconfig::CProfileFile::ProfilePath(false)).Delete();
    return 1;
}

} // namespace qorcam::driverselect
