// HandleRegistryTest: handle tests accept only live objects of the asked family and class.
#include "HandleRegistry.h"
#include "Base.h"
#include "BasePort.h"

#include <gtest/gtest.h>

#include <memory>

using namespace qorcam::library;

namespace {

struct CameraA : CBase {};
struct CameraB : CBase {};
struct Port : CBasePort {};

TEST(HandleRegistry, AcceptsOnlyLiveObjectsOfTheAskedClass) {
    auto& registry = CHandleRegistry::Instance();
    auto a = std::make_unique<CameraA>();
    auto port = std::make_unique<Port>();
    void* handle = a->Handle();

    EXPECT_EQ((registry.Test<CBase, CameraA>(handle)), a.get());
    EXPECT_EQ((registry.Test<CBase, CameraB>(handle)), nullptr) << "another camera class";
    EXPECT_EQ((registry.Test<CBasePort, Port>(handle)), nullptr) << "a camera is no register handle";
    EXPECT_EQ((registry.Test<CBase, CameraA>(port->Handle())), nullptr) << "a register handle is no camera";
    EXPECT_EQ((registry.Test<CBase, CameraA>(nullptr)), nullptr);

    int garbage[64] = {};
    EXPECT_EQ((registry.Test<CBase, CameraA>(garbage)), nullptr) << "memory that holds no object";
    EXPECT_EQ((registry.Test<CBase, CameraA>(reinterpret_cast<void*>(0x10))), nullptr);

    a.reset();
    EXPECT_EQ((registry.Test<CBase, CameraA>(handle)), nullptr) << "a closed (stale) handle";
}

// A camera-family object that counts its shutdowns and tells its destruction.
struct Tracked : CBase {
    Tracked(int& shutdowns, bool& destroyed) : shutdowns(shutdowns), destroyed(destroyed) {}
    ~Tracked() override { destroyed = true; }
    int& shutdowns;
    bool& destroyed;

protected:
    void Shutdown() override { ++shutdowns; }
};

TEST(HandleRegistry, AClosedObjectIsRefusedAtOnceAndGoesWithItsLastReference) {
    auto& registry = CHandleRegistry::Instance();
    int shutdowns = 0;
    bool destroyed = false;
    auto* object = new Tracked(shutdowns, destroyed);
    void* handle = object->Handle();
    Tracked* held = registry.Acquire<CBase, Tracked>(handle); // a call in progress
    ASSERT_EQ(held, object);
    EXPECT_EQ((registry.Acquire<CBase, CameraA>(handle)), nullptr) << "another class";

    EXPECT_TRUE(CBase::Close(object));
    EXPECT_EQ(shutdowns, 1);
    EXPECT_FALSE(destroyed) << "the call still holds it";
    EXPECT_EQ((registry.Test<CBase, Tracked>(handle)), nullptr);
    EXPECT_EQ((registry.Acquire<CBase, Tracked>(handle)), nullptr);
    EXPECT_FALSE(CBase::Close(object)) << "closed already";
    EXPECT_EQ(shutdowns, 1);

    held->DropReference();
    EXPECT_TRUE(destroyed);
}

} // namespace
