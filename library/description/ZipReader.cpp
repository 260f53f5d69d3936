// ZipReader: minizip over a file or a memory block, with entry records in our own form.
#include "description/ZipReader.h"

#include <unzip.h>

#include <algorithm>
#include <cstring>
#include <ctime>
#include <memory>
#include <string>
#include <vector>

namespace qorcam::description {

namespace {

struct MemoryStream {
    const uint8_t* data;
    uint64_t size;
    uint64_t position;
};

voidpf ZCALLBACK MemOpen(voidpf opaque, const void*, int) {
    return opaque;
}

uLong ZCALLBACK MemRead(voidpf, voidpf stream, void* buffer, uLong size) {
    auto* m = static_cast<MemoryStream*>(stream);
    uint64_t left = m->position < m->size ? m->size - m->position : 0;
    uLong n = static_cast<uLong>(size < left ? size : left);
    std::memcpy(buffer, m->data + m->position, n);
    m->position += n;
    return n;
}

uLong ZCALLBACK MemWrite(voidpf, voidpf, const void*, uLong) {
    return 0;
}

ZPOS64_T ZCALLBACK MemTell(voidpf, voidpf stream) {
    return static_cast<MemoryStream*>(stream)->position;
}

long ZCALLBACK MemSeek(voidpf, voidpf stream, ZPOS64_T offset, int origin) {
    auto* m = static_cast<MemoryStream*>(stream);
    uint64_t base = origin == ZLIB_FILEFUNC_SEEK_SET   ? 0
                    : origin == ZLIB_FILEFUNC_SEEK_CUR ? m->position
                                                       : m->size;
    if (offset > m->size || base > m->size - offset) return -1;
    m->position = base + offset;
    return 0;
}

int ZCALLBACK MemClose(voidpf, voidpf) {
    return 0;
}
int ZCALLBACK MemError(voidpf, voidpf) {
    return 0;
}

uint64_t UnixToFileTime(int64_t seconds) {
    return static_cast<uint64_t>(seconds + 11644473600LL) * 10000000ULL;
}

uint64_t DosToFileTime(uLong dos) {
    std::tm t{};
    t.tm_year = static_cast<int>(((dos >> 25) & 0x7F) + 80);
    t.tm_mon = static_cast<int>(((dos >> 21) & 0x0F)) - 1;
    t.tm_mday = static_cast<int>((dos >> 16) & 0x1F);
    t.tm_hour = static_cast<int>((dos >> 11) & 0x1F);
    t.tm_min = static_cast<int>((dos >> 5) & 0x3F);
    t.tm_sec = static_cast<int>(2 * (dos & 0x1F));
    t.tm_isdst = -1;
    std::time_t seconds = std::mktime(&t);
    return seconds == static_cast<std::time_t>(-1) ? 0 : UnixToFileTime(seconds);
}

/// Reads the "UT" extended timestamp from an extra field; which of the three
/// times follow is given by its flag byte.
void ParseExtraTimes(const uint8_t* extra, size_t length, ZipEntryInfo& info) {
    size_t at = 0;
    while (at + 4 <= length) {
        unsigned id = extra[at] | (extra[at + 1] << 8);
        size_t size = extra[at + 2] | (extra[at + 3] << 8);
        if (at + 4 + size > length) return;
        if (id == 0x5455 && size >= 1) {
            const uint8_t* p = extra + at + 4;
            uint8_t flags = p[0];
            size_t off = 1;
            uint64_t* targets[3] = {&info.modificationTime, &info.accessTime, &info.creationTime};
            for (int bit = 0; bit < 3; ++bit) {
                if (!(flags & (1 << bit))) continue;
                if (off + 4 > size) break;
                int32_t t = static_cast<int32_t>(p[off] | (p[off + 1] << 8) | (p[off + 2] << 16) |
                                                 (static_cast<uint32_t>(p[off + 3]) << 24));
                *targets[bit] = UnixToFileTime(t);
                off += 4;
            }
        }
        at += 4 + size;
    }
}

int32_t ClampSize(ZPOS64_T size) {
    return size > 0x7FFFFFFF ? -1 : static_cast<int32_t>(size);
}

} // namespace

struct ZipReader {
    uint32_t mode = 0; // 1 while open for reading
    unzFile file = nullptr;
    std::unique_ptr<MemoryStream> memory;
    int32_t current = -1; // entry the reader stands on
    bool entryOpen = false;
    bool encrypted = false;
    int pending = -1; // a byte read ahead to learn whether the entry goes on
    int32_t cachedIndex = -2;
    ZipEntryInfo cached{};
};

void SanitiseEntryName(char* name) {
    std::string s = name;
    for (;;) {
        if (s.size() >= 2 && s[1] == ':')
            s.erase(0, 2);
        else if (!s.empty() && (s[0] == '/' || s[0] == '\\'))
            s.erase(0, 1);
        else
            break;
    }
    for (;;) {
        size_t cut = std::string::npos;
        for (const char* pattern : {"\\..\\", "\\../", "/../", "/..\\"}) {
            size_t at = s.find(pattern);
            if (at != std::string::npos && (cut == std::string::npos || at < cut)) cut = at;
        }
        if (cut == std::string::npos) break;
        s.erase(0, cut + 4);
    }
    std::memcpy(name, s.c_str(), s.size() + 1);
}

uint32_t OpenArchive(ZipReader** handle, const void* source, uint32_t length, uint32_t kind) {
    if (!handle || !source) return ZR_NO_ARCHIVE;
    if (*handle && (*handle)->mode == 1) return ZR_ALREADY_OPEN;
    *handle = nullptr;
    auto reader = std::make_unique<ZipReader>();
    if (kind == ZIP_SOURCE_MEMORY) {
        reader->memory =
            std::make_unique<MemoryStream>(MemoryStream{static_cast<const uint8_t*>(source), length, 0});
        zlib_filefunc64_def io{};
        io.zopen64_file = MemOpen;
        io.zread_file = MemRead;
        io.zwrite_file = MemWrite;
        io.ztell64_file = MemTell;
        io.zseek64_file = MemSeek;
        io.zclose_file = MemClose;
        io.zerror_file = MemError;
        io.opaque = reader->memory.get();
        reader->file = unzOpen2_64("memory", &io);
    } else if (kind == ZIP_SOURCE_FILE) {
        reader->file = unzOpen64(source);
    }
    if (!reader->file) return ZR_NO_ARCHIVE;
    reader->mode = 1;
    reader->current = 0;
    *handle = reader.release();
    return ZR_OK;
}

static void CloseEntry(ZipReader* r) {
    if (r->entryOpen) unzCloseCurrentFile(r->file);
    r->entryOpen = false;
    r->pending = -1;
}

/// Walks to the entry and opens it; codes as GetEntry's.
static uint32_t Position(ZipReader* r, int32_t index) {
    CloseEntry(r);
    if (index < r->current || r->current < 0) {
        if (unzGoToFirstFile(r->file) != UNZ_OK) return ZR_BAD_INDEX;
        r->current = 0;
    }
    while (r->current < index) {
        if (unzGoToNextFile(r->file) != UNZ_OK) return ZR_BAD_INDEX;
        ++r->current;
    }
    if (unzOpenCurrentFile(r->file) != UNZ_OK) return ZR_BAD_LOCAL_HEADER;
    r->entryOpen = true;
    return ZR_OK;
}

uint32_t GetEntry(ZipReader* r, int32_t index, ZipEntryInfo* info) {
    if (!r || !info) return ZR_BAD_INDEX;
    if (r->mode != 1) return ZR_WRONG_MODE;
    unz_global_info64 global{};
    if (unzGetGlobalInfo64(r->file, &global) != UNZ_OK) return ZR_BAD_INDEX;
    int64_t count = static_cast<int64_t>(global.number_entry);
    if (index == -1) {
        std::memset(info, 0, sizeof *info);
        info->index = static_cast<int32_t>(count > 0x7FFFFFFF ? 0x7FFFFFFF : count);
        return ZR_OK;
    }
    if (index < -1 || index >= count) return ZR_BAD_INDEX;
    if (index == r->cachedIndex) {
        *info = r->cached;
        return ZR_OK;
    }
    uint32_t code = Position(r, index);
    if (code != ZR_OK) return code;

    ZipEntryInfo entry{};
    entry.index = index;
    unz_file_info64 fi{};
    std::vector<uint8_t> extra(65536);
    if (unzGetCurrentFileInfo64(r->file, &fi, entry.name, sizeof entry.name - 1, extra.data(),
                                static_cast<uLong>(extra.size()), nullptr, 0) != UNZ_OK)
        return ZR_BAD_LOCAL_HEADER;
    entry.name[sizeof entry.name - 1] = '\0';
    SanitiseEntryName(entry.name);
    r->encrypted = (fi.flag & 1) != 0;
    entry.modificationTime = entry.accessTime = entry.creationTime = DosToFileTime(fi.dosDate);
    ParseExtraTimes(extra.data(), std::min<size_t>(fi.size_file_extra, extra.size()), entry);
    int localLength = unzGetLocalExtrafield(r->file, nullptr, 0);
    if (localLength < 0) return ZR_BAD_EXTRA_FIELD;
    if (localLength > 0) {
        std::vector<uint8_t> local(static_cast<size_t>(localLength));
        if (unzGetLocalExtrafield(r->file, local.data(), static_cast<unsigned>(localLength)) != localLength)
            return ZR_BAD_EXTRA_FIELD;
        ParseExtraTimes(local.data(), local.size(), entry);
    }
    unsigned host = static_cast<unsigned>(fi.version >> 8) & 0xFF;
    if (host == 0 || host == 7 || host == 11 || host == 14) {
        entry.attributes = static_cast<uint32_t>(fi.external_fa & 0x37);
    } else {
        entry.attributes = 32;
        if (fi.external_fa & (1u << 30)) entry.attributes |= 16;
        if (!(fi.external_fa & (1u << 23))) entry.attributes |= 1;
    }
    entry.compressedSize = ClampSize(fi.compressed_size);
    entry.uncompressedSize = ClampSize(fi.uncompressed_size);
    r->cached = entry;
    r->cachedIndex = index;
    *info = entry;
    return ZR_OK;
}

uint32_t ExtractEntry(ZipReader* r, void* buffer, uint32_t length, uint32_t* extracted) {
    if (extracted) *extracted = 0;
    if (!r) return ZR_BAD_INDEX;
    if (r->mode != 1) return ZR_WRONG_MODE;
    if (!r->entryOpen) {
        ZipEntryInfo info;
        r->cachedIndex = -2;
        uint32_t code = GetEntry(r, 0, &info);
        if (code != ZR_OK) return code;
    }
    if (r->encrypted) {
        // No password is ever given, so an encrypted entry cannot be read.
        CloseEntry(r);
        return ZR_PASSWORD;
    }
    if (length == 0 && r->pending >= 0) return ZR_MORE;
    uint32_t total = 0;
    if (r->pending >= 0 && length > 0) {
        static_cast<uint8_t*>(buffer)[0] = static_cast<uint8_t>(r->pending);
        r->pending = -1;
        total = 1;
    }
    while (total < length) {
        unsigned chunk = length - total > 0x40000000u ? 0x40000000u : length - total;
        int n = unzReadCurrentFile(r->file, static_cast<uint8_t*>(buffer) + total, chunk);
        if (n < 0) {
            CloseEntry(r);
            return ZR_READ_FAILED;
        }
        if (n == 0) break;
        total += static_cast<uint32_t>(n);
    }
    if (extracted) *extracted = total;
    if (!unzeof(r->file)) {
        // The buffer is full: a read of one more byte tells whether the entry ends here.
        uint8_t probe;
        int n = unzReadCurrentFile(r->file, &probe, 1);
        if (n < 0) {
            CloseEntry(r);
            return ZR_READ_FAILED;
        }
        if (n > 0) {
            r->pending = probe;
            return ZR_MORE;
        }
    }
    // The checksum is verified when the entry is closed at its end.
    if (r->pending >= 0) return ZR_MORE;
    int closed = unzCloseCurrentFile(r->file);
    r->entryOpen = false;
    return closed == UNZ_OK ? ZR_OK : ZR_READ_FAILED;
}

uint32_t CloseArchive(ZipReader* r) {
    if (!r) return ZR_BAD_INDEX;
    if (r->mode != 1) return ZR_WRONG_MODE;
    CloseEntry(r);
    unzClose(r->file);
    r->mode = 0;
    delete r;
    return ZR_OK;
}

} // namespace qorcam::description
