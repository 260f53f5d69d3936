// devio_test_service: serves the test device at a name until SIGTERM, for the service-control tests.
#include "TestService.h"
#include "devio/DeviceName.h"

#include <csignal>

using namespace qorcam::devio;

int main(int argc, char** argv) {
    if (argc < 2) return 2;
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGTERM);
    sigaddset(&set, SIGINT);
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
    test::TestService service;
    if (service.Start(DevicePath(argv[1])) != STATUS_SUCCESS) return 3;
    int signal = 0;
    sigwait(&set, &signal);
    service.Stop();
    return 0;
}
