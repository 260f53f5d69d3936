// QorGigEPref: installs and removes the GigE network service and chooses, per adapter, which stack serves it.
#include "FilterInstall.h"
#include "PrefWindowModule.h"
#include "QorGigEPrefDlg.h"

#include "os/DynamicLibrary.h"
#include "os/NamedMutex.h"
#include "os/Paths.h"

#include <cstdio>
#include <dlfcn.h>
#include <iostream>
#include <sstream>

#ifndef QORCAM_PREF_MODULE_FROM_BIN
#define QORCAM_PREF_MODULE_FROM_BIN "../lib/qorcam"
#endif

using namespace qorcam::driverselect;

namespace {

// The window module where there is one and a display answers: beside the
// program in the build tree, else in the installed module folder. It is
// never unloaded: Qt's libraries stay until the process ends.
class WindowModule {
public:
    bool Open(int& argc, char** argv) {
        const std::string own = qorcam::os::Paths::ProgramFiles();
        void* handle = nullptr;
        for (const std::string& folder : {own, own + "/" + QORCAM_PREF_MODULE_FROM_BIN}) {
            const std::string path = folder + "/" + kPrefWindowModule;
            handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE);
            if (handle) break;
        }
        if (!handle) return false;
        auto open = reinterpret_cast<PrefOpenDisplayFn>(dlsym(handle, "QorGigEPrefOpenDisplay"));
        message_ = reinterpret_cast<PrefMessageFn>(dlsym(handle, "QorGigEPrefMessage"));
        run_ = reinterpret_cast<PrefRunWindowFn>(dlsym(handle, "QorGigEPrefRunWindow"));
        close_ = reinterpret_cast<PrefCloseDisplayFn>(dlsym(handle, "QorGigEPrefCloseDisplay"));
        if (!open || !message_ || !run_ || !close_) return false;
        display_ = open(&argc, argv);
        return display_ != nullptr;
    }
    ~WindowModule() {
        if (display_) close_(display_);
    }
    bool HasDisplay() const { return display_ != nullptr; }
    void Message(const char* text) const {
        if (display_) message_(display_, text);
    }
    void Run(const PrefEnvironment& environment) const {
        if (display_) run_(display_, &environment);
    }

private:
    void* display_ = nullptr;
    PrefMessageFn message_ = nullptr;
    PrefRunWindowFn run_ = nullptr;
    PrefCloseDisplayFn close_ = nullptr;
};

void ShowRows(const CQorGigEPrefDlg& dlg) {
    std::printf("QorCam GigE Filter Driver Select\nSelect Install:\n");
    const auto& rows = dlg.Rows();
    for (size_t i = 0; i < rows.size(); ++i)
        std::printf("  %zu [%c] %-40s %s\n", i, rows[i].checked ? 'x' : ' ', rows[i].name.c_str(),
                    rows[i].modeText.c_str());
    std::printf("DHCP Server: [%c] Active\n", dlg.DhcpChecked() ? 'x' : ' ');
}

// The dialog on a terminal: one line per control action, ended by OK or Cancel.
void RunDialog(CQorGigEPrefDlg& dlg) {
    dlg.OnInitDialog();
    ShowRows(dlg);
    std::printf(
        "Commands: check N, uncheck N, mode N 0|1|2 (0 Original, 1 Windows IPv4 Only, 2 Windows default),\n"
        "          dhcp on|off, list, ok, cancel\n");
    std::string line;
    while (std::getline(std::cin, line)) {
        std::istringstream in(line);
        std::string command;
        in >> command;
        size_t row = 0;
        if (command == "ok") {
            dlg.OnOK();
            return;
        }
        if (command == "cancel") break;
        if ((command == "check" || command == "uncheck") && in >> row) {
            dlg.SetRowChecked(row, command == "check");
        } else if (command == "mode" && in >> row) {
            std::uint32_t mode = 0;
            if (in >> mode) dlg.SelectNicMode(row, [&](const std::string&, std::uint32_t) { return mode; });
        } else if (command == "dhcp") {
            std::string on;
            in >> on;
            dlg.SetDhcpChecked(on == "on");
        } else if (command != "list" && !command.empty()) {
            std::printf("?\n");
            continue;
        }
        ShowRows(dlg);
    }
    dlg.OnCancel();
}

int InitInstance(int argc, char** argv) {
    const std::vector<std::string> args(argv, argv + argc);
    qorcam::os::NamedMutex instance("QORGIGEPREF_EXEC__Quillonmark");
    const CommandFlags flags = ParseCommandLine(args);
    if (!qorcam::os::Owns(instance.TryLock())) {
        // A silent install or removal that did nothing must not look done.
        if (!flags.install && !flags.uninstall) return 0;
        std::fprintf(stderr, "QorGigEPref is already running\n");
        return 1;
    }

    if (flags.install) {
        const int result = InstallFilterDriver(flags);
        instance.Unlock();
        return result;
    }
    if (flags.uninstall) {
        UninstallFilterDriver();
        instance.Unlock();
        return 0;
    }
    // The dialog gets a window where there is a display, else it runs on the terminal.
    WindowModule window;
    window.Open(argc, argv);
    qorcam::os::DynamicLibrary library;
    if (!library.Open("libQorCam.so")) {
        std::fprintf(stderr, "QorCam.DLL Not Found\n");
        window.Message("QorCam.DLL Not Found");
        instance.Unlock();
        return 0;
    }
    if (auto setVersion = library.Function<int (*)(std::uint32_t)>("QORCAM_SetStructVersion"))
        setVersion(10106);
    library.Close();

    auto service = qorcam::gigeconfig::CGigeServiceControl::System();
    PrefEnvironment environment;
    environment.service = service.get();
    if (window.HasDisplay()) {
        window.Run(environment);
        instance.Unlock();
        return 0;
    }
    CQorGigEPrefDlg dlg(environment);
    RunDialog(dlg);
    instance.Unlock();
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    return InitInstance(argc, argv);
}
