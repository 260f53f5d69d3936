// ConvExports: the stand-alone conversion exports (conversion handles, their conversions and bitmap
// headers) and the grey header of raw monochrome images.
#include "QorCam.h"

#include "BmpInfo.h"
#include "CConv.h"
#include "ClassifyPixelFormat.h"
#include "ExportGuard.h"
#include "LibraryProcess.h"
#include "QorCamDLL.h"
#include "TraceLog.h"

#include <mutex>

using qorcam::conversion::CConv;
using qorcam::conversion::ClassifyPixelFormat;
using qorcam::conversion::ConvRequest;
using qorcam::conversion::IsMonochromeFormat;
using namespace qorcam::library;

namespace {

constexpr QORCAM_COLORVALUE kDefaultValue = {1.402, 0.711, 0.343, 1.772};

bool ModeInRange(const QORCAM_COLORCONVMODE& mode, int32_t lowestShift) {
    return mode.StoreMode <= QORCAM_BMPmodeLR && mode.ShiftID >= lowestShift && mode.ShiftID <= QORCAM_SFT8 &&
           mode.DIBMode <= QORCAM_DIB24;
}

// The frame of an export on a conversion handle: start line, last error
// cleared, body (which returns 0 or the failure code), end or error line.
template <class Body> BOOL ConvFrame(uint32_t level, const char* name, const void* handle, Body body) {
    CQorCamDLL* library = CLibraryProcess::Library();
    if (library == nullptr) return FALSE;
    TraceConv(level, name, "Start", handle);
    library->SetLastErrorCode(0);
    const uint32_t code = body(*library);
    if (code != 0) {
        library->SetLastErrorCode(code);
        TraceConvError(level, name, static_cast<int32_t>(code), handle);
        return FALSE;
    }
    TraceConv(level, name, "End  ", handle);
    return TRUE;
}

// Checks shared by the header exports: 0, or the failure code; id receives
// the format's conversion id.
uint32_t CheckImage(const QORCAM_IMAGE* image, int32_t& id) {
    uint32_t phase = 0, bits = 0;
    id = ClassifyPixelFormat(image->PixelFormatID, &phase, &bits);
    if (id < 0) return STATUSQORCAM_NO_SUPPORT_PIXELFORMAT;
    if (image->EndianMode > QORCAM_LITTLEENDIAN) return STATUSQORCAM_PARAMETER_ERROR;
    return 0;
}

BOOL ColorConvBmpInfo(const char* name, HCTBL hTbl, QORCAM_IMAGE* Image, BITMAPINFO* BmpInfo) {
    return ConvFrame(1, name, hTbl, [&](CQorCamDLL& library) -> uint32_t {
        CConv* conv = library.FindConvHandle(hTbl);
        if (conv == nullptr || Image == nullptr || BmpInfo == nullptr) return STATUSQORCAM_PARAMETER_ERROR;
        int32_t id = -1;
        if (const uint32_t code = CheckImage(Image, id)) return code;
        if (!FillColourBmpInfo(BmpInfo, Image->Width, Image->Height, conv->DIBMode))
            return STATUSQORCAM_PARAMETER_ERROR;
        return 0;
    });
}

} // namespace

extern "C" {

QORCAM_API BOOL QORCAM_CreateConvHandle(HCTBL* phTbl, QORCAM_COLORCONVMODE* Mode, QORCAM_COLORVALUE* Value) {
    return Guarded("QORCAM_CreateConvHandle", FALSE, [&]() -> BOOL {
        return ConvFrame(1, "QORCAM_CreateConvHandle", nullptr, [&](CQorCamDLL& library) -> uint32_t {
            if (phTbl == nullptr) return STATUSQORCAM_PARAMETER_ERROR;
            const QORCAM_COLORCONVMODE mode = Mode != nullptr ? *Mode : QORCAM_COLORCONVMODE{};
            const QORCAM_COLORVALUE value = Value != nullptr ? *Value : kDefaultValue;
            if (!ModeInRange(mode, 0)) return STATUSQORCAM_PARAMETER_ERROR;
            *phTbl = nullptr;
            std::lock_guard<std::recursive_mutex> libraryLock(library.LibraryLock());
            return library.CreateConvHandle(phTbl, mode, value) ? 0 : STATUSQORCAM_UNDEF_ERROR;
        });
    });
}

QORCAM_API void QORCAM_CloseConvHandle(HCTBL hTbl) {
    GuardedVoid("QORCAM_CloseConvHandle", [&] {
        static constexpr char kName[] = "QORCAM_CloseConvHandle";
        CQorCamDLL* library = CLibraryProcess::Library();
        if (library == nullptr) return;
        TraceConv(1, kName, "Start", hTbl);
        library->SetLastErrorCode(0);
        {
            std::lock_guard<std::recursive_mutex> libraryLock(library->LibraryLock());
            if (library->FindConvHandle(hTbl) == nullptr) {
                library->SetLastErrorCode(STATUSQORCAM_PARAMETER_ERROR);
            } else {
                library->CloseConvHandle(hTbl);
            }
        }
        TraceConv(1, kName, "End  ", hTbl);
    });
}

QORCAM_API void QORCAM_CloseAllConvHandle(void) {
    GuardedVoid("QORCAM_CloseAllConvHandle", [&] {
        static constexpr char kName[] = "QORCAM_CloseAllConvHandle";
        CQorCamDLL* library = CLibraryProcess::Library();
        if (library == nullptr) return;
        TraceExport(1, kName, "Start");
        library->SetLastErrorCode(0);
        {
            std::lock_guard<std::recursive_mutex> libraryLock(library->LibraryLock());
            library->CloseAllConvHandle();
        }
        TraceExport(1, kName, "End  ");
    });
}

QORCAM_API BOOL QORCAM_ColorConvExec(HCTBL hTbl, QORCAM_IMAGE* Image, uint8_t* OutBuf) {
    return Guarded("QORCAM_ColorConvExec", FALSE, [&]() -> BOOL {
        return ConvFrame(2, "QORCAM_ColorConvExec", hTbl, [&](CQorCamDLL& library) -> uint32_t {
            CConv* conv = library.FindConvHandle(hTbl);
            // A null pixel pointer would be read from; it is refused like the other null buffers.
            if (conv == nullptr || Image == nullptr || OutBuf == nullptr || Image->pBuffer == nullptr)
                return STATUSQORCAM_PARAMETER_ERROR;
            ConvRequest request;
            uint32_t phase = 0, bits = 0;
            const int32_t id = ClassifyPixelFormat(Image->PixelFormatID, &phase, &bits);
            if (id < 0 || Image->EndianMode > QORCAM_LITTLEENDIAN) return STATUSQORCAM_PARAMETER_ERROR;
            request.Width = Image->Width;
            request.Height = Image->Height;
            request.ConvFormatId = static_cast<uint32_t>(id);
            request.BayerPhase = phase;
            request.Bits = bits;
            request.EndianMode = Image->EndianMode;
            request.Src = Image->pBuffer;
            request.Dst = OutBuf;
            try {
                uint32_t error = STATUSQORCAM_UNDEF_ERROR;
                return conv->ConvExec(request, &error) ? 0 : error;
            } catch (...) {
                return STATUSQORCAM_UNDEF_ERROR;
            }
        });
    });
}

QORCAM_API BOOL QORCAM_ColorConvSetBMPINFO(HCTBL hTbl, QORCAM_IMAGE* Image, BITMAPINFO* BmpInfo) {
    return Guarded("QORCAM_ColorConvSetBMPINFO", FALSE, [&]() -> BOOL {
        return ColorConvBmpInfo("QORCAM_ColorConvSetBMPINFO", hTbl, Image, BmpInfo);
    });
}

QORCAM_API BOOL QORCAM_ColorConvGetBMPINFO(HCTBL hTbl, QORCAM_IMAGE* Image, BITMAPINFO* BmpInfo) {
    return Guarded("QORCAM_ColorConvGetBMPINFO", FALSE, [&]() -> BOOL {
        return ColorConvBmpInfo("QORCAM_ColorConvGetBMPINFO", hTbl, Image, BmpInfo);
    });
}

QORCAM_API BOOL QORCAM_MonoBMPINFO(QORCAM_IMAGE* Image, BITMAPINFO* BmpInfo) {
    return Guarded("QORCAM_MonoBMPINFO", FALSE, [&]() -> BOOL {
        static constexpr char kName[] = "QORCAM_MonoBMPINFO";
        CQorCamDLL* library = CLibraryProcess::Library();
        if (library == nullptr) return FALSE;
        TraceExport(1, kName, "Start");
        library->SetLastErrorCode(0);
        uint32_t code = 0;
        uint32_t phase = 0, bits = 0;
        const int32_t id = Image != nullptr ? ClassifyPixelFormat(Image->PixelFormatID, &phase, &bits) : -1;
        if (Image == nullptr || BmpInfo == nullptr || id < 0) {
            code = STATUSQORCAM_PARAMETER_ERROR;
        } else if (!IsMonochromeFormat(id)) {
            code = STATUSQORCAM_NO_SUPPORT_PIXELFORMAT;
        } else if (Image->EndianMode > QORCAM_LITTLEENDIAN ||
                   !FillMonoBmpInfo(BmpInfo, Image->Width, Image->Height, false)) {
            code = STATUSQORCAM_PARAMETER_ERROR;
        }
        if (code != 0) {
            library->SetLastErrorCode(code);
            TraceExportError(1, kName, static_cast<int32_t>(code));
            return FALSE;
        }
        TraceExport(1, kName, "End  ");
        return TRUE;
    });
}

} // extern "C"
