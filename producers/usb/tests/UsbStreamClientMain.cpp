// usb_stream_client <producer> <camera id> <payload>: a consumer process that streams the camera
// through the USB producer until it is killed (or a minute has passed), for tests that end a
// consumer in the middle of a stream.
#include "UsbStreamSession.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <exception>

int main(int argc, char** argv) {
    if (argc != 4) {
        std::fprintf(stderr, "usage: usb_stream_client <producer> <camera id> <payload>\n");
        return 2;
    }
    try {
        qorcam::testing::GenTLConsumer gc(argv[1]);
        TL_HANDLE tl = nullptr;
        IF_HANDLE iface = nullptr;
        bool8_t changed = 0;
        if (gc.GCInitLib() != GC_ERR_SUCCESS || gc.TLOpen(&tl) != GC_ERR_SUCCESS ||
            gc.TLUpdateInterfaceList(tl, &changed, 1000) != GC_ERR_SUCCESS ||
            gc.TLOpenInterface(tl, "QORUSB::\\\\.\\QORUSB", &iface) != GC_ERR_SUCCESS ||
            gc.IFUpdateDeviceList(iface, &changed, 5000) != GC_ERR_SUCCESS) {
            std::fprintf(stderr, "usb_stream_client: no interface\n");
            return 1;
        }
        qorcam::testing::UsbStreamSession session(gc);
        std::string error;
        if (!session.Start(iface, argv[2], std::strtoull(argv[3], nullptr, 0), 3, error)) {
            std::fprintf(stderr, "usb_stream_client: %s\n", error.c_str());
            return 1;
        }
        const auto end = std::chrono::steady_clock::now() + std::chrono::minutes(1);
        while (std::chrono::steady_clock::now() < end)
            if (BUFFER_HANDLE b = session.Next(100)) gc.DSQueueBuffer(session.ds, b);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "usb_stream_client: %s\n", e.what());
        return 1;
    }
    return 0;
}
