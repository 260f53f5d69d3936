// QorUSBDrv: the USB3 Vision service program, one device object per camera on the bus.
#include "UsbDriver.h"

#include "os/Paths.h"

#include <csignal>
#include <cstdio>
#include <pthread.h>

int main() {
    // Stop signals are taken by this thread only, after everything is up.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGTERM);
    sigaddset(&stopSignals, SIGINT);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
    std::signal(SIGPIPE, SIG_IGN);

    using namespace qorcam;
    // The folder every user makes its named objects in, and the service's own (root only).
    os::Paths::SharedObjects();
    auto bus = usb::Bus::Create(usb::Bus::KindFromEnvironment());
    if (!bus) {
        std::fprintf(stderr, "QorUSBDrv: no USB bus\n");
        return 1;
    }
    usbdrv::UsbDriver driver(std::move(bus), usbdrv::UsbParameters::Load());
    if (!driver.Start()) {
        std::fprintf(stderr, "QorUSBDrv: the bus can't be watched\n");
        return 1;
    }
    int signal = 0;
    sigwait(&stopSignals, &signal);
    driver.Stop();
    return 0;
}
