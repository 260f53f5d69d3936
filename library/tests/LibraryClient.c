/* LibraryClient: a process that loads libQorCam.so and drives it as a test asks.
 *
 *   trace N   allocate an output ring, then N purges (two trace lines each), then end normally
 *   loop      allocate a ring, then purge without end (the test kills it)
 *   hold      stay loaded until SIGTERM, then end normally; the file
 *             $QORCAM_ROOT/ready-<pid> tells that SIGTERM is handled
 *   exclude N exclude this process from tracing, print the build date, then N purges
 *   producers [free]
 *             load the producers, print the number of cameras, set a system
 *             callback, then end normally (after QORCAM_FreeLibrary with "free")
 */
#include "QorCam.h"

#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

static volatile sig_atomic_t g_stop = 0;

static void OnTerm(int sig) {
    (void)sig;
    g_stop = 1;
}

static void Purges(long n) {
    long i;
    QORCAMFILTER_Alloc(2, 2, 0);
    for (i = 0; i < n; ++i)
        QORCAMFILTER_Purge();
}

static void OnSystem(STATUS_SYSTEMCODE code, void* context) {
    (void)code;
    (void)context;
}

static int Producers(int freeFirst) {
    QORCAM_LIST list;
    if (!QORCAM_SetStructVersion(LIBRARY_STRUCT_VERSION)) return 3;
    list.Count = 0;
    if (!QORCAM_GetList(&list)) return 4;
    printf("%u\n", (unsigned)list.Count);
    fflush(stdout);
    QORCAM_SetCallBack(NULL, OnSystem);
    if (freeFirst) QORCAM_FreeLibrary();
    return 0;
}

static void MarkReady(void) {
    char path[4096];
    const char* root = getenv("QORCAM_ROOT");
    FILE* f;
    snprintf(path, sizeof path, "%s/ready-%ld", root != NULL ? root : ".", (long)getpid());
    f = fopen(path, "w");
    if (f != NULL) fclose(f);
}

int main(int argc, char** argv) {
    if (argc < 2) return 2;
    if (strcmp(argv[1], "trace") == 0 && argc > 2) {
        Purges(strtol(argv[2], NULL, 10));
    } else if (strcmp(argv[1], "loop") == 0) {
        QORCAMFILTER_Alloc(2, 2, 0);
        for (;;)
            QORCAMFILTER_Purge();
    } else if (strcmp(argv[1], "hold") == 0) {
        struct sigaction sa;
        memset(&sa, 0, sizeof sa);
        sa.sa_handler = OnTerm;
        sigaction(SIGTERM, &sa, NULL);
        MarkReady();
        while (!g_stop)
            pause();
    } else if (strcmp(argv[1], "exclude") == 0 && argc > 2) {
        char* date = NULL;
        QORCAM_LogCommonAreaGet((uint32_t)getpid(), &date);
        printf("%s\n", date != NULL ? date : "(none)");
        fflush(stdout);
        Purges(strtol(argv[2], NULL, 10));
    } else if (strcmp(argv[1], "producers") == 0) {
        return Producers(argc > 2 && strcmp(argv[2], "free") == 0);
    } else {
        return 2;
    }
    return 0;
}
