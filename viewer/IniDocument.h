// IniDocument: a whole "[section]" / "key=value" text file in memory, read once and written at once.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

namespace qorcam::viewer {

/// The rules of the viewer's INI files, for files read whole or written
/// whole. Guarantees:
///   - section and key names compare without regard to case; the first of
///     several equal sections or keys answers;
///   - names and values are trimmed of blanks; a value whose ends are both
///     double quotes loses them, and Save() quotes a value that would lose
///     blanks or quotes otherwise, so every value reads back as written;
///   - a line break in a name or value is stored as a blank, so one entry
///     always stays one line and no text can add entries of its own;
///   - Load() refuses (and leaves the document empty) a file that is
///     missing, not a regular file, or larger than its limit; any content
///     of an accepted file loads without failing.
class IniDocument {
public:
    static constexpr size_t kDefaultMaxFileSize = 1024 * 1024;

    bool Load(const std::string& path, size_t maxFileSize = kDefaultMaxFileSize);
    /// Parses text as the content of a file.
    void Parse(const std::string& text);

    /// The value of key in section, or nothing when either is missing.
    std::optional<std::string> Get(const std::string& section, const std::string& key) const;
    /// Replaces the value of key in section, or appends the key (and the
    /// section, at the end) when it is not there yet.
    void Set(const std::string& section, const std::string& key, const std::string& value);

    /// The document as file text.
    std::string Text() const;
    /// Writes the whole file anew through a temporary file beside it, so a
    /// failed write leaves any previous file whole; false when it can't.
    bool Save(const std::string& path) const;

    bool Empty() const { return sections_.empty(); }

private:
    struct Entry {
        std::string key, value;
    };
    struct Section {
        std::string name;
        std::vector<Entry> entries;
        std::unordered_map<std::string, size_t> byKey; ///< lower-case key to its first entry
    };
    Section& SectionFor(const std::string& name);

    std::vector<Section> sections_;
    std::unordered_map<std::string, size_t> byName_; ///< lower-case name to its first section
};

} // namespace qorcam::viewer
