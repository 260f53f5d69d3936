// TestSupport: a private runtime root per test and the child-process helpers.
#pragma once

#include "os/Process.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace qorcam::os::test {

/// Points QORCAM_ROOT at a fresh temporary folder for the test's life.
class RootFixture : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/qorcam-os-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        root_ = pattern;
        setenv("QORCAM_ROOT", root_.c_str(), 1);
    }
    void TearDown() override {
        unsetenv("QORCAM_ROOT");
        std::error_code ignored;
        std::filesystem::remove_all(root_, ignored);
    }

    /// This test program run again as a child in the given role.
    std::optional<Process> SpawnChild(const std::string& role, const std::vector<std::string>& args = {}) {
        std::vector<std::string> all{"--os-child=" + role};
        all.insert(all.end(), args.begin(), args.end());
        return Process::Spawn(Process::ExecutablePath(), all, {{"QORCAM_ROOT", root_}});
    }

    std::string root_;
};

/// Waits for a child's exit code with a bound, killing it on time-out.
inline int ExitCodeOf(Process& child, std::uint32_t timeoutMs = 10000) {
    auto code = child.Wait(timeoutMs);
    if (!code) {
        child.Kill(9);
        return -1;
    }
    return *code;
}

} // namespace qorcam::os::test
