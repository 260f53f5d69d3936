// TraceLog: CTraceLog, the writer's side of the trace area shared by every process.
#pragma once

#include "QorCamShared.h"
#include "os/NamedEvent.h"
#include "os/NamedMutex.h"
#include "os/SharedMemory.h"

#include <cstdarg>
#include <cstdint>

namespace qorcam::library {

/// Writes trace lines into the shared trace area, one slot per line, in the
/// order the lines were written by all processes.
///
/// Guarantees: a line is written only while the area's level is at least the
/// line's level, the calling process is not the excluded one and fewer than
/// 32 lines are pending; otherwise it is dropped and the writer never waits
/// for the reader. Each line carries the local time with milliseconds, fits
/// its 1024-byte slot and ends in a line feed and a NUL. A writer that died
/// holding the log mutex does not stop the others. Without an area (it could
/// not be created, or before Open) the level reads 0 and nothing is written.
class CTraceLog {
public:
    CTraceLog() = default;
    CTraceLog(const CTraceLog&) = delete;
    CTraceLog& operator=(const CTraceLog&) = delete;

    /// Creates or opens the log mutex, event and area; the area is used only
    /// when all three exist. excludedProcessId points into the library's
    /// shared data (or null: no process is excluded).
    void Open(const volatile std::uint32_t* excludedProcessId);
    void Close();

    std::uint32_t Level() const;

    /// Writes one line: the time prefix, then fmt with its arguments.
    void Write(std::uint32_t minLevel, const char* fmt, va_list args);

private:
    os::NamedMutex mutex_;
    os::NamedEvent event_;
    os::SharedMemory area_;
    shared::LogShareMemory* log_ = nullptr;
    const volatile std::uint32_t* excluded_ = nullptr;
};

/// The process's trace log (opened at attach, closed at detach).
CTraceLog& TheTraceLog();
/// Frees it; called last by the unload entry, once no thread of the library runs.
void FreeTraceLog();

/// Writes one line at minLevel (1 standard, 2 detail); fmt follows the time
/// prefix and ends in "\n".
void TraceLine(std::uint32_t minLevel, const char* fmt, ...) __attribute__((format(printf, 2, 3)));

// The line forms of the export frame.

/// "<name> Start" / "<name> End  " of an export without a handle.
void TraceExport(std::uint32_t minLevel, const char* name, const char* what);
/// "<name> Error=<code>" of an export without a handle.
void TraceExportError(std::uint32_t minLevel, const char* name, std::int32_t code);
/// Start and end of an export on a camera handle.
void TraceCamera(std::uint32_t minLevel, const char* name, const char* what, const void* handle);
void TraceCameraError(std::uint32_t minLevel, const char* name, std::int32_t code, const void* handle);
/// Lines of the exports on one item of a camera: what is "Start", "End  " or
/// "End" and label is "Buffer" (an image record) or "Handle" (a frame-start
/// request); the item comes before the camera handle.
void TraceCameraItem(std::uint32_t minLevel, const char* name, const char* what, const char* label,
                     const void* item, const void* handle);
void TraceCameraItemError(std::uint32_t minLevel, const char* name, std::int32_t code, const char* label,
                          const void* item, const void* handle);
/// Start, end and error lines of the stand-alone conversion exports.
void TraceConv(std::uint32_t minLevel, const char* name, const char* what, const void* handle);
void TraceConvError(std::uint32_t minLevel, const char* name, std::int32_t code, const void* handle);
/// "End HCAMERA=<handle>" of the opening exports.
void TraceOpenEnd(std::uint32_t minLevel, const char* name, const void* handle);
/// "Start Req UID=0x<upper> <lower>" of QORCAM_Open and QORCAM_WatchOpen.
void TraceOpenStart(std::uint32_t minLevel, const char* name, std::uint64_t uid);
/// The presence report of QORCAM_Camera: "Connect" or "Disconnect".
void TracePresence(std::uint32_t minLevel, const char* name, const char* state, const void* handle);
/// A class step: "Class::Method" and a text.
void TraceClass(std::uint32_t minLevel, const char* name, const char* text);
/// A class step that reports a value.
void TraceDump(std::uint32_t minLevel, const char* name, const char* text, const void* value);

} // namespace qorcam::library
