// rig_power_signal: plays the login manager on a private bus: takes its name and sends
// PrepareForSleep(true) ("sleep") or PrepareForSleep(false) ("wake").
#include <cstdio>
#include <cstring>
#include <systemd/sd-bus.h>

int main(int argc, char** argv) {
    if (argc != 3 || (std::strcmp(argv[2], "sleep") != 0 && std::strcmp(argv[2], "wake") != 0)) {
        std::fprintf(stderr, "usage: %s <bus address> sleep|wake\n", argv[0]);
        return 2;
    }
    sd_bus* bus = nullptr;
    int r = sd_bus_new(&bus);
    if (r >= 0) r = sd_bus_set_address(bus, argv[1]);
    if (r >= 0) r = sd_bus_set_bus_client(bus, 1);
    if (r >= 0) r = sd_bus_start(bus);
    if (r >= 0) r = sd_bus_request_name(bus, "org.freedesktop.login1", 0);
    if (r >= 0)
        r = sd_bus_emit_signal(bus, "/org/freedesktop/login1", "org.freedesktop.login1.Manager",
                               "PrepareForSleep", "b", std::strcmp(argv[2], "sleep") == 0 ? 1 : 0);
    if (r >= 0) r = sd_bus_flush(bus);
    if (r < 0) std::fprintf(stderr, "rig_power_signal: %s\n", std::strerror(-r));
    sd_bus_flush_close_unref(bus);
    return r < 0 ? 1 : 0;
}
