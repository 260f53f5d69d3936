// The GigE producer driven by a consumer that knows only the GenTL standard, on the network rig with the
// camera emulator (root; skipped elsewhere).
#include "NetworkRig.h"
#include "StandardConsumer.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sched.h>
#include <unistd.h>

#include <functional>
#include <thread>

namespace qorcam::gentltest {
namespace {

// Runs `body` on a thread inside the rig's host namespace, as a process on the camera's network would.
void InHostNamespace(const rig::NetworkRig& rig, const std::function<void()>& body) {
    std::thread([&] {
        const int ns = ::open(("/var/run/netns/" + rig.HostNamespace()).c_str(), O_RDONLY | O_CLOEXEC);
        ASSERT_GE(ns, 0);
        const bool entered = ::setns(ns, CLONE_NEWNET) == 0;
        ::close(ns);
        ASSERT_TRUE(entered);
        body();
    }).join();
}

TEST(StandardConsumer, StreamsFromTheGigEEmulator) {
    rig::NetworkRig::Options options;
    options.driverManaged = false;
    // The emulator answers between frames only: commands get time and resends.
    options.parameters = {{"CMDRETRY", 5}, {"CMDTIMEOUT", 300}};
    rig::NetworkRig rig(options);
    if (!rig.Available()) GTEST_SKIP() << rig.Reason();
    ASSERT_TRUE(rig.CameraRunning());
    InHostNamespace(rig, [&] { RunSession(GIGE_PRODUCER_PATH, "QorGigEGenTL"); });
}

} // namespace
} // namespace qorcam::gentltest
