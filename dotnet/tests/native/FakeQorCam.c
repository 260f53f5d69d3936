/* FakeQorCam: a scripted stand-in for the camera library with only some of its exports, and helpers
 * that call the binding's native callbacks from threads of their own. */
#include "QorCam.h"

#include <pthread.h>
#include <string.h>

#define FAKE_API __attribute__((visibility("default")))

/* Knobs a test sets and counters it reads, by index (see FakeLibrary.cs). */
enum {
    K_CAMERAS,        /* cameras the list reports */
    K_LIST_OVERCOUNT, /* count written back beyond the room given */
    K_LIST_REFUSALS,  /* fills refused with 2 before one succeeds (-1: always) */
    K_LIST_CALLS,     /* QORCAM_GetList calls */
    K_NODEMAP_FAILS,  /* QORCAM_GetNodeMap refuses */
    K_OPENS,          /* successful opens */
    K_CLOSES,         /* QORCAM_Close calls */
    K_WATCH_CLOSES,   /* QORCAM_WatchClose calls */
    K_IMAGES_LEFT,    /* ImageAlloc budget */
    K_IMAGES_FREED,   /* ImageFree calls */
    K_STRUCT_VERSION, /* last version passed */
    K_STRUCT_CALLS,   /* QORCAM_SetStructVersion calls */
    K_PORT_ADDRESS,   /* last ReadPort address */
    K_PORT_LENGTH,    /* last ReadPort length */
    K_CALLBACK_SET,   /* image callback registered (1) or ended (0) */
    K_CONV_REFUSE,    /* QORCAM_CreateConvHandle refuses */
    K_CONV_CLOSES,    /* QORCAM_CloseConvHandle calls */
    K_CONV_MODE_SET,  /* the last conversion object was given a mode */
    K_CONV_VALUE_SET, /* ... and colour values */
    K_NODE_LOOKUPS,   /* QgaGetNode calls on the node map this stand-in handed out */
    K_KNOBS
};

static int64_t knobs[K_KNOBS];
static __thread int32_t lastError;
static QORCAM_CAMERAINFO cameraInfo;
static QORCAM_OPENREQUEST lastRequest;
/* Stands for a node map; the only thing asked of it is a node, which it never has. */
static int nodeMap;
static QORCAM_SYSTEMCALLBACK systemCallBack;
static void* systemContext;
static QORCAM_IMAGECALLBACK imageCallBack;
static void* imageContext;
static uint32_t imageInfoSet;
static QORCAM_IMAGE images[64];
static QORCAM_COLORCONVMODE convMode;
static QORCAM_COLORVALUE convValue;
static int convTable;

/* Handles: 0x100 is a normal camera, 0x200 a watch camera. */
#define NORMAL ((HCAMERA)(uintptr_t)0x100)
#define WATCH ((HCAMERA)(uintptr_t)0x200)

static BOOL Fail(int32_t code) {
    lastError = code;
    return FALSE;
}

static BOOL Done(void) {
    lastError = 0;
    return TRUE;
}

static int IsCamera(HCAMERA h) {
    return h == NORMAL || h == WATCH;
}

FAKE_API void Fake_Reset(void) {
    memset(knobs, 0, sizeof knobs);
    memset(&cameraInfo, 0, sizeof cameraInfo);
    memset(&lastRequest, 0, sizeof lastRequest);
    memset(images, 0, sizeof images);
    systemCallBack = NULL;
    imageCallBack = NULL;
    lastError = 0;
}
FAKE_API void Fake_Set(int knob, int64_t value) {
    if (knob >= 0 && knob < K_KNOBS) knobs[knob] = value;
}
FAKE_API int64_t Fake_Get(int knob) {
    return knob >= 0 && knob < K_KNOBS ? knobs[knob] : -1;
}
FAKE_API void Fake_SetCameraInfo(const QORCAM_CAMERAINFO* info) {
    cameraInfo = *info;
}
FAKE_API void Fake_GetOpenRequest(QORCAM_OPENREQUEST* request) {
    *request = lastRequest;
}
FAKE_API void Fake_GetConversion(QORCAM_COLORCONVMODE* mode, QORCAM_COLORVALUE* value) {
    *mode = convMode;
    *value = convValue;
}

/* ---- The exports this stand-in has ---- */

QORCAM_API STATUS_RTNCODE QORCAM_GetLastError(void) {
    return (STATUS_RTNCODE)lastError;
}
QORCAM_API uint32_t QORCAM_GetLibraryRevision(void) {
    return 10106;
}

QORCAM_API BOOL QORCAM_SetStructVersion(uint32_t Version) {
    knobs[K_STRUCT_VERSION] = Version;
    knobs[K_STRUCT_CALLS]++;
    return Done();
}

QORCAM_API void QORCAM_SetCallBack(void* Context, QORCAM_SYSTEMCALLBACK CallBack) {
    systemCallBack = CallBack;
    systemContext = Context;
}

QORCAM_API BOOL QORCAM_GetList(QORCAM_LIST* List) {
    knobs[K_LIST_CALLS]++;
    if (!List) return Fail(STATUSQORCAM_PARAMETER_ERROR);
    uint32_t total = (uint32_t)knobs[K_CAMERAS];
    if (List->Count == 0) {
        List->Count = total;
        return Done();
    }
    if (List->Count < total) return Fail(STATUSQORCAM_BUFFER_SHORT);
    if (knobs[K_LIST_REFUSALS] != 0) {
        if (knobs[K_LIST_REFUSALS] > 0) knobs[K_LIST_REFUSALS]--;
        return Fail(STATUSQORCAM_BUFFER_SHORT);
    }
    for (uint32_t i = 0; i < total; i++) {
        QORCAM_CAMERAINFO* info = &List->Info[0] + i;
        *info = cameraInfo;
        info->UID = cameraInfo.UID + i;
    }
    List->Count = total + (uint32_t)knobs[K_LIST_OVERCOUNT];
    return Done();
}

static BOOL OpenAs(uint64_t UID, HCAMERA* ph, HCAMERA kind) {
    if (!ph || UID == 0) return Fail(STATUSQORCAM_PARAMETER_ERROR);
    if (UID != QORCAM_UID_ANY && UID != cameraInfo.UID) return Fail(STATUSQORCAM_CANNOT_FOUND);
    *ph = kind;
    knobs[K_OPENS]++;
    return Done();
}

QORCAM_API BOOL QORCAM_Open(uint64_t UID, HCAMERA* ph) {
    return OpenAs(UID, ph, NORMAL);
}
QORCAM_API BOOL QORCAM_WatchOpen(uint64_t UID, HCAMERA* ph) {
    return OpenAs(UID, ph, WATCH);
}

QORCAM_API BOOL QORCAM_OpenGigE(QORCAM_OPENREQUEST* Request, HCAMERA* ph) {
    if (!Request) return Fail(STATUSQORCAM_PARAMETER_ERROR);
    lastRequest = *Request;
    return OpenAs(QORCAM_UID_ANY, ph, NORMAL);
}

QORCAM_API BOOL QORCAM_WatchOpenGigE(QORCAM_OPENREQUEST* Request, HCAMERA* ph) {
    if (!Request) return Fail(STATUSQORCAM_PARAMETER_ERROR);
    lastRequest = *Request;
    return OpenAs(QORCAM_UID_ANY, ph, WATCH);
}

QORCAM_API BOOL QORCAM_Close(HCAMERA h) {
    knobs[K_CLOSES]++;
    return h == NORMAL ? Done() : Fail(h == WATCH ? STATUSQORCAM_NO_OPEN : STATUSQORCAM_PARAMETER_ERROR);
}

QORCAM_API BOOL QORCAM_WatchClose(HCAMERA h) {
    knobs[K_WATCH_CLOSES]++;
    return h == WATCH ? Done() : Fail(h == NORMAL ? STATUSQORCAM_NO_OPEN : STATUSQORCAM_PARAMETER_ERROR);
}

QORCAM_API BOOL QORCAM_GetNodeMap(HCAMERA h, void** map) {
    if (!IsCamera(h) || !map) return Fail(STATUSQORCAM_PARAMETER_ERROR);
    if (knobs[K_NODEMAP_FAILS]) return Fail(STATUSQORCAM_COMMUNICATE_ERROR);
    *map = &nodeMap;
    return Done();
}

/* The node map's lookup, counted when it is asked of this stand-in's own map: a node map from
 * this library must be walked by this library. */
FAKE_API int QgaGetNode(void* map, const char* name, void** node) {
    if (map == &nodeMap && name) knobs[K_NODE_LOOKUPS]++;
    if (node) *node = NULL;
    return 1;
}

QORCAM_API BOOL QORCAM_CameraInfo(HCAMERA h, QORCAM_CAMERAINFO* info) {
    if (!IsCamera(h) || !info) return Fail(STATUSQORCAM_PARAMETER_ERROR);
    *info = cameraInfo;
    return Done();
}

QORCAM_API BOOL QORCAM_ResourceAlloc(HCAMERA h) {
    if (!IsCamera(h)) return Fail(STATUSQORCAM_PARAMETER_ERROR);
    return h == NORMAL ? Done() : Fail(STATUSQORCAM_NO_OPEN);
}

QORCAM_API BOOL QORCAM_WatchAlloc(HCAMERA h) {
    if (!IsCamera(h)) return Fail(STATUSQORCAM_PARAMETER_ERROR);
    return h == WATCH ? Done() : Fail(STATUSQORCAM_NO_OPEN);
}

QORCAM_API BOOL QORCAM_ReadPort(HCAMERA h, uint32_t Address, void* Buffer, uint32_t* Length) {
    if (!IsCamera(h) || !Length) return Fail(STATUSQORCAM_PARAMETER_ERROR);
    knobs[K_PORT_ADDRESS] = Address;
    knobs[K_PORT_LENGTH] = *Length;
    if (*Length > 0 && !Buffer) return Fail(STATUSQORCAM_PARAMETER_ERROR);
    if (*Length > 0) memset(Buffer, 0xA5, *Length);
    return Done();
}

QORCAM_API BOOL QORCAM_ImageAlloc(HCAMERA h, QORCAM_IMAGE** pp) {
    if (!IsCamera(h) || !pp) return Fail(STATUSQORCAM_PARAMETER_ERROR);
    if (knobs[K_IMAGES_LEFT] <= 0) return Fail(STATUSQORCAM_UNDEF_ERROR);
    int64_t slot = --knobs[K_IMAGES_LEFT];
    if (slot >= 64) return Fail(STATUSQORCAM_UNDEF_ERROR);
    *pp = &images[slot];
    return Done();
}

QORCAM_API BOOL QORCAM_ImageFree(HCAMERA h, QORCAM_IMAGE* image) {
    if (!IsCamera(h) || !image) return Fail(STATUSQORCAM_PARAMETER_ERROR);
    knobs[K_IMAGES_FREED]++;
    return Done();
}

QORCAM_API BOOL QORCAM_SetImageCallBack(HCAMERA h, void* Context, QORCAM_IMAGECALLBACK CallBack,
                                        uint32_t BufferCount, BOOL InfoSet_Flag) {
    if (!IsCamera(h)) return Fail(STATUSQORCAM_PARAMETER_ERROR);
    if (CallBack && BufferCount == 0) return Fail(STATUSQORCAM_PARAMETER_ERROR);
    imageCallBack = CallBack;
    imageContext = Context;
    imageInfoSet = InfoSet_Flag != 0;
    knobs[K_CALLBACK_SET] = CallBack != NULL;
    return Done();
}

QORCAM_API BOOL QORCAM_CreateConvHandle(HCTBL* phTbl, QORCAM_COLORCONVMODE* Mode, QORCAM_COLORVALUE* Value) {
    if (!phTbl || knobs[K_CONV_REFUSE]) return Fail(STATUSQORCAM_UNDEF_ERROR);
    knobs[K_CONV_MODE_SET] = Mode != NULL;
    knobs[K_CONV_VALUE_SET] = Value != NULL;
    if (Mode) convMode = *Mode;
    if (Value) convValue = *Value;
    *phTbl = &convTable;
    return Done();
}

QORCAM_API void QORCAM_CloseConvHandle(HCTBL hTbl) {
    if (hTbl == &convTable) knobs[K_CONV_CLOSES]++;
}

/* ---- Deliveries from a thread of the library's own, as the real one makes them ---- */

typedef struct {
    QORCAM_IMAGECALLBACK image;
    QORCAM_SYSTEMCALLBACK system;
    void* context;
    int32_t code;
    QORCAM_IMAGEDATAINFO info;
    int withInfo;
    uint32_t length;
    uint8_t buffer[16];
} Delivery;

static void* Deliver(void* arg) {
    Delivery* d = arg;
    if (d->system) d->system((STATUS_SYSTEMCODE)d->code, d->context);
    if (d->image) d->image(NORMAL, d->buffer, d->length, 4, 4, d->withInfo ? &d->info : NULL, d->context);
    return NULL;
}

static int RunOnThread(Delivery* d) {
    pthread_t thread;
    if (pthread_create(&thread, NULL, Deliver, d) != 0) return 0;
    pthread_join(thread, NULL);
    return 1;
}

/* Fires the registered system callback once. */
FAKE_API int Fake_FireSystem(int32_t code) {
    if (!systemCallBack) return 0;
    Delivery d = {.system = systemCallBack, .context = systemContext, .code = code};
    return RunOnThread(&d);
}

/* Delivers one 16-byte buffer of 0x5A to the registered image callback; info only when it was asked for. */
FAKE_API int Fake_FireImage(const QORCAM_IMAGEDATAINFO* info, uint32_t length) {
    if (!imageCallBack) return 0;
    Delivery d = {.image = imageCallBack, .context = imageContext, .length = length};
    memset(d.buffer, 0x5A, sizeof d.buffer);
    if (info && imageInfoSet) {
        d.info = *info;
        d.withInfo = 1;
    }
    return RunOnThread(&d);
}
