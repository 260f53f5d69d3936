// SettingsStore: machine and per-user settings, keys and values as the registry holds them.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace qorcam::os {

/// The kind of a stored value.
enum class SettingsType { Dword, String, Binary };

/// One stored value.
struct SettingsValue {
    SettingsType type = SettingsType::Dword;
    std::uint32_t dword = 0;
    std::string string;
    std::vector<std::uint8_t> binary;
};

/// A hive of settings in a text file that a person can read and edit.
///
/// Machine settings live in `<MachineSettings>/machine.ini`, per-user
/// settings in `<UserSettings>/user.ini` (see Paths). The file holds one
/// section per key, named by its path with backslashes, and one line per
/// value:
///
///     [System\CurrentControlSet\Services\QORGIGE\Parameters]
///     CMDTIMEOUT=dword:0x000000c8
///     PATH=string:/var/lib/qorcam/QORGIGEDRVPROF.dat
///     MAC=binary:00 11 22 aa bb cc
///
/// In names and strings a backslash, a line feed, a carriage return, a tab,
/// a space at the end (or, in names, at the start) and, in names, '=' are
/// written as \\, \n, \r, \t, \s and \=; the unnamed (default) value is '@'.
/// Key paths hold no line break.
/// Comment lines (';' or '#') and lines the store does not understand are
/// kept as they are when the file is rewritten.
///
/// Guarantees: key paths and value names compare without regard to case and
/// keep the case they were created with; leading, trailing and doubled
/// backslashes in a key path are ignored. Every write is atomic for readers
/// in any process (the new file is written beside the old one and renamed
/// over it) and writers in several processes and threads are serialised by a
/// lock file, so no update is lost. A missing file is an empty hive; a file
/// larger than 16 MiB is refused (reads find nothing, writes fail) rather
/// than read. A value of another type than asked for reads as absent.
class SettingsStore {
public:
    enum class Hive { Machine, User };

    /// The hive's file as Paths places it (taken at construction).
    explicit SettingsStore(Hive hive);
    /// A store over an explicit file (tools and tests).
    explicit SettingsStore(std::string filePath);

    const std::string& FilePath() const { return path_; }

    std::optional<SettingsValue> Get(std::string_view key, std::string_view name) const;
    std::optional<std::uint32_t> GetDword(std::string_view key, std::string_view name) const;
    std::optional<std::string> GetString(std::string_view key, std::string_view name) const;
    std::optional<std::vector<std::uint8_t>> GetBinary(std::string_view key, std::string_view name) const;

    /// Writes a value, creating the key (and its parents) when missing.
    /// Strings hold no NUL; one is refused. False when the file can't be written.
    bool Set(std::string_view key, std::string_view name, const SettingsValue& value);
    bool SetDword(std::string_view key, std::string_view name, std::uint32_t value);
    bool SetString(std::string_view key, std::string_view name, std::string_view value);
    bool SetBinary(std::string_view key, std::string_view name, const std::vector<std::uint8_t>& value);

    /// Creates an empty key (and its parents) when missing.
    bool CreateKey(std::string_view key);
    bool KeyExists(std::string_view key) const;
    /// False when the value was not there or the file can't be written.
    bool DeleteValue(std::string_view key, std::string_view name);
    /// Deletes a key with all its values and subkeys; false when it was not there.
    bool DeleteKey(std::string_view key);

    /// Value names of a key in stored order; empty for a missing key.
    std::vector<std::string> EnumValues(std::string_view key) const;
    /// Names of the direct subkeys of a key (an empty key: the top-level keys).
    std::vector<std::string> EnumSubkeys(std::string_view key) const;

private:
    std::string path_;
};

} // namespace qorcam::os
