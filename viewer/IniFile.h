// IniFile: reading one value of a "[section]" / "key=value" text file.
#pragma once

#include <cstddef>
#include <string>

namespace qorcam::viewer {

/// Reads record descriptions and other INI files the viewer writes.
/// Guarantees: sections and keys compare without regard to case; a missing
/// or unreadable file, section or key, or a file larger than 1 MiB, gives
/// the default; the answer holds at most maxChars characters.
class IniFile {
public:
    static std::string ReadString(const std::string& path, const std::string& section, const std::string& key,
                                  const std::string& fallback, size_t maxChars);
};

} // namespace qorcam::viewer
