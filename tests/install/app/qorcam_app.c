/* A small application of the installed library: it prints the library's
 * revision, lists the cameras (which loads the GenTL producers) and names
 * the files the library and the producers were loaded from. */
#include <QorCam.h>

#include <stdio.h>
#include <string.h>

/* Prints every mapped file whose path holds one of the names; returns how
 * many of the names were found. */
static int PrintLoaded(const char* const* names, int count) {
    FILE* maps = fopen("/proc/self/maps", "r");
    char line[4096];
    int found[8] = {0};
    int total = 0;
    if (maps == NULL) return 0;
    while (fgets(line, sizeof line, maps) != NULL) {
        const char* path = strchr(line, '/');
        for (int i = 0; i < count && i < 8; ++i) {
            if (!found[i] && path != NULL && strstr(path, names[i]) != NULL) {
                found[i] = 1;
                ++total;
                printf("loaded: %s", path);
            }
        }
    }
    fclose(maps);
    return total;
}

int main(void) {
    static const char* const kModules[] = {"/libQorCam.so", "/QorGigEGenTL.cti", "/QorUSBGenTL.cti"};
    QORCAM_LIST list;
    memset(&list, 0, sizeof list);
    printf("library revision %u\n", (unsigned)QORCAM_GetLibraryRevision());
    if (!QORCAM_SetStructVersion(LIBRARY_STRUCT_VERSION)) {
        printf("struct version refused: %u\n", (unsigned)QORCAM_GetLastError());
        return 1;
    }
    if (!QORCAM_GetList(&list)) {
        printf("camera list failed: %u\n", (unsigned)QORCAM_GetLastError());
        return 1;
    }
    printf("cameras: %u\n", (unsigned)list.Count);
    const int loaded = PrintLoaded(kModules, 3);
    QORCAM_FreeLibrary();
    return loaded == 3 ? 0 : 2;
}
