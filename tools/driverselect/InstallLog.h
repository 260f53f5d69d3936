// CInstallLog: the install log QorGigEPrefLog.log in the current folder.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>

namespace qorcam::driverselect {

inline constexpr const char* kInstallLogName = "QorGigEPrefLog.log";

/// Lines appended to QorGigEPrefLog.log, each led by the local time as
/// "YYYY/MM/DD hh:mm:ss'mmm  ". A log that was not opened takes no lines.
class CInstallLog {
public:
    /// Opens the log for appending (in the current folder); false when the
    /// folder may be written by others, or the name is a link, a second name
    /// of a file or another user's file.
    bool Open();
    void Close();
    bool IsOpen() const { return file_ != nullptr; }

    void WriteLogLine(const std::string& text);
    /// One line of a format with one "%08X" value.
    void WriteLogValue(const char* format, std::uint32_t value);

private:
    std::unique_ptr<FILE, int (*)(FILE*)> file_{nullptr, &std::fclose};
};

} // namespace qorcam::driverselect
