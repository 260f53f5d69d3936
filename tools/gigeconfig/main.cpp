// QorGigECPref: lists the GigE adapters and cameras and sets their addresses.
#include "QorGigECPrefWindow.h"

#include "os/NamedMutex.h"

#include <QApplication>

int main(int argc, char** argv) {
    qorcam::os::NamedMutex instance("QORGIGECPREF_EXEC__Quillonmark");
    if (!qorcam::os::Owns(instance.TryLock())) return 0;
    // The host port of the tool's camera commands: held, never read, while the dialog runs.
    qorcam::gigeconfig::CHostPortHolder port(3954);

    QApplication app(argc, argv);
    auto service = qorcam::gigeconfig::CGigeServiceControl::System();
    qorcam::gigeconfig::CQorGigECPrefWindow window(service.get());
    int result = 3;
    if (window.Initialize()) result = window.Run();
    instance.Unlock();
    return result;
}
