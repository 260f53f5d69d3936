/* DlopenClient: a plug-in host's use of the library: it loads libQorCam.so with
 * dlopen, uses it, and ends in one of the ways a process ends.
 *
 *   DlopenClient LIBRARY [unload]
 *       load, then end (with "unload": dlclose first)
 *   DlopenClient LIBRARY open UID [unload]
 *       load, open camera UID, allocate its resources, set an image callback,
 *       start images, then end with all of it running (with "unload": dlclose
 *       first)
 *   DlopenClient LIBRARY failed [unload]
 *       load, make one node-map call fail, list the cameras, then end (with
 *       "unload": dlclose first), as a runtime that unloads native libraries
 *       at its end does after a refused call
 *   DlopenClient LIBRARY stream UID HOW
 *       load, open camera UID (or with "any" the first one listed within
 *       20 s) and stream until 3 images came in, then end:
 *       HOW is "return" (return from main), "unload" (dlclose, then return),
 *       "exit-thread" (exit(0) from a thread of its own while main waits)
 *       or "exit-callback" (exit(0) from inside the image callback while
 *       main waits)
 *
 * Ends with 0 when every step worked, 2 on a wrong command line, 3 when the
 * library does not load, 4 + the step's number when a step failed, 12 when the
 * library is still mapped after dlclose, 20 when the images did not come
 * within 20 s.
 */
#include "QorCam.h"

#include <dlfcn.h>
#include <pthread.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>

typedef int (*OpenXmlFn)(const char*, const char*, void**);
typedef BOOL (*GetListFn)(QORCAM_LIST*);

static volatile int g_images = 0;
static volatile int g_exitInCallback = 0;

static void OnImage(HCAMERA camera, uint8_t* buffer, uint32_t length, uint32_t width, uint32_t height,
                    QORCAM_IMAGEDATAINFO* info, void* context) {
    (void)camera;
    (void)buffer;
    (void)length;
    (void)width;
    (void)height;
    (void)info;
    (void)context;
    if (g_exitInCallback && g_images >= 3) exit(0);
    __atomic_add_fetch(&g_images, 1, __ATOMIC_SEQ_CST);
}

static void* Symbol(void* library, const char* name) {
    void* address = dlsym(library, name);
    if (address == NULL) fprintf(stderr, "no %s\n", name);
    return address;
}

static void Pause(long ms) {
    struct timespec pause;
    pause.tv_sec = ms / 1000;
    pause.tv_nsec = (ms % 1000) * 1000000L;
    nanosleep(&pause, NULL);
}

static void* ExitThread(void* unused) {
    (void)unused;
    exit(0);
    return NULL;
}

/* Opens camera UID and starts its images with the callback: 0, or the failed step's exit code. */
static int StartCamera(void* library, const char* uid) {
    BOOL (*setVersion)(uint32_t) = (BOOL (*)(uint32_t))Symbol(library, "QORCAM_SetStructVersion");
    BOOL (*open)(uint64_t, HCAMERA*) = (BOOL (*)(uint64_t, HCAMERA*))Symbol(library, "QORCAM_Open");
    BOOL (*alloc)(HCAMERA) = (BOOL (*)(HCAMERA))Symbol(library, "QORCAM_ResourceAlloc");
    BOOL (*setCallback)(HCAMERA, void*, QORCAM_IMAGECALLBACK, uint32_t, BOOL) =
        (BOOL (*)(HCAMERA, void*, QORCAM_IMAGECALLBACK, uint32_t, BOOL))Symbol(library, "QORCAM_SetImageCallBack");
    BOOL (*start)(HCAMERA) = (BOOL (*)(HCAMERA))Symbol(library, "QORCAM_ImageStart");
    GetListFn getList = (GetListFn)Symbol(library, "QORCAM_GetList");
    HCAMERA camera = NULL;
    uint64_t number = strtoull(uid, NULL, 10);
    if (!setVersion || !open || !alloc || !setCallback || !start || !getList) return 3;
    if (!setVersion(LIBRARY_STRUCT_VERSION)) return 5;
    if (strcmp(uid, "any") == 0) {
        /* The first camera listed, waiting up to 20 s for one to show up. */
        QORCAM_LIST list;
        int attempt;
        for (attempt = 0; attempt < 80; ++attempt) {
            memset(&list, 0, sizeof list);
            list.Count = 1;
            if (getList(&list) && list.Count > 0) break;
            Pause(250);
        }
        if (attempt == 80) return 6;
        number = list.Info[0].UID;
    }
    if (!open(number, &camera)) return 6;
    if (!alloc(camera)) return 7;
    if (!setCallback(camera, NULL, OnImage, 2, FALSE)) return 8;
    if (!start(camera)) return 9;
    return 0;
}

/* Makes a node-map call fail and lists the cameras: 0, or the failed step's exit code. */
static int FailAndList(void* library) {
    OpenXmlFn openXml = (OpenXmlFn)Symbol(library, "QgaOpenXml");
    GetListFn getList = (GetListFn)Symbol(library, "QORCAM_GetList");
    BOOL (*setVersion)(uint32_t) = (BOOL (*)(uint32_t))Symbol(library, "QORCAM_SetStructVersion");
    QORCAM_LIST list;
    void* map = NULL;
    if (!openXml || !getList || !setVersion) return 3;
    if (!setVersion(LIBRARY_STRUCT_VERSION)) return 5;
    if (openXml("this is not a description", NULL, &map) == 0) return 6;
    memset(&list, 0, sizeof list);
    if (!getList(&list)) return 7;
    return 0;
}

/* Whether a file of this name is mapped into the process. */
static int Mapped(const char* path) {
    const char* name = strrchr(path, '/');
    char line[4096];
    int found = 0;
    FILE* maps = fopen("/proc/self/maps", "r");
    if (maps == NULL) return 0;
    name = name != NULL ? name + 1 : path;
    while (!found && fgets(line, sizeof line, maps) != NULL)
        found = strstr(line, name) != NULL;
    fclose(maps);
    return found;
}

int main(int argc, char** argv) {
    void* library;
    int unload = 0;
    if (argc < 2) return 2;
    library = dlopen(argv[1], RTLD_NOW | RTLD_LOCAL);
    if (library == NULL) {
        fprintf(stderr, "%s\n", dlerror());
        return 3;
    }
    if (argc > 3 && strcmp(argv[2], "open") == 0) {
        int failed = StartCamera(library, argv[3]);
        if (failed != 0) return failed;
        unload = argc > 4 && strcmp(argv[4], "unload") == 0;
    } else if (argc > 2 && strcmp(argv[2], "failed") == 0) {
        int failed = FailAndList(library);
        if (failed != 0) return failed;
        unload = argc > 3 && strcmp(argv[3], "unload") == 0;
    } else if (argc > 4 && strcmp(argv[2], "stream") == 0) {
        const char* how = argv[4];
        int waited;
        int failed;
        g_exitInCallback = strcmp(how, "exit-callback") == 0;
        failed = StartCamera(library, argv[3]);
        if (failed != 0) return failed;
        for (waited = 0; __atomic_load_n(&g_images, __ATOMIC_SEQ_CST) < 3; waited += 10) {
            if (waited >= 20000) return 20;
            Pause(10);
        }
        if (strcmp(how, "exit-thread") == 0) {
            pthread_t thread;
            if (pthread_create(&thread, NULL, ExitThread, NULL) != 0) return 10;
        }
        if (strcmp(how, "exit-thread") == 0 || g_exitInCallback) {
            /* The process ends from the other thread; this one stays busy with the library meanwhile. */
            for (;;)
                Pause(1000);
        }
        unload = strcmp(how, "unload") == 0;
        if (!unload && strcmp(how, "return") != 0) return 2;
    } else if (argc > 2 && strcmp(argv[2], "unload") == 0) {
        unload = 1;
    } else if (argc > 2) {
        return 2;
    }
    if (unload) {
        if (dlclose(library) != 0) return 11;
        if (Mapped(argv[1])) return 12;
    }
    return 0;
}
