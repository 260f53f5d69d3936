// TempRoot: a temporary QORCAM_ROOT for one test, removed afterwards.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>

#include <unistd.h>

namespace qorcam::testing {

/// Points QORCAM_ROOT at a fresh folder for the object's life, so every named
/// object, settings file and device folder a test makes is its own.
class TempRoot {
public:
    TempRoot() {
        std::string pattern = (std::filesystem::temp_directory_path() / "qorcam-test-XXXXXX").string();
        path_ = mkdtemp(pattern.data());
        const char* old = std::getenv("QORCAM_ROOT");
        if (old != nullptr) old_ = old, hadOld_ = true;
        setenv("QORCAM_ROOT", path_.c_str(), 1);
    }
    ~TempRoot() {
        if (hadOld_) {
            setenv("QORCAM_ROOT", old_.c_str(), 1);
        } else {
            unsetenv("QORCAM_ROOT");
        }
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    TempRoot(const TempRoot&) = delete;
    TempRoot& operator=(const TempRoot&) = delete;

    const std::string& Path() const { return path_; }

    /// Waits (up to 10 s) until the library client of that process id has
    /// marked itself ready.
    bool WaitReady(std::uint32_t pid) const {
        const std::string marker = path_ + "/ready-" + std::to_string(pid);
        for (int i = 0; i < 2000; ++i) {
            if (std::filesystem::exists(marker)) return true;
            usleep(5000);
        }
        return false;
    }

private:
    std::string path_;
    std::string old_;
    bool hadOld_ = false;
};

} // namespace qorcam::testing
