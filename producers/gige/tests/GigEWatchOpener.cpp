// A second process on the rig's host: opens a camera through the producer with the access asked
// for, reads its control-privilege register and prints what it got ("open=<GenTL status>
// control=<value>"). Exits 0 whenever it could ask at all.
#include "GigEDiscovered.h"

#include <arpa/inet.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

using namespace qorcam::testing;

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s readonly|control <device id>\n", argv[0]);
        return 2;
    }
    const bool readOnly = std::strcmp(argv[1], "readonly") == 0;
    const std::string id = argv[2];
    GenTLConsumer gc(GIGE_PRODUCER_PATH);
    TL_HANDLE tl = nullptr;
    IF_HANDLE iface = nullptr;
    if (gc.GCInitLib() != GC_ERR_SUCCESS || gc.TLOpen(&tl) != GC_ERR_SUCCESS ||
        gc.TLOpenInterface(tl, "QORGIGE::\\\\.\\QORGIGE", &iface) != GC_ERR_SUCCESS) {
        std::printf("no interface\n");
        return 1;
    }
    if (!Discovered(gc, iface, id)) {
        std::printf("not discovered\n");
        return 1;
    }
    DEV_HANDLE device = nullptr;
    const GC_ERROR open = gc.IFOpenDevice(iface, id.c_str(),
                                          readOnly ? DEVICE_ACCESS_READONLY : DEVICE_ACCESS_CONTROL, &device);
    uint32_t control = 0xFFFFFFFF;
    if (open == GC_ERR_SUCCESS) {
        PORT_HANDLE port = nullptr;
        size_t size = 4;
        if (gc.DevGetPort(device, &port) == GC_ERR_SUCCESS &&
            gc.GCReadPort(port, 0x0A00, &control, &size) == GC_ERR_SUCCESS)
            control = ntohl(control);
        gc.DevClose(device);
    }
    std::printf("open=%d control=%u\n", static_cast<int>(open), control);
    gc.IFClose(iface);
    gc.TLClose(tl);
    gc.GCCloseLib();
    return 0;
}
