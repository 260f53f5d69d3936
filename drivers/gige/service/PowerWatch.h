// PowerWatch: the machine's sleep and wake-up, from the login manager on the system bus.
#pragma once

#include <atomic>
#include <functional>
#include <thread>

namespace qorcam::gige {

// Follows the login manager's PrepareForSleep signal on the system bus (the
// bus DBUS_SYSTEM_BUS_ADDRESS names, or the standard one) and calls back with
// true before the machine sleeps and false once it is awake again, from its
// own thread. Where there is no system bus, Start says so and returns false;
// the service then runs without sleep and wake-up.
class PowerWatch {
public:
    using Callback = std::function<void(bool sleeping)>;

    PowerWatch() = default;
    ~PowerWatch() { Stop(); }
    PowerWatch(const PowerWatch&) = delete;
    PowerWatch& operator=(const PowerWatch&) = delete;

    // False, with the reason, when the bus or the subscription is not to be had.
    bool Start(Callback callback, std::string* reason);
    void Stop();

private:
    Callback callback_;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

} // namespace qorcam::gige
