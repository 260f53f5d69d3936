// TrayIcon: the monitor's notification-area icon, shown only where a display and a tray exist.
#include "TrayIcon.h"

#include "Monitor.h"

#include <QAction>
#include <QApplication>
#include <QMenu>
#include <QMetaObject>
#include <QStyle>
#include <QSystemTrayIcon>

#include <cstdlib>
#include <thread>

namespace qorcam::monitor {

bool RunWithTrayIcon(CMonitor& monitor, int& exitCode) {
    const char* x11 = std::getenv("DISPLAY");
    const char* wayland = std::getenv("WAYLAND_DISPLAY");
    if ((x11 == nullptr || *x11 == '\0') && (wayland == nullptr || *wayland == '\0')) return false;

    int argc = 1;
    char name[] = "QorCamMonitor";
    char* argv[] = {name, nullptr};
    QApplication app(argc, argv);
    if (!QSystemTrayIcon::isSystemTrayAvailable()) return false;
    app.setQuitOnLastWindowClosed(false);

    QMenu fileMenu(QStringLiteral("&File"));
    QAction* exitAction = fileMenu.addAction(QStringLiteral("E&xit"));
    QObject::connect(exitAction, &QAction::triggered, [&monitor] { monitor.RequestStop(); });

    QSystemTrayIcon icon(app.style()->standardIcon(QStyle::SP_ComputerIcon));
    icon.setToolTip(QStringLiteral("QorCam Monitor"));
    icon.setContextMenu(&fileMenu);
    icon.show();

    // The monitor's own loop runs beside the window system's; whichever way
    // it ends (SIGTERM or the menu), the application follows.
    int code = 1;
    std::thread loop([&] {
        code = monitor.Run();
        QMetaObject::invokeMethod(
            &app, [] { QApplication::quit(); }, Qt::QueuedConnection);
    });
    app.exec();
    loop.join();
    icon.hide();
    exitCode = code;
    return true;
}

} // namespace qorcam::monitor
