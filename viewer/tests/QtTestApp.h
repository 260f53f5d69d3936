// QtTestApp: the one QApplication of a widget test program (on the offscreen display
// unless QT_QPA_PLATFORM names another) and the loops that let its events run.
#pragma once

#include <QApplication>
#include <QCoreApplication>
#include <QElapsedTimer>

#include <cstdlib>

namespace qorcam::viewer::testing {

inline QApplication& Application() {
    if (auto* existing = qobject_cast<QApplication*>(QCoreApplication::instance())) return *existing;
    static int argc = 1;
    static char name[] = "viewer_widget_tests";
    static char* argv[] = {name, nullptr};
    if (!std::getenv("QT_QPA_PLATFORM")) setenv("QT_QPA_PLATFORM", "offscreen", 1);
    // Never destroyed: Qt's own globals go first at exit.
    return *new QApplication(argc, argv);
}

/// Lets the events of the next ms milliseconds run, and in any case a few rounds of
/// them: on a loaded machine one round can take the whole time, and an event that
/// round posted (a queued call, a pane's visibility change) would wait for the next.
inline void Pump(int ms = 50) {
    QElapsedTimer t;
    t.start();
    for (int rounds = 0; rounds < 8 || t.elapsed() < ms; ++rounds) {
        QCoreApplication::sendPostedEvents();
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    }
}

/// Lets events run until done() holds; false after ms milliseconds.
template <class F> bool PumpUntil(F&& done, int ms = 60000) {
    QElapsedTimer t;
    t.start();
    while (!done()) {
        if (t.elapsed() > ms) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    }
    return true;
}

} // namespace qorcam::viewer::testing
