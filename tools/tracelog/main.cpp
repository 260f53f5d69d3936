// QorCamLog: the trace log tool's program: one instance, the log guard, then the dialog.
#include "AppInstance.h"
#include "QorCamLogDlg.h"

#include <QApplication>
#include <QSessionManager>
#include <QSocketNotifier>

#include <csignal>
#include <fcntl.h>
#include <memory>
#include <unistd.h>

namespace {

int g_endPipe[2] = {-1, -1};

// The session's end reaches a Linux program as SIGTERM or SIGHUP; the
// dialog stops logging on the main thread before the program ends.
void OnEndSignal(int) {
    const char byte = 1;
    [[maybe_unused]] auto ignored = ::write(g_endPipe[1], &byte, 1);
}

class CQorCamLogApp {
public:
    int InitInstance(int argc, char** argv) {
        qorcam::tracelog::CAppInstance instance;
        if (!instance.Acquire()) return 0; // another copy runs: end silently, before any window
        qorcam::tracelog::CAppInstance::StartLogGuard();
        // From here on an end signal is kept in the pipe until the dialog runs.
        const bool endSignals = ::pipe2(g_endPipe, O_CLOEXEC | O_NONBLOCK) == 0;
        if (endSignals) {
            std::signal(SIGTERM, OnEndSignal);
            std::signal(SIGHUP, OnEndSignal);
        }

        QApplication app(argc, argv);
        qorcam::tracelog::CQorCamLogDlg dialog;
        if (!dialog.OnInitDialog()) return 0;

        QObject::connect(&app, &QGuiApplication::commitDataRequest, &dialog,
                         [&dialog](QSessionManager&) { dialog.OnQueryEndSession(); });
        std::unique_ptr<QSocketNotifier> endNotifier;
        if (endSignals) {
            endNotifier = std::make_unique<QSocketNotifier>(g_endPipe[0], QSocketNotifier::Read);
            QObject::connect(endNotifier.get(), &QSocketNotifier::activated, &dialog, [&dialog] {
                dialog.OnQueryEndSession();
                dialog.done(QDialog::Rejected);
            });
        }
        dialog.exec();
        return 0;
    }
};

} // namespace

int main(int argc, char** argv) {
    CQorCamLogApp app;
    return app.InitInstance(argc, argv);
}
