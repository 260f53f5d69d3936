// IniDocument: a whole "[section]" / "key=value" text file in memory, read once and written at once.
#include "IniDocument.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>

namespace qorcam::viewer {
namespace {

std::string Trim(const std::string& s) {
    size_t b = s.find_first_not_of(" \t\r");
    if (b == std::string::npos) return {};
    size_t e = s.find_last_not_of(" \t\r");
    return s.substr(b, e - b + 1);
}

std::string Lower(std::string s) {
    for (char& c : s)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

std::string OneLine(std::string s) {
    std::replace(s.begin(), s.end(), '\n', ' ');
    std::replace(s.begin(), s.end(), '\r', ' ');
    return s;
}

std::string Unquote(std::string s) {
    if (s.size() >= 2 && s.front() == '"' && s.back() == '"') return s.substr(1, s.size() - 2);
    return s;
}

std::string Quoted(const std::string& value) {
    const bool loosesBlanks = !value.empty() && (std::isspace(static_cast<unsigned char>(value.front())) ||
                                                 std::isspace(static_cast<unsigned char>(value.back())));
    const bool looksQuoted = value.size() >= 2 && value.front() == '"' && value.back() == '"';
    return loosesBlanks || looksQuoted ? '"' + value + '"' : value;
}

} // namespace

bool IniDocument::Load(const std::string& path, size_t maxFileSize) {
    sections_.clear();
    byName_.clear();
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode) || st.st_size < 0 ||
        static_cast<unsigned long long>(st.st_size) > maxFileSize)
        return false;
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    // One byte more than the file had tells that it grew since stat (and
    // may now be over the limit): such a file is refused.
    std::string text(static_cast<size_t>(st.st_size) + 1, '\0');
    in.read(text.data(), static_cast<std::streamsize>(text.size()));
    const size_t got = static_cast<size_t>(in.gcount());
    if (got > static_cast<size_t>(st.st_size)) return false;
    text.resize(got);
    Parse(text);
    return true;
}

void IniDocument::Parse(const std::string& text) {
    sections_.clear();
    byName_.clear();
    Section* current = nullptr;
    // A file saved by an editor as UTF-8 may start with a byte-order mark.
    size_t pos = text.rfind("\xEF\xBB\xBF", 0) == 0 ? 3 : 0;
    while (pos < text.size()) {
        size_t end = text.find('\n', pos);
        if (end == std::string::npos) end = text.size();
        const std::string t = Trim(text.substr(pos, end - pos));
        pos = end + 1;
        if (t.empty() || t[0] == ';') continue;
        if (t.front() == '[') {
            // The last bracket closes the name, so a name holding "]" reads back.
            const size_t close = t.rfind(']');
            current = close == std::string::npos || close == 0 ? nullptr
                                                               : &SectionFor(Trim(t.substr(1, close - 1)));
            continue;
        }
        const size_t eq = t.find('=');
        if (!current || eq == std::string::npos) continue;
        const std::string key = Trim(t.substr(0, eq));
        if (current->byKey.emplace(Lower(key), current->entries.size()).second)
            current->entries.push_back({key, Unquote(Trim(t.substr(eq + 1)))});
    }
}

IniDocument::Section& IniDocument::SectionFor(const std::string& name) {
    auto [it, added] = byName_.emplace(Lower(name), sections_.size());
    if (added) sections_.push_back({name, {}, {}});
    return sections_[it->second];
}

std::optional<std::string> IniDocument::Get(const std::string& section, const std::string& key) const {
    auto s = byName_.find(Lower(Trim(OneLine(section))));
    if (s == byName_.end()) return std::nullopt;
    const Section& found = sections_[s->second];
    auto k = found.byKey.find(Lower(Trim(OneLine(key))));
    if (k == found.byKey.end()) return std::nullopt;
    return found.entries[k->second].value;
}

void IniDocument::Set(const std::string& section, const std::string& key, const std::string& value) {
    Section& s = SectionFor(Trim(OneLine(section)));
    const std::string k = Trim(OneLine(key));
    auto [it, added] = s.byKey.emplace(Lower(k), s.entries.size());
    if (added)
        s.entries.push_back({k, OneLine(value)});
    else
        s.entries[it->second].value = OneLine(value);
}

std::string IniDocument::Text() const {
    std::string out;
    for (const Section& s : sections_) {
        out += '[' + s.name + "]\n";
        for (const Entry& e : s.entries)
            out += e.key + '=' + Quoted(e.value) + '\n';
    }
    return out;
}

bool IniDocument::Save(const std::string& path) const {
    const std::string temporary = path + ".tmp" + std::to_string(::getpid());
    {
        std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
        if (!out) return false;
        const std::string text = Text();
        out.write(text.data(), static_cast<std::streamsize>(text.size()));
        out.flush();
        if (!out) {
            out.close();
            std::remove(temporary.c_str());
            return false;
        }
    }
    if (std::rename(temporary.c_str(), path.c_str()) != 0) {
        std::remove(temporary.c_str());
        return false;
    }
    return true;
}

} // namespace qorcam::viewer
