// The machine's sleep and wake-up reach an application through libQorCam.so as its power-up
// event: a private bus plays the login manager for the GigE service on the network rig.
#include "NetworkRig.h"
#include "QorCam.h"

#include <gtest/gtest.h>

#include <dlfcn.h>

#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <thread>
#include <vector>

namespace qorcam::testing {
namespace {

using namespace std::chrono_literals;

struct Codes {
    std::mutex mutex;
    std::condition_variable changed;
    std::vector<int> seen;
    static void Callback(STATUS_SYSTEMCODE code, void* context) {
        auto* self = static_cast<Codes*>(context);
        std::lock_guard lock(self->mutex);
        self->seen.push_back(static_cast<int>(code));
        self->changed.notify_all();
    }
    bool WaitFor(int code, std::chrono::milliseconds limit) {
        std::unique_lock lock(mutex);
        return changed.wait_for(lock, limit,
                                [&] { return std::find(seen.begin(), seen.end(), code) != seen.end(); });
    }
};

template <class F> F Symbol(void* library, const char* name) {
    return reinterpret_cast<F>(dlsym(library, name));
}

TEST(PowerEvents, SleepAndWakeUpReachTheApplicationAsAPowerUp) {
    if (!std::filesystem::exists("/usr/bin/dbus-daemon")) GTEST_SKIP() << "no dbus-daemon here";
    rig::NetworkRig::Options o;
    o.driverManaged = false;
    o.startService = false;
    rig::NetworkRig rig(o);
    if (!rig.Available()) GTEST_SKIP() << rig.Reason();
    const std::string socket = rig.Root() + "/system_bus_socket", address = "unix:path=" + socket;
    ASSERT_GT(rig.SpawnInCamera("/usr/bin/dbus-daemon",
                                {"--session", "--nofork", "--nopidfile", "--address=" + address}),
              0);
    const auto until = std::chrono::steady_clock::now() + 10s;
    while (!std::filesystem::exists(socket) && std::chrono::steady_clock::now() < until)
        std::this_thread::sleep_for(20ms);
    ASSERT_TRUE(std::filesystem::exists(socket));
    ::setenv("DBUS_SYSTEM_BUS_ADDRESS", address.c_str(), 1);
    const bool started = rig.StartService();
    ::unsetenv("DBUS_SYSTEM_BUS_ADDRESS");
    ASSERT_TRUE(started);

    void* library = dlopen((rig::BinaryDir() + "/libQorCam.so").c_str(), RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(library, nullptr) << dlerror();
    auto setStructVersion = Symbol<decltype(&QORCAM_SetStructVersion)>(library, "QORCAM_SetStructVersion");
    auto setCallBack = Symbol<decltype(&QORCAM_SetCallBack)>(library, "QORCAM_SetCallBack");
    auto getList = Symbol<decltype(&QORCAM_GetList)>(library, "QORCAM_GetList");
    ASSERT_TRUE(setStructVersion && setCallBack && getList);
    ASSERT_TRUE(setStructVersion(LIBRARY_STRUCT_VERSION));
    Codes codes;
    setCallBack(&codes, &Codes::Callback);
    // The list loads the producers, whose interfaces wait for the service's bus events.
    std::vector<uint8_t> block(offsetof(QORCAM_LIST, Info) + 8 * sizeof(QORCAM_CAMERAINFO));
    reinterpret_cast<QORCAM_LIST*>(block.data())->Count = 8;
    ASSERT_TRUE(getList(reinterpret_cast<QORCAM_LIST*>(block.data())));

    // A sleep and a wake-up; the interface's wait may not be pended yet at the first, so a few
    // (bounded) tries.
    const std::string signal = rig::BinaryDir() + "/rig_power_signal " + address;
    bool powerUp = false;
    for (int attempt = 0; attempt < 5 && !powerUp; ++attempt) {
        std::string out;
        ASSERT_EQ(rig::NetworkRig::Run(signal + " sleep", &out), 0) << out;
        ASSERT_EQ(rig::NetworkRig::Run(signal + " wake", &out), 0) << out;
        powerUp = codes.WaitFor(STATUSQORCAM_POWERUP, 3s);
    }
    EXPECT_TRUE(powerUp) << "no power-up reached the application";
    setCallBack(nullptr, nullptr); // the library stays loaded until the process ends, as applications keep it
    EXPECT_TRUE(rig.ServiceRunning());
}

} // namespace
} // namespace qorcam::testing
