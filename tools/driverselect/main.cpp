// QorGigEPref: installs and removes the GigE network service and chooses, per adapter, which stack serves it.
#include "FilterInstall.h"
#include "QorGigEPrefDlg.h"

#include "os/DynamicLibrary.h"
#include "os/NamedMutex.h"

#include <cstdio>
#include <iostream>
#include <sstream>

#ifdef QORCAM_PREF_WINDOW
#include "QorGigEPrefWindow.h"

#include <QApplication>
#include <QMessageBox>
#endif

using namespace qorcam::driverselect;

namespace {

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
#ifdef QORCAM_PREF_WINDOW
    // The dialog gets a window where there is a display, else it runs on the terminal.
    std::unique_ptr<QApplication> app = OpenPrefDisplay(argc, argv);
#endif
    qorcam::os::DynamicLibrary library;
    if (!library.Open("libQorCam.so")) {
        std::fprintf(stderr, "QorCam.DLL Not Found\n");
#ifdef QORCAM_PREF_WINDOW
        if (app) QMessageBox::information(nullptr, "QorGigEPref", "QorCam.DLL Not Found");
#endif
        instance.Unlock();
        return 0;
    }
    if (auto setVersion = library.Function<int (*)(std::uint32_t)>("QORCAM_SetStructVersion"))
        setVersion(10106);
    library.Close();

    auto service = qorcam::gigeconfig::CGigeServiceControl::System();
    PrefEnvironment environment;
    environment.service = service.get();
#ifdef QORCAM_PREF_WINDOW
    if (app) {
        CQorGigEPrefWindow window(environment);
        window.Initialize();
        window.exec();
        instance.Unlock();
        return 0;
    }
#endif
    CQorGigEPrefDlg dlg(environment);
    RunDialog(dlg);
    instance.Unlock();
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    return InitInstance(argc, argv);
}
