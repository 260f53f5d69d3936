// TestRoot: a private QORCAM_ROOT folder for one test, removed afterwards.
#pragma once

#include <cstdlib>
#include <filesystem>
#include <string>
#include <unistd.h>

namespace qorcam::devio::test {

class TestRoot {
public:
    TestRoot() {
        std::string pattern = (std::filesystem::temp_directory_path() / "devio-XXXXXX").string();
        if (mkdtemp(pattern.data()) != nullptr) path_ = pattern;
        setenv("QORCAM_ROOT", path_.c_str(), 1);
    }
    ~TestRoot() {
        unsetenv("QORCAM_ROOT");
        std::error_code ignored;
        if (!path_.empty()) std::filesystem::remove_all(path_, ignored);
    }
    TestRoot(const TestRoot&) = delete;
    TestRoot& operator=(const TestRoot&) = delete;

    const std::filesystem::path& Path() const { return path_; }

private:
    std::filesystem::path path_;
};

} // namespace qorcam::devio::test
