// Tests of the virtual bus: cameras as processes arriving and leaving, and what an open handle sees of it.
#include "TestSupport.h"

#include <csignal>
#include <mutex>
#include <set>

namespace qorcam::usb::test {
namespace {

class VirtualBusTest : public UsbRootFixture {};

TEST_F(VirtualBusTest, EmptyBusListsNothing) {
    VirtualBus bus;
    EXPECT_TRUE(bus.Enumerate().empty());
    EXPECT_EQ(bus.Open("nobody"), nullptr);
    EXPECT_EQ(bus.Open("../escape"), nullptr);
}

TEST_F(VirtualBusTest, WatchSeesCamerasArriveAndLeaveWhetherKilledOrStopped) {
    VirtualBus bus;
    std::mutex mutex;
    std::set<std::string> present;
    std::vector<std::string> log;
    ASSERT_TRUE(bus.Watch(
        [&](const std::string& id) {
            std::lock_guard lock(mutex);
            present.insert(id);
            log.push_back("+" + id);
        },
        [&](const std::string& id) {
            std::lock_guard lock(mutex);
            present.erase(id);
            log.push_back("-" + id);
        }));
    auto has = [&](const std::string& id) {
        std::lock_guard lock(mutex);
        return present.count(id) == 1;
    };

    auto& killed = StartCamera("cam-killed");
    auto& stopped = StartCamera("cam-stopped");
    ASSERT_TRUE(WaitFor([&] { return has("cam-killed") && has("cam-stopped"); }));
    EXPECT_EQ(bus.Enumerate(), (std::vector<std::string>{"cam-killed", "cam-stopped"}));

    // A kill leaves the files behind; the free lock tells the bus.
    killed.Kill(SIGKILL);
    ASSERT_TRUE(WaitFor([&] { return !has("cam-killed"); }));
    EXPECT_EQ(bus.Enumerate(), std::vector<std::string>{"cam-stopped"});

    stopped.Kill(SIGTERM);
    EXPECT_EQ(stopped.Wait(5000), 0);
    ASSERT_TRUE(WaitFor([&] { return !has("cam-stopped"); }));
    EXPECT_TRUE(bus.Enumerate().empty());

    // A camera started again under the killed one's name is a new arrival.
    StartCamera("cam-killed");
    ASSERT_TRUE(WaitFor([&] { return has("cam-killed"); }));
    std::lock_guard lock(mutex);
    EXPECT_EQ(log, (std::vector<std::string>{"+cam-killed", "+cam-stopped", "-cam-killed", "-cam-stopped",
                                             "+cam-killed"}));
}

TEST_F(VirtualBusTest, CamerasPresentBeforeTheWatchAreReportedAsArrivals) {
    StartCamera("early");
    VirtualBus bus;
    std::mutex mutex;
    std::vector<std::string> arrived;
    ASSERT_TRUE(bus.Watch(
        [&](const std::string& id) {
            std::lock_guard lock(mutex);
            arrived.push_back(id);
        },
        [](const std::string&) {}));
    ASSERT_TRUE(WaitFor([&] {
        std::lock_guard lock(mutex);
        return !arrived.empty();
    }));
    EXPECT_EQ(arrived, std::vector<std::string>{"early"});
    EXPECT_FALSE(bus.Watch([](const std::string&) {}, [](const std::string&) {})) << "one watch per bus";
}

TEST_F(VirtualBusTest, ASecondCameraOfTheSameNameIsRefused) {
    StartCamera("twin");
    auto second = os::Process::Spawn(QOR_U3V_SIM_CAMERA, {"--name=twin"}, {{"QORCAM_ROOT", root_}});
    ASSERT_TRUE(second);
    EXPECT_EQ(second->Wait(5000), 1);
    VirtualBus bus;
    EXPECT_EQ(bus.Enumerate(), std::vector<std::string>{"twin"});
}

TEST_F(VirtualBusTest, UnplugCompletesTransfersInFlightAndRefusesNewOnes) {
    auto& camera = StartCamera("unplug");
    VirtualBus bus;
    auto device = bus.Open("unplug");
    ASSERT_NE(device, nullptr);
    ASSERT_EQ(device->Claim(), Status::Success);

    std::mutex mutex;
    std::condition_variable changed;
    bool removedSeen = false;
    std::optional<Status> inFlight;
    device->SetRemovalHandler([&] {
        std::lock_guard lock(mutex);
        removedSeen = true;
        changed.notify_all();
    });
    std::vector<std::uint8_t> buffer(1024);
    ASSERT_EQ(device->SubmitBulk(0x83, buffer, 0,
                                 [&](Status status, std::size_t) {
                                     std::lock_guard lock(mutex);
                                     inFlight = status;
                                     changed.notify_all();
                                 }),
              Status::Success);

    camera.Kill(SIGKILL);
    {
        std::unique_lock lock(mutex);
        ASSERT_TRUE(changed.wait_for(lock, std::chrono::seconds(5), [&] { return removedSeen && inFlight; }));
    }
    EXPECT_EQ(*inFlight, Status::NoDevice);
    EXPECT_TRUE(device->IsRemoved());
    std::size_t moved = 0;
    EXPECT_EQ(device->BulkTransfer(0x81, buffer, 100, moved), Status::NoDevice);
    bool late = false;
    device->SetRemovalHandler([&] { late = true; });
    EXPECT_TRUE(late) << "a handler set after the removal runs at once";
}

} // namespace
} // namespace qorcam::usb::test
