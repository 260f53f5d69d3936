// TraceLog: CTraceLog, the writer's side of the trace area shared by every process.
#include "TraceLog.h"

#include "os/LocalTime.h"
#include "os/Process.h"
#include "os/Thread.h"

#include <atomic>
#include <cinttypes>
#include <cstdint>
#include <cstdio>
#include <cstring>

namespace qorcam::library {

namespace {

int ThreadId() {
    return static_cast<int>(os::Thread::CurrentId());
}
int ProcessId() {
    return static_cast<int>(os::Process::CurrentId());
}
// Whether a line of that level would be written now (Write checks again): the ids cost a system call
// each, so they are read only for a line that will be written.
bool Tracing(std::uint32_t minLevel) {
    return TheTraceLog().Level() >= minLevel;
}

// Pointers print as the trace format's %p does on the system the format comes
// from: 16 upper-case hex digits, so "0x%p" reads "0x00007F..." and a null
// handle "0x0000000000000000".
#define QORCAM_PTR "%016" PRIXPTR
std::uintptr_t Ptr(const void* p) {
    return reinterpret_cast<std::uintptr_t>(p);
}

} // namespace

namespace {

// Built on first use (attach) and freed by the unload entry, not with the
// static objects: a process that exits without unloading the library destroys
// static objects before the unload entry runs, and the library's threads
// still write their last lines then.
std::atomic<CTraceLog*> g_log{nullptr};

} // namespace

CTraceLog& TheTraceLog() {
    CTraceLog* log = g_log.load(std::memory_order_acquire);
    if (log == nullptr) {
        auto* made = new CTraceLog;
        if (g_log.compare_exchange_strong(log, made, std::memory_order_acq_rel)) {
            log = made;
        } else {
            delete made;
        }
    }
    return *log;
}

void FreeTraceLog() {
    delete g_log.exchange(nullptr);
}

void CTraceLog::Open(const volatile std::uint32_t* excludedProcessId) {
    excluded_ = excludedProcessId;
    mutex_ = os::NamedMutex(shared::kLogMutexName);
    event_ = os::NamedEvent(shared::kLogEventName, os::ResetMode::Auto, false);
    area_ = os::SharedMemory(shared::kLogFileName, sizeof(shared::LogShareMemory));
    if (mutex_.IsValid() && event_.IsValid() && area_.IsValid()) {
        log_ = static_cast<shared::LogShareMemory*>(area_.Data());
    }
}

void CTraceLog::Close() {
    log_ = nullptr;
    mutex_.Close();
    event_.Close();
    area_.Close();
    excluded_ = nullptr;
}

std::uint32_t CTraceLog::Level() const {
    if (log_ == nullptr) return 0;
    return std::atomic_ref<std::uint32_t>(log_->level).load(std::memory_order_relaxed);
}

void CTraceLog::Write(std::uint32_t minLevel, const char* fmt, va_list args) {
    if (Level() < minLevel || log_ == nullptr) return;
    os::NamedMutexLock lock(mutex_);
    if (!lock.owns()) return;

    const std::uint32_t self = os::Process::CurrentId();
    // A word shared by every process, written without a lock: read it whole.
    if (excluded_ != nullptr && __atomic_load_n(excluded_, __ATOMIC_RELAXED) == self) return;
    // Any process may write the count; a value past the slots counts as full.
    const std::uint32_t count = log_->count;
    char* dropCount = log_->slot[shared::kLogSlotCount - 1] + shared::kLogDropOffset;
    std::uint32_t dropped = 0;
    if (count >= shared::kLogSlotCount) {
        // Full: the line is dropped, and counted past the last slot's text
        // for the reader to report; the count keeps its published range.
        std::memcpy(&dropped, dropCount, sizeof dropped);
        if (dropped < UINT32_MAX) ++dropped;
        std::memcpy(dropCount, &dropped, sizeof dropped);
        return;
    }
    // The reader emptied the area: nothing is lost since.
    if (count == 0) std::memcpy(dropCount, &dropped, sizeof dropped);
    // The last slot's text ends before the drop count.
    const std::size_t room =
        count == shared::kLogSlotCount - 1 ? shared::kLogDropOffset : shared::kLogSlotSize;

    char* slot = log_->slot[count];
    const os::LocalTime t = os::LocalTime::Now();
    int used = std::snprintf(slot, room, "%04d/%02d/%02d %02d:%02d:%02d'%03d  ", t.year, t.month, t.day,
                             t.hour, t.minute, t.second, t.millisecond);
    if (used < 0) used = 0;
    if (static_cast<std::size_t>(used) < room) {
        const int rest = std::vsnprintf(slot + used, room - used, fmt, args);
        if (rest >= 0 && static_cast<std::size_t>(used) + rest >= room) {
            // Cut to the slot, but keep the line ending the reader expects.
            slot[room - 2] = '\n';
        }
    }
    slot[room - 1] = '\0';
    log_->count = count + 1;
    event_.Set();
}

void TraceLine(std::uint32_t minLevel, const char* fmt, ...) {
    va_list args;
    va_start(args, fmt);
    TheTraceLog().Write(minLevel, fmt, args);
    va_end(args);
}

void TraceExport(std::uint32_t minLevel, const char* name, const char* what) {
    if (!Tracing(minLevel)) return;
    TraceLine(minLevel, "%-28s %s ThreadID=%d, ProcessID=%d\n", name, what, ThreadId(), ProcessId());
}

void TraceExportError(std::uint32_t minLevel, const char* name, std::int32_t code) {
    if (!Tracing(minLevel)) return;
    TraceLine(minLevel, "%-28s Error=%d, ThreadID=%d, ProcessID=%d\n", name, code, ThreadId(), ProcessId());
}

void TraceCamera(std::uint32_t minLevel, const char* name, const char* what, const void* handle) {
    if (!Tracing(minLevel)) return;
    TraceLine(minLevel, "%-28s %s HCAMERA=0x" QORCAM_PTR ", ThreadID=%d, ProcessID=%d\n", name, what,
              Ptr(handle), ThreadId(), ProcessId());
}

void TraceCameraError(std::uint32_t minLevel, const char* name, std::int32_t code, const void* handle) {
    if (!Tracing(minLevel)) return;
    TraceLine(minLevel, "%-28s Error=%d, HCAMERA=0x" QORCAM_PTR ", ThreadID=%d, ProcessID=%d\n", name, code,
              Ptr(handle), ThreadId(), ProcessId());
}

void TraceCameraItem(std::uint32_t minLevel, const char* name, const char* what, const char* label,
                     const void* item, const void* handle) {
    if (!Tracing(minLevel)) return;
    TraceLine(minLevel, "%-28s %s %s=0x" QORCAM_PTR ", HCAMERA=0x" QORCAM_PTR ", ThreadID=%d, ProcessID=%d\n", name,
              what, label, Ptr(item), Ptr(handle), ThreadId(), ProcessId());
}

void TraceCameraItemError(std::uint32_t minLevel, const char* name, std::int32_t code, const char* label,
                          const void* item, const void* handle) {
    if (!Tracing(minLevel)) return;
    TraceLine(minLevel, "%-28s Error=%d, %s=0x" QORCAM_PTR ", HCAMERA=0x" QORCAM_PTR ", ThreadID=%d, ProcessID=%d\n",
              name, code, label, Ptr(item), Ptr(handle), ThreadId(), ProcessId());
}

void TraceConv(std::uint32_t minLevel, const char* name, const char* what, const void* handle) {
    if (!Tracing(minLevel)) return;
    TraceLine(minLevel, "%-28s %s HCTBL=0x" QORCAM_PTR ", ThreadID=%d, ProcessID=%d\n", name, what,
              Ptr(handle), ThreadId(), ProcessId());
}

void TraceConvError(std::uint32_t minLevel, const char* name, std::int32_t code, const void* handle) {
    if (!Tracing(minLevel)) return;
    TraceLine(minLevel, "%-28s Error=%d, HCTBL=0x" QORCAM_PTR ", ThreadID=%d, ProcessID=%d\n", name, code,
              Ptr(handle), ThreadId(), ProcessId());
}

void TraceOpenEnd(std::uint32_t minLevel, const char* name, const void* handle) {
    if (!Tracing(minLevel)) return;
    TraceLine(minLevel, "%-28s End HCAMERA=0x" QORCAM_PTR ", ThreadID=%d, ProcessID=%d\n", name, Ptr(handle),
              ThreadId(), ProcessId());
}

void TraceOpenStart(std::uint32_t minLevel, const char* name, std::uint64_t uid) {
    if (!Tracing(minLevel)) return;
    TraceLine(minLevel, "%-28s Start Req UID=0x%08X %08X, ThreadID=%d, ProcessID=%d\n", name,
              static_cast<unsigned>(uid >> 32), static_cast<unsigned>(uid & 0xFFFFFFFFu), ThreadId(),
              ProcessId());
}

void TracePresence(std::uint32_t minLevel, const char* name, const char* state, const void* handle) {
    if (!Tracing(minLevel)) return;
    TraceLine(minLevel, "%-34s %s %s, HCAMERA=0x%08X, ThreadID=%d, ProcessID=%d\n", name, "End  ", state,
              static_cast<unsigned>(Ptr(handle) & 0xFFFFFFFFu), ThreadId(), ProcessId());
}

void TraceClass(std::uint32_t minLevel, const char* name, const char* text) {
    if (!Tracing(minLevel)) return;
    TraceLine(minLevel, "%-34s %s ThreadID=%d, ProcessID=%d\n", name, text, ThreadId(), ProcessId());
}

void TraceDump(std::uint32_t minLevel, const char* name, const char* text, const void* value) {
    if (!Tracing(minLevel)) return;
    TraceLine(minLevel, "%-34s %s DUMP=0x" QORCAM_PTR ", ThreadID=%d, ProcessID=%d\n", name, text, Ptr(value),
              ThreadId(), ProcessId());
}

} // namespace qorcam::library
