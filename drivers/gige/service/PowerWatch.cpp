// PowerWatch: the machine's sleep and wake-up, from the login manager on the system bus.
#include "PowerWatch.h"

#include <cstring>
#include <string>
#include <systemd/sd-bus.h>

namespace qorcam::gige {

namespace {

int OnPrepareForSleep(sd_bus_message* message, void* userdata, sd_bus_error*) {
    int sleeping = 0;
    if (sd_bus_message_read(message, "b", &sleeping) < 0) return 0; // not the signal's form: ignored
    (*static_cast<PowerWatch::Callback*>(userdata))(sleeping != 0);
    return 0;
}

} // namespace

bool PowerWatch::Start(Callback callback, std::string* reason) {
    Stop();
    callback_ = std::move(callback);
    sd_bus* bus = nullptr;
    int r = sd_bus_open_system(&bus);
    if (r < 0) {
        if (reason) *reason = std::string("no system bus: ") + std::strerror(-r);
        return false;
    }
    // Only the login manager's own name may send it: another client of the
    // bus can't put the service to sleep.
    r = sd_bus_match_signal(bus, nullptr, "org.freedesktop.login1", "/org/freedesktop/login1",
                            "org.freedesktop.login1.Manager", "PrepareForSleep", OnPrepareForSleep,
                            &callback_);
    if (r < 0) {
        if (reason) *reason = std::string("PrepareForSleep not subscribed: ") + std::strerror(-r);
        sd_bus_flush_close_unref(bus);
        return false;
    }
    stop_ = false;
    thread_ = std::thread([this, bus] {
        while (!stop_.load()) {
            int processed = sd_bus_process(bus, nullptr);
            if (processed < 0) break; // the bus went away: no more power events
            if (processed > 0) continue;
            sd_bus_wait(bus, 100000); // microseconds: Stop is noticed within a tenth of a second
        }
        sd_bus_flush_close_unref(bus);
    });
    return true;
}

void PowerWatch::Stop() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
}

} // namespace qorcam::gige
