// The window module of QorGigEPref: the Qt window over the tool's logic, so the program itself needs no Qt.
#include "PrefWindowModule.h"
#include "QorGigEPrefWindow.h"

#include <QApplication>
#include <QMessageBox>

using namespace qorcam::driverselect;

extern "C" {

__attribute__((visibility("default"))) void* QorGigEPrefOpenDisplay(int* argc, char** argv) {
    return OpenPrefDisplay(*argc, argv).release();
}

__attribute__((visibility("default"))) void QorGigEPrefMessage(void* display, const char* text) {
    if (display) QMessageBox::information(nullptr, "QorGigEPref", text);
}

__attribute__((visibility("default"))) void QorGigEPrefRunWindow(void* display, const PrefEnvironment* environment) {
    if (!display || !environment) return;
    CQorGigEPrefWindow window(*environment);
    window.Initialize();
    window.exec();
}

__attribute__((visibility("default"))) void QorGigEPrefCloseDisplay(void* display) {
    delete static_cast<QApplication*>(display);
}

} // extern "C"
