// TempRoot: a runtime root of a test's own, for the GigE configuration tools' tests.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <unistd.h>

namespace qorcam::gigeconfig::test {

// Makes /tmp/qorcam-<tag>-<pid>-<test name>, points QORCAM_ROOT at it, and
// removes both again, so the named objects, settings and files of a test are
// its own.
class TempRoot {
public:
    explicit TempRoot(const std::string& tag)
        : path_(std::filesystem::path("/tmp") /
                ("qorcam-" + tag + "-" + std::to_string(getpid()) + "-" +
                 ::testing::UnitTest::GetInstance()->current_test_info()->name())) {
        std::filesystem::remove_all(path_);
        std::filesystem::create_directories(path_);
        setenv("QORCAM_ROOT", path_.c_str(), 1);
    }
    ~TempRoot() {
        unsetenv("QORCAM_ROOT");
        std::error_code ec;
        std::filesystem::remove_all(path_, ec);
    }
    TempRoot(const TempRoot&) = delete;
    TempRoot& operator=(const TempRoot&) = delete;

    const std::filesystem::path& Path() const { return path_; }

private:
    std::filesystem::path path_;
};

} // namespace qorcam::gigeconfig::test
