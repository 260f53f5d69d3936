/* QorCam.h: the camera library's public C interface (exports, records, enumerations, result codes). */
#ifndef QORCAM_H
#define QORCAM_H

/*
 * Usable from C99 and C++. Every record is packed to 4 bytes; the sizes and
 * the offsets that clients rely on are checked at the end of this file.
 * Exports that return BOOL give TRUE (1) on success and FALSE (0) on failure;
 * the reason is the calling thread's last error, read with
 * QORCAM_GetLastError(). The QORCAMFILTER_ exports return their own u32 codes.
 * What each export does, its errors, its threads and whether it blocks are
 * described beside it below; the rules all exports share come first there.
 *
 * A program starts with QORCAM_SetStructVersion(LIBRARY_STRUCT_VERSION),
 * which loads the camera producers; then QORCAM_GetList and an open give a
 * camera handle. Streaming: QORCAM_ResourceAlloc, then either an image
 * callback (QORCAM_SetImageCallBack) or image requests (QORCAM_ImageAlloc,
 * QORCAM_ImageReq, QORCAM_ImageComplete), and QORCAM_ImageStart; the end in
 * reverse: QORCAM_ImageStop, QORCAM_SetImageCallBack(h, NULL, NULL, 0, 0),
 * QORCAM_ResourceRelease, QORCAM_Close.
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
    STATUSQORCAM_REQUEST_PENDING = -1,        /* image status only: the request is still pending */
    STATUSQORCAM_COMPLETE = 0,                /* success; also "no error recorded" */
    STATUSQORCAM_PARAMETER_ERROR = 1,         /* a null pointer, a bad argument or handle */
    STATUSQORCAM_BUFFER_SHORT = 2,            /* the caller's record or block is too small */
    STATUSQORCAM_OPEN_ERROR = 3,              /* no open tried: no producer of the kind asked for */
    STATUSQORCAM_OPENED = 4,                  /* the camera is open already (here or elsewhere) */
    STATUSQORCAM_CANNOT_FOUND = 5,            /* no such camera, none free, open failed, not present */
    STATUSQORCAM_NO_OPEN = 6,                 /* a watch handle given to a normal export, or the reverse */
    STATUSQORCAM_COMMUNICATE_ERROR = 7,       /* a register, port or feature access failed */
    STATUSQORCAM_RESOURCE_ERROR = 8,          /* stream resources are allocated already */
    STATUSQORCAM_NOTRESOURCE_ERROR = 9,       /* no stream resources are allocated */
    STATUSQORCAM_STARTED_ERROR = 10,          /* the images are (still) started */
    STATUSQORCAM_NOTSTART_ERROR = 11,         /* images not started (or no multicast stream to watch) */
    STATUSQORCAM_REQUEST_EXEC = 12,           /* a request or an image callback is in progress already */
    STATUSQORCAM_REQUEST_TIMEOUT = 13,        /* a wait ended without its frame */
    STATUSQORCAM_REQUEST_ERROR = 14,          /* a request completed with a failed or incomplete frame */
    STATUSQORCAM_REQUEST_NOTALLOC = 15,       /* the image record is not one of this camera */
    STATUSQORCAM_STRUCTVERSION_ERROR = 16,    /* structure version refused, or too old for the export */
    STATUSQORCAM_FUNCTION_ONLYGIGE = 17,      /* a GigE Vision export given another camera */
    STATUSQORCAM_GIGE_NOTMULTICAST = 18,      /* not set by this library */
    STATUSQORCAM_GIGE_IPADDR_ERROR = 19,      /* no GigE stream destination (adapter without address) */
    STATUSQORCAM_FUNCTION_ONLYUSB = 20,       /* a USB3 Vision export given another camera */
    STATUSQORCAM_NO_SUPPORT_PIXELFORMAT = 21, /* the pixel format can't be converted */
    STATUSQORCAM_LIBRARY_CONTRADICTION = 90,  /* not set by this library */
    STATUSQORCAM_UNDEF_ERROR = 99             /* a producer call failed (traced), no memory, an exception */
} STATUS_RTNCODE;

/* Codes of the system callback (QORCAM_SYSTEMCALLBACK).
 * STATUSQORCAM_BUSRESET: the cameras may have changed: a camera came, went or
 * moved (a GigE Vision discovery round found other cameras, the USB device
 * monitor reported a change, or a power-up); list again with QORCAM_GetList.
 * One change may be reported once or twice.
 * STATUSQORCAM_POWERUP: the machine woke up from sleep. Open cameras don't
 * survive a sleep: at sleep the GigE service drops their control, heartbeat
 * and streams. After the wake-up an open camera stays dead until it is opened
 * again: QORCAM_Camera reports Connect FALSE, the exports that need a present
 * camera fail with STATUSQORCAM_CANNOT_FOUND, an image callback gets Length 0
 * about once a second, while QORCAM_ReadPort may still answer. On this code,
 * close every open camera (QORCAM_Close, QORCAM_WatchClose) and open it again.
 * A bus reset follows it. */
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

/* Conversion shift of samples wider than 8 bits: how many bits the sample is
 * moved right to give 8 bits; QORCAM_SFTAUTO takes it from the pixel format's
 * significant bits. */
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

/* Converted pixels: 32 bits (B, G, R and an unwritten fourth byte; rows of
 * 4 * Width bytes) or 24 bits (B, G, R; rows padded to a multiple of 4 bytes). */
typedef enum { QORCAM_DIB32 = 0, QORCAM_DIB24 = 1 } QORCAM_DIBMODE;

/* Row order of converted images: MEM modes keep the camera's (top row first),
 * BMP modes turn it over (bottom row first, as a bitmap of positive height
 * stores it); LR modes also mirror each row left to right. */
typedef enum {
    QORCAM_MEMmode = 0,
    QORCAM_MEMmodeLR = 1,
    QORCAM_BMPmode = 2,
    QORCAM_BMPmodeLR = 3
} QORCAM_STOREMODE;

/* Byte order of samples wider than 8 bits: little endian for GigE Vision and
 * USB3 Vision cameras. */
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

/* A conversion's settings. BayerRevision_G: each green of a Bayer image is
 * evened out with its diagonal greens; Parallel_Flag: the conversion may
 * share its rows with helper threads (the bytes are those of the serial
 * form). */
typedef struct {
    uint32_t StoreMode; /* QORCAM_STOREMODE */
    int32_t ShiftID;    /* QORCAM_SHIFTID */
    uint32_t DIBMode;   /* QORCAM_DIBMODE */
    BOOL BayerRevision_G;
    BOOL Parallel_Flag;
} QORCAM_COLORCONVMODE;

/* The coefficients of the YUV to RGB conversion (Cr to R, Cr to G, Cb to G,
 * Cb to B); defaults 1.402, 0.711, 0.343, 1.772. */
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

/* Called on the library's callback thread (one per process) with a code of
 * STATUS_SYSTEMCODE and the Context given to QORCAM_SetCallBack; reports that
 * arrive while a call runs fold into one call per code. It should only
 * signal (set an event, post a message) and leave the work, such as
 * QORCAM_GetList or reopening, to the application's threads; reports wait
 * while it runs.
 * QORCAM_SetCallBack returns only once a call of the callback it replaces has
 * ended, so its Context may be freed afterwards; from inside the callback it
 * returns at once. Don't call it holding a lock the callback takes. */
typedef void (*QORCAM_SYSTEMCALLBACK)(STATUS_SYSTEMCODE Status, void* Context);

/* Called on the camera's streaming thread once per buffer; Length is 0 for a
 * failed buffer (a failed transfer, or an image with data missing); pInfo
 * is null unless requested (InfoSet_Flag of QORCAM_SetImageCallBack) and
 * then points to a record of the thread, filled anew for each buffer. Width
 * and Height are the camera's when the stream started. Frames come only
 * while the camera is started (QORCAM_ImageStart).
 * Image memory: while images stream, pBuffer is valid until the callback
 * returns (the buffer is then queued for a later frame). The last image
 * delivered before the stream ends (QORCAM_SetImageCallBack with a null
 * CallBack, or from inside the callback) stays valid and unchanged after the
 * stop, until QORCAM_ResourceRelease, QORCAM_Close or the next
 * QORCAM_SetImageCallBack; stop the images (QORCAM_ImageStop) first so that no
 * frame in flight lands in it. Copy what must live longer.
 * From inside the callback, QORCAM_SetImageCallBack with a null CallBack,
 * QORCAM_ResourceRelease and QORCAM_Close return at once; the stream ends
 * once the callback returns.
 * Exports from inside the callback: QORCAM_BufferConvExec and
 * QORCAM_ImageConvExec take only the camera's conversion lock and are safe.
 * Every other export on the camera first takes the camera's lock, which a
 * QORCAM_SetImageCallBack(NULL), QORCAM_ResourceRelease, QORCAM_Close or
 * QORCAM_CloseAll on another thread holds while it waits for the callback to
 * return: call them from the callback only when no other thread may stop or
 * close the camera meanwhile, or the two wait for each other. */
typedef void (*QORCAM_IMAGECALLBACK)(HCAMERA hCamera, uint8_t* pBuffer, uint32_t Length, uint32_t Width,
                                     uint32_t Height, QORCAM_IMAGEDATAINFO* pInfo, void* Context);

/* ---- Exports -------------------------------------------------------------------- */

/*
 * Rules every export keeps unless its own comment says otherwise.
 * - Results: a BOOL export returns TRUE on success and FALSE on failure, and
 *   then the calling thread's last error (QORCAM_GetLastError) says why. Each
 *   export clears the thread's last error when it starts (all but
 *   QORCAM_GetLastError, QORCAM_LogCommonAreaGet, QORCAM_FreeLibrary and the
 *   QORCAMFILTER_ exports, which leave it alone), so it belongs to the
 *   thread's latest call. "Errors:" lists the codes an export sets, in the
 *   order it checks them.
 * - Handles: a handle that names nothing the export serves (NULL, closed, a
 *   handle of another kind, any other value) fails with
 *   STATUSQORCAM_PARAMETER_ERROR, and nothing else is touched. This is not
 *   repeated below.
 * - A failed producer call gives STATUSQORCAM_UNDEF_ERROR; the producer's
 *   text goes to the trace log.
 * - Exceptions: no export lets a C++ exception out. One raised inside an
 *   export ends it as a failure: FALSE with STATUSQORCAM_UNDEF_ERROR as the
 *   last error (a void export returns with that last error, a QORCAMFILTER_
 *   export returns QORCAMFILTER_ERROR). Callbacks must not let exceptions out
 *   either.
 * - Present: a camera counts as present until QORCAM_Camera, or the device
 *   list refresh after a bus event, finds it unreachable (and again once one
 *   finds it back). Exports that need a present camera fail with
 *   STATUSQORCAM_CANNOT_FOUND otherwise.
 * - Threads: any thread may call any export, also while other threads call
 *   exports, on the same handle too. The exports on one camera take turns
 *   (each holds the camera's lock), but for the waits of QORCAM_ImageComplete
 *   and QORCAM_VSyncComplete, which let go of the lock while they wait, and
 *   QORCAM_BufferConvExec and QORCAM_ImageConvExec, which take only the
 *   camera's conversion lock. Exports that list, open, close or load take
 *   turns library-wide; they don't wait for the exports on other cameras.
 *   From inside a callback see QORCAM_SYSTEMCALLBACK and QORCAM_IMAGECALLBACK.
 * - Blocking: an export that reaches a camera (registers, features, camera
 *   records, lists, opens) waits for the camera's answers: each command up
 *   to the command time-out (QORCAM_SetCmdTimeOut) with its resends. "Blocks:"
 *   says what else an export waits for; an export without it waits for
 *   nothing else but the locks above.
 * - Ending: once the process ends (exit() on any thread, also inside a
 *   callback, or a return from main) or the library is unloaded, no new image
 *   or system callback starts; a callback already running may finish. The
 *   library then stops streams and closes cameras, waiting at most 2 s for a
 *   running callback, and never for a thread the process has already ended.
 * - After QORCAM_FreeLibrary (or QORCAM_LogCommonAreaGet) the library object
 *   is gone for the rest of the process: BOOL exports return FALSE and set no
 *   error, void exports do nothing, QORCAM_GetLastError returns
 *   STATUSQORCAM_COMPLETE; QORCAM_GetLibraryRevision and the QORCAMFILTER_
 *   exports still work.
 */

/* Library-wide. */
/* Declares the version of this header the application was built with: pass
 * LIBRARY_STRUCT_VERSION, before anything else. The first accepted call (and
 * a later one with a higher version) loads the GenTL producers not loaded yet
 * and opens their interfaces; until then no camera is listed and every open
 * fails. The same version again succeeds without loading anything. A
 * producer that fails to load is traced, not reported; QORCAM_ReDetection
 * tries it again.
 * Errors: STATUSQORCAM_STRUCTVERSION_ERROR (10107 or above, or below the
 * version accepted before).
 * Blocks: while it loads: each new interface makes its first device-list
 * round (up to a second). */
QORCAM_API BOOL QORCAM_SetStructVersion(uint32_t Version);

/* Sets the system callback and its Context (see QORCAM_SYSTEMCALLBACK); a
 * NULL CallBack stops the calls. Sets no error.
 * Blocks: until a call of the callback running at that moment has returned
 * (from inside the callback it returns at once). */
QORCAM_API void QORCAM_SetCallBack(void* Context, QORCAM_SYSTEMCALLBACK CallBack);

/* The calling thread's last error: the code its latest export call set
 * (STATUSQORCAM_COMPLETE when it set none). Reading doesn't clear it. */
QORCAM_API STATUS_RTNCODE QORCAM_GetLastError(void);

/* The library's revision, LIBRARY_STRUCT_VERSION (major * 10000 + minor * 100
 * + build); clears the last error. */
QORCAM_API uint32_t QORCAM_GetLibraryRevision(void);

/* Lists the cameras of every loaded producer, after a new device-list round
 * on every interface. List->Count is, on entry, the number of entries the
 * caller's block holds: 0 only asks, and Count comes back as the number of
 * cameras; a number at least as large has the entries filled and Count set
 * to the entries filled (a camera whose information can't be read is left
 * out). An entry's UID is the number that opens the camera.
 * Errors: STATUSQORCAM_PARAMETER_ERROR (List NULL), STATUSQORCAM_BUFFER_SHORT
 * (Count not 0 and below the number of cameras; nothing written).
 * Blocks: for the device-list rounds (up to a second per interface, a
 * discovery round on a GigE network), with every interface held: the opens,
 * closes and lists of other threads wait meanwhile. */
QORCAM_API BOOL QORCAM_GetList(QORCAM_LIST* List);

/* Opens a camera for control and streaming: the one whose number is UID (as
 * QORCAM_GetList gives it), or, with QORCAM_UID_ANY, the first camera of any
 * producer that can be had. Device lists not refreshed in the last five
 * seconds are refreshed first; when nothing opens in the others, they are
 * refreshed too and the search made once more. Opening builds the camera's
 * node map from its description (URL 0, mostly read from the camera) and
 * sets a GigE Vision camera up for this library (heartbeat time-out near
 * 10 s; packet size near 9000 when a stream test passes, else near 1500); a
 * setting the camera refuses is left as it is. *phCamera is set to NULL
 * first, then to the handle, which lives until QORCAM_Close, QORCAM_CloseAll
 * or QORCAM_FreeLibrary.
 * Errors: STATUSQORCAM_PARAMETER_ERROR (phCamera NULL, UID 0),
 * STATUSQORCAM_OPEN_ERROR (by number: no producer loaded),
 * STATUSQORCAM_OPENED (by number: open already, here or in another process),
 * STATUSQORCAM_CANNOT_FOUND (no such camera, none free, or its open failed:
 * the reason is traced).
 * Blocks: for the device-list rounds and the open, which reads the camera's
 * description and may test its stream: up to a few seconds. */
QORCAM_API BOOL QORCAM_Open(uint64_t UID, HCAMERA* phCamera);

/* As QORCAM_Open, but opens a GigE Vision camera to watch: read-only, beside
 * the process that controls it, to receive a multicast stream that process
 * set up (QORCAM_ResourceAllocGigE). The node map writes nothing; close it
 * with QORCAM_WatchClose and stream with the QORCAM_Watch exports. USB3
 * Vision cameras can't be watched.
 * Errors: as QORCAM_Open; STATUSQORCAM_OPEN_ERROR also when, by number, the
 * search reaches the USB3 Vision producer without having found the camera. */
QORCAM_API BOOL QORCAM_WatchOpen(uint64_t UID, HCAMERA* phCamera);

/* QORCAM_OpenGigE, QORCAM_WatchOpenGigE, QORCAM_OpenUSB: as QORCAM_Open and
 * QORCAM_WatchOpen among GigE Vision (USB3 Vision) cameras only, with the
 * camera named by *Request: by number (UID), or, with UID QORCAM_UID_ANY, by
 * its user-defined name (UserName, up to its NUL or its 64 bytes; a GigE
 * Vision camera holds at most 15 characters), or, with no name either, the
 * first camera that can be had. URLIdx picks the description URL of the
 * camera; QORCAM_URLIDX_DEFAULT takes an installed copy of the description
 * where there is one, else the camera's own; an index beyond the camera's
 * URLs counts as 0.
 * Errors: STATUSQORCAM_PARAMETER_ERROR (Request or phCamera NULL, a number
 * and a name both given, a GigE Vision name longer than 15 characters;
 * *phCamera is then left as it was), STATUSQORCAM_OPEN_ERROR (by number or
 * name: no producer of the kind loaded), STATUSQORCAM_OPENED (by number or
 * name: open already), STATUSQORCAM_CANNOT_FOUND.
 * Blocks: as QORCAM_Open. */
QORCAM_API BOOL QORCAM_OpenGigE(QORCAM_OPENREQUEST* Request, HCAMERA* phCamera);
QORCAM_API BOOL QORCAM_WatchOpenGigE(QORCAM_OPENREQUEST* Request, HCAMERA* phCamera);
QORCAM_API BOOL QORCAM_OpenUSB(QORCAM_OPENREQUEST* Request, HCAMERA* phCamera);

/* Closes a camera of QORCAM_Open, QORCAM_OpenGigE or QORCAM_OpenUSB: stops
 * its images, ends its image callback (waits for a call running on another
 * thread to return), releases its stream resources, frees its image records
 * and closes the device. The handle is refused from the moment the close
 * begins. A call on the handle already running on another thread ends first;
 * one waiting for an image or a frame start ends with
 * STATUSQORCAM_REQUEST_TIMEOUT. From inside the camera's image callback it
 * returns at once, and the camera goes once the callback has returned.
 * Errors: STATUSQORCAM_NO_OPEN (a watch camera: QORCAM_WatchClose),
 * STATUSQORCAM_PARAMETER_ERROR (also when another thread closed it first).
 * Blocks: for the calls running on the camera, its image callback and the
 * producer's close. */
QORCAM_API BOOL QORCAM_Close(HCAMERA hCamera);

/* As QORCAM_Close, for a camera of QORCAM_WatchOpen or QORCAM_WatchOpenGigE;
 * STATUSQORCAM_NO_OPEN for any other camera. */
QORCAM_API BOOL QORCAM_WatchClose(HCAMERA hCamera);

/* Closes every camera of this process (normal and watch) as QORCAM_Close
 * does; register handles stay. Sets no error. Blocks: as QORCAM_Close, per
 * camera. */
QORCAM_API void QORCAM_CloseAll(void);

/* Loads the producers that are not loaded (installed since, or failed to load
 * before) and refreshes every producer's list of interfaces; open cameras
 * stay. Sets no error. Blocks: as the loading of QORCAM_SetStructVersion. */
QORCAM_API void QORCAM_ReDetection(void);

/* Changes nothing: returns TRUE once every list, open, close or load running
 * at the time of the call has finished. */
QORCAM_API BOOL QORCAM_Reset(void);

/* For the trace log tool, not for applications: stops the trace lines of
 * process ProcessId in every process (0 excludes none), sets *BuildDate (when
 * BuildDate is not NULL) to the library's build date ("Mmm dd yyyy", valid
 * while the library stays loaded), then ends the library object as
 * QORCAM_FreeLibrary does. */
QORCAM_API void QORCAM_LogCommonAreaGet(uint32_t ProcessId, char** BuildDate);

/* Ends the library object before the library is unloaded: closes every
 * camera, register handle and conversion handle, unloads the producers and
 * ends the library's threads. For what works afterwards see the rules above;
 * a second call does nothing. Call it from an application thread, not from
 * a callback. Blocks: as QORCAM_CloseAll, then for the producers' end. */
QORCAM_API void QORCAM_FreeLibrary(void);

/* Camera objects and records. */
/* Asks the producer whether the camera can be reached, stores the answer as
 * the camera's presence and in *Connect, and succeeds either way. A producer
 * that can't answer gives Connect FALSE and leaves STATUSQORCAM_UNDEF_ERROR
 * as the last error of the successful call.
 * Errors: STATUSQORCAM_PARAMETER_ERROR (Connect NULL). */
QORCAM_API BOOL QORCAM_Camera(HCAMERA hCamera, BOOL* Connect);

/* Fills *Info with the camera's record, as QORCAM_GetList lists it.
 * Errors: STATUSQORCAM_PARAMETER_ERROR (Info NULL), STATUSQORCAM_CANNOT_FOUND,
 * STATUSQORCAM_UNDEF_ERROR (the producer could not answer). */
QORCAM_API BOOL QORCAM_CameraInfo(HCAMERA hCamera, QORCAM_CAMERAINFO* Info);

/* The camera's GenICam node map, in *NodeMap, for the Qga node-map functions
 * this library also exports. The camera owns it: it is valid until the
 * camera is closed and must not be closed by the caller.
 * Errors: STATUSQORCAM_PARAMETER_ERROR (NodeMap NULL), STATUSQORCAM_CANNOT_FOUND. */
QORCAM_API BOOL QORCAM_GetNodeMap(HCAMERA hCamera, void** NodeMap);

/* Fills *Info with the GigE Vision record of the camera.
 * Errors: STATUSQORCAM_PARAMETER_ERROR (Info NULL),
 * STATUSQORCAM_FUNCTION_ONLYGIGE, STATUSQORCAM_CANNOT_FOUND,
 * STATUSQORCAM_UNDEF_ERROR. */
QORCAM_API BOOL QORCAM_CameraInfoGigE(HCAMERA hCamera, QORCAM_GIGECAMERAINFO* Info);

/* Fills *Info with the USB3 Vision record of the camera.
 * Errors: STATUSQORCAM_PARAMETER_ERROR (Info NULL),
 * STATUSQORCAM_FUNCTION_ONLYUSB, STATUSQORCAM_CANNOT_FOUND,
 * STATUSQORCAM_UNDEF_ERROR. */
QORCAM_API BOOL QORCAM_CameraInfoUSB(HCAMERA hCamera, QORCAM_USBCAMERAINFO* Info);

/* Stream resources and acquisition. */
/* Prepares a normal camera's streams: sets the camera's TLParamsLocked,
 * starts the producer's acquisition on stream 0 (images) and stream 1 (frame
 * starts), and notes the pixel format (for the conversions), the image size
 * and the payload size as they are now; the library uses these until the
 * resources are released. A GigE Vision camera streams to this host's
 * adapter with packet resend, as QORCAM_ResourceAllocGigE(hCamera, NULL,
 * TRUE). Images flow once QORCAM_ImageStart starts the camera.
 * Errors: STATUSQORCAM_CANNOT_FOUND, STATUSQORCAM_NO_OPEN (a watch camera:
 * QORCAM_WatchAlloc), STATUSQORCAM_RESOURCE_ERROR (allocated already),
 * STATUSQORCAM_GIGE_IPADDR_ERROR (the adapter has no address),
 * STATUSQORCAM_COMMUNICATE_ERROR (a feature or register could not be read or
 * written), STATUSQORCAM_UNDEF_ERROR. A failure leaves nothing allocated,
 * but for a GigE Vision camera whose payload or packet size could not be read
 * at the end (STATUSQORCAM_COMMUNICATE_ERROR): release its resources then. */
QORCAM_API BOOL QORCAM_ResourceAlloc(HCAMERA hCamera);

/* QORCAM_ResourceAlloc for a GigE Vision camera with the stream's destination
 * and packet resend chosen. IPAddr (4 bytes, network order): NULL or 0.0.0.0
 * streams to this host's adapter; a multicast group 239.b.c.d (b at most
 * 127, c not 0) streams to that group, where other processes may watch it
 * (QORCAM_WatchOpenGigE). Recover TRUE has lost packets sent again.
 * Errors: STATUSQORCAM_PARAMETER_ERROR (any other IPAddr),
 * STATUSQORCAM_FUNCTION_ONLYGIGE, then those of QORCAM_ResourceAlloc. */
QORCAM_API BOOL QORCAM_ResourceAllocGigE(HCAMERA hCamera, uint8_t* IPAddr, BOOL Recover);

/* Undoes QORCAM_ResourceAlloc: ends the image callback's thread (waits for a
 * call running on another thread to return; from inside the callback it
 * returns at once and the thread ends after the call), clears TLParamsLocked,
 * stops the producer's acquisition and takes every image and frame-start
 * request back; waits for them on other threads end with
 * STATUSQORCAM_REQUEST_TIMEOUT. The image records stay. An image callback
 * stays registered, without a thread, until QORCAM_SetImageCallBack(NULL).
 * Needs no present camera.
 * Errors: STATUSQORCAM_NO_OPEN (a watch camera: QORCAM_WatchRelease),
 * STATUSQORCAM_NOTRESOURCE_ERROR, STATUSQORCAM_STARTED_ERROR (QORCAM_ImageStop
 * first).
 * Blocks: for a running image callback. */
QORCAM_API BOOL QORCAM_ResourceRelease(HCAMERA hCamera);

/* Starts the images: gives the camera a conversion object with the defaults
 * of QORCAM_ConvMode when it has none, settles its automatic shift for the
 * pixel format, opens the producer's reception, then executes the camera's
 * AcquisitionStart.
 * Errors: STATUSQORCAM_CANNOT_FOUND, STATUSQORCAM_NO_OPEN (a watch camera:
 * QORCAM_WatchStart), STATUSQORCAM_NOTRESOURCE_ERROR,
 * STATUSQORCAM_STARTED_ERROR, STATUSQORCAM_COMMUNICATE_ERROR
 * (AcquisitionStart failed; nothing stays started), STATUSQORCAM_UNDEF_ERROR. */
QORCAM_API BOOL QORCAM_ImageStart(HCAMERA hCamera);

/* Executes the camera's AcquisitionStop (a failure is ignored) and closes the
 * producer's reception. An image callback stays registered and image
 * requests stay queued. Needs no present camera.
 * Errors: STATUSQORCAM_NO_OPEN (a watch camera: QORCAM_WatchStop),
 * STATUSQORCAM_NOTRESOURCE_ERROR, STATUSQORCAM_NOTSTART_ERROR. */
QORCAM_API BOOL QORCAM_ImageStop(HCAMERA hCamera);

/* For a watch camera: reads the camera's stream channel and sets *Standby to
 * TRUE when it streams to a multicast group (set up by the process that
 * controls it), which QORCAM_WatchAlloc needs.
 * Errors: STATUSQORCAM_PARAMETER_ERROR (Standby NULL),
 * STATUSQORCAM_CANNOT_FOUND, STATUSQORCAM_NO_OPEN (a normal camera),
 * STATUSQORCAM_COMMUNICATE_ERROR. */
QORCAM_API BOOL QORCAM_WatchCamera(HCAMERA hCamera, BOOL* Standby);

/* QORCAM_ResourceAlloc for a watch camera: prepares the reception of the
 * multicast stream the last QORCAM_WatchCamera found, without writing to the
 * camera's features.
 * Errors: STATUSQORCAM_CANNOT_FOUND, STATUSQORCAM_NO_OPEN (a normal camera),
 * STATUSQORCAM_RESOURCE_ERROR, STATUSQORCAM_NOTSTART_ERROR (the last
 * QORCAM_WatchCamera found no multicast stream, or none was called),
 * STATUSQORCAM_COMMUNICATE_ERROR, STATUSQORCAM_UNDEF_ERROR. */
QORCAM_API BOOL QORCAM_WatchAlloc(HCAMERA hCamera);

/* QORCAM_ResourceRelease for a watch camera.
 * Errors: STATUSQORCAM_CANNOT_FOUND, STATUSQORCAM_NO_OPEN (a normal camera),
 * STATUSQORCAM_NOTRESOURCE_ERROR, STATUSQORCAM_STARTED_ERROR (QORCAM_WatchStop
 * first). Blocks: as QORCAM_ResourceRelease. */
QORCAM_API BOOL QORCAM_WatchRelease(HCAMERA hCamera);

/* Opens the reception of the watched stream (the camera itself is started by
 * the process that controls it).
 * Errors: STATUSQORCAM_CANNOT_FOUND, STATUSQORCAM_NO_OPEN (a normal camera),
 * STATUSQORCAM_NOTRESOURCE_ERROR, STATUSQORCAM_STARTED_ERROR,
 * STATUSQORCAM_UNDEF_ERROR. */
QORCAM_API BOOL QORCAM_WatchStart(HCAMERA hCamera);

/* Closes the reception of the watched stream.
 * Errors: STATUSQORCAM_NO_OPEN (a normal camera), STATUSQORCAM_NOTRESOURCE_ERROR,
 * STATUSQORCAM_NOTSTART_ERROR. */
QORCAM_API BOOL QORCAM_WatchStop(HCAMERA hCamera);

/* Registers CallBack (see QORCAM_IMAGECALLBACK) and starts the camera's
 * streaming thread, which keeps BufferCount buffers of its own queued on
 * stream 0 and calls CallBack once per completed buffer, with Context and,
 * with InfoSet_Flag TRUE, the buffer's QORCAM_IMAGEDATAINFO. Returns once the
 * thread runs. Normal and watch cameras alike.
 * With a NULL CallBack: ends the streaming thread (waits for a call running
 * on another thread to return; from inside the callback it returns at once)
 * and removes the registration; succeeds also without one.
 * Errors: STATUSQORCAM_PARAMETER_ERROR (BufferCount 0),
 * STATUSQORCAM_CANNOT_FOUND, STATUSQORCAM_NOTRESOURCE_ERROR,
 * STATUSQORCAM_REQUEST_EXEC (a callback is registered: remove it first),
 * STATUSQORCAM_UNDEF_ERROR (the thread could not start).
 * Blocks: until the thread runs; with NULL, for a running callback. */
QORCAM_API BOOL QORCAM_SetImageCallBack(HCAMERA hCamera, void* Context, QORCAM_IMAGECALLBACK CallBack,
                                        uint32_t BufferCount, BOOL InfoSet_Flag);

/* Image requests and frame-start requests. */
/* Makes an image record for image requests and stores it in *ppImage (NULL
 * first): Width, Height and PixelFormatID read from the camera now, Length the
 * payload size, EndianMode, Status STATUSQORCAM_COMPLETE, and pixel memory at
 * pBuffer that the library owns (room for the frame and its stream
 * information). Valid until QORCAM_ImageFree, QORCAM_ImageFreeAll or the
 * camera's close.
 * Errors: STATUSQORCAM_PARAMETER_ERROR (ppImage NULL),
 * STATUSQORCAM_CANNOT_FOUND, STATUSQORCAM_NOTRESOURCE_ERROR,
 * STATUSQORCAM_COMMUNICATE_ERROR, STATUSQORCAM_UNDEF_ERROR (no memory). */
QORCAM_API BOOL QORCAM_ImageAlloc(HCAMERA hCamera, QORCAM_IMAGE** ppImage);

/* Frees one image record of the camera. A record that has served a request
 * stays known to the producer until QORCAM_ImageReqAbortAll,
 * QORCAM_ResourceRelease or QORCAM_ImageFreeAll, and can't be freed alone
 * before. Needs neither a present camera nor resources.
 * Errors: STATUSQORCAM_PARAMETER_ERROR (not a live record of QORCAM_ImageAlloc),
 * STATUSQORCAM_REQUEST_NOTALLOC (a record of another camera),
 * STATUSQORCAM_REQUEST_EXEC (requested since the last abort or release). */
QORCAM_API BOOL QORCAM_ImageFree(HCAMERA hCamera, QORCAM_IMAGE* Image);

/* Takes every request back (as QORCAM_ImageReqAbortAll) and frees every image
 * record of the camera.
 * Errors: STATUSQORCAM_STARTED_ERROR (the images are started). */
QORCAM_API BOOL QORCAM_ImageFreeAll(HCAMERA hCamera);

/* Queues a request for a frame into Image; Image->Status becomes
 * STATUSQORCAM_REQUEST_PENDING. Collect it with QORCAM_ImageComplete; the
 * record may be requested again after that.
 * Errors: STATUSQORCAM_PARAMETER_ERROR (not a live record of
 * QORCAM_ImageAlloc), STATUSQORCAM_CANNOT_FOUND, STATUSQORCAM_NOTRESOURCE_ERROR,
 * STATUSQORCAM_PARAMETER_ERROR (a record made before the resources were
 * allocated again with other sizes), STATUSQORCAM_REQUEST_NOTALLOC (a record of
 * another camera), STATUSQORCAM_REQUEST_EXEC (queued already),
 * STATUSQORCAM_UNDEF_ERROR. */
QORCAM_API BOOL QORCAM_ImageReq(HCAMERA hCamera, QORCAM_IMAGE* Image);

/* Waits up to TimeOut ms (QORCAM_INFINITE: no limit) for the request of Image
 * and collects it. A whole frame: Status STATUSQORCAM_COMPLETE, TRUE. A frame
 * that failed, or lost data on the way: Status STATUSQORCAM_REQUEST_ERROR,
 * FALSE with that last error. *Info, when Info is not NULL, is filled in both
 * cases. The camera's lock is let go while it waits, so the camera's other
 * exports run meanwhile and several threads may wait for different records
 * of one camera.
 * Errors: STATUSQORCAM_PARAMETER_ERROR (not a live record of
 * QORCAM_ImageAlloc), STATUSQORCAM_CANNOT_FOUND, STATUSQORCAM_NOTRESOURCE_ERROR,
 * STATUSQORCAM_REQUEST_NOTALLOC (a record of another camera),
 * STATUSQORCAM_PARAMETER_ERROR (no request pending for the record; also when
 * QORCAM_ImageReqAbortAll took it back while this waited),
 * STATUSQORCAM_REQUEST_TIMEOUT (no frame in time, or the resources were
 * released or the camera closed meanwhile), STATUSQORCAM_REQUEST_ERROR,
 * STATUSQORCAM_UNDEF_ERROR (also a wait cut short by QORCAM_ImageReqAbortAll).
 * Blocks: up to TimeOut. */
QORCAM_API BOOL QORCAM_ImageComplete(HCAMERA hCamera, QORCAM_IMAGE* Image, uint32_t TimeOut,
                                     QORCAM_IMAGEDATAINFO* Info);

/* Takes every image and frame-start request of the camera back from the
 * producer; the records stay (their Status as it was) and may be requested
 * or freed again. Waits for them on other threads fail (see
 * QORCAM_ImageComplete). A USB3 Vision camera that had a transfer error also
 * has its stream pipe reset. Always succeeds on a camera handle. */
QORCAM_API BOOL QORCAM_ImageReqAbortAll(HCAMERA hCamera);

/* Queues a frame-start request on stream 1 and stores its handle in *Handle,
 * for QORCAM_VSyncComplete; a completed request's handle may come back from a
 * later call.
 * Errors: STATUSQORCAM_PARAMETER_ERROR (Handle NULL), STATUSQORCAM_CANNOT_FOUND,
 * STATUSQORCAM_NOTRESOURCE_ERROR, STATUSQORCAM_UNDEF_ERROR. */
QORCAM_API BOOL QORCAM_VSyncReq(HCAMERA hCamera, void** Handle);

/* Waits up to TimeOut ms (QORCAM_INFINITE: no limit) for a frame start: any
 * frame start completes the request waited for. The camera's lock is let go
 * while it waits.
 * Errors: STATUSQORCAM_PARAMETER_ERROR (Handle NULL), STATUSQORCAM_CANNOT_FOUND,
 * STATUSQORCAM_NOTRESOURCE_ERROR, STATUSQORCAM_PARAMETER_ERROR (not a pending
 * request of QORCAM_VSyncReq), STATUSQORCAM_REQUEST_TIMEOUT (no frame start in time, or the resources were
 * released or the camera closed meanwhile), STATUSQORCAM_REQUEST_ERROR (the
 * requests were taken back meanwhile), STATUSQORCAM_UNDEF_ERROR.
 * Blocks: up to TimeOut. */
QORCAM_API BOOL QORCAM_VSyncComplete(HCAMERA hCamera, void* Handle, uint32_t TimeOut);

/* GigE and USB specifics. */
/* Has a GigE Vision camera send one test packet of its packet size to this
 * host: tells whether packets of that size pass between them.
 * Errors: STATUSQORCAM_FUNCTION_ONLYGIGE, STATUSQORCAM_CANNOT_FOUND,
 * STATUSQORCAM_NO_OPEN (a watch camera), STATUSQORCAM_RESOURCE_ERROR,
 * STATUSQORCAM_STARTED_ERROR, then the test's own result:
 * STATUSQORCAM_REQUEST_TIMEOUT (no test packet within 100 ms; the camera
 * emulator sends none), STATUSQORCAM_COMMUNICATE_ERROR,
 * STATUSQORCAM_NO_OPEN (this process does not control the camera),
 * STATUSQORCAM_UNDEF_ERROR.
 * Blocks: for the test, about 2 s at most beside the commands. */
QORCAM_API BOOL QORCAM_TestStream(HCAMERA hCamera);

/* Reads the GigE Vision stream's packet counters into *Log and clears them
 * (see QORCAM_PKTLOG); zeros when the producer keeps none.
 * Errors: STATUSQORCAM_PARAMETER_ERROR (Log NULL), STATUSQORCAM_FUNCTION_ONLYGIGE,
 * STATUSQORCAM_CANNOT_FOUND, STATUSQORCAM_NOTRESOURCE_ERROR. */
QORCAM_API BOOL QORCAM_GetGigEPktLog(HCAMERA hCamera, QORCAM_PKTLOG* Log);

/* Sets how long the camera's service waits for the camera to answer a command
 * of this camera: TimeOut in ms from 500 to 600000, or 0 for the service's
 * configured time. GigE Vision and USB3 Vision cameras; needs a structure
 * version of at least 10102.
 * Errors: STATUSQORCAM_STRUCTVERSION_ERROR, STATUSQORCAM_PARAMETER_ERROR
 * (TimeOut out of range; both checked before the handle),
 * STATUSQORCAM_NO_OPEN (a watch camera), STATUSQORCAM_UNDEF_ERROR. */
QORCAM_API BOOL QORCAM_SetCmdTimeOut(HCAMERA hCamera, uint32_t TimeOut);

/* Register and port access. */
/* QORCAM_ReadPort, QORCAM_WritePort: read or write *Length bytes at Address
 * of the camera's register space (its device port, as the node map reaches
 * it) into or from Buffer; *Length comes back as the bytes moved. Work on
 * watch cameras too (writes then normally fail: the process doesn't control
 * the camera) and need no present camera.
 * Errors: STATUSQORCAM_PARAMETER_ERROR (Buffer or Length NULL),
 * STATUSQORCAM_COMMUNICATE_ERROR. */
QORCAM_API BOOL QORCAM_ReadPort(HCAMERA hCamera, uint32_t Address, void* Buffer, uint32_t* Length);
QORCAM_API BOOL QORCAM_WritePort(HCAMERA hCamera, uint32_t Address, void* Buffer, uint32_t* Length);

/* Opens the first camera of any producer that can be had, for register access
 * only (no node map, no streams), and stores the register handle in *phReg
 * (NULL first). Use it with QORCAM_ReadReg, QORCAM_WriteReg and
 * QORCAM_CameraRegInfo; close it with QORCAM_CloseReg.
 * Errors: STATUSQORCAM_PARAMETER_ERROR (phReg NULL),
 * STATUSQORCAM_CANNOT_FOUND. Blocks: as QORCAM_Open. */
QORCAM_API BOOL QORCAM_OpenReg(HCAMERA* phReg);

/* Closes a register handle. Unlike a camera handle, a register handle must
 * not be closed while another thread uses it. */
QORCAM_API BOOL QORCAM_CloseReg(HCAMERA hReg);

/* QORCAM_ReadReg, QORCAM_WriteReg: as QORCAM_ReadPort and QORCAM_WritePort,
 * on a register handle; the calls on one register handle take turns. */
QORCAM_API BOOL QORCAM_ReadReg(HCAMERA hReg, uint32_t Address, void* Buffer, uint32_t* Length);
QORCAM_API BOOL QORCAM_WriteReg(HCAMERA hReg, uint32_t Address, void* Buffer, uint32_t* Length);

/* Fills *Info with the record of a register handle's camera.
 * Errors: STATUSQORCAM_PARAMETER_ERROR (Info NULL), STATUSQORCAM_UNDEF_ERROR. */
QORCAM_API BOOL QORCAM_CameraRegInfo(HCAMERA hReg, QORCAM_CAMERAINFO* Info);

/* Conversion and bitmap headers. */
/* Replaces the camera's conversion object with one of *Mode and *Value; NULL
 * takes the defaults: QORCAM_MEMmode, QORCAM_SFTAUTO, QORCAM_DIB32, both
 * flags off; the coefficients of QORCAM_COLORVALUE. Later conversions use it.
 * Errors: STATUSQORCAM_PARAMETER_ERROR (StoreMode, ShiftID (-1 to 8) or
 * DIBMode out of range), STATUSQORCAM_CANNOT_FOUND, STATUSQORCAM_UNDEF_ERROR
 * (no memory: the camera has no conversion object until the next
 * QORCAM_ConvMode or QORCAM_ImageStart).
 * Blocks: while a conversion of the camera runs. */
QORCAM_API BOOL QORCAM_ConvMode(HCAMERA hCamera, QORCAM_COLORCONVMODE* Mode, QORCAM_COLORVALUE* Value);

/* QORCAM_SetBMPINFO, QORCAM_GetBMPINFO (the same): writes the bitmap header
 * of the camera's converted images: 32 or 24 bits (the DIBMode of the
 * camera's conversion), BI_RGB, a positive height, width and height read
 * from the camera now, biSizeImage the bytes a conversion writes. With
 * Priority_Mono TRUE and a monochrome pixel format: the 8-bit header of the
 * raw image instead, with 256 grey entries (rows counted padded to 4 bytes).
 * *Size: on entry the bytes at BmpInfo, 0 to ask for the size only; on
 * success the header's size (44, or 1064 for the grey one).
 * Errors: STATUSQORCAM_PARAMETER_ERROR (Size NULL, BmpInfo NULL with *Size not
 * 0), STATUSQORCAM_CANNOT_FOUND, STATUSQORCAM_NOTRESOURCE_ERROR,
 * STATUSQORCAM_NO_SUPPORT_PIXELFORMAT (a pixel format that doesn't convert),
 * STATUSQORCAM_BUFFER_SHORT, STATUSQORCAM_COMMUNICATE_ERROR (Width or Height
 * unreadable), STATUSQORCAM_PARAMETER_ERROR (sizes beyond the header's
 * fields). */
QORCAM_API BOOL QORCAM_SetBMPINFO(HCAMERA hCamera, BITMAPINFO* BmpInfo, uint32_t* Size, BOOL Priority_Mono);
QORCAM_API BOOL QORCAM_GetBMPINFO(HCAMERA hCamera, BITMAPINFO* BmpInfo, uint32_t* Size, BOOL Priority_Mono);

/* Converts one raw frame at InBuf (as the image callback gets it) into OutBuf
 * with the camera's conversion object, at the image size and pixel format
 * noted by QORCAM_ResourceAlloc. OutBuf holds Height rows of 4 * Width bytes
 * (QORCAM_DIB32) or of 3 * Width rounded up to 4 (QORCAM_DIB24): the
 * biSizeImage of QORCAM_GetBMPINFO. A pixel format that doesn't convert
 * writes nothing and succeeds. Takes only the camera's conversion lock (the
 * conversions of one camera take turns): safe inside the image callback.
 * Needs no present camera.
 * Errors: STATUSQORCAM_PARAMETER_ERROR (InBuf or OutBuf NULL; sizes beyond
 * 32 bits), STATUSQORCAM_UNDEF_ERROR (no conversion object: neither
 * QORCAM_ConvMode nor QORCAM_ImageStart made one; no memory). */
QORCAM_API BOOL QORCAM_BufferConvExec(HCAMERA hCamera, uint8_t* InBuf, uint8_t* OutBuf);

/* As QORCAM_BufferConvExec for the pixels of an image record of
 * QORCAM_ImageAlloc, at the record's Width, Height and EndianMode.
 * Errors: STATUSQORCAM_PARAMETER_ERROR (not a live record, OutBuf NULL),
 * STATUSQORCAM_CANNOT_FOUND, STATUSQORCAM_NOTRESOURCE_ERROR, then those of
 * QORCAM_BufferConvExec. */
QORCAM_API BOOL QORCAM_ImageConvExec(HCAMERA hCamera, QORCAM_IMAGE* Image, uint8_t* OutBuf);

/* Makes a conversion object of its own, tied to no camera, and stores its
 * handle in *phTbl (NULL first). NULL Mode: every field 0 (QORCAM_MEMmode,
 * shift 0, QORCAM_DIB32, flags off); NULL Value: the default coefficients.
 * Lives until QORCAM_CloseConvHandle, QORCAM_CloseAllConvHandle or
 * QORCAM_FreeLibrary.
 * Errors: STATUSQORCAM_PARAMETER_ERROR (phTbl NULL; StoreMode, ShiftID (0 to
 * 8: no automatic shift) or DIBMode out of range), STATUSQORCAM_UNDEF_ERROR. */
QORCAM_API BOOL QORCAM_CreateConvHandle(HCTBL* phTbl, QORCAM_COLORCONVMODE* Mode, QORCAM_COLORVALUE* Value);

/* Frees a conversion object of QORCAM_CreateConvHandle; a handle that names
 * none only sets STATUSQORCAM_PARAMETER_ERROR. Not while another thread
 * converts with it. */
QORCAM_API void QORCAM_CloseConvHandle(HCTBL hTbl);

/* Frees every conversion object of QORCAM_CreateConvHandle; not while another
 * thread converts with one. */
QORCAM_API void QORCAM_CloseAllConvHandle(void);

/* Converts Image (pBuffer, Width, Height, PixelFormatID, EndianMode) into
 * OutBuf with a conversion object of QORCAM_CreateConvHandle; OutBuf is sized
 * as for QORCAM_BufferConvExec. Holds no lock while it converts: one object
 * may convert on several threads at once.
 * Errors: STATUSQORCAM_PARAMETER_ERROR (Image, its pBuffer or OutBuf NULL, a
 * pixel format the conversions don't know, EndianMode above 1, sizes beyond
 * 32 bits), STATUSQORCAM_UNDEF_ERROR. */
QORCAM_API BOOL QORCAM_ColorConvExec(HCTBL hTbl, QORCAM_IMAGE* Image, uint8_t* OutBuf);

/* QORCAM_ColorConvSetBMPINFO, QORCAM_ColorConvGetBMPINFO (the same): writes
 * the 44-byte bitmap header of Image converted with the object's DIBMode
 * (as QORCAM_GetBMPINFO, with Image's Width and Height).
 * Errors: STATUSQORCAM_PARAMETER_ERROR (Image or BmpInfo NULL),
 * STATUSQORCAM_NO_SUPPORT_PIXELFORMAT, STATUSQORCAM_PARAMETER_ERROR
 * (EndianMode above 1, sizes beyond the header's fields). */
QORCAM_API BOOL QORCAM_ColorConvSetBMPINFO(HCTBL hTbl, QORCAM_IMAGE* Image, BITMAPINFO* BmpInfo);
QORCAM_API BOOL QORCAM_ColorConvGetBMPINFO(HCTBL hTbl, QORCAM_IMAGE* Image, BITMAPINFO* BmpInfo);

/* Writes the 1064-byte 8-bit header of a raw monochrome Image shown as it is:
 * 256 grey entries, biSizeImage Width * Height (rows not padded).
 * Errors: STATUSQORCAM_PARAMETER_ERROR (Image or BmpInfo NULL, a pixel format
 * the conversions don't know), STATUSQORCAM_NO_SUPPORT_PIXELFORMAT (not
 * monochrome), STATUSQORCAM_PARAMETER_ERROR (EndianMode above 1, sizes beyond
 * the header's fields). */
QORCAM_API BOOL QORCAM_MonoBMPINFO(QORCAM_IMAGE* Image, BITMAPINFO* BmpInfo);

/* Output filter: a two-slot ring of 32-bit images per process in named shared memory.
 * It lets another program take this process's images: the control block
 * "QORCAMOutFilterFile_Quillonmark_<pid>" (28 bytes, u32 each: write index,
 * read index, width, height, param, image size, slot stride), the data
 * "QORCAMOutFilterDataFile_Quillonmark_<pid>" (two slots of slot-stride
 * bytes) and the event "QORCAMOutFilterEvent_Quillonmark_<pid>_3", set for
 * each new image; the named mutex "QORCAMOutFilterMutex_Quillonmark_<pid>_3"
 * guards the indexes. The exports return QORCAMFILTER_ codes, set no last
 * error and wait only for that mutex. A consumer marks the slot it took in
 * the read index. */
/* Makes the ring for Width x Height images of 4 bytes per pixel (Param is
 * stored for the consumer); slot 0 zeroed. QORCAMFILTER_EXISTS when this
 * process has one (it stays as it was), QORCAMFILTER_ERROR when it can't be
 * made or the size is 0 or too large. */
QORCAM_API uint32_t QORCAMFILTER_Alloc(uint32_t Width, uint32_t Height, uint32_t Param);

/* Copies an image (width * height * 4 bytes at Image) into the free slot and
 * publishes it. QORCAMFILTER_FULL when the consumer holds the other slot: the
 * newest image is overwritten; QORCAMFILTER_ERROR without a ring or with a
 * NULL Image. */
QORCAM_API uint32_t QORCAMFILTER_OutPut(void* Image);

/* Reserves the free slot and stores its address in *Address, for the caller
 * to write the image in place and publish it with QORCAMFILTER_Flush.
 * QORCAMFILTER_FULL: the newest slot is handed out again; QORCAMFILTER_ERROR
 * without a ring or with a NULL Address. One thread at a time should use
 * QORCAMFILTER_GetAddr and QORCAMFILTER_Flush. */
QORCAM_API uint32_t QORCAMFILTER_GetAddr(void** Address);

/* Publishes the slot QORCAMFILTER_GetAddr reserved. QORCAMFILTER_NOTHING
 * without a reservation (also after a QORCAMFILTER_OutPut cancelled it),
 * QORCAMFILTER_ERROR without a ring. */
QORCAM_API uint32_t QORCAMFILTER_Flush(void);

/* Drops the unread images (read index = write index) and sets the event;
 * QORCAMFILTER_ERROR without a ring. */
QORCAM_API uint32_t QORCAMFILTER_Purge(void);

/* Releases the ring (a later QORCAMFILTER_Alloc may make a new one);
 * QORCAMFILTER_ERROR without a ring. */
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
