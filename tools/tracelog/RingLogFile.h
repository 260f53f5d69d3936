// RingLogFile: one log file holding a ring of records of bounded size behind a fixed header.
#pragma once

#include "LogSettings.h"
#include "os/LocalTime.h"

#include <cstdint>
#include <cstdio>
#include <mutex>
#include <string>
#include <string_view>

namespace qorcam::tracelog {

/// What every file header names: the library's version and build date.
struct LibraryIdentity {
    std::uint32_t major = 0;
    std::uint32_t minor = 0;
    std::uint32_t patch = 0;
    std::string buildDate; // "Mar 14 2025"
};

/// The fixed header: "%010d Version %2d.%02d.%02d %s\n" with the write offset,
/// the version and the build date; 41 bytes as stored. A date that would not
/// fit is cut and a short one padded with blanks, so the header never runs
/// into the first record.
inline constexpr std::size_t kLogFileHeaderSize = 41;
std::string LogFileHeader(std::uint32_t writeOffset, const LibraryIdentity& identity);

/// The end marker behind the newest record: four line ends, 8 bytes as stored.
inline constexpr char kEndMarker[] = "\r\n\r\n\r\n\r\n";
inline constexpr std::size_t kEndMarkerSize = 8;

/// Which source a file belongs to, for its name.
enum class LogSource { GigeDriver, UsbDriver, Library };

/// The file name of a source: "QorGigE_Sys.log", "QorUSB_Sys.log",
/// "QorCam_Dll.log" in "Fixation" mode; with the Start's time stamp
/// ("QorGigE_Sys_2016_1228_093005.Log") in "Auto" mode.
std::string LogFileName(LogSource source, CreateMode mode, const std::string& stamp);
/// The file of the library lines root's tool collects from another user:
/// "QorCam_Dll_User<uid>.log" in "Fixation" mode, with the Start's time stamp
/// ("QorCam_Dll_User1000_2016_1228_093005.Log") in "Auto" mode.
std::string UserLogFileName(std::uint32_t uid, CreateMode mode, const std::string& stamp);
/// The time stamp of a Start as the "Auto" names carry it: "%Y_%m%d_%H%M%S".
std::string StartStamp(const os::LocalTime& time);

/// A ring log file. The file is 8-bit text whose line ends are stored as
/// CR LF; all offsets count stored bytes. Layout: header (bytes 0..40), the
/// records of the current lap, the end marker at the write offset, then what
/// is left of the previous lap.
///
/// Guarantees: every record is written whole, even when it ends past the
/// ring limit; the next record after that goes to byte 41 behind an end
/// marker at the old write offset. A header that holds no number, a number
/// below 41 or one beyond the file's end (a damaged file) starts the ring at
/// byte 41. WriteRecord is safe from several threads (records never
/// interleave). Each record reaches the file at once unless the cache is on.
class CRingLogFile {
public:
    CRingLogFile() = default;
    ~CRingLogFile();
    CRingLogFile(const CRingLogFile&) = delete;
    CRingLogFile& operator=(const CRingLogFile&) = delete;

    /// "Fixation" continues an existing file within ring limit + 2048 bytes
    /// and starts a larger one afresh; "Auto" always starts afresh.
    bool Open(const std::string& path, CreateMode mode, std::uint32_t ringLimit, bool accCache,
              const LibraryIdentity& identity);
    void Close();
    bool IsOpen() const;
    const std::string& Path() const { return path_; }

    /// Writes one record: a driver record gets the time prefix
    /// "%04d/%02d/%02d %02d:%02d:%02d'%03d  " first, a library line is
    /// written as it stands. False when the file is not open or a write failed.
    bool WriteRecord(std::string_view text, const os::LocalTime* timestamp = nullptr);

private:
    // Places the file where the next record goes and writes the time prefix
    // when one is given; returns false on a write failure.
    bool WriteTimestamp(const os::LocalTime* timestamp);
    std::uint32_t ReadWriteOffset();
    bool Put(std::string_view text); // with "\n" stored as CR LF
    bool PutMarker();

    mutable std::mutex mutex_;
    std::FILE* file_ = nullptr;
    std::string path_;
    std::uint32_t ringLimit_ = 0;
    bool accCache_ = false;
    LibraryIdentity identity_;
};

} // namespace qorcam::tracelog
