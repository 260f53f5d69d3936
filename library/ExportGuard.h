// ExportGuard: the outermost frame of every export. No exception leaves the library through its C
// interface: one that reaches the guard becomes the undefined error (99), as the calling thread's last
// error and an error line, and the export's failure value.
#pragma once

#include "LibraryProcess.h"
#include "QorCam.h"
#include "QorCamDLL.h"
#include "TraceLog.h"

#include <cxxabi.h>

namespace qorcam::library {

/// Records an exception that reached an export: last error 99 (only for exports that keep a last
/// error) and the error line. Never throws.
inline void ExportFailed(const char* name, bool keepsLastError) noexcept {
    try {
        CQorCamDLL* library = CLibraryProcess::Library();
        if (keepsLastError && library != nullptr) library->SetLastErrorCode(STATUSQORCAM_UNDEF_ERROR);
        TraceExportError(1, name, STATUSQORCAM_UNDEF_ERROR);
    } catch (...) {
    }
}

/// Runs an export's body; an exception gives `failed`.
template <class R, class Body>
R Guarded(const char* name, R failed, Body&& body, bool keepsLastError = true) {
    try {
        return body();
    } catch (...) {
        // The thread itself is being ended (pthread_exit, cancellation: an unwinding without a C++
        // exception object): that goes on.
        if (abi::__cxa_current_exception_type() == nullptr) throw;
        ExportFailed(name, keepsLastError);
        return failed;
    }
}

/// Runs the body of an export without a result.
template <class Body> void GuardedVoid(const char* name, Body&& body) {
    try {
        body();
    } catch (...) {
        if (abi::__cxa_current_exception_type() == nullptr) throw;
        ExportFailed(name, true);
    }
}

} // namespace qorcam::library
