// IniFile: reading one value of a "[section]" / "key=value" text file.
#include "IniFile.h"

#include "IniDocument.h"

namespace qorcam::viewer {

std::string IniFile::ReadString(const std::string& path, const std::string& section, const std::string& key,
                                const std::string& fallback, size_t maxChars) {
    auto cut = [maxChars](std::string s) { return s.size() > maxChars ? s.substr(0, maxChars) : s; };
    IniDocument document;
    if (!document.Load(path)) return cut(fallback);
    return cut(document.Get(section, key).value_or(fallback));
}

} // namespace qorcam::viewer
