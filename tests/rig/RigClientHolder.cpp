// A client of the GigE service that takes per-process state and waits to be killed.
#include "GigeIoctl.h"
#include "GigeRecords.h"
#include "devio/DeviceHandle.h"

#include <arpa/inet.h>
#include <cstdio>
#include <cstdlib>
#include <unistd.h>

using namespace qorcam;
using namespace qorcam::gige;

// Usage: rig_client_holder <stream port> <multicast group> <ready file>
// Registers its process, takes the port and the group, leaves requests
// pending, creates the ready file and sleeps until it is killed.
int main(int argc, char** argv) {
    if (argc < 4) return 2;
    devio::DeviceHandle h;
    if (h.Open("\\\\.\\QORGIGE") != devio::STATUS_SUCCESS) return 1;
    const uint32_t pid = static_cast<uint32_t>(::getpid());
    const uint16_t port = static_cast<uint16_t>(std::atoi(argv[1]));
    in_addr group{};
    if (inet_pton(AF_INET, argv[2], &group) != 1) return 2;

    static devio::Overlapped registration, busEvent, message;
    if (h.DeviceIoControl(IOCTL_GIGE_RegisterProcess, &pid, sizeof pid, nullptr, 0, registration) !=
        devio::STATUS_PENDING)
        return 3;
    GigePortRecord portRecord{pid, port, {}};
    if (h.DeviceIoControl(IOCTL_GIGE_PortAlloc, &portRecord, sizeof portRecord, nullptr, 0) !=
        devio::STATUS_SUCCESS)
        return 4;
    GigeMulticastForm multicast{pid, static_cast<uint16_t>(port + 1), group.s_addr};
    if (h.DeviceIoControl(IOCTL_GIGE_AddMultiCast, &multicast, sizeof multicast, nullptr, 0) !=
        devio::STATUS_SUCCESS)
        return 5;
    if (h.DeviceIoControl(IOCTL_GIGE_WaitBusEvent, &pid, sizeof pid, nullptr, 0, busEvent) !=
        devio::STATUS_PENDING)
        return 6;
    static GigeMessageRecord record;
    if (h.DeviceIoControl(IOCTL_GIGE_GetMessage, nullptr, 0, &record, sizeof record, message) !=
        devio::STATUS_PENDING)
        return 7;
    FILE* ready = std::fopen(argv[3], "w");
    if (!ready) return 8;
    std::fclose(ready);
    for (int i = 0; i < 600; ++i)
        ::sleep(1); // killed long before
    return 0;
}
