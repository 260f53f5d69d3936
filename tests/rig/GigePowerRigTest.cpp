// The service follows the machine's sleep and wake-up from a private bus playing the login manager.
#include "NetworkRig.h"
#include "RigClient.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

namespace qorcam::rig {
namespace {

TEST(GigePowerRig, SleepParksTheWaitersAndTheWakeUpCompletesThem) {
    if (!std::filesystem::exists("/usr/bin/dbus-daemon")) GTEST_SKIP() << "no dbus-daemon here";
    NetworkRig::Options o;
    o.startService = false;
    NetworkRig rig(o);
    if (!rig.Available()) GTEST_SKIP() << rig.Reason();

    // A private bus stands in for the system bus; the service finds it by its address.
    const std::string socket = rig.Root() + "/system_bus_socket", address = "unix:path=" + socket;
    ASSERT_GT(rig.SpawnInCamera("/usr/bin/dbus-daemon",
                                {"--session", "--nofork", "--nopidfile", "--address=" + address}),
              0);
    ASSERT_TRUE(WaitFor([&] { return std::filesystem::exists(socket); }, 10000ms));
    ::setenv("DBUS_SYSTEM_BUS_ADDRESS", address.c_str(), 1);
    const bool started = rig.StartService();
    ::unsetenv("DBUS_SYSTEM_BUS_ADDRESS");
    ASSERT_TRUE(started);

    Client c(rig);
    ASSERT_TRUE(c.Open());
    // The service subscribes once it is up; a waiter pended now sees the sleep and the wake-up.
    devio::Overlapped waiter;
    ASSERT_EQ(c.h.DeviceIoControl(IOCTL_GIGE_WaitBusEvent, &c.pid, 4, nullptr, 0, waiter),
              devio::STATUS_PENDING);
    const std::string signal = BinaryDir() + "/rig_power_signal " + address;
    std::string out;
    ASSERT_EQ(NetworkRig::Run(signal + " sleep", &out), 0) << out;
    // Asleep: the waiter is parked, not completed.
    EXPECT_FALSE(waiter.CompletionEvent().Wait(1000));
    ASSERT_EQ(NetworkRig::Run(signal + " wake", &out), 0) << out;
    ASSERT_TRUE(waiter.CompletionEvent().Wait(10000)) << "the wake-up did not complete the parked waiter";
    uint64_t bytes = 0;
    EXPECT_EQ(c.h.GetOverlappedResult(waiter, &bytes, true), STATUS_POWER_PARKED);

    // A wake-up alone (no sleep before it) parks nothing and completes nothing.
    devio::Overlapped next;
    ASSERT_EQ(c.h.DeviceIoControl(IOCTL_GIGE_WaitBusEvent, &c.pid, 4, nullptr, 0, next),
              devio::STATUS_PENDING);
    ASSERT_EQ(NetworkRig::Run(signal + " wake", &out), 0) << out;
    EXPECT_FALSE(next.CompletionEvent().Wait(1000));
    EXPECT_TRUE(rig.ServiceRunning());
}

} // namespace
} // namespace qorcam::rig
