// QorCamShared.h: names and layouts of the named objects the library shares with its tools and the monitor.
#pragma once

#include <cstddef>
#include <cstdint>

namespace qorcam::shared {

// The trace area: a level word, a count of pending lines and 32 line slots.
inline constexpr char kLogFileName[] = "QORCAMLogFile_Quillonmark";
inline constexpr char kLogMutexName[] = "QORCAMLogMutex_Quillonmark";
inline constexpr char kLogEventName[] = "QORCAMLogEvent_Quillonmark";
inline constexpr std::uint32_t kLogSlotCount = 32;
inline constexpr std::size_t kLogSlotSize = 1024;

struct LogShareMemory {
    std::uint32_t level; // 0 off, 1 standard, 2 detail; owned by the reader
    std::uint32_t count; // pending lines, 0..32; the reader empties the area
    char slot[kLogSlotCount][kLogSlotSize];
};
static_assert(sizeof(LogShareMemory) == 32776);
static_assert(offsetof(LogShareMemory, slot) == 8);

/// The pending-line count as a reader or writer may use it: the word lives in
/// memory every process can write, so anything above 32 counts as a full area.
inline std::uint32_t ClampedLogCount(std::uint32_t count) {
    return count > kLogSlotCount ? kLogSlotCount : count;
}
/// Lines dropped because the area was full are counted where no reader of the
/// layout looks: in the last 4 bytes of the last slot, past the end of the
/// text (a line in that slot is cut 4 bytes shorter). The count stays 0..32.
/// The first writer after the reader emptied the area (count 0) clears it, so
/// a reader that finds the area full reads the lines lost since it last
/// emptied it.
inline constexpr std::size_t kLogDropOffset = kLogSlotSize - sizeof(std::uint32_t);
inline std::uint32_t DroppedLogLines(const LogShareMemory& area) {
    if (ClampedLogCount(area.count) < kLogSlotCount) return 0;
    // A last slot whose text runs into the count was not written this way.
    if (__builtin_memchr(area.slot[kLogSlotCount - 1], 0, kLogDropOffset) == nullptr) return 0;
    std::uint32_t dropped = 0;
    __builtin_memcpy(&dropped, &area.slot[kLogSlotCount - 1][kLogDropOffset], sizeof dropped);
    return dropped;
}
/// Readers written when drops were counted in the count word itself: that
/// word no longer goes past 32, so this reads 0; use the overload above.
inline std::uint32_t DroppedLogLines(std::uint32_t count) {
    return count > kLogSlotCount && count < 0xFFFFFFFFu ? count - kLogSlotCount : 0;
}

// The table of processes that have the library loaded.
inline constexpr char kProcessIdTableName[] = "QORCAMProcessIdTBLFile_Quillonmark";
inline constexpr char kProcessIdMutexName[] = "QORCAMProcessIdTBLMutex_Quillonmark";
inline constexpr char kProcessIdEventName[] = "QORCAMProcessIdTBLEvent_Quillonmark";
inline constexpr std::uint32_t kProcessIdCapacity = 256;

struct ProcessIdTable {
    std::uint32_t count; // listed processes, 0..256
    std::uint32_t id[kProcessIdCapacity];
};
static_assert(sizeof(ProcessIdTable) == 1028);

inline std::uint32_t ClampedProcessCount(std::uint32_t count) {
    return count > kProcessIdCapacity ? kProcessIdCapacity : count;
}

// Per-process events: the prefix followed by the process id in decimal.
inline constexpr char kUsbEventPrefix[] = "QORCAMProcessIdTBLUSBEvent_Quillonmark";
inline constexpr char kIidcEventPrefix[] = "QORCAMProcessIdTBLIIDCEvent_Quillonmark";

// The library's data shared by every process that loads it: the excluded
// (log reader's) process id and the build date.
inline constexpr char kSharedDataName[] = "QORCAMD";
struct SharedDataSection {
    std::uint32_t excludedProcessId;
    std::uint32_t zero;
    char buildDate[12]; // "Mar 14 2025" and a NUL
};
static_assert(sizeof(SharedDataSection) == 20);

// The device monitor.
inline constexpr char kMonitorMutexName[] = "QORCAMMonitorMutex_Quillonmark";
inline constexpr char kMonitorKey[] = "System\\CurrentControlSet\\Services\\QORUSBDRV\\Parameters";
inline constexpr char kMonitorPathValue[] = "MONITORPATH";
/// The USB3 Vision driver's device interface class: a folder <run>/dev/<class>/
/// holding one socket per present device.
inline constexpr char kUsbDeviceClass[] = "{097BDA20-222C-4952-A3A6-FF618734C21A}";

} // namespace qorcam::shared
