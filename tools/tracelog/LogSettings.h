// LogSettings: the log tool's persisted settings, their defaults and where they live.
#pragma once

#include "os/SettingsStore.h"

#include <cstdint>
#include <string>

namespace qorcam::tracelog {

/// The settings section under the current user's hive.
inline constexpr char kSettingKey[] = "Software\\Quillonmark\\QorCamLog\\Setting";
/// The tool's own key; holds the path of the log guard program.
inline constexpr char kToolKey[] = "Software\\Quillonmark\\QorCamLog";
inline constexpr char kLogGuardPathValue[] = "LogGuardPath";

inline constexpr std::uint32_t kMinMaxSize = 10;     // kbytes
inline constexpr std::uint32_t kMaxMaxSize = 100000; // kbytes

enum class OutputMode : std::uint32_t { Streaming = 0, File = 1 };
enum class CreateMode : std::uint32_t { Auto = 0, Fixation = 1 };
enum class PathMode : std::uint32_t { Default = 0, Custom = 1 };

/// Every value of the Setting section. Levels are combo indexes: 0 "OFF",
/// 1 "Std", 2 "Detail".
struct LogSettings {
    std::uint32_t sysLevel = 0;
    std::uint32_t dllLevel = 0;
    OutputMode outPutMode = OutputMode::File;
    std::string url;
    CreateMode createMode = CreateMode::Auto;
    std::uint32_t maxSize = 10000;
    bool accCache = false;
    PathMode pathMode = PathMode::Default;
    std::string path;

    bool operator==(const LogSettings&) const = default;

    /// Reads every value with its default. The file is editable by hand, so a
    /// value outside what its control can show reads as the default.
    static LogSettings Load(const os::SettingsStore& store);
    /// Writes each value whose stored value (read with its default) differs.
    /// False when the store can't be written.
    bool SaveChanged(os::SettingsStore& store) const;
};

/// True for a ring size the Max File Size box accepts.
inline bool IsValidMaxSize(std::uint64_t kbytes) {
    return kbytes >= kMinMaxSize && kbytes <= kMaxMaxSize;
}

} // namespace qorcam::tracelog
