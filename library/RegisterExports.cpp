// RegisterExports: register access through an opened camera's remote port, and register-only handles.
#include "QorCam.h"

#include "CameraFrame.h"
#include "CameraPort.h"
#include "ExportGuard.h"
#include "GenTLProducer.h"

using namespace qorcam::library;

namespace {

// One producer read or write of *Length bytes; the producer's count goes back to Length.
template <class Call> int PortAccess(void* Buffer, uint32_t* Length, Call call) {
    // Buffer and Length are the caller's; null ones are refused rather than used.
    if (Buffer == nullptr || Length == nullptr) return STATUSQORCAM_PARAMETER_ERROR;
    std::size_t size = *Length;
    if (call(size) < 0) return STATUSQORCAM_COMMUNICATE_ERROR;
    *Length = static_cast<uint32_t>(size);
    return 0;
}

// The frame of the register exports: a handle of QORCAM_OpenReg, its port lock around body.
template <class Body> BOOL RegisterExport(const char* name, HCAMERA hReg, Body body) {
    CQorCamDLL* library = CLibraryProcess::Library();
    if (library == nullptr) return FALSE;
    TraceCamera(1, name, "Start", hReg);
    library->SetLastErrorCode(0);
    CCameraPort* port = CHandleRegistry::Instance().Test<CBasePort, CCameraPort>(hReg);
    if (port == nullptr) {
        library->SetLastErrorCode(STATUSQORCAM_PARAMETER_ERROR);
        return FALSE;
    }
    const int code = body(*port);
    if (code != 0) {
        if (code > 0) library->SetLastErrorCode(static_cast<uint32_t>(code));
        TraceCameraError(1, name, static_cast<int32_t>(library->GetLastErrorCode()), hReg);
        return FALSE;
    }
    TraceCamera(1, name, "End  ", hReg);
    return TRUE;
}

} // namespace

extern "C" {

QORCAM_API BOOL QORCAM_ReadPort(HCAMERA hCamera, uint32_t Address, void* Buffer, uint32_t* Length) {
    return GuardedCameraExport(1, "QORCAM_ReadPort", hCamera, [&](CCamera& camera) {
        return PortAccess(Buffer, Length,
                          [&](std::size_t& size) { return camera.ReadPort(Address, Buffer, size); });
    });
}

QORCAM_API BOOL QORCAM_WritePort(HCAMERA hCamera, uint32_t Address, void* Buffer, uint32_t* Length) {
    return GuardedCameraExport(1, "QORCAM_WritePort", hCamera, [&](CCamera& camera) {
        return PortAccess(Buffer, Length,
                          [&](std::size_t& size) { return camera.WritePort(Address, Buffer, size); });
    });
}

QORCAM_API BOOL QORCAM_OpenReg(HCAMERA* phReg) {
    return Guarded("QORCAM_OpenReg", FALSE, [&]() -> BOOL {
        static constexpr char kName[] = "QORCAM_OpenReg";
        CQorCamDLL* library = CLibraryProcess::Library();
        if (library == nullptr) return FALSE;
        TraceExport(1, kName, "Start");
        library->SetLastErrorCode(0);
        bool ok = false;
        if (phReg == nullptr) {
            library->SetLastErrorCode(STATUSQORCAM_PARAMETER_ERROR);
        } else {
            *phReg = nullptr;
            std::lock_guard<std::recursive_mutex> libraryLock(library->LibraryLock());
            ok = library->OpenCameraPort(phReg);
        }
        if (!ok) {
            TraceExportError(1, kName, static_cast<int32_t>(library->GetLastErrorCode()));
            return FALSE;
        }
        TraceOpenEnd(1, kName, *phReg);
        return TRUE;
    });
}

QORCAM_API BOOL QORCAM_CloseReg(HCAMERA hReg) {
    return Guarded("QORCAM_CloseReg", FALSE, [&]() -> BOOL {
        return RegisterExport("QORCAM_CloseReg", hReg, [](CCameraPort& port) {
            CQorCamDLL* library = CLibraryProcess::Library();
            std::lock_guard<std::recursive_mutex> libraryLock(library->LibraryLock());
            delete &port;
            return 0;
        });
    });
}

QORCAM_API BOOL QORCAM_ReadReg(HCAMERA hReg, uint32_t Address, void* Buffer, uint32_t* Length) {
    return Guarded("QORCAM_ReadReg", FALSE, [&]() -> BOOL {
        return RegisterExport("QORCAM_ReadReg", hReg, [&](CCameraPort& port) {
            std::lock_guard<std::mutex> guard(port.Lock());
            return PortAccess(Buffer, Length, [&](std::size_t& size) {
                return port.Producer().fn.GCReadPort(port.Port(), Address, Buffer, &size);
            });
        });
    });
}

QORCAM_API BOOL QORCAM_WriteReg(HCAMERA hReg, uint32_t Address, void* Buffer, uint32_t* Length) {
    return Guarded("QORCAM_WriteReg", FALSE, [&]() -> BOOL {
        return RegisterExport("QORCAM_WriteReg", hReg, [&](CCameraPort& port) {
            std::lock_guard<std::mutex> guard(port.Lock());
            return PortAccess(Buffer, Length, [&](std::size_t& size) {
                return port.Producer().fn.GCWritePort(port.Port(), Address, Buffer, &size);
            });
        });
    });
}

QORCAM_API BOOL QORCAM_CameraRegInfo(HCAMERA hReg, QORCAM_CAMERAINFO* Info) {
    return Guarded("QORCAM_CameraRegInfo", FALSE, [&]() -> BOOL {
        return RegisterExport("QORCAM_CameraRegInfo", hReg, [&](CCameraPort& port) {
            // A null record is refused rather than written through.
            if (Info == nullptr) return static_cast<int>(STATUSQORCAM_PARAMETER_ERROR);
            return port.CameraInfo(Info) ? 0 : kErrorAlreadySet;
        });
    });
}

} // extern "C"
