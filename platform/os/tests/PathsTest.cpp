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

    // A link planted under the user's name is not followed.
    fs::create_directories(temp_ + "/link/run/user");
    chmod((temp_ + "/link/run/user").c_str(), 01777);
    fs::create_directories(temp_ + "/elsewhere");
    fs::create_directory_symlink(temp_ + "/elsewhere", temp_ + "/link/run/user/" + uid);
    setenv("QORCAM_ROOT", (temp_ + "/link").c_str(), 1);
    EXPECT_EQ(Paths::SharedObjects(), "");

    // A shared folder anyone may rename things in is refused.
    fs::create_directories(temp_ + "/open/run/user");
    chmod((temp_ + "/open/run/user").c_str(), 0777);
    setenv("QORCAM_ROOT", (temp_ + "/open").c_str(), 1);
    EXPECT_EQ(Paths::SharedObjects(), "");

    if (geteuid() != 0) GTEST_SKIP() << "a folder made by another user needs root to set up";
    fs::create_directories(temp_ + "/other/run/user/0");
    chmod((temp_ + "/other/run/user").c_str(), 01777);
    ASSERT_EQ(chown((temp_ + "/other/run/user/0").c_str(), 65534, 65534), 0);
    setenv("QORCAM_ROOT", (temp_ + "/other").c_str(), 1);
    EXPECT_EQ(Paths::SharedObjects(), "");
}

} // namespace
} // namespace qorcam::os
