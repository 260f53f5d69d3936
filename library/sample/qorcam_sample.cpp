/* qorcam_sample: loads libQorCam.so, loads the producers and counts the cameras, drives the output filter,
 * and prints the trace lines of each part. */
#include "QorCam.h"
#include "TraceAreaReader.h"

#include <dlfcn.h>
#include <stdio.h>
#include <string.h>
#include <unistd.h>

typedef uint32_t (*RevisionFn)(void);
typedef STATUS_RTNCODE (*LastErrorFn)(void);
typedef uint32_t (*AllocFn)(uint32_t, uint32_t, uint32_t);
typedef uint32_t (*OutPutFn)(void*);
typedef uint32_t (*GetAddrFn)(void**);
typedef uint32_t (*NoArgFn)(void);
typedef BOOL (*StructVersionFn)(uint32_t);
typedef BOOL (*GetListFn)(QORCAM_LIST*);

static void* g_library;

/* ISO C has no conversion from object to function pointers; copy the bytes. */
static int Resolve(const char* name, void* fn, size_t size) {
    void* symbol = dlsym(g_library, name);
    if (symbol == NULL) {
        fprintf(stderr, "qorcam_sample: %s is missing: %s\n", name, dlerror());
        return 0;
    }
    memcpy(fn, &symbol, size);
    return 1;
}

/* The library is looked up by plain name first (the loader's search path),
 * then beside the sample's own executable, where the build puts both. */
static void* LoadLibrary(void) {
    char path[4096];
    char* slash;
    ssize_t n;
    void* library = dlopen("libQorCam.so", RTLD_NOW);
    if (library != NULL) return library;
    n = readlink("/proc/self/exe", path, sizeof path - 1);
    if (n <= 0) return NULL;
    path[n] = '\0';
    slash = strrchr(path, '/');
    if (slash == NULL || (size_t)(slash - path) + sizeof "/libQorCam.so" > sizeof path) return NULL;
    strcpy(slash, "/libQorCam.so");
    return dlopen(path, RTLD_NOW);
}

static void PrintLine(const char* line) {
    fputs(line, stdout);
}

int main(void) {
    RevisionFn revision;
    LastErrorFn lastError;
    AllocFn alloc;
    OutPutFn output;
    GetAddrFn getAddr;
    NoArgFn flush, purge, freeRing;
    uint32_t image[64 * 48];
    void* slot = NULL;
    StructVersionFn structVersion;
    GetListFn getList;
    QORCAM_LIST list;
    BOOL listed;
    uint32_t lines;
    uint32_t levelBefore;

    /* The sample reads the trace area the way the log tool does: it opens the
     * area first and sets the level, so even the library's attach line shows. */
    if (!qorcam_trace_open()) {
        fprintf(stderr, "qorcam_sample: the trace area can't be opened\n");
        return 1;
    }
    levelBefore = qorcam_trace_set_level(2);

    g_library = LoadLibrary();
    if (g_library == NULL) {
        fprintf(stderr, "qorcam_sample: %s\n", dlerror());
        return 1;
    }
    if (!Resolve("QORCAM_GetLibraryRevision", &revision, sizeof revision) ||
        !Resolve("QORCAM_SetStructVersion", &structVersion, sizeof structVersion) ||
        !Resolve("QORCAM_GetList", &getList, sizeof getList) ||
        !Resolve("QORCAM_GetLastError", &lastError, sizeof lastError) ||
        !Resolve("QORCAMFILTER_Alloc", &alloc, sizeof alloc) ||
        !Resolve("QORCAMFILTER_OutPut", &output, sizeof output) ||
        !Resolve("QORCAMFILTER_GetAddr", &getAddr, sizeof getAddr) ||
        !Resolve("QORCAMFILTER_Flush", &flush, sizeof flush) ||
        !Resolve("QORCAMFILTER_Purge", &purge, sizeof purge) ||
        !Resolve("QORCAMFILTER_Free", &freeRing, sizeof freeRing)) {
        return 1;
    }

    printf("library revision %u, last error %d\n", (unsigned)revision(), (int)lastError());
    /* Loads the producers that lie beside the library (or under the GenICam
     * folder); the trace lines tell which could not be used. */
    printf("QORCAM_SetStructVersion     -> %d\n", (int)structVersion(LIBRARY_STRUCT_VERSION));
    list.Count = 0;
    listed = getList(&list);
    printf("QORCAM_GetList              -> %d, %u cameras\n", (int)listed, (unsigned)list.Count);
    /* The area holds 32 lines: take these before going on. */
    printf("trace lines:\n");
    lines = qorcam_trace_take(PrintLine);

    memset(image, 0x80, sizeof image);
    printf("QORCAMFILTER_Alloc(64, 48)  -> %u\n", (unsigned)alloc(64, 48, 0));
    printf("QORCAMFILTER_OutPut         -> %u\n", (unsigned)output(image));
    printf("QORCAMFILTER_GetAddr        -> %u\n", (unsigned)getAddr(&slot));
    if (slot != NULL) memcpy(slot, image, sizeof image);
    printf("QORCAMFILTER_Flush          -> %u\n", (unsigned)flush());
    printf("QORCAMFILTER_Purge          -> %u\n", (unsigned)purge());
    printf("QORCAMFILTER_Free           -> %u\n", (unsigned)freeRing());
    printf("QORCAMFILTER_Flush          -> %u (no ring)\n", (unsigned)flush());

    dlclose(g_library);

    printf("trace lines:\n");
    lines += qorcam_trace_take(PrintLine);
    printf("%u trace lines\n", (unsigned)lines);
    /* A log tool that was already collecting keeps its own level. */
    qorcam_trace_set_level(levelBefore);
    qorcam_trace_close();
    return lines > 0 ? 0 : 1;
}
