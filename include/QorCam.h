/* QorCam.h: the camera library's public C interface (exports, records, enumerations, result codes). */
#ifndef QORCAM_H
#define QORCAM_H

/*
 * Usable from C99 and C++. Every record is packed to 4 bytes; the sizes and
 * the offsets that clients rely on are checked at the end of this file.
 * Exports that return BOOL give TRUE (1) on success and FALSE (0) on failure;
 * the reason is the calling thread's last error, read with
 * QORCAM_GetLastError(). The QORCAMFILTER_ exports return their own u32 codes.
 */

#include <stddef.h>
#include <stdint.h>

#if defined(QORCAM_BUILDING_LIBRARY)
#define QORCAM_API __attribute__((visibility("default")))
#else
#define QORCAM_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* ---- Windows base types the interface is expressed in --------------------------- */

#ifndef QORCAM_HAVE_WIN_TYPES
#define QORCAM_HAVE_WIN_TYPES
typedef int32_t BOOL;
#ifndef TRUE
#define TRUE 1
#endif
#ifndef FALSE
#define FALSE 0
#endif

#pragma pack(push, 4)
typedef struct tagBITMAPINFOHEADER {
    uint32_t biSize;
    int32_t biWidth;
    int32_t biHeight;
    uint16_t biPlanes;
    uint16_t biBitCount;
    uint32_t biCompression;
    uint32_t biSizeImage;
    int32_t biXPelsPerMeter;
    int32_t biYPelsPerMeter;
    uint32_t biClrUsed;
    uint32_t biClrImportant;
} BITMAPINFOHEADER;

typedef struct tagRGBQUAD {
    uint8_t rgbBlue;
    uint8_t rgbGreen;
    uint8_t rgbRed;
    uint8_t rgbReserved;
} RGBQUAD;

/* Declared with one colour entry (44 bytes); palettised headers continue with
 * 255 more entries right behind it (1064 bytes in all). */
typedef struct tagBITMAPINFO {
    BITMAPINFOHEADER bmiHeader;
    RGBQUAD bmiColors[1];
} BITMAPINFO;
#pragma pack(pop)

#ifndef BI_RGB
#define BI_RGB 0
#endif
#endif /* QORCAM_HAVE_WIN_TYPES */

/* ---- Handles and constants ------------------------------------------------------ */

typedef void* HCAMERA; /* an open camera, a watch camera or a register-access handle */
typedef void* HCTBL;   /* a stand-alone conversion object */

#define LIBRARY_STRUCT_VERSION 10106

/* Camera type as the library records carry it (QORCAM_CAMERAINFO.CameraType,
 * QORCAM_IMAGEDATAINFO.CType). */
#define QORCAM_CTYPE_1394 0
#define QORCAM_CTYPE_GIGE 1
#define QORCAM_CTYPE_USB 2

/* Camera number that asks for "the first free camera" / "not by number". */
#define QORCAM_UID_ANY UINT64_C(0xFFFFFFFFFFFFFFFF)
/* URL index that leaves the choice of the description URL to the library. */
#define QORCAM_URLIDX_DEFAULT 0xFFFFFFFFu
/* Time-out that waits without limit. */
#define QORCAM_INFINITE 0xFFFFFFFFu

/* Results of the output filter exports. */
#define QORCAMFILTER_SUCCESS 0u
#define QORCAMFILTER_NOTHING 1u
#define QORCAMFILTER_ERROR 2u
#define QORCAMFILTER_EXISTS 3u
#define QORCAMFILTER_FULL 0xFFFFFFFFu

/* ---- Enumerations --------------------------------------------------------------- */

typedef enum {
    STATUSQORCAM_REQUEST_PENDING = -1,
    STATUSQORCAM_COMPLETE = 0,
    STATUSQORCAM_PARAMETER_ERROR = 1,
    STATUSQORCAM_BUFFER_SHORT = 2,
    STATUSQORCAM_OPEN_ERROR = 3,
    STATUSQORCAM_OPENED = 4,
    STATUSQORCAM_CANNOT_FOUND = 5,
    STATUSQORCAM_NO_OPEN = 6,
    STATUSQORCAM_COMMUNICATE_ERROR = 7,
    STATUSQORCAM_RESOURCE_ERROR = 8,
    STATUSQORCAM_NOTRESOURCE_ERROR = 9,
    STATUSQORCAM_STARTED_ERROR = 10,
    STATUSQORCAM_NOTSTART_ERROR = 11,
    STATUSQORCAM_REQUEST_EXEC = 12,
    STATUSQORCAM_REQUEST_TIMEOUT = 13,
    STATUSQORCAM_REQUEST_ERROR = 14,
    STATUSQORCAM_REQUEST_NOTALLOC = 15,
    STATUSQORCAM_STRUCTVERSION_ERROR = 16,
    STATUSQORCAM_FUNCTION_ONLYGIGE = 17,
    STATUSQORCAM_GIGE_NOTMULTICAST = 18,
    STATUSQORCAM_GIGE_IPADDR_ERROR = 19,
    STATUSQORCAM_FUNCTION_ONLYUSB = 20,
    STATUSQORCAM_NO_SUPPORT_PIXELFORMAT = 21,
    STATUSQORCAM_LIBRARY_CONTRADICTION = 90,
    STATUSQORCAM_UNDEF_ERROR = 99
} STATUS_RTNCODE;

typedef enum { STATUSQORCAM_BUSRESET = 1, STATUSQORCAM_POWERUP = 2 } STATUS_SYSTEMCODE;

typedef enum {
    QORCAM_S100M = 0,
    QORCAM_S200M = 1,
    QORCAM_S400M = 2,
    QORCAM_S800M = 3,
    QORCAM_S1600M = 4,
    QORCAM_S3200M = 5,
    QORCAM_S1000M = 6,
    QORCAM_SUSB2 = 7,
    QORCAM_SUSB3 = 8
} QORCAM_TRANSMITSPEED;

typedef enum {
    QORCAM_SFTAUTO = -1,
    QORCAM_SFT0 = 0,
    QORCAM_SFT1 = 1,
    QORCAM_SFT2 = 2,
    QORCAM_SFT3 = 3,
    QORCAM_SFT4 = 4,
    QORCAM_SFT5 = 5,
    QORCAM_SFT6 = 6,
    QORCAM_SFT7 = 7,
    QORCAM_SFT8 = 8
} QORCAM_SHIFTID;

typedef enum { QORCAM_DIB32 = 0, QORCAM_DIB24 = 1 } QORCAM_DIBMODE;

typedef enum {
    QORCAM_MEMmode = 0,
    QORCAM_MEMmodeLR = 1,
    QORCAM_BMPmode = 2,
    QORCAM_BMPmodeLR = 3
} QORCAM_STOREMODE;

typedef enum { QORCAM_BIGENDIAN = 0, QORCAM_LITTLEENDIAN = 1 } QORCAM_ENDIAN;

/* The stream kinds numbered for the managed binding; the records themselves
 * carry the protocol's own payload type values. */
typedef enum {
    QORCAM_GIGEIMAGEDATA = 0,
    QORCAM_GIGERAWDATA = 1,
    QORCAM_GIGEFILEDATA = 2,
    QORCAM_GIGECHUNKDATA = 3,
    QORCAM_GIGEEXTCHUNKDATA = 4,
    QORCAM_GIGEVENDORDATA = 5
} QORCAM_GIGESTREAMTYPE;

typedef enum {
    QORCAM_USBIMAGEDATA = 0,
    QORCAM_USBCHUNKDATA = 1,
    QORCAM_USBEXTCHUNKDATA = 2
} QORCAM_USBSTREAMTYPE;

/* ---- Records -------------------------------------------------------------------- */

#pragma pack(push, 4)

typedef struct {
    uint64_t UID;
    uint32_t BusNumber;
    uint32_t CameraType; /* QORCAM_CTYPE_* */
    uint32_t Speed;      /* QORCAM_TRANSMITSPEED */
    char VendorName[256];
    char ModelName[256];
} QORCAM_CAMERAINFO;

/* Declared with one entry; the caller provides room for Count entries. */
typedef struct {
    uint32_t Count;
    QORCAM_CAMERAINFO Info[1];
} QORCAM_LIST;

typedef struct {
    uint64_t UID;
    uint32_t URLIdx;
    char UserName[64];
} QORCAM_OPENREQUEST;

typedef struct {
    uint32_t BusNumber;
    uint8_t MACAddr[6];
    uint16_t Spec_Major;
    uint16_t Spec_Minor;
    uint16_t Reserved;
    uint32_t Dev_Mode;
    char VendorName[32];
    char ModelName[32];
    char Dev_Ver[32];
    char Vendor_Info[48];
    char SerialNumber[16];
    char UserName[16];
} QORCAM_GIGECAMERAINFO;

typedef struct {
    uint32_t BusNumber;
    uint32_t GenCP_Version;
    char VendorName[64];
    char ModelName[64];
    char FamilyName[64];
    char Dev_Version[64];
    char Vendor_Info[64];
    char SerialNumber[64];
    char UserName[64];
    uint64_t Dev_Capability;
} QORCAM_USBCAMERAINFO;

typedef struct {
    uint32_t Width;
    uint32_t Height;
    uint8_t* pBuffer;
    uint32_t Length;
    uint32_t PixelFormatID;
    uint32_t EndianMode; /* QORCAM_ENDIAN */
    int32_t Status;      /* STATUS_RTNCODE */
} QORCAM_IMAGE;

/* GigE stream counters since the last read (a read clears them):
 * TotalPktCount the packets of the blocks completed or lost; ErrorPktCount
 * the packets asked for again (resend on) or still missing (resend off), plus
 * every packet of a block that was lost whole (its leader never arrived, or
 * no buffer was free for it); RetryCount the packet-resend commands sent. */
typedef struct {
    uint64_t TotalPktCount;
    uint64_t ErrorPktCount;
    uint64_t RetryCount;
} QORCAM_PKTLOG;

typedef struct {
    uint32_t StoreMode; /* QORCAM_STOREMODE */
    int32_t ShiftID;    /* QORCAM_SHIFTID */
    uint32_t DIBMode;   /* QORCAM_DIBMODE */
    BOOL BayerRevision_G;
    BOOL Parallel_Flag;
} QORCAM_COLORCONVMODE;

typedef struct {
    double R_Value;
    double G1_Value;
    double G2_Value;
    double B_Value;
} QORCAM_COLORVALUE;

/* Stream information parts (offsets in comments are those inside
 * QORCAM_IMAGEDATAINFO). */
typedef struct {
    uint32_t Pixel_Type;
    uint32_t Width;
    uint32_t Height;
    uint32_t Offset_X;
    uint32_t Offset_Y;
    uint16_t Padding_X;
    uint16_t Padding_Y;
    uint32_t Size_Y;
} QORCAM_STREAMINFO_IMAGE;

typedef struct {
    uint64_t DataSize;
} QORCAM_STREAMINFO_RAW;

typedef struct {
    uint64_t DataSize;
    char FileName[256];
} QORCAM_STREAMINFO_FILE;

typedef struct {
    uint32_t DataSize;
} QORCAM_STREAMINFO_CHUNK;

typedef struct {
    uint32_t Pixel_Type;
    uint32_t Width;
    uint32_t Height;
    uint32_t Offset_X;
    uint32_t Offset_Y;
    uint16_t Padding_X;
    uint16_t Padding_Y;
    uint32_t DataSize;
    uint32_t Size_Y;
    uint32_t Chunk_ID;
} QORCAM_STREAMINFO_EXT_CHUNK;

typedef struct {
    uint8_t VendorData[512];
} QORCAM_STREAMINFO_VENDOR;

/* The block information the GigE path writes into each buffer. The union's
 * fields end at 532; MissingPackets is the number of packets that had still
 * not arrived when the block was completed (after the packet-resend rounds or
 * at the block time-out). A block with packets missing is never delivered as
 * a good image: the image callback gets Length 0, an image request completes
 * with Status STATUSQORCAM_REQUEST_ERROR, Payload_Flag is 0, and the bytes
 * of the missing packets read 0 (never an older frame's bytes). */
typedef struct {
    uint32_t SType; /* GVSP payload type: 1 image, 2 raw, 3 file, 4 chunk, 5 extended chunk, 0x8000 bit
                       device-specific */
    uint64_t Frame_ID;
    uint64_t TimeStamp;
    union {
        QORCAM_STREAMINFO_IMAGE Image;
        QORCAM_STREAMINFO_RAW Raw;
        QORCAM_STREAMINFO_FILE File;
        QORCAM_STREAMINFO_CHUNK Chunk;
        QORCAM_STREAMINFO_EXT_CHUNK Ext_Chunk;
        QORCAM_STREAMINFO_VENDOR Vendor;
    } Data;
    uint32_t MissingPackets;
    uint8_t Reserved[4];
} QORCAM_GIGESTREAMINFO;

typedef struct {
    uint32_t Chunk_ID;
} QORCAM_STREAMINFOUSB_CHUNK;

typedef struct {
    uint32_t Pixel_Type;
    uint32_t Width;
    uint32_t Height;
    uint32_t Offset_X;
    uint32_t Offset_Y;
    uint16_t Padding_X;
    uint16_t Padding_Y;
    uint32_t Size_Y;
    uint32_t Chunk_ID;
} QORCAM_STREAMINFOUSB_EXT_CHUNK;

typedef struct {
    uint32_t SType; /* USB3 Vision payload type: 1 image, 0x4000 chunk, 0x4001 extended chunk */
    uint64_t Frame_ID;
    uint64_t TimeStamp;
    uint64_t DataSize;
    union {
        QORCAM_STREAMINFO_IMAGE Image;
        QORCAM_STREAMINFOUSB_CHUNK Chunk;
        QORCAM_STREAMINFOUSB_EXT_CHUNK Ext_Chunk;
    } Data;
} QORCAM_USBSTREAMINFO;

typedef struct {
    uint32_t Speed;
    uint32_t CycleTime_S;
    uint32_t CycleCount_S;
    uint32_t CycleTime_E;
    uint32_t CycleCount_E;
} QORCAM_IMAGEDATAINFO_1394;

typedef struct {
    BOOL Payload_Flag;
    QORCAM_GIGESTREAMINFO StreamInfo;
} QORCAM_IMAGEDATAINFO_GIGE;

typedef struct {
    BOOL Payload_Flag;
    QORCAM_USBSTREAMINFO StreamInfo;
} QORCAM_IMAGEDATAINFO_USB;

typedef struct {
    uint32_t CType; /* QORCAM_CTYPE_* */
    union {
        QORCAM_IMAGEDATAINFO_1394 C1394;
        QORCAM_IMAGEDATAINFO_GIGE CGigE;
        QORCAM_IMAGEDATAINFO_USB CUsb;
    } Info;
} QORCAM_IMAGEDATAINFO;

#pragma pack(pop)

/* ---- Callbacks ------------------------------------------------------------------ */

/* Called on the library's callback thread; it should only signal.
 * QORCAM_SetCallBack returns only once a call of the callback it replaces has
 * ended, so its Context may be freed afterwards; from inside the callback it
 * returns at once. Don't call it holding a lock the callback takes. */
typedef void (*QORCAM_SYSTEMCALLBACK)(STATUS_SYSTEMCODE Status, void* Context);

/* Called on the camera's streaming thread once per buffer; Length is 0 for a
 * failed buffer (a failed transfer, or an image with data missing); pInfo
 * is null unless requested.
 * Image memory: while images stream, pBuffer is valid until the callback
 * returns (the buffer is then queued for a later frame). The last image
 * delivered before the stream ends (QORCAM_SetImageCallBack with a null
 * CallBack, or from inside the callback) stays valid and unchanged after the
 * stop, until QORCAM_ResourceRelease, QORCAM_Close or the next
 * QORCAM_SetImageCallBack; stop the images (QORCAM_ImageStop) first so that no
 * frame in flight lands in it. Copy what must live longer.
 * From inside the callback, QORCAM_SetImageCallBack with a null CallBack,
 * QORCAM_ResourceRelease and QORCAM_Close return at once; the stream ends
 * once the callback returns. */
typedef void (*QORCAM_IMAGECALLBACK)(HCAMERA hCamera, uint8_t* pBuffer, uint32_t Length, uint32_t Width,
                                     uint32_t Height, QORCAM_IMAGEDATAINFO* pInfo, void* Context);

/* ---- Exports -------------------------------------------------------------------- */

/* Library-wide. */
QORCAM_API BOOL QORCAM_SetStructVersion(uint32_t Version);
QORCAM_API void QORCAM_SetCallBack(void* Context, QORCAM_SYSTEMCALLBACK CallBack);
QORCAM_API STATUS_RTNCODE QORCAM_GetLastError(void);
QORCAM_API uint32_t QORCAM_GetLibraryRevision(void);
QORCAM_API BOOL QORCAM_GetList(QORCAM_LIST* List);
QORCAM_API BOOL QORCAM_Open(uint64_t UID, HCAMERA* phCamera);
QORCAM_API BOOL QORCAM_WatchOpen(uint64_t UID, HCAMERA* phCamera);
QORCAM_API BOOL QORCAM_OpenGigE(QORCAM_OPENREQUEST* Request, HCAMERA* phCamera);
QORCAM_API BOOL QORCAM_WatchOpenGigE(QORCAM_OPENREQUEST* Request, HCAMERA* phCamera);
QORCAM_API BOOL QORCAM_OpenUSB(QORCAM_OPENREQUEST* Request, HCAMERA* phCamera);
QORCAM_API BOOL QORCAM_Close(HCAMERA hCamera);
QORCAM_API BOOL QORCAM_WatchClose(HCAMERA hCamera);
QORCAM_API void QORCAM_CloseAll(void);
QORCAM_API void QORCAM_ReDetection(void);
QORCAM_API BOOL QORCAM_Reset(void);
QORCAM_API void QORCAM_LogCommonAreaGet(uint32_t ProcessId, char** BuildDate);
QORCAM_API void QORCAM_FreeLibrary(void);

/* Camera objects and records. */
QORCAM_API BOOL QORCAM_Camera(HCAMERA hCamera, BOOL* Connect);
QORCAM_API BOOL QORCAM_CameraInfo(HCAMERA hCamera, QORCAM_CAMERAINFO* Info);
QORCAM_API BOOL QORCAM_GetNodeMap(HCAMERA hCamera, void** NodeMap);
QORCAM_API BOOL QORCAM_CameraInfoGigE(HCAMERA hCamera, QORCAM_GIGECAMERAINFO* Info);
QORCAM_API BOOL QORCAM_CameraInfoUSB(HCAMERA hCamera, QORCAM_USBCAMERAINFO* Info);

/* Stream resources and acquisition. */
QORCAM_API BOOL QORCAM_ResourceAlloc(HCAMERA hCamera);
QORCAM_API BOOL QORCAM_ResourceAllocGigE(HCAMERA hCamera, uint8_t* IPAddr, BOOL Recover);
QORCAM_API BOOL QORCAM_ResourceRelease(HCAMERA hCamera);
QORCAM_API BOOL QORCAM_ImageStart(HCAMERA hCamera);
QORCAM_API BOOL QORCAM_ImageStop(HCAMERA hCamera);
QORCAM_API BOOL QORCAM_WatchCamera(HCAMERA hCamera, BOOL* Standby);
QORCAM_API BOOL QORCAM_WatchAlloc(HCAMERA hCamera);
QORCAM_API BOOL QORCAM_WatchRelease(HCAMERA hCamera);
QORCAM_API BOOL QORCAM_WatchStart(HCAMERA hCamera);
QORCAM_API BOOL QORCAM_WatchStop(HCAMERA hCamera);
QORCAM_API BOOL QORCAM_SetImageCallBack(HCAMERA hCamera, void* Context, QORCAM_IMAGECALLBACK CallBack,
                                        uint32_t BufferCount, BOOL InfoSet_Flag);

/* Image requests and frame-start requests. */
QORCAM_API BOOL QORCAM_ImageAlloc(HCAMERA hCamera, QORCAM_IMAGE** ppImage);
QORCAM_API BOOL QORCAM_ImageFree(HCAMERA hCamera, QORCAM_IMAGE* Image);
QORCAM_API BOOL QORCAM_ImageFreeAll(HCAMERA hCamera);
QORCAM_API BOOL QORCAM_ImageReq(HCAMERA hCamera, QORCAM_IMAGE* Image);
QORCAM_API BOOL QORCAM_ImageComplete(HCAMERA hCamera, QORCAM_IMAGE* Image, uint32_t TimeOut,
                                     QORCAM_IMAGEDATAINFO* Info);
QORCAM_API BOOL QORCAM_ImageReqAbortAll(HCAMERA hCamera);
QORCAM_API BOOL QORCAM_VSyncReq(HCAMERA hCamera, void** Handle);
QORCAM_API BOOL QORCAM_VSyncComplete(HCAMERA hCamera, void* Handle, uint32_t TimeOut);

/* GigE and USB specifics. */
QORCAM_API BOOL QORCAM_TestStream(HCAMERA hCamera);
QORCAM_API BOOL QORCAM_GetGigEPktLog(HCAMERA hCamera, QORCAM_PKTLOG* Log);
QORCAM_API BOOL QORCAM_SetCmdTimeOut(HCAMERA hCamera, uint32_t TimeOut);

/* Register and port access. */
QORCAM_API BOOL QORCAM_ReadPort(HCAMERA hCamera, uint32_t Address, void* Buffer, uint32_t* Length);
QORCAM_API BOOL QORCAM_WritePort(HCAMERA hCamera, uint32_t Address, void* Buffer, uint32_t* Length);
QORCAM_API BOOL QORCAM_OpenReg(HCAMERA* phReg);
QORCAM_API BOOL QORCAM_CloseReg(HCAMERA hReg);
QORCAM_API BOOL QORCAM_ReadReg(HCAMERA hReg, uint32_t Address, void* Buffer, uint32_t* Length);
QORCAM_API BOOL QORCAM_WriteReg(HCAMERA hReg, uint32_t Address, void* Buffer, uint32_t* Length);
QORCAM_API BOOL QORCAM_CameraRegInfo(HCAMERA hReg, QORCAM_CAMERAINFO* Info);

/* Conversion and bitmap headers. */
QORCAM_API BOOL QORCAM_ConvMode(HCAMERA hCamera, QORCAM_COLORCONVMODE* Mode, QORCAM_COLORVALUE* Value);
QORCAM_API BOOL QORCAM_SetBMPINFO(HCAMERA hCamera, BITMAPINFO* BmpInfo, uint32_t* Size, BOOL Priority_Mono);
QORCAM_API BOOL QORCAM_GetBMPINFO(HCAMERA hCamera, BITMAPINFO* BmpInfo, uint32_t* Size, BOOL Priority_Mono);
QORCAM_API BOOL QORCAM_BufferConvExec(HCAMERA hCamera, uint8_t* InBuf, uint8_t* OutBuf);
QORCAM_API BOOL QORCAM_ImageConvExec(HCAMERA hCamera, QORCAM_IMAGE* Image, uint8_t* OutBuf);
QORCAM_API BOOL QORCAM_CreateConvHandle(HCTBL* phTbl, QORCAM_COLORCONVMODE* Mode, QORCAM_COLORVALUE* Value);
QORCAM_API void QORCAM_CloseConvHandle(HCTBL hTbl);
QORCAM_API void QORCAM_CloseAllConvHandle(void);
QORCAM_API BOOL QORCAM_ColorConvExec(HCTBL hTbl, QORCAM_IMAGE* Image, uint8_t* OutBuf);
QORCAM_API BOOL QORCAM_ColorConvSetBMPINFO(HCTBL hTbl, QORCAM_IMAGE* Image, BITMAPINFO* BmpInfo);
QORCAM_API BOOL QORCAM_ColorConvGetBMPINFO(HCTBL hTbl, QORCAM_IMAGE* Image, BITMAPINFO* BmpInfo);
QORCAM_API BOOL QORCAM_MonoBMPINFO(QORCAM_IMAGE* Image, BITMAPINFO* BmpInfo);

/* Output filter: a two-slot ring of 32-bit images per process in named shared memory. */
QORCAM_API uint32_t QORCAMFILTER_Alloc(uint32_t Width, uint32_t Height, uint32_t Param);
QORCAM_API uint32_t QORCAMFILTER_OutPut(void* Image);
QORCAM_API uint32_t QORCAMFILTER_GetAddr(void** Address);
QORCAM_API uint32_t QORCAMFILTER_Flush(void);
QORCAM_API uint32_t QORCAMFILTER_Purge(void);
QORCAM_API uint32_t QORCAMFILTER_Free(void);

#ifdef __cplusplus
}
#endif

/* ---- Layout checks -------------------------------------------------------------- */

#if defined(__cplusplus)
#define QORCAM_STATIC_ASSERT(cond, msg) static_assert(cond, msg)
#elif defined(__STDC_VERSION__) && __STDC_VERSION__ >= 201112L
#define QORCAM_STATIC_ASSERT(cond, msg) _Static_assert(cond, msg)
#else
/* C99: a negative array size stops the build. */
#define QORCAM_STATIC_ASSERT_JOIN2(a, b) a##b
#define QORCAM_STATIC_ASSERT_JOIN(a, b) QORCAM_STATIC_ASSERT_JOIN2(a, b)
#define QORCAM_STATIC_ASSERT(cond, msg)                                                                      \
    typedef char QORCAM_STATIC_ASSERT_JOIN(qorcam_layout_check_, __LINE__)[(cond) ? 1 : -1]
#endif

QORCAM_STATIC_ASSERT(sizeof(BITMAPINFOHEADER) == 40, "BITMAPINFOHEADER size");
QORCAM_STATIC_ASSERT(sizeof(BITMAPINFO) == 44, "BITMAPINFO size");
QORCAM_STATIC_ASSERT(sizeof(QORCAM_CAMERAINFO) == 532, "QORCAM_CAMERAINFO size");
QORCAM_STATIC_ASSERT(offsetof(QORCAM_CAMERAINFO, BusNumber) == 8, "QORCAM_CAMERAINFO.BusNumber");
QORCAM_STATIC_ASSERT(offsetof(QORCAM_CAMERAINFO, Speed) == 16, "QORCAM_CAMERAINFO.Speed");
QORCAM_STATIC_ASSERT(offsetof(QORCAM_CAMERAINFO, VendorName) == 20, "QORCAM_CAMERAINFO.VendorName");
QORCAM_STATIC_ASSERT(offsetof(QORCAM_CAMERAINFO, ModelName) == 276, "QORCAM_CAMERAINFO.ModelName");
QORCAM_STATIC_ASSERT(sizeof(QORCAM_LIST) == 536, "QORCAM_LIST size");
QORCAM_STATIC_ASSERT(offsetof(QORCAM_LIST, Info) == 4, "QORCAM_LIST.Info");
QORCAM_STATIC_ASSERT(sizeof(QORCAM_OPENREQUEST) == 76, "QORCAM_OPENREQUEST size");
QORCAM_STATIC_ASSERT(offsetof(QORCAM_OPENREQUEST, URLIdx) == 8, "QORCAM_OPENREQUEST.URLIdx");
QORCAM_STATIC_ASSERT(offsetof(QORCAM_OPENREQUEST, UserName) == 12, "QORCAM_OPENREQUEST.UserName");
QORCAM_STATIC_ASSERT(sizeof(QORCAM_GIGECAMERAINFO) == 196, "QORCAM_GIGECAMERAINFO size");
QORCAM_STATIC_ASSERT(offsetof(QORCAM_GIGECAMERAINFO, MACAddr) == 4, "QORCAM_GIGECAMERAINFO.MACAddr");
QORCAM_STATIC_ASSERT(offsetof(QORCAM_GIGECAMERAINFO, Spec_Major) == 10, "QORCAM_GIGECAMERAINFO.Spec_Major");
QORCAM_STATIC_ASSERT(offsetof(QORCAM_GIGECAMERAINFO, Dev_Mode) == 16, "QORCAM_GIGECAMERAINFO.Dev_Mode");
QORCAM_STATIC_ASSERT(offsetof(QORCAM_GIGECAMERAINFO, VendorName) == 20, "QORCAM_GIGECAMERAINFO.VendorName");
QORCAM_STATIC_ASSERT(offsetof(QORCAM_GIGECAMERAINFO, Vendor_Info) == 116,
                     "QORCAM_GIGECAMERAINFO.Vendor_Info");
QORCAM_STATIC_ASSERT(offsetof(QORCAM_GIGECAMERAINFO, SerialNumber) == 164,
                     "QORCAM_GIGECAMERAINFO.SerialNumber");
QORCAM_STATIC_ASSERT(offsetof(QORCAM_GIGECAMERAINFO, UserName) == 180, "QORCAM_GIGECAMERAINFO.UserName");
QORCAM_STATIC_ASSERT(sizeof(QORCAM_USBCAMERAINFO) == 464, "QORCAM_USBCAMERAINFO size");
QORCAM_STATIC_ASSERT(offsetof(QORCAM_USBCAMERAINFO, VendorName) == 8, "QORCAM_USBCAMERAINFO.VendorName");
QORCAM_STATIC_ASSERT(offsetof(QORCAM_USBCAMERAINFO, UserName) == 392, "QORCAM_USBCAMERAINFO.UserName");
QORCAM_STATIC_ASSERT(offsetof(QORCAM_USBCAMERAINFO, Dev_Capability) == 456,
                     "QORCAM_USBCAMERAINFO.Dev_Capability");
QORCAM_STATIC_ASSERT(sizeof(QORCAM_IMAGE) == 32, "QORCAM_IMAGE size");
QORCAM_STATIC_ASSERT(offsetof(QORCAM_IMAGE, pBuffer) == 8, "QORCAM_IMAGE.pBuffer");
QORCAM_STATIC_ASSERT(offsetof(QORCAM_IMAGE, Length) == 16, "QORCAM_IMAGE.Length");
QORCAM_STATIC_ASSERT(offsetof(QORCAM_IMAGE, PixelFormatID) == 20, "QORCAM_IMAGE.PixelFormatID");
QORCAM_STATIC_ASSERT(offsetof(QORCAM_IMAGE, Status) == 28, "QORCAM_IMAGE.Status");
QORCAM_STATIC_ASSERT(sizeof(QORCAM_PKTLOG) == 24, "QORCAM_PKTLOG size");
QORCAM_STATIC_ASSERT(sizeof(QORCAM_COLORCONVMODE) == 20, "QORCAM_COLORCONVMODE size");
QORCAM_STATIC_ASSERT(offsetof(QORCAM_COLORCONVMODE, Parallel_Flag) == 16,
                     "QORCAM_COLORCONVMODE.Parallel_Flag");
QORCAM_STATIC_ASSERT(sizeof(QORCAM_COLORVALUE) == 32, "QORCAM_COLORVALUE size");
QORCAM_STATIC_ASSERT(sizeof(QORCAM_STREAMINFO_IMAGE) == 28, "QORCAM_STREAMINFO_IMAGE size");
QORCAM_STATIC_ASSERT(sizeof(QORCAM_STREAMINFO_EXT_CHUNK) == 36, "QORCAM_STREAMINFO_EXT_CHUNK size");
QORCAM_STATIC_ASSERT(sizeof(QORCAM_GIGESTREAMINFO) == 540, "QORCAM_GIGESTREAMINFO size");
QORCAM_STATIC_ASSERT(offsetof(QORCAM_GIGESTREAMINFO, Data) == 20, "QORCAM_GIGESTREAMINFO.Data");
QORCAM_STATIC_ASSERT(offsetof(QORCAM_GIGESTREAMINFO, MissingPackets) == 532,
                     "QORCAM_GIGESTREAMINFO.MissingPackets");
QORCAM_STATIC_ASSERT(offsetof(QORCAM_GIGESTREAMINFO, Reserved) == 536, "QORCAM_GIGESTREAMINFO.Reserved");
QORCAM_STATIC_ASSERT(sizeof(QORCAM_USBSTREAMINFO) == 60, "QORCAM_USBSTREAMINFO size");
QORCAM_STATIC_ASSERT(sizeof(QORCAM_IMAGEDATAINFO) == 548, "QORCAM_IMAGEDATAINFO size");
QORCAM_STATIC_ASSERT(offsetof(QORCAM_IMAGEDATAINFO, Info) == 4, "QORCAM_IMAGEDATAINFO.Info");
QORCAM_STATIC_ASSERT(offsetof(QORCAM_IMAGEDATAINFO, Info.CGigE.StreamInfo.Frame_ID) == 12, "GigE Frame_ID");
QORCAM_STATIC_ASSERT(offsetof(QORCAM_IMAGEDATAINFO, Info.CGigE.StreamInfo.TimeStamp) == 20, "GigE TimeStamp");
QORCAM_STATIC_ASSERT(offsetof(QORCAM_IMAGEDATAINFO, Info.CGigE.StreamInfo.Data.Image.Padding_X) == 48,
                     "GigE Padding_X");
QORCAM_STATIC_ASSERT(offsetof(QORCAM_IMAGEDATAINFO, Info.CGigE.StreamInfo.Data.Image.Size_Y) == 52,
                     "GigE Size_Y");
QORCAM_STATIC_ASSERT(offsetof(QORCAM_IMAGEDATAINFO, Info.CGigE.StreamInfo.Data.File.FileName) == 36,
                     "GigE FileName");
QORCAM_STATIC_ASSERT(offsetof(QORCAM_IMAGEDATAINFO, Info.CGigE.StreamInfo.Data.Ext_Chunk.Chunk_ID) == 60,
                     "GigE Chunk_ID");
QORCAM_STATIC_ASSERT(offsetof(QORCAM_IMAGEDATAINFO, Info.CUsb.StreamInfo.DataSize) == 28, "USB DataSize");
QORCAM_STATIC_ASSERT(offsetof(QORCAM_IMAGEDATAINFO, Info.CUsb.StreamInfo.Data.Image.Pixel_Type) == 36,
                     "USB Pixel_Type");
QORCAM_STATIC_ASSERT(offsetof(QORCAM_IMAGEDATAINFO, Info.CUsb.StreamInfo.Data.Image.Size_Y) == 60,
                     "USB Size_Y");
QORCAM_STATIC_ASSERT(offsetof(QORCAM_IMAGEDATAINFO, Info.CUsb.StreamInfo.Data.Ext_Chunk.Chunk_ID) == 64,
                     "USB Chunk_ID");
QORCAM_STATIC_ASSERT(offsetof(QORCAM_IMAGEDATAINFO, Info.C1394.CycleCount_E) == 20, "1394 CycleCount_E");
QORCAM_STATIC_ASSERT(sizeof(STATUS_RTNCODE) == 4, "STATUS_RTNCODE is 32 bits");

#endif /* QORCAM_H */
