// IniFile: reading one value of a "[section]" / "key=value" text file.
#include "IniFile.h"

#include <algorithm>
#include <cctype>
#include <fstream>
#include <sys/stat.h>

namespace qorcam::viewer {
namespace {

std::string Trim(const std::string& s) {
    size_t b = s.find_first_not_of(" \t\r");
    if (b == std::string::npos) return {};
    size_t e = s.find_last_not_of(" \t\r");
    return s.substr(b, e - b + 1);
}

bool SameText(const std::string& a, const std::string& b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) ==
                      std::tolower(static_cast<unsigned char>(y));
           });
}

} // namespace

std::string IniFile::ReadString(const std::string& path, const std::string& section, const std::string& key,
                                const std::string& fallback, size_t maxChars) {
    struct stat st {};
    auto cut = [maxChars](std::string s) { return s.size() > maxChars ? s.substr(0, maxChars) : s; };
    if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode) || st.st_size > 1024 * 1024)
        return cut(fallback);
    std::ifstream in(path);
    if (!in) return cut(fallback);
    std::string line;
    bool inSection = false;
    while (std::getline(in, line)) {
        std::string t = Trim(line);
        if (t.empty() || t[0] == ';') continue;
        if (t.front() == '[') {
            size_t close = t.find(']');
            inSection = close != std::string::npos && SameText(Trim(t.substr(1, close - 1)), section);
            continue;
        }
        if (!inSection) continue;
        size_t eq = t.find('=');
        if (eq == std::string::npos) continue;
        if (SameText(Trim(t.substr(0, eq)), key)) return cut(Trim(t.substr(eq + 1)));
    }
    return cut(fallback);
}

} // namespace qorcam::viewer
