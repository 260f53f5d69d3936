// CameraFrame: the frame every export on a camera handle runs in.
#pragma once

#include "Camera.h"
#include "ExportGuard.h"
#include "HandleRegistry.h"
#include "LibraryProcess.h"
#include "QorCamDLL.h"
#include "TraceLog.h"

#include <mutex>
#include <utility>

namespace qorcam::library {

/// The camera an HCAMERA names, held for the length of one export: null when
/// the handle names no open camera (null, stale, foreign or closed). While it
/// is held, a close on another thread can't destroy the camera.
class CameraHold {
public:
    explicit CameraHold(const void* handle)
        : camera_(CHandleRegistry::Instance().Acquire<CBase, CCamera>(handle)) {}
    ~CameraHold() { Drop(); }
    CameraHold(const CameraHold&) = delete;
    CameraHold& operator=(const CameraHold&) = delete;

    CCamera* Get() const { return camera_; }
    /// Lets the camera go before the end of the scope (it may be the last reference).
    void Drop() {
        if (camera_ != nullptr) std::exchange(camera_, nullptr)->DropReference();
    }

private:
    CCamera* camera_;
};

/// Start line, last error cleared, handle test (a stale, null or foreign
/// handle fails with 1 and writes nothing else), BeforeAccess, the camera
/// lock around body, then the end line or the error line. A camera closed
/// on another thread before the lock was had is refused as a closed handle
/// is. body returns 0 or the failure code; a code of -1 means it set the last
/// error itself. The three lines are written by start(), end() and
/// error(code), so that an export can give its own forms of them.
template <class Start, class End, class Error, class Body>
BOOL CameraExportTraced(HCAMERA handle, Start start, End end, Error error, Body body) {
    CQorCamDLL* library = CLibraryProcess::Library();
    if (library == nullptr) return FALSE;
    start();
    library->SetLastErrorCode(0);
    CameraHold held(handle);
    CCamera* camera = held.Get();
    if (camera == nullptr) {
        library->SetLastErrorCode(STATUSQORCAM_PARAMETER_ERROR);
        return FALSE;
    }
    camera->BeforeAccess();
    int code = 0;
    bool closed = false;
    {
        std::lock_guard<std::recursive_mutex> guard(camera->Lock());
        closed = camera->IsClosed();
        if (!closed) code = body(*camera);
    }
    if (closed) {
        library->SetLastErrorCode(STATUSQORCAM_PARAMETER_ERROR);
        return FALSE;
    }
    if (code != 0) {
        if (code > 0) library->SetLastErrorCode(static_cast<std::uint32_t>(code));
        error(static_cast<std::int32_t>(library->GetLastErrorCode()));
        return FALSE;
    }
    end();
    return TRUE;
}

/// The frame with the plain camera-handle form of the lines, all at level.
template <class Body> BOOL CameraExport(std::uint32_t level, const char* name, HCAMERA handle, Body body) {
    return CameraExportTraced(
        handle, [&] { TraceCamera(level, name, "Start", handle); },
        [&] { TraceCamera(level, name, "End  ", handle); },
        [&](std::int32_t code) { TraceCameraError(level, name, code, handle); }, body);
}

/// An export that is only the plain camera frame: the frame inside the export guard, both under the
/// export's name.
template <class Body>
BOOL GuardedCameraExport(std::uint32_t level, const char* name, HCAMERA handle, Body body) {
    return Guarded(name, FALSE, [&]() -> BOOL { return CameraExport(level, name, handle, body); });
}

/// Code for a body whose failure already set the last error.
constexpr int kErrorAlreadySet = -1;

} // namespace qorcam::library
