// QorGigEFilter: the GigE network service program.
#include "GigeService.h"

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

    // The folder every user makes its named objects in, and the service's own (root only).
    qorcam::os::Paths::SharedObjects();
    qorcam::gige::GigeService service;
    std::string error;
    if (!service.Start(&error)) {
        std::fprintf(stderr, "QorGigEFilter: %s\n", error.c_str());
        return 1;
    }
    int signal = 0;
    sigwait(&stopSignals, &signal);
    service.Stop();
    return 0;
}
