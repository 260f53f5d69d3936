// The install log: appended only in a folder no one else may write, never through a link.
#include "InstallLog.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <sys/stat.h>
#include <unistd.h>

namespace qorcam::driverselect {
namespace {

std::string Text(const std::filesystem::path& path) {
    std::ifstream in(path);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

TEST(InstallLog, AppendsOnlyInAPrivateFolderAndNeverThroughALink) {
    namespace fs = std::filesystem;
    char pattern[] = "/tmp/qorcam-installlog-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    const fs::path base = pattern;
    const auto old = fs::current_path();
    const fs::path victim = base / "victim.txt";
    std::ofstream(victim) << "keep me\n";

    struct Case {
        const char* name;
        mode_t mode;
        bool planted;
        bool opens;
    } cases[] = {
        {"private folder", 0755, false, true},
        {"planted link", 0755, true, false},
        {"folder anyone writes", 0777, false, false},
        {"folder the group writes", 0775, false, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const fs::path dir = base / c.name;
        fs::create_directory(dir);
        chmod(dir.c_str(), c.mode);
        if (c.planted) fs::create_symlink(victim, dir / kInstallLogName);
        fs::current_path(dir);
        CInstallLog log;
        EXPECT_EQ(log.Open(), c.opens);
        log.WriteLogLine("line\n");
        log.Close();
        fs::current_path(old);
        if (c.opens) {
            EXPECT_NE(Text(dir / kInstallLogName).find("line"), std::string::npos);
        }
    }
    EXPECT_EQ(Text(victim), "keep me\n");
    fs::remove_all(base);
}

} // namespace
} // namespace qorcam::driverselect
