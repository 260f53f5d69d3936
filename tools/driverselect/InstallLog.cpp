// CInstallLog: the install log QorGigEPrefLog.log in the current folder.
#include "InstallLog.h"

#include "os/LocalTime.h"

namespace qorcam::driverselect {

bool CInstallLog::Open() {
    file_.reset(std::fopen(kInstallLogName, "a"));
    return IsOpen();
}

void CInstallLog::Close() {
    file_.reset();
}

void CInstallLog::WriteLogLine(const std::string& text) {
    if (!file_) return;
    const os::LocalTime t = os::LocalTime::Now();
    std::fprintf(file_.get(), "%04d/%02d/%02d %02d:%02d:%02d'%03d  %s", t.year, t.month, t.day, t.hour,
                 t.minute, t.second, t.millisecond, text.c_str());
    std::fflush(file_.get());
}

void CInstallLog::WriteLogValue(const char* format, std::uint32_t value) {
    char text[256];
    std::snprintf(text, sizeof text, format, static_cast<unsigned>(value));
    WriteLogLine(text);
}

} // namespace qorcam::driverselect
