// TempFolder: a private folder under /tmp for one test, removed with everything in it.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

namespace qorcam::viewer::testing {

struct TempFolder {
    std::filesystem::path path;
    TempFolder() {
        char pattern[] = "/tmp/qorcam-viewer-XXXXXX";
        if (const char* made = ::mkdtemp(pattern))
            path = made;
        else
            ADD_FAILURE() << "no temporary folder";
    }
    ~TempFolder() {
        std::error_code ignored;
        if (!path.empty()) std::filesystem::remove_all(path, ignored);
    }
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    std::string File(const std::string& name) const { return (path / name).string(); }
    /// Writes the bytes as the file's whole content; answers its path.
    std::string Write(const std::string& name, const std::string& text) const {
        std::ofstream(path / name, std::ios::binary) << text;
        return File(name);
    }
};

} // namespace qorcam::viewer::testing
