// Exports: the library-wide exports (structure version and producer loading, system callback, last error,
// revision, camera list, reload, lock barrier, log reader hand-over, library release).
#include "QorCam.h"

#include "ExportGuard.h"
#include "LibraryProcess.h"
#include "QorCamDLL.h"
#include "SharedData.h"
#include "TraceLog.h"

#include <mutex>

using qorcam::library::CLibraryProcess;
using qorcam::library::CQorCamDLL;
using qorcam::library::Guarded;
using qorcam::library::GuardedVoid;
using qorcam::library::TraceExport;
using qorcam::library::TraceExportError;

namespace {

// The newest structure version this library accepts, plus one.
constexpr uint32_t kStructVersionLimit = 10107;

// The frame of a library-wide export: start line, the caller's last error
// cleared, the body, end line. False when there is no library object.
template <class Body> bool LibraryWide(const char* name, Body body) {
    CQorCamDLL* library = CLibraryProcess::Library();
    if (library == nullptr) return false;
    TraceExport(1, name, "Start");
    library->SetLastErrorCode(0);
    body(*library);
    TraceExport(1, name, "End  ");
    return true;
}

} // namespace

extern "C" {

QORCAM_API BOOL QORCAM_SetStructVersion(uint32_t Version) {
    return Guarded("QORCAM_SetStructVersion", FALSE, [&]() -> BOOL {
        static constexpr char kName[] = "QORCAM_SetStructVersion";
        bool accepted = false;
        std::size_t loaded = 0;
        LibraryWide(kName, [&](CQorCamDLL& library) {
            {
                std::lock_guard<std::recursive_mutex> libraryLock(library.LibraryLock());
                uint32_t& stored = library.StructVersion();
                accepted = Version < kStructVersionLimit && Version >= stored;
                if (accepted && Version > stored) {
                    stored = Version;
                    std::lock_guard<std::recursive_mutex> listLock(library.ProducerListLock());
                    loaded = library.CreateDrvList();
                }
                if (!accepted) {
                    library.SetLastErrorCode(STATUSQORCAM_STRUCTVERSION_ERROR);
                    TraceExportError(1, kName, STATUSQORCAM_STRUCTVERSION_ERROR);
                }
            }
            if (loaded > 0) CLibraryProcess::ArmExitTeardown();
        });
        return accepted ? TRUE : FALSE;
    });
}

QORCAM_API void QORCAM_SetCallBack(void* Context, QORCAM_SYSTEMCALLBACK CallBack) {
    GuardedVoid("QORCAM_SetCallBack", [&] {
        LibraryWide("QORCAM_SetCallBack", [&](CQorCamDLL& library) {
            {
                std::lock_guard<std::recursive_mutex> libraryLock(library.LibraryLock());
                library.SetCallBack(Context, CallBack);
            }
            // A call already running with the callback replaced ends before this
            // returns: the caller may free the old context right after.
            library.WaitForCallbackCall();
        });
    });
}

QORCAM_API STATUS_RTNCODE QORCAM_GetLastError(void) {
    return Guarded("QORCAM_GetLastError", STATUSQORCAM_UNDEF_ERROR, [&]() -> STATUS_RTNCODE {
        const auto* library = CLibraryProcess::Library();
        return library != nullptr ? static_cast<STATUS_RTNCODE>(library->GetLastErrorCode())
                                  : STATUSQORCAM_COMPLETE;
    });
}

QORCAM_API uint32_t QORCAM_GetLibraryRevision(void) {
    return Guarded("QORCAM_GetLibraryRevision", uint32_t{LIBRARY_STRUCT_VERSION}, [&]() -> uint32_t {
        if (auto* library = CLibraryProcess::Library()) library->SetLastErrorCode(0);
        return LIBRARY_STRUCT_VERSION;
    });
}

QORCAM_API BOOL QORCAM_GetList(QORCAM_LIST* List) {
    return Guarded("QORCAM_GetList", FALSE, [&]() -> BOOL {
        static constexpr char kName[] = "QORCAM_GetList";
        CQorCamDLL* library = CLibraryProcess::Library();
        if (library == nullptr) return FALSE;
        TraceExport(1, kName, "Start");
        library->SetLastErrorCode(0);
        bool ok = false;
        if (List == nullptr) {
            library->SetLastErrorCode(STATUSQORCAM_PARAMETER_ERROR);
        } else {
            std::lock_guard<std::recursive_mutex> libraryLock(library->LibraryLock());
            ok = library->GetList(List);
        }
        if (!ok) {
            TraceExportError(1, kName, static_cast<int32_t>(library->GetLastErrorCode()));
            return FALSE;
        }
        TraceExport(1, kName, "End  ");
        return TRUE;
    });
}

QORCAM_API void QORCAM_CloseAll(void) {
    GuardedVoid("QORCAM_CloseAll", [&] {
        LibraryWide("QORCAM_CloseAll", [](CQorCamDLL& library) {
            std::lock_guard<std::recursive_mutex> libraryLock(library.LibraryLock());
            library.CloseAll();
        });
    });
}

QORCAM_API void QORCAM_ReDetection(void) {
    GuardedVoid("QORCAM_ReDetection", [&] {
        LibraryWide("QORCAM_ReDetection", [](CQorCamDLL& library) {
            std::size_t loaded = 0;
            {
                std::lock_guard<std::recursive_mutex> libraryLock(library.LibraryLock());
                std::lock_guard<std::recursive_mutex> listLock(library.ProducerListLock());
                loaded = library.CreateDrvList();
            }
            if (loaded > 0) CLibraryProcess::ArmExitTeardown();
        });
    });
}

QORCAM_API BOOL QORCAM_Reset(void) {
    return Guarded("QORCAM_Reset", FALSE, [&]() -> BOOL {
        // Returns once every library-wide call running now has finished.
        return LibraryWide("QORCAM_Reset",
                           [](CQorCamDLL& library) {
                               std::lock_guard<std::recursive_mutex> libraryLock(library.LibraryLock());
                               std::lock_guard<std::recursive_mutex> listLock(library.ProducerListLock());
                           })
                   ? TRUE
                   : FALSE;
    });
}

QORCAM_API void QORCAM_LogCommonAreaGet(uint32_t ProcessId, char** BuildDate) {
    GuardedVoid("QORCAM_LogCommonAreaGet", [&] {
        if (auto* data = CLibraryProcess::SharedData()) {
            __atomic_store_n(data->ExcludedProcessId(), ProcessId, __ATOMIC_RELAXED);
            if (BuildDate != nullptr) *BuildDate = data->BuildDate();
        }
        CLibraryProcess::DestroyLibrary();
    });
}

QORCAM_API void QORCAM_FreeLibrary(void) {
    GuardedVoid("QORCAM_FreeLibrary", [&] { CLibraryProcess::DestroyLibrary(); });
}

} // extern "C"
