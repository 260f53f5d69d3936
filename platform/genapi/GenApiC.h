/* GenApiC: a flat C interface over the node map, for callers that cannot use C++ (the .NET binding). */
#ifndef QORCAM_GENAPI_C_H
#define QORCAM_GENAPI_C_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* A node map: either opened here from a description, or the library's own
   (the pointer QORCAM_GetNodeMap hands out), which must not be closed here. */
typedef void* QGA_NODEMAP;
/* A node of a map; valid while its map lives. */
typedef void* QGA_NODE;

/* Results. Every function returns one; the text of the last failure of the
   calling thread is kept for QgaGetLastError. No function throws. */
enum {
    QGA_OK = 0,
    QGA_ERR_ARGUMENT = 1,     /* null pointer or bad argument */
    QGA_ERR_BUFFER_SHORT = 2, /* text truncated; *size holds the size needed */
    QGA_ERR_NOT_FOUND = 3,    /* no node of that name, or index out of range */
    QGA_ERR_WRONG_KIND = 4,   /* the node has no such interface */
    QGA_ERR_ACCESS = 5,       /* access mode forbids it */
    QGA_ERR_RANGE = 6,        /* value outside the node's limits or entries */
    QGA_ERR_RUNTIME = 7,      /* the port failed, a formula failed */
    QGA_ERR_LOGICAL = 8       /* malformed description, loop, missing node */
};

/* Which text QgaGetText returns. */
enum {
    QGA_TEXT_NAME = 0,
    QGA_TEXT_DISPLAYNAME = 1,
    QGA_TEXT_DESCRIPTION = 2,
    QGA_TEXT_TOOLTIP = 3,
    QGA_TEXT_UNIT = 4,
    QGA_TEXT_NAMESPACE = 5,
    QGA_TEXT_SYMBOLIC = 6 /* enumeration entries */
};

/* Port callbacks for a map opened here: return 0 on success, non-zero on failure. */
typedef int (*QGA_READ_FN)(void* context, uint64_t address, void* buffer, uint64_t length);
typedef int (*QGA_WRITE_FN)(void* context, uint64_t address, const void* buffer, uint64_t length);

int QgaOpenXml(const char* xml, const char* addon, QGA_NODEMAP* map);
int QgaOpenFile(const char* path, QGA_NODEMAP* map);
/* Closes a map opened by QgaOpenXml or QgaOpenFile (and its port). */
int QgaClose(QGA_NODEMAP map);
/* Connects callbacks as the port of that name; readOnly makes every node at most RO. */
int QgaConnect(QGA_NODEMAP map, const char* portName, QGA_READ_FN read, QGA_WRITE_FN write, void* context,
               int readOnly);
int QgaPoll(QGA_NODEMAP map, int64_t elapsedMs);

int QgaGetNode(QGA_NODEMAP map, const char* name, QGA_NODE* node);
int QgaGetNodeCount(QGA_NODEMAP map, uint32_t* count);
int QgaGetNodeByIndex(QGA_NODEMAP map, uint32_t index, QGA_NODE* node);

/* Texts: on input *size is the buffer's capacity; on return the size the
   whole text needs, NUL included. A short buffer gets the text cut at
   capacity - 1 and QGA_ERR_BUFFER_SHORT. */
int QgaGetText(QGA_NODE node, int which, char* buffer, size_t* size);
int QgaGetInterfaceType(QGA_NODE node, int32_t* type);
int QgaGetAccessMode(QGA_NODE node, int32_t* mode);
int QgaGetVisibility(QGA_NODE node, int32_t* visibility);
int QgaGetRepresentation(QGA_NODE node, int32_t* representation);
int QgaGetPollingTime(QGA_NODE node, int64_t* ms);
int QgaIsCachable(QGA_NODE node, int32_t* cachable);
int QgaIsStreamable(QGA_NODE node, int32_t* streamable);

/* Integer, and the entry value of an enumeration, and (truncated) a float. */
int QgaGetInt(QGA_NODE node, int64_t* value);
int QgaSetInt(QGA_NODE node, int64_t value);
int QgaGetIntRange(QGA_NODE node, int64_t* min, int64_t* max, int64_t* inc);
int QgaGetFloat(QGA_NODE node, double* value);
int QgaSetFloat(QGA_NODE node, double value);
int QgaGetFloatRange(QGA_NODE node, double* min, double* max, int32_t* hasInc, double* inc);
int QgaGetBool(QGA_NODE node, int32_t* value);
int QgaSetBool(QGA_NODE node, int32_t value);
/* String value, or the symbolic name of an enumeration's current entry. */
int QgaGetString(QGA_NODE node, char* buffer, size_t* size);
int QgaSetString(QGA_NODE node, const char* value);
int QgaGetStringMaxLength(QGA_NODE node, int64_t* length);
int QgaExecute(QGA_NODE node);
int QgaIsDone(QGA_NODE node, int32_t* done);
int QgaGetRegisterInfo(QGA_NODE node, int64_t* address, int64_t* length);
int QgaGetRegister(QGA_NODE node, uint8_t* buffer, int64_t length);
int QgaSetRegister(QGA_NODE node, const uint8_t* buffer, int64_t length);

int QgaGetEnumEntryCount(QGA_NODE enumeration, uint32_t* count);
int QgaGetEnumEntry(QGA_NODE enumeration, uint32_t index, QGA_NODE* entry);
int QgaGetEnumEntryValue(QGA_NODE entry, int64_t* value);

int QgaGetFeatureCount(QGA_NODE category, uint32_t* count);
int QgaGetFeature(QGA_NODE category, uint32_t index, QGA_NODE* feature);

/* The calling thread's last failure text, same size rules as QgaGetText. */
int QgaGetLastError(char* buffer, size_t* size);

#ifdef __cplusplus
}
#endif

#endif
