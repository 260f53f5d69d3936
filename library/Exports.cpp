// Exports: the library-wide exports (structure version and producer loading, system callback, last error,
// revision, camera list, reload, lock barrier, log reader hand-over, library release).
#include "QorCam.h"

#include "LibraryProcess.h"
#include "QorCamDLL.h"
#include "SharedData.h"
#include "TraceLog.h"

#include <mutex>

using qorcam::library::CLibraryProcess;
using qorcam::library::CQorCamDLL;
using qorcam::library::TraceExport;
using qorcam::library::TraceExportError;

namespace {

// The newest structure version this library accepts, plus one.
constexpr uint32_t kStructVersionLimit = 10107;

} // namespace

extern "C" {

QORCAM_API BOOL QORCAM_SetStructVersion(uint32_t Version) {
    static constexpr char kName[] = "QORCAM_SetStructVersion";
    CQorCamDLL* library = CLibraryProcess::Library();
    if (library == nullptr) return FALSE;
    TraceExport(1, kName, "Start");
    library->SetLastErrorCode(0);
    BOOL result = TRUE;
    std::size_t loaded = 0;
    {
        std::lock_guard<std::recursive_mutex> libraryLock(library->LibraryLock());
        uint32_t& stored = library->StructVersion();
        if (Version < kStructVersionLimit && Version >= stored) {
            if (Version > stored) {
                stored = Version;
                std::lock_guard<std::recursive_mutex> listLock(library->ProducerListLock());
                loaded = library->CreateDrvList();
            }
        } else {
            library->SetLastErrorCode(STATUSQORCAM_STRUCTVERSION_ERROR);
            TraceExportError(1, kName, STATUSQORCAM_STRUCTVERSION_ERROR);
            result = FALSE;
        }
    }
    if (loaded > 0) CLibraryProcess::ArmExitTeardown();
    TraceExport(1, kName, "End  ");
    return result;
}

QORCAM_API void QORCAM_SetCallBack(void* Context, QORCAM_SYSTEMCALLBACK CallBack) {
    static constexpr char kName[] = "QORCAM_SetCallBack";
    CQorCamDLL* library = CLibraryProcess::Library();
    if (library == nullptr) return;
    TraceExport(1, kName, "Start");
    library->SetLastErrorCode(0);
    {
        std::lock_guard<std::recursive_mutex> libraryLock(library->LibraryLock());
        library->SetCallBack(Context, CallBack);
    }
    TraceExport(1, kName, "End  ");
}

QORCAM_API STATUS_RTNCODE QORCAM_GetLastError(void) {
    const auto* library = CLibraryProcess::Library();
    return library != nullptr ? static_cast<STATUS_RTNCODE>(library->GetLastErrorCode())
                              : STATUSQORCAM_COMPLETE;
}

QORCAM_API uint32_t QORCAM_GetLibraryRevision(void) {
    if (auto* library = CLibraryProcess::Library()) library->SetLastErrorCode(0);
    return LIBRARY_STRUCT_VERSION;
}

QORCAM_API BOOL QORCAM_GetList(QORCAM_LIST* List) {
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
}

QORCAM_API void QORCAM_CloseAll(void) {
    static constexpr char kName[] = "QORCAM_CloseAll";
    CQorCamDLL* library = CLibraryProcess::Library();
    if (library == nullptr) return;
    TraceExport(1, kName, "Start");
    library->SetLastErrorCode(0);
    {
        std::lock_guard<std::recursive_mutex> libraryLock(library->LibraryLock());
        library->CloseAll();
    }
    TraceExport(1, kName, "End  ");
}

QORCAM_API void QORCAM_ReDetection(void) {
    static constexpr char kName[] = "QORCAM_ReDetection";
    CQorCamDLL* library = CLibraryProcess::Library();
    if (library == nullptr) return;
    TraceExport(1, kName, "Start");
    library->SetLastErrorCode(0);
    std::size_t loaded = 0;
    {
        std::lock_guard<std::recursive_mutex> libraryLock(library->LibraryLock());
        std::lock_guard<std::recursive_mutex> listLock(library->ProducerListLock());
        loaded = library->CreateDrvList();
    }
    if (loaded > 0) CLibraryProcess::ArmExitTeardown();
    TraceExport(1, kName, "End  ");
}

QORCAM_API BOOL QORCAM_Reset(void) {
    static constexpr char kName[] = "QORCAM_Reset";
    CQorCamDLL* library = CLibraryProcess::Library();
    if (library == nullptr) return FALSE;
    TraceExport(1, kName, "Start");
    library->SetLastErrorCode(0);
    {
        // Returns once every library-wide call running now has finished.
        std::lock_guard<std::recursive_mutex> libraryLock(library->LibraryLock());
        std::lock_guard<std::recursive_mutex> listLock(library->ProducerListLock());
    }
    TraceExport(1, kName, "End  ");
    return TRUE;
}

QORCAM_API void QORCAM_LogCommonAreaGet(uint32_t ProcessId, char** BuildDate) {
    if (auto* data = CLibraryProcess::SharedData()) {
        *data->ExcludedProcessId() = ProcessId;
        if (BuildDate != nullptr) *BuildDate = data->BuildDate();
    }
    CLibraryProcess::DestroyLibrary();
}

QORCAM_API void QORCAM_FreeLibrary(void) {
    CLibraryProcess::DestroyLibrary();
}

} // extern "C"
