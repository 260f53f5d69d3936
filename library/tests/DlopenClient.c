/* DlopenClient: a plug-in host's use of the library: it loads libQorCam.so with
 * dlopen, uses it, and ends without unloading it (as an interpreter's foreign
 * function module or a runtime without unload does).
 *
 *   DlopenClient LIBRARY            load, then end
 *   DlopenClient LIBRARY open UID   load, open camera UID, allocate its
 *                                   resources, set an image callback, start
 *                                   images, then end with all of it running
 *
 * Ends with 0 when every step worked, 2 on a wrong command line, 3 when the
 * library does not load, 4 + the step's number when a step failed.
 */
#include "QorCam.h"

#include <dlfcn.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

static void OnImage(HCAMERA camera, uint8_t* buffer, uint32_t length, uint32_t width, uint32_t height,
                    QORCAM_IMAGEDATAINFO* info, void* context) {
    (void)camera;
    (void)buffer;
    (void)length;
    (void)width;
    (void)height;
    (void)info;
    (void)context;
}

static void* Symbol(void* library, const char* name) {
    void* address = dlsym(library, name);
    if (address == NULL) fprintf(stderr, "no %s\n", name);
    return address;
}

int main(int argc, char** argv) {
    void* library;
    if (argc < 2) return 2;
    library = dlopen(argv[1], RTLD_NOW | RTLD_LOCAL);
    if (library == NULL) {
        fprintf(stderr, "%s\n", dlerror());
        return 3;
    }
    if (argc > 3 && strcmp(argv[2], "open") == 0) {
        BOOL (*setVersion)(uint32_t) = (BOOL (*)(uint32_t))Symbol(library, "QORCAM_SetStructVersion");
        BOOL (*open)(uint64_t, HCAMERA*) = (BOOL (*)(uint64_t, HCAMERA*))Symbol(library, "QORCAM_Open");
        BOOL (*alloc)(HCAMERA) = (BOOL (*)(HCAMERA))Symbol(library, "QORCAM_ResourceAlloc");
        BOOL (*setCallback)(HCAMERA, void*, QORCAM_IMAGECALLBACK, uint32_t, BOOL) =
            (BOOL (*)(HCAMERA, void*, QORCAM_IMAGECALLBACK, uint32_t, BOOL))Symbol(library,
                                                                                    "QORCAM_SetImageCallBack");
        BOOL (*start)(HCAMERA) = (BOOL (*)(HCAMERA))Symbol(library, "QORCAM_ImageStart");
        HCAMERA camera = NULL;
        if (!setVersion || !open || !alloc || !setCallback || !start) return 3;
        if (!setVersion(LIBRARY_STRUCT_VERSION)) return 5;
        if (!open(strtoull(argv[3], NULL, 10), &camera)) return 6;
        if (!alloc(camera)) return 7;
        if (!setCallback(camera, NULL, OnImage, 2, FALSE)) return 8;
        if (!start(camera)) return 9;
    } else if (argc > 2) {
        return 2;
    }
    return 0;
}
