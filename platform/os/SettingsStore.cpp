// SettingsStore: an INI-like file per hive, rewritten atomically under a lock file.
#include "os/SettingsStore.h"

#include "os/Paths.h"

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <functional>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace qorcam::os {
namespace {

constexpr std::size_t kMaxFileSize = 16u * 1024u * 1024u;

// ---- names and keys --------------------------------------------------------

char Lower(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

bool EqualNoCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (Lower(a[i]) != Lower(b[i])) return false;
    }
    return true;
}

std::vector<std::string> SplitKey(std::string_view key) {
    std::vector<std::string> parts;
    std::string part;
    for (char c : key) {
        if (c == '\\') {
            if (!part.empty()) parts.push_back(part);
            part.clear();
        } else {
            part += c;
        }
    }
    if (!part.empty()) parts.push_back(part);
    return parts;
}

std::string NormalizeKey(std::string_view key) {
    std::string out;
    for (const std::string& part : SplitKey(key)) {
        if (!out.empty()) out += '\\';
        out += part;
    }
    return out;
}

// Is `key` equal to `prefix` or below it? Both normalised.
bool IsUnder(std::string_view key, std::string_view prefix, bool orEqual) {
    if (prefix.empty()) return orEqual || !key.empty();
    if (key.size() < prefix.size() || !EqualNoCase(key.substr(0, prefix.size()), prefix)) return false;
    if (key.size() == prefix.size()) return orEqual;
    return key[prefix.size()] == '\\';
}

bool HasNul(std::string_view s) {
    return s.find('\0') != std::string_view::npos;
}

// A key path is written as a section line: no line breaks in it.
bool BadKey(std::string_view key) {
    return key.empty() || key.find_first_of(std::string_view("\0\n\r", 3)) != std::string_view::npos;
}

// ---- text form ---------------------------------------------------------------

std::string Escape(std::string_view s, bool isName) {
    std::string out;
    for (std::size_t i = 0; i < s.size(); ++i) {
        const char c = s[i];
        switch (c) {
        case '\\':
            out += "\\\\";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\r':
            out += "\\r";
            break;
        case '\t':
            out += "\\t";
            break;
        case '=':
            out += isName ? "\\=" : "=";
            break;
        case ' ':
            // Spaces at the ends of a line (and of a name) would be trimmed
            // when read back.
            out += ((isName && i == 0) || i + 1 == s.size()) ? "\\s" : " ";
            break;
        default:
            // A name must not look like a comment, a section or the default value.
            if (isName && i == 0 && (c == ';' || c == '#' || c == '[' || (c == '@' && s.size() == 1)))
                out += '\\';
            out += c;
        }
    }
    return out;
}

// Unescapes s; with isName, stops at the first unescaped '=' and reports its
// position in `end` (npos when there is none).
std::string Unescape(std::string_view s, bool isName, std::size_t* end = nullptr) {
    std::string out;
    if (end != nullptr) *end = std::string_view::npos;
    for (std::size_t i = 0; i < s.size(); ++i) {
        const char c = s[i];
        if (isName && c == '=') {
            if (end != nullptr) *end = i;
            return out;
        }
        if (c != '\\' || i + 1 == s.size()) {
            out += c;
            continue;
        }
        const char n = s[++i];
        switch (n) {
        case 'n':
            out += '\n';
            break;
        case 'r':
            out += '\r';
            break;
        case 't':
            out += '\t';
            break;
        case 's':
            out += ' ';
            break;
        case '\\':
        case '=':
        case ';':
        case '#':
        case '[':
        case '@':
            out += n;
            break;
        default:
            // Not one of ours (a hand-written path, say): keep it as written.
            out += '\\';
            out += n;
        }
    }
    return out;
}

std::string_view Trim(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t'))
        s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r'))
        s.remove_suffix(1);
    return s;
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

bool ParseDword(std::string_view s, std::uint32_t& value) {
    s = Trim(s);
    if (s.size() > 2 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X')) s.remove_prefix(2);
    if (s.empty() || s.size() > 8) return false;
    std::uint32_t v = 0;
    for (char c : s) {
        const int d = HexDigit(c);
        if (d < 0) return false;
        v = (v << 4) | static_cast<std::uint32_t>(d);
    }
    value = v;
    return true;
}

bool ParseBinary(std::string_view s, std::vector<std::uint8_t>& bytes) {
    bytes.clear();
    int high = -1;
    for (char c : s) {
        if (c == ' ' || c == ',' || c == '\t' || c == '\r') {
            if (high >= 0) return false; // a lone digit
            continue;
        }
        const int d = HexDigit(c);
        if (d < 0) return false;
        if (high < 0) {
            high = d;
        } else {
            bytes.push_back(static_cast<std::uint8_t>((high << 4) | d));
            high = -1;
        }
    }
    return high < 0;
}

std::string FormatValue(const std::string& name, const SettingsValue& v) {
    std::string line = name.empty() ? std::string("@") : Escape(name, true);
    line += '=';
    switch (v.type) {
    case SettingsType::Dword: {
        char text[16];
        std::snprintf(text, sizeof text, "0x%08x", v.dword);
        line += "dword:";
        line += text;
        break;
    }
    case SettingsType::String:
        line += "string:";
        line += Escape(v.string, false);
        break;
    case SettingsType::Binary: {
        static const char hex[] = "0123456789abcdef";
        line += "binary:";
        for (std::size_t i = 0; i < v.binary.size(); ++i) {
            if (i != 0) line += ' ';
            line += hex[v.binary[i] >> 4];
            line += hex[v.binary[i] & 15];
        }
        break;
    }
    }
    return line;
}

// ---- the document ------------------------------------------------------------

struct Entry {
    bool isValue = false;
    std::string name; // values
    SettingsValue value;
    std::string raw; // comments and lines we don't understand, kept as written
};

struct Section {
    std::string key; // normalised; empty for lines before the first section
    std::string header;
    std::vector<Entry> entries;
};

struct Document {
    std::vector<Section> sections;

    Section* Find(std::string_view key) {
        for (Section& s : sections) {
            if (!s.header.empty() && EqualNoCase(s.key, key)) return &s;
        }
        return nullptr;
    }
    Section& Make(const std::string& key) {
        if (Section* s = Find(key)) return *s;
        sections.push_back(Section{key, "[" + key + "]", {}});
        return sections.back();
    }
};

bool ParseValueLine(std::string_view line, Entry& entry) {
    std::size_t eq = std::string_view::npos;
    const std::string_view trimmed = Trim(line);
    std::string name = Unescape(trimmed, true, &eq);
    if (eq == std::string_view::npos) return false;
    // Trim the unescaped text around the name ("name = dword:1" by hand).
    const std::string_view rawName = Trim(trimmed.substr(0, eq));
    name = rawName == "@" ? std::string() : Unescape(rawName, false);
    std::string_view rest = trimmed.substr(eq + 1);
    while (!rest.empty() && (rest.front() == ' ' || rest.front() == '\t'))
        rest.remove_prefix(1);
    const std::size_t colon = rest.find(':');
    if (colon == std::string_view::npos) return false;
    const std::string_view type = Trim(rest.substr(0, colon));
    const std::string_view data = rest.substr(colon + 1);
    SettingsValue v;
    if (EqualNoCase(type, "dword")) {
        v.type = SettingsType::Dword;
        if (!ParseDword(data, v.dword)) return false;
    } else if (EqualNoCase(type, "string")) {
        v.type = SettingsType::String;
        v.string = Unescape(data, false);
    } else if (EqualNoCase(type, "binary")) {
        v.type = SettingsType::Binary;
        if (!ParseBinary(data, v.binary)) return false;
    } else {
        return false;
    }
    entry.isValue = true;
    entry.name = std::move(name);
    entry.value = std::move(v);
    return true;
}

Document Parse(const std::string& text) {
    Document doc;
    doc.sections.push_back(Section{});
    std::size_t pos = 0;
    while (pos < text.size()) {
        std::size_t nl = text.find('\n', pos);
        if (nl == std::string::npos) nl = text.size();
        std::string_view line(text.data() + pos, nl - pos);
        pos = nl + 1;
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        const std::string_view t = Trim(line);
        if (t.empty()) continue; // blank lines are re-made between sections
        if (t.front() == '[' && t.back() == ']' && t.size() >= 2) {
            const std::string key = NormalizeKey(t.substr(1, t.size() - 2));
            doc.sections.push_back(Section{key, "[" + key + "]", {}});
            continue;
        }
        Entry entry;
        if (t.front() == ';' || t.front() == '#' || !ParseValueLine(line, entry)) {
            entry.isValue = false;
            entry.raw = std::string(line);
        }
        doc.sections.back().entries.push_back(std::move(entry));
    }
    return doc;
}

std::string Serialise(const Document& doc) {
    std::string out;
    for (const Section& s : doc.sections) {
        if (s.header.empty() && s.entries.empty()) continue;
        if (!out.empty()) out += '\n';
        if (!s.header.empty()) out += s.header + "\n";
        for (const Entry& e : s.entries)
            out += (e.isValue ? FormatValue(e.name, e.value) : e.raw) + "\n";
    }
    return out;
}

// Reads the whole file; a missing file is empty. False when it can't be read
// or is larger than any settings file should be.
bool ReadFile(const std::string& path, std::string& text) {
    text.clear();
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return errno == ENOENT;
    struct stat st {};
    bool ok =
        fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && static_cast<std::size_t>(st.st_size) <= kMaxFileSize;
    if (ok) {
        char buffer[65536];
        for (;;) {
            const ssize_t n = read(fd, buffer, sizeof buffer);
            if (n < 0 && errno == EINTR) continue;
            if (n < 0) {
                ok = false;
                break;
            }
            if (n == 0) break;
            text.append(buffer, static_cast<std::size_t>(n));
            if (text.size() > kMaxFileSize) { // grew while we read it
                ok = false;
                break;
            }
        }
    }
    close(fd);
    return ok;
}

bool Load(const std::string& path, Document& doc) {
    std::string text;
    if (!ReadFile(path, text)) return false;
    doc = Parse(text);
    return true;
}

bool WriteAll(int fd, const std::string& text) {
    std::size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += static_cast<std::size_t>(n);
    }
    return true;
}

enum class Change { Failed, Unchanged, Changed };

// A writer waits at most 10 s for the lock of a store.
constexpr int kLockAttempts = 1000;
constexpr useconds_t kLockPollMicroseconds = 10000;

// Runs one read-modify-write under the hive's lock file; the new text goes to
// a temporary file that is renamed over the old one, so readers see the old
// or the new file, never a mix, and no writer's change is lost.
bool Modify(const std::string& path, const std::function<Change(Document&)>& edit) {
    const std::size_t slash = path.rfind('/');
    if (slash != std::string::npos && slash > 0) Paths::CreateFolder(path.substr(0, slash));
    // Only the store's own user opens its lock file, and a lock that is not
    // given up within the time-out fails the write instead of hanging it.
    const int lock = open((path + ".lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (lock < 0) return false;
    struct stat lockStat {};
    if (fstat(lock, &lockStat) == 0 && lockStat.st_uid == geteuid() && (lockStat.st_mode & 077) != 0)
        fchmod(lock, 0600);
    int r = -1;
    for (int attempt = 0; attempt < kLockAttempts; ++attempt) {
        r = flock(lock, LOCK_EX | LOCK_NB);
        if (r == 0 || (errno != EWOULDBLOCK && errno != EINTR)) break;
        usleep(kLockPollMicroseconds);
    }
    bool ok = false;
    Document doc;
    if (r == 0 && Load(path, doc)) {
        const bool fresh = access(path.c_str(), F_OK) != 0;
        const Change change = edit(doc);
        ok = change != Change::Failed;
        if (change == Change::Changed) {
            std::string text = Serialise(doc);
            if (fresh) {
                text = "; QorCam settings: one [key] section per key, one line per value:\n"
                       "; name=dword:0x0000000a, name=string:text, name=binary:00 11 22; @ is the default "
                       "value.\n" +
                       text;
            }
            struct stat st {};
            const mode_t mode = stat(path.c_str(), &st) == 0 ? (st.st_mode & 07777) : 0644;
            const std::string temp = path + ".tmp";
            // Left by a writer that died; under the lock nobody else writes it.
            // A fresh file only: never through a planted link, never another's file.
            unlink(temp.c_str());
            const int fd = open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode);
            ok = fd >= 0;
            if (ok) {
                fchmod(fd, mode);
                ok = WriteAll(fd, text) && fsync(fd) == 0;
                ok = (close(fd) == 0) && ok;
                ok = ok && rename(temp.c_str(), path.c_str()) == 0;
                if (!ok) unlink(temp.c_str());
            }
        }
    }
    close(lock); // drops the lock
    return ok;
}

Entry* FindValue(Section& s, std::string_view name) {
    for (Entry& e : s.entries) {
        if (e.isValue && EqualNoCase(e.name, name)) return &e;
    }
    return nullptr;
}

} // namespace

SettingsStore::SettingsStore(Hive hive)
    : path_(hive == Hive::Machine ? Paths::MachineSettings() + "/machine.ini"
                                  : Paths::UserSettings() + "/user.ini") {}

SettingsStore::SettingsStore(std::string filePath) : path_(std::move(filePath)) {}

std::optional<SettingsValue> SettingsStore::Get(std::string_view key, std::string_view name) const {
    Document doc;
    if (!Load(path_, doc)) return std::nullopt;
    Section* s = doc.Find(NormalizeKey(key));
    if (s == nullptr) return std::nullopt;
    Entry* e = FindValue(*s, name);
    if (e == nullptr) return std::nullopt;
    return e->value;
}

std::optional<std::uint32_t> SettingsStore::GetDword(std::string_view key, std::string_view name) const {
    auto v = Get(key, name);
    if (!v || v->type != SettingsType::Dword) return std::nullopt;
    return v->dword;
}

std::optional<std::string> SettingsStore::GetString(std::string_view key, std::string_view name) const {
    auto v = Get(key, name);
    if (!v || v->type != SettingsType::String) return std::nullopt;
    return std::move(v->string);
}

std::optional<std::vector<std::uint8_t>> SettingsStore::GetBinary(std::string_view key,
                                                                  std::string_view name) const {
    auto v = Get(key, name);
    if (!v || v->type != SettingsType::Binary) return std::nullopt;
    return std::move(v->binary);
}

bool SettingsStore::Set(std::string_view key, std::string_view name, const SettingsValue& value) {
    const std::string k = NormalizeKey(key);
    if (BadKey(k) || HasNul(name) || (value.type == SettingsType::String && HasNul(value.string))) {
        return false;
    }
    return Modify(path_, [&](Document& doc) {
        Section& s = doc.Make(k);
        if (Entry* e = FindValue(s, name)) {
            e->value = value;
        } else {
            Entry entry;
            entry.isValue = true;
            entry.name = std::string(name);
            entry.value = value;
            s.entries.push_back(std::move(entry));
        }
        return Change::Changed;
    });
}

bool SettingsStore::SetDword(std::string_view key, std::string_view name, std::uint32_t value) {
    SettingsValue v;
    v.type = SettingsType::Dword;
    v.dword = value;
    return Set(key, name, v);
}

bool SettingsStore::SetString(std::string_view key, std::string_view name, std::string_view value) {
    SettingsValue v;
    v.type = SettingsType::String;
    v.string = std::string(value);
    return Set(key, name, v);
}

bool SettingsStore::SetBinary(std::string_view key, std::string_view name,
                              const std::vector<std::uint8_t>& value) {
    SettingsValue v;
    v.type = SettingsType::Binary;
    v.binary = value;
    return Set(key, name, v);
}

bool SettingsStore::CreateKey(std::string_view key) {
    const std::string k = NormalizeKey(key);
    if (BadKey(k)) return false;
    return Modify(path_, [&](Document& doc) {
        if (doc.Find(k) != nullptr) return Change::Unchanged;
        doc.Make(k);
        return Change::Changed;
    });
}

bool SettingsStore::KeyExists(std::string_view key) const {
    const std::string k = NormalizeKey(key);
    Document doc;
    if (!Load(path_, doc)) return false;
    for (const Section& s : doc.sections) {
        if (!s.header.empty() && IsUnder(s.key, k, true)) return true;
    }
    return false;
}

bool SettingsStore::DeleteValue(std::string_view key, std::string_view name) {
    const std::string k = NormalizeKey(key);
    return Modify(path_, [&](Document& doc) {
        Section* s = doc.Find(k);
        if (s == nullptr) return Change::Failed;
        for (auto it = s->entries.begin(); it != s->entries.end(); ++it) {
            if (it->isValue && EqualNoCase(it->name, name)) {
                s->entries.erase(it);
                return Change::Changed;
            }
        }
        return Change::Failed;
    });
}

bool SettingsStore::DeleteKey(std::string_view key) {
    const std::string k = NormalizeKey(key);
    if (k.empty()) return false; // never the whole hive by accident
    return Modify(path_, [&](Document& doc) {
        const std::size_t before = doc.sections.size();
        std::erase_if(doc.sections,
                      [&](const Section& s) { return !s.header.empty() && IsUnder(s.key, k, true); });
        return doc.sections.size() == before ? Change::Failed : Change::Changed;
    });
}

std::vector<std::string> SettingsStore::EnumValues(std::string_view key) const {
    std::vector<std::string> names;
    Document doc;
    if (!Load(path_, doc)) return names;
    Section* s = doc.Find(NormalizeKey(key));
    if (s == nullptr) return names;
    for (const Entry& e : s->entries) {
        if (!e.isValue) continue;
        bool seen = false;
        for (const std::string& n : names)
            seen = seen || EqualNoCase(n, e.name);
        if (!seen) names.push_back(e.name);
    }
    return names;
}

std::vector<std::string> SettingsStore::EnumSubkeys(std::string_view key) const {
    const std::string k = NormalizeKey(key);
    std::vector<std::string> names;
    Document doc;
    if (!Load(path_, doc)) return names;
    for (const Section& s : doc.sections) {
        if (s.header.empty() || !IsUnder(s.key, k, false)) continue;
        const std::string rest = k.empty() ? s.key : s.key.substr(k.size() + 1);
        const std::string child = rest.substr(0, rest.find('\\'));
        bool seen = false;
        for (const std::string& n : names)
            seen = seen || EqualNoCase(n, child);
        if (!seen) names.push_back(child);
    }
    return names;
}

} // namespace qorcam::os
