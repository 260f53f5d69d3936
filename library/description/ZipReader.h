// ZipReader: reads the entries of a zip archive held in a file or in memory.
#pragma once

#include <cstdint>

namespace qorcam::description {

/// One entry as the reader reports it. Times are FILETIME values (100 ns
/// units since 1601); sizes that do not fit 31 bits are reported as -1.
struct ZipEntryInfo {
    int32_t index;
    char name[260];
    uint32_t attributes;
    uint64_t accessTime;
    uint64_t creationTime;
    uint64_t modificationTime;
    int32_t compressedSize;
    int32_t uncompressedSize;
};

struct ZipReader;

/// Result codes of the reader.
enum : uint32_t {
    ZR_OK = 0,
    ZR_NO_ARCHIVE = 0x200,
    ZR_MORE = 0x600,
    ZR_BAD_LOCAL_HEADER = 0x700,
    ZR_BAD_EXTRA_FIELD = 0x800,
    ZR_PASSWORD = 0x1000,
    ZR_BAD_INDEX = 0x10000,
    ZR_WRONG_MODE = 0x80000,
    ZR_ALREADY_OPEN = 0x1000000,
    ZR_READ_FAILED = 0x5000000,
};

enum : uint32_t { ZIP_SOURCE_FILE = 2, ZIP_SOURCE_MEMORY = 3 };

/// Opens source as an archive: kind 2, a NUL-terminated file name (length
/// ignored); kind 3, a memory block of length bytes that must outlive the
/// reader. *handle must be null or a closed reader; on failure it stays null.
uint32_t OpenArchive(ZipReader** handle, const void* source, uint32_t length, uint32_t kind);
/// Fills info for entry index; index -1 reports the entry count as the index.
/// The entry's name has drive prefixes, leading slashes and everything up to
/// a "..", component removed.
uint32_t GetEntry(ZipReader* handle, int32_t index, ZipEntryInfo* info);
/// Reads up to length bytes of the open entry (entry 0 when none is open)
/// into buffer; *extracted receives the count. ZR_OK once the entry's end
/// (with a correct checksum) was reached, ZR_MORE when bytes remain.
uint32_t ExtractEntry(ZipReader* handle, void* buffer, uint32_t length, uint32_t* extracted);
uint32_t CloseArchive(ZipReader* handle);

/// The sanitised form of an entry name (exposed for tests).
void SanitiseEntryName(char* name);

} // namespace qorcam::description
