// main: QorCamViewer's start-up: the library, the persisted state, the main frame and the camera-list thread.
#include "MainFrame.h"
#include "ViewerSettings.h"

#include "FeatureAccess.h"

#include <QApplication>
#include <QMessageBox>

#include <cstdio>

using namespace qorcam::viewer;

namespace {

CQorViewerApp* g_app = nullptr;

/// The guarded getters answer while the active camera window is live.
bool ActiveWindowIsLive() {
    if (!g_app) return false;
    CChildFrame* child = g_app->activeChild;
    if (!child || !child->hCamera) return false;
    std::lock_guard lock(g_app->TableLock());
    for (CChildFrame* c : g_app->openChildren)
        if (c == child) return true;
    return false;
}

/// Feature access failures are not shown to the user; they go to the error stream.
void LogFeatureFailure(const std::string& text) {
    std::fprintf(stderr, "QorCamViewer: %s\n", text.c_str());
}

} // namespace

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    QApplication::setApplicationName("QorCamViewer");
    QApplication::setOrganizationName("Korvash");

    CameraLibrary library;
    if (!library.Load())
        std::fprintf(stderr, "QorCamViewer: the camera library could not be loaded: %s\n",
                     library.ErrorText().c_str());
    CQorViewerApp app(library);
    g_app = &app;
    SetFeatureGuard(&ActiveWindowIsLive);
    SetFeatureFailureSink(&LogFeatureFailure);

    qorcam::os::SettingsStore store(qorcam::os::SettingsStore::Hive::User);
    uint32_t propertyType = 0;
    ViewerSettings settings(store, app.favourites, app.folders, propertyType);
    settings.LoadCustomState();

    app.RegisterWithLibrary();
    CMainFrame frame(app);
    frame.Properties()->Logic().SetInitialLevel(propertyType);
    frame.RestoreWindowState(store);
    frame.onClose = [&] {
        propertyType = frame.Properties()->Logic().level;
        settings.SaveCustomState();
        frame.SaveWindowState(store);
    };
    frame.show();
    if (library.IsLoaded()) app.StartCameraListThread(frame);
    const int result = application.exec();
    app.Stop([] { QCoreApplication::processEvents(); });
    SetFeatureGuard(nullptr);
    g_app = nullptr;
    return result;
}
