// RingLogFile: file names, the header and the ring step.
#include "RingLogFile.h"

#include <cctype>
#include <cstring>
#include <sys/stat.h>

namespace qorcam::tracelog {

std::string LogFileHeader(std::uint32_t writeOffset, const LibraryIdentity& id) {
    char head[64];
    std::snprintf(head, sizeof head, "%010u Version %2u.%02u.%02u ", writeOffset, id.major % 1000000,
                  id.minor % 100, id.patch % 100);
    std::string header(head);
    const std::size_t room = kLogFileHeaderSize - 2; // before CR LF
    if (header.size() > room) header.resize(room);
    std::string date = id.buildDate.substr(0, room - header.size());
    date.resize(room - header.size(), ' ');
    return header + date + "\r\n";
}

namespace {
// "<base>.log" in "Fixation" mode, "<base>_<stamp>.Log" in "Auto" mode.
std::string StampedName(const std::string& base, CreateMode mode, const std::string& stamp) {
    if (mode == CreateMode::Fixation) return base + ".log";
    return base + "_" + stamp + ".Log";
}
} // namespace

std::string LogFileName(LogSource source, CreateMode mode, const std::string& stamp) {
    const char* base = source == LogSource::GigeDriver  ? "QorGigE_Sys"
                       : source == LogSource::UsbDriver ? "QorUSB_Sys"
                                                        : "QorCam_Dll";
    return StampedName(base, mode, stamp);
}

std::string UserLogFileName(std::uint32_t uid, CreateMode mode, const std::string& stamp) {
    return StampedName("QorCam_Dll_User" + std::to_string(uid), mode, stamp);
}

std::string StartStamp(const os::LocalTime& t) {
    char text[32];
    std::snprintf(text, sizeof text, "%04d_%02d%02d_%02d%02d%02d", t.year, t.month, t.day, t.hour, t.minute,
                  t.second);
    return text;
}

CRingLogFile::~CRingLogFile() {
    Close();
}

bool CRingLogFile::Open(const std::string& path, CreateMode mode, std::uint32_t ringLimit, bool accCache,
                        const LibraryIdentity& identity) {
    std::lock_guard lock(mutex_);
    if (file_ != nullptr) std::fclose(file_);
    file_ = nullptr;
    path_ = path;
    ringLimit_ = ringLimit;
    accCache_ = accCache;
    identity_ = identity;
    if (mode == CreateMode::Fixation) {
        struct stat st {};
        const bool tooLarge = ::stat(path.c_str(), &st) == 0 &&
                              static_cast<std::uint64_t>(st.st_size) > std::uint64_t{ringLimit} + 2048;
        if (!tooLarge) file_ = std::fopen(path.c_str(), "r+b");
    }
    if (file_ == nullptr) file_ = std::fopen(path.c_str(), "w+b");
    return file_ != nullptr;
}

void CRingLogFile::Close() {
    std::lock_guard lock(mutex_);
    if (file_ != nullptr) std::fclose(file_);
    file_ = nullptr;
}

bool CRingLogFile::IsOpen() const {
    std::lock_guard lock(mutex_);
    return file_ != nullptr;
}

std::uint32_t CRingLogFile::ReadWriteOffset() {
    char text[24] = {};
    if (std::fseek(file_, 0, SEEK_SET) != 0) return kLogFileHeaderSize;
    const std::size_t got = std::fread(text, 1, sizeof text - 1, file_);
    // A decimal number after optional blanks and line ends, as a formatted read takes it.
    std::size_t i = 0;
    while (i < got && std::isspace(static_cast<unsigned char>(text[i])))
        ++i;
    bool negative = false;
    if (i < got && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
    std::uint64_t value = 0;
    std::size_t digits = 0;
    for (; i < got && std::isdigit(static_cast<unsigned char>(text[i])) && digits < 12; ++i, ++digits)
        value = value * 10 + static_cast<unsigned>(text[i] - '0');
    if (digits == 0 || negative || value < kLogFileHeaderSize) return kLogFileHeaderSize;
    // The marker always lies inside the file; a number past its end comes
    // from a damaged or foreign file and would make us write far beyond it.
    if (std::fseek(file_, 0, SEEK_END) != 0) return kLogFileHeaderSize;
    const long size = std::ftell(file_);
    if (size < 0 || value > static_cast<std::uint64_t>(size)) return kLogFileHeaderSize;
    return static_cast<std::uint32_t>(value);
}

bool CRingLogFile::Put(std::string_view text) {
    std::size_t start = 0;
    while (start < text.size()) {
        const std::size_t nl = text.find('\n', start);
        const std::size_t end = nl == std::string_view::npos ? text.size() : nl;
        if (end > start && std::fwrite(text.data() + start, 1, end - start, file_) != end - start)
            return false;
        if (nl == std::string_view::npos) break;
        if (std::fwrite("\r\n", 1, 2, file_) != 2) return false;
        start = nl + 1;
    }
    return true;
}

bool CRingLogFile::PutMarker() {
    return std::fwrite(kEndMarker, 1, kEndMarkerSize, file_) == kEndMarkerSize;
}

bool CRingLogFile::WriteTimestamp(const os::LocalTime* t) {
    std::uint32_t offset = ReadWriteOffset();
    if (offset > ringLimit_) {
        if (std::fseek(file_, offset, SEEK_SET) != 0 || !PutMarker()) return false;
        offset = kLogFileHeaderSize;
    }
    if (std::fseek(file_, offset, SEEK_SET) != 0) return false;
    if (t == nullptr) return true;
    char prefix[48];
    std::snprintf(prefix, sizeof prefix, "%04d/%02d/%02d %02d:%02d:%02d'%03d  ", t->year, t->month, t->day,
                  t->hour, t->minute, t->second, t->millisecond);
    return Put(prefix);
}

bool CRingLogFile::WriteRecord(std::string_view text, const os::LocalTime* timestamp) {
    std::lock_guard lock(mutex_);
    if (file_ == nullptr) return false;
    if (!WriteTimestamp(timestamp) || !Put(text)) return false;
    const long end = std::ftell(file_);
    if (end < 0 || !PutMarker()) return false;
    const std::string header = LogFileHeader(static_cast<std::uint32_t>(end), identity_);
    if (std::fseek(file_, 0, SEEK_SET) != 0 ||
        std::fwrite(header.data(), 1, header.size(), file_) != header.size())
        return false;
    if (!accCache_) std::fflush(file_);
    return true;
}

} // namespace qorcam::tracelog
