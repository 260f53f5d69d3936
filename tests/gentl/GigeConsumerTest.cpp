// The GigE producer driven by a consumer that knows only the GenTL standard, on the network rig with the
// camera emulator (root; skipped elsewhere).
#include "NetworkRig.h"
#include "StandardConsumer.h"

#include <gtest/gtest.h>

namespace qorcam::gentltest {
namespace {

TEST(StandardConsumer, StreamsFromTheGigEEmulator) {
    rig::NetworkRig::Options options;
    options.driverManaged = false;
    // The emulator answers between frames only: commands get time and resends.
    options.parameters = {{"CMDRETRY", 5}, {"CMDTIMEOUT", 300}};
    rig::NetworkRig rig(options);
    if (!rig.Available()) GTEST_SKIP() << rig.Reason();
    ASSERT_TRUE(rig.CameraRunning());
    EXPECT_TRUE(rig.RunInHostNamespace([] { RunSession(GIGE_PRODUCER_PATH, "QorGigEGenTL"); }));
}

} // namespace
} // namespace qorcam::gentltest
