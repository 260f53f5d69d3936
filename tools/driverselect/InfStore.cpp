// CInfStore: the system's store of installed driver packages (INF files).
#include "InfStore.h"

#include "os/Paths.h"

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <fstream>
#include <strings.h>
#include <system_error>
#include <vector>

namespace qorcam::driverselect {

namespace fs = std::filesystem;

namespace {

constexpr std::uint32_t ERROR_FILE_NOT_FOUND = 2;
constexpr std::uint32_t ERROR_ACCESS_DENIED = 5;
constexpr std::uint32_t ERROR_GEN_FAILURE = 31;
// INF files are small text files; anything larger is not one.
constexpr std::uintmax_t kMaxInfBytes = 1024 * 1024;

std::string Trim(std::string s) {
    const char* blanks = " \t\r\n";
    s.erase(0, s.find_first_not_of(blanks));
    const auto end = s.find_last_not_of(blanks);
    s.erase(end == std::string::npos ? 0 : end + 1);
    return s;
}

bool SameText(const std::string& a, const std::string& b) {
    return a.size() == b.size() && strncasecmp(a.c_str(), b.c_str(), a.size()) == 0;
}

std::uint32_t ErrorCode(const std::error_code& ec) {
    if (ec == std::errc::no_such_file_or_directory) return ERROR_FILE_NOT_FOUND;
    if (ec == std::errc::permission_denied || ec == std::errc::operation_not_permitted)
        return ERROR_ACCESS_DENIED;
    return ERROR_GEN_FAILURE;
}

bool IsOemInfName(const std::string& name) {
    return name.size() > 7 && strncasecmp(name.c_str(), "oem", 3) == 0 &&
           strcasecmp(name.c_str() + name.size() - 4, ".inf") == 0;
}

} // namespace

CInfStore::CInfStore() : folder_(os::Paths::MachineSettings() + "/inf") {}
CInfStore::CInfStore(std::string folder) : folder_(std::move(folder)) {}

bool CInfStore::InfHasSectionLine(const std::string& path, const std::string& infClass,
                                  const std::string& section) {
    std::error_code ec;
    const auto size = fs::file_size(path, ec);
    if (ec || size > kMaxInfBytes) return false;
    std::ifstream in(path);
    if (!in) return false;
    std::string current, classValue;
    bool hasLine = false;
    for (std::string line; std::getline(in, line);) {
        const auto comment = line.find(';');
        if (comment != std::string::npos) line.erase(comment);
        line = Trim(line);
        if (line.empty()) continue;
        if (line.front() == '[') {
            const auto close = line.find(']');
            current = Trim(line.substr(1, close == std::string::npos ? std::string::npos : close - 1));
            continue;
        }
        if (SameText(current, "Version")) {
            const auto eq = line.find('=');
            if (eq != std::string::npos && SameText(Trim(line.substr(0, eq)), "Class"))
                classValue = Trim(line.substr(eq + 1));
        } else if (SameText(current, section)) {
            hasLine = true;
        }
    }
    return hasLine && SameText(classValue, infClass);
}

std::string CInfStore::FindInstalledFilterInf() const {
    std::vector<std::string> names;
    std::error_code ec;
    for (fs::directory_iterator it(folder_, ec), end; !ec && it != end; it.increment(ec)) {
        const std::string name = it->path().filename().string();
        if (IsOemInfName(name) && it->is_regular_file(ec)) names.push_back(name);
    }
    std::sort(names.begin(), names.end());
    for (const auto& name : names) {
        const std::string path = folder_ + "/" + name;
        if (InfHasSectionLine(path, "NetTrans", "QORGIGE_Service")) return path;
    }
    return {};
}

std::uint32_t CInfStore::SetupCopyOEMInf(const std::string& source) const {
    std::error_code ec;
    if (!fs::is_regular_file(source, ec)) return ec ? ErrorCode(ec) : ERROR_FILE_NOT_FOUND;
    if (fs::file_size(source, ec) > kMaxInfBytes || ec) return ERROR_GEN_FAILURE;
    fs::create_directories(folder_, ec);
    for (unsigned n = 0; n < 10000; ++n) {
        const fs::path target = folder_ + "/oem" + std::to_string(n) + ".inf";
        if (fs::exists(target, ec)) continue;
        if (!fs::copy_file(source, target, ec)) return ErrorCode(ec);
        return 0;
    }
    return ERROR_GEN_FAILURE;
}

bool CInfStore::SetupUninstallOEMInf(const std::string& fileName) const {
    if (!IsOemInfName(fileName) || fileName.find('/') != std::string::npos) return false;
    std::error_code ec;
    return fs::remove(folder_ + "/" + fileName, ec) && !ec;
}

} // namespace qorcam::driverselect
