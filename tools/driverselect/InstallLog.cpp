// CInstallLog: the install log QorGigEPrefLog.log in the current folder.
#include "InstallLog.h"

#include "os/LocalTime.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace qorcam::driverselect {

bool CInstallLog::Open() {
    // The tool runs as an administrator: the log is appended only in a folder
    // no one else may write, never through a planted link or a second name.
    struct stat folder {};
    if (stat(".", &folder) != 0 || (folder.st_uid != geteuid() && folder.st_uid != 0) ||
        (folder.st_mode & (S_IWGRP | S_IWOTH)) != 0)
        return false;
    const int fd = open(kInstallLogName, O_WRONLY | O_APPEND | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0644);
    if (fd < 0) return false;
    struct stat st {};
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_nlink != 1 || st.st_uid != geteuid()) {
        close(fd);
        return false;
    }
    file_.reset(fdopen(fd, "a"));
    if (!file_) close(fd);
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
