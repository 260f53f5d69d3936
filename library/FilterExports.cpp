// FilterExports: the output filter exports QORCAMFILTER_*.
#include "QorCam.h"

#include "ExportGuard.h"
#include "LibraryProcess.h"
#include "OutputFilter.h"
#include "TraceLog.h"

using qorcam::library::CLibraryProcess;
using qorcam::library::COutputFilter;
using qorcam::library::Guarded;
using qorcam::library::GuardedVoid;

namespace {

// Runs one filter call inside the export frame: start line, the call, then
// the end line or an error line carrying the returned code. The per-frame
// calls trace at level 2, the others at level 1.
template <class Call> uint32_t Frame(const char* name, uint32_t level, Call call) {
    qorcam::library::TraceExport(level, name, "Start");
    COutputFilter* filter = CLibraryProcess::OutputFilter();
    const uint32_t result = filter != nullptr ? call(*filter) : COutputFilter::kError;
    if (result == COutputFilter::kSuccess) {
        qorcam::library::TraceExport(level, name, "End  ");
    } else {
        qorcam::library::TraceExportError(level, name, static_cast<int32_t>(result));
    }
    return result;
}

} // namespace

extern "C" {

QORCAM_API uint32_t QORCAMFILTER_Alloc(uint32_t Width, uint32_t Height, uint32_t Param) {
    return Guarded(
        "QORCAMFILTER_Alloc", uint32_t{QORCAMFILTER_ERROR},
        [&]() -> uint32_t {
            return Frame("QORCAMFILTER_Alloc", 1,
                         [&](COutputFilter& f) { return f.Alloc(Width, Height, Param); });
        },
        false);
}

QORCAM_API uint32_t QORCAMFILTER_OutPut(void* Image) {
    return Guarded(
        "QORCAMFILTER_OutPut", uint32_t{QORCAMFILTER_ERROR},
        [&]() -> uint32_t {
            return Frame("QORCAMFILTER_OutPut", 2, [&](COutputFilter& f) { return f.OutPut(Image); });
        },
        false);
}

QORCAM_API uint32_t QORCAMFILTER_GetAddr(void** Address) {
    return Guarded(
        "QORCAMFILTER_GetAddr", uint32_t{QORCAMFILTER_ERROR},
        [&]() -> uint32_t {
            return Frame("QORCAMFILTER_GetAddr", 2, [&](COutputFilter& f) { return f.GetAddr(Address); });
        },
        false);
}

QORCAM_API uint32_t QORCAMFILTER_Flush(void) {
    return Guarded(
        "QORCAMFILTER_Flush", uint32_t{QORCAMFILTER_ERROR},
        [&]() -> uint32_t {
            return Frame("QORCAMFILTER_Flush", 1, [](COutputFilter& f) { return f.Flush(); });
        },
        false);
}

QORCAM_API uint32_t QORCAMFILTER_Purge(void) {
    return Guarded(
        "QORCAMFILTER_Purge", uint32_t{QORCAMFILTER_ERROR},
        [&]() -> uint32_t {
            return Frame("QORCAMFILTER_Purge", 1, [](COutputFilter& f) { return f.Purge(); });
        },
        false);
}

QORCAM_API uint32_t QORCAMFILTER_Free(void) {
    return Guarded(
        "QORCAMFILTER_Free", uint32_t{QORCAMFILTER_ERROR},
        [&]() -> uint32_t {
            return Frame("QORCAMFILTER_Free", 1, [](COutputFilter& f) { return f.Free(); });
        },
        false);
}

} // extern "C"
