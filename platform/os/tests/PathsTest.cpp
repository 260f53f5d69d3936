// Tests of the system folders with and without QORCAM_ROOT.
#include "os/Paths.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace qorcam::os {
namespace {

class PathsTest : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/qorcam-paths-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        temp_ = pattern;
        if (const char* home = std::getenv("HOME")) oldHome_ = home;
        setenv("HOME", (temp_ + "/home").c_str(), 1);
    }
    void TearDown() override {
        unsetenv("QORCAM_ROOT");
        if (oldHome_.empty()) {
            unsetenv("HOME");
        } else {
            setenv("HOME", oldHome_.c_str(), 1);
        }
        std::error_code ignored;
        std::filesystem::remove_all(temp_, ignored);
    }
    std::string temp_;
    std::string oldHome_;
};

struct Folder {
    const char* what;
    std::function<std::string()> get;
    const char* underRoot;
    const char* underHome; // null: a system folder
    const char* system;
};

const Folder kFolders[] = {
    {"run", Paths::Run, "run", nullptr, "/run/qorcam"},
    {"machine", Paths::MachineSettings, "etc", nullptr, "/etc/qorcam"},
    {"data", Paths::Data, "data", nullptr, "/var/lib/qorcam"},
    {"user", Paths::UserSettings, "user", ".config/qorcam", nullptr},
    {"documents", Paths::Documents, "documents", "Documents", nullptr},
};

TEST_F(PathsTest, RootRelocatesEveryFolderAndCreatesIt) {
    for (const char* root : {"/r", "/r/", "rel"}) {
        const std::string given = temp_ + root;
        const std::string expected = temp_ + (std::string(root) == "/r/" ? "/r" : root);
        setenv("QORCAM_ROOT", given.c_str(), 1);
        EXPECT_EQ(Paths::Root(), expected);
        for (const Folder& f : kFolders) {
            const std::string path = f.get();
            EXPECT_EQ(path, expected + "/" + f.underRoot) << f.what;
            EXPECT_TRUE(std::filesystem::is_directory(path)) << f.what;
        }
        EXPECT_EQ(Paths::SharedObjects(), expected + "/run/user/" + std::to_string(geteuid()));
        EXPECT_TRUE(std::filesystem::is_directory(Paths::SharedObjects()));
    }
}

TEST_F(PathsTest, RelativeRootIsTakenFromTheCurrentFolder) {
    const auto old = std::filesystem::current_path();
    std::filesystem::current_path(temp_);
    setenv("QORCAM_ROOT", "sub", 1);
    const std::string root = Paths::Root();
    std::filesystem::current_path(old);
    EXPECT_EQ(std::filesystem::weakly_canonical(root), std::filesystem::canonical(temp_) / "sub");
}

TEST_F(PathsTest, WithoutRootUserFoldersFollowHomeAndSystemFoldersAreFixed) {
    for (const char* unset : {static_cast<const char*>(nullptr), ""}) {
        if (unset == nullptr) {
            unsetenv("QORCAM_ROOT");
        } else {
            setenv("QORCAM_ROOT", unset, 1);
        }
        EXPECT_EQ(Paths::Root(), "");
        for (const Folder& f : kFolders) {
            if (f.underHome != nullptr) {
                EXPECT_EQ(f.get(), temp_ + "/home/" + f.underHome) << f.what;
                EXPECT_TRUE(std::filesystem::is_directory(f.get())) << f.what;
            } else if (geteuid() != 0) {
                // Not asked for as root: asking creates the system folder.
                EXPECT_EQ(f.get(), f.system) << f.what;
            }
        }
    }
}

TEST_F(PathsTest, CreateFolder) {
    EXPECT_TRUE(Paths::CreateFolder(temp_ + "/a/b/c"));
    EXPECT_TRUE(Paths::CreateFolder(temp_ + "/a/b/c"));
    EXPECT_TRUE(std::filesystem::is_directory(temp_ + "/a/b/c"));
    { std::ofstream(temp_ + "/file") << "x"; }
    EXPECT_FALSE(Paths::CreateFolder(temp_ + "/file"));
    EXPECT_FALSE(Paths::CreateFolder(temp_ + "/file/below"));
    EXPECT_FALSE(Paths::CreateFolder(""));
}

TEST_F(PathsTest, NamedObjectsLiveInAPrivateFolderOfTheUserThatNobodyElseCanPlant) {
    namespace fs = std::filesystem;
    const std::string uid = std::to_string(geteuid());
    setenv("QORCAM_ROOT", (temp_ + "/own").c_str(), 1);
    const std::string own = Paths::SharedObjects();
    ASSERT_EQ(own, temp_ + "/own/run/user/" + uid);
    struct stat st {};
    ASSERT_EQ(stat(own.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0700u);
    EXPECT_EQ(st.st_uid, geteuid());
    ASSERT_EQ(stat((temp_ + "/own/run/user").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 01777u) << "every user makes a folder of its own there";

    // A shared folder anyone may rename things in is refused.
    fs::create_directories(temp_ + "/open/run/user");
    chmod((temp_ + "/open/run/user").c_str(), 0777);
    setenv("QORCAM_ROOT", (temp_ + "/open").c_str(), 1);
    EXPECT_EQ(Paths::SharedObjects(), "");
}

TEST_F(PathsTest, ANamePlantedInTheUsersNameIsPassedOverForASpareFolderOfItsOwn) {
    namespace fs = std::filesystem;
    const std::string uid = std::to_string(geteuid());
    struct Case {
        const char* what;
        const char* root;
        bool otherUser; // the planted things belong to another user (needs root)
    };
    const Case cases[] = {{"a link", "link", false}, {"another user's folder", "other", true}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        if (c.otherUser && geteuid() != 0) {
            std::printf("skipped: %s: needs root to set up\n", c.what);
            continue;
        }
        const std::string users = temp_ + "/" + c.root + "/run/user";
        fs::create_directories(users);
        chmod(users.c_str(), 01777);
        fs::create_directories(temp_ + "/elsewhere");
        if (c.otherUser) {
            fs::create_directory(users + "/" + uid);
            // Spare names of the user taken too, one below any random name.
            fs::create_directory(users + "/" + uid + ".000000");
            for (const auto& planted : {users + "/" + uid, users + "/" + uid + ".000000"})
                ASSERT_EQ(chown(planted.c_str(), 65534, 65534), 0);
        } else {
            fs::create_directory_symlink(temp_ + "/elsewhere", users + "/" + uid);
        }
        setenv("QORCAM_ROOT", (temp_ + "/" + c.root).c_str(), 1);
        const std::string spare = Paths::SharedObjects();
        ASSERT_FALSE(spare.empty()) << "the user must not be kept out of its named objects";
        const std::string name = fs::path(spare).filename();
        EXPECT_EQ(fs::path(spare).parent_path(), users);
        EXPECT_EQ(name.size(), uid.size() + 7);
        EXPECT_EQ(name.rfind(uid + ".", 0), 0u) << name;
        EXPECT_NE(name, uid + ".000000");
        struct stat st {};
        ASSERT_EQ(lstat(spare.c_str(), &st), 0);
        EXPECT_TRUE(S_ISDIR(st.st_mode));
        EXPECT_EQ(st.st_mode & 07777, 0700u);
        EXPECT_EQ(st.st_uid, geteuid());
        EXPECT_TRUE(fs::is_empty(temp_ + "/elsewhere")) << "nothing was made through the link";
        // Every later call (another process of the user, root reading the
        // user's objects) finds the same folder, and no second one is made.
        EXPECT_EQ(Paths::SharedObjects(), spare);
        EXPECT_EQ(Paths::UserObjects(geteuid()), spare);
        std::size_t spares = 0;
        for (const auto& entry : fs::directory_iterator(users))
            spares += entry.path().filename().string().rfind(uid + ".", 0) == 0 ? 1 : 0;
        EXPECT_EQ(spares, c.otherUser ? 2u : 1u);
        // It stays the user's folder when the planted name goes away.
        fs::remove(users + "/" + uid);
        EXPECT_EQ(Paths::SharedObjects(), spare);
    }
}

} // namespace
} // namespace qorcam::os
