// Tests of named shared memory: existence, sizes, names and last-user lifetime.
#include "TestSupport.h"

#include "os/NamedEvent.h"
#include "os/Paths.h"
#include "os/SharedMemory.h"

#include <cstring>
#include <filesystem>

namespace qorcam::os {
namespace {

using SharedMemoryTest = test::RootFixture;

TEST_F(SharedMemoryTest, SecondOpenSeesTheFirstsBytesAndLastCloseRemovesIt) {
    SharedMemory first("QORCAMLogFile_Test", 32776);
    ASSERT_TRUE(first.IsValid()) << first.Error();
    EXPECT_FALSE(first.AlreadyExisted());
    const auto* bytes = static_cast<const unsigned char*>(first.Data());
    for (std::size_t i = 0; i < first.Size(); ++i)
        ASSERT_EQ(bytes[i], 0) << i;
    std::strcpy(static_cast<char*>(first.Data()) + 8, "line");

    SharedMemory second("QORCAMLogFile_Test", 32776);
    ASSERT_TRUE(second.IsValid());
    EXPECT_TRUE(second.AlreadyExisted());
    EXPECT_STREQ(static_cast<char*>(second.Data()) + 8, "line");
    EXPECT_EQ(first.Path(), second.Path());

    first.Close();
    EXPECT_TRUE(std::filesystem::exists(second.Path()));
    const std::string path = second.Path();
    second.Close();
    EXPECT_FALSE(std::filesystem::exists(path));

    SharedMemory again("QORCAMLogFile_Test", 32776);
    ASSERT_TRUE(again.IsValid());
    EXPECT_FALSE(again.AlreadyExisted());
    EXPECT_EQ(static_cast<char*>(again.Data())[8], 0);
}

TEST_F(SharedMemoryTest, ExistingAreaSmallerThanAskedFailsInsteadOfOverrunning) {
    SharedMemory small("Area", 100);
    ASSERT_TRUE(small.IsValid());
    SharedMemory larger("Area", 8192);
    EXPECT_FALSE(larger.IsValid());
    EXPECT_NE(larger.Error(), 0);
    SharedMemory smaller("Area", 10);
    EXPECT_TRUE(smaller.IsValid());
    EXPECT_TRUE(smaller.AlreadyExisted());
}

TEST_F(SharedMemoryTest, NamesAreEscapedAndBadNamesFail) {
    struct Case {
        std::string name;
        bool valid;
    };
    const Case cases[] = {
        {"plain_Name-1{GUID}", true},
        {"with/slash", true},
        {"Global\\back slash", true},
        {"..", true},
        {".hidden", true},
        {"", false},
        {std::string(241, 'a'), false},
        {std::string(100, '/'), false}, // 300 bytes once escaped
    };
    for (const Case& c : cases) {
        SharedMemory area(c.name, 16);
        EXPECT_EQ(area.IsValid(), c.valid) << c.name;
        if (area.IsValid()) {
            // Every file stays inside the named-object folder.
            EXPECT_EQ(std::filesystem::path(area.Path()).parent_path(), Paths::SharedObjects()) << c.name;
        }
    }
    EXPECT_FALSE(SharedMemory("zero", 0).IsValid());
    // Different names never share an area.
    SharedMemory a("a/b", 16);
    SharedMemory b("a_b", 16);
    EXPECT_FALSE(b.AlreadyExisted());
}

TEST_F(SharedMemoryTest, ChildProcessSeesTheSameArea) {
    SharedMemory area("Shared_Trace", 4096);
    ASSERT_TRUE(area.IsValid());
    std::strcpy(static_cast<char*>(area.Data()), "from parent");
    auto child = SpawnChild("check-shm", {"Shared_Trace"});
    ASSERT_TRUE(child.has_value());
    EXPECT_EQ(test::ExitCodeOf(*child), 0);
    EXPECT_STREQ(static_cast<char*>(area.Data()) + 100, "from child");
    // The child's close left the area to us; ours is the last.
    const std::string path = area.Path();
    EXPECT_TRUE(std::filesystem::exists(path));
    area.Close();
    EXPECT_FALSE(std::filesystem::exists(path));
}

TEST_F(SharedMemoryTest, AreaLeftByKilledUsersStartsAfresh) {
    // The only user dies without closing: like a page-file mapping, the area
    // must not outlive it.
    auto child = SpawnChild("hold-shm", {"Orphan"});
    ASSERT_TRUE(child.has_value());
    NamedEvent ready("Orphan.ready", ResetMode::Manual);
    ASSERT_TRUE(ready.Wait(10000));
    ASSERT_TRUE(child->Kill(9));
    ASSERT_TRUE(child->Wait(10000).has_value());
    EXPECT_TRUE(std::filesystem::exists(Paths::SharedObjects() + "/Orphan.mem"));

    SharedMemory area("Orphan", 4096);
    ASSERT_TRUE(area.IsValid());
    EXPECT_FALSE(area.AlreadyExisted());
    EXPECT_EQ(static_cast<unsigned char*>(area.Data())[0], 0);
    EXPECT_EQ(static_cast<unsigned char*>(area.Data())[4095], 0);
}

TEST_F(SharedMemoryTest, AreaHeldByALivingChildIsKept) {
    auto child = SpawnChild("hold-shm", {"Held"});
    ASSERT_TRUE(child.has_value());
    NamedEvent ready("Held.ready", ResetMode::Manual);
    ASSERT_TRUE(ready.Wait(10000));
    SharedMemory area("Held", 4096);
    ASSERT_TRUE(area.IsValid());
    EXPECT_TRUE(area.AlreadyExisted());
    EXPECT_EQ(static_cast<unsigned char*>(area.Data())[4095], 0x5A);
}

} // namespace
} // namespace qorcam::os
