// Exports: the library-wide exports built so far (last error, revision, log reader hand-over, library
// release).
#include "QorCam.h"

#include "LibraryProcess.h"
#include "QorCamDLL.h"
#include "SharedData.h"

using qorcam::library::CLibraryProcess;

extern "C" {

QORCAM_API STATUS_RTNCODE QORCAM_GetLastError(void) {
    const auto* library = CLibraryProcess::Library();
    return library != nullptr ? static_cast<STATUS_RTNCODE>(library->GetLastErrorCode())
                              : STATUSQORCAM_COMPLETE;
}

QORCAM_API uint32_t QORCAM_GetLibraryRevision(void) {
    if (auto* library = CLibraryProcess::Library()) library->SetLastErrorCode(0);
    return LIBRARY_STRUCT_VERSION;
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
