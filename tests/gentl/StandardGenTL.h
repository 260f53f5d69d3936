// The GenTL declarations a consumer needs, written from the GenTL standard alone: types, the numbers of
// the commands used, and the functions, resolved by name from a producer file. Nothing here comes from
// the producers' own headers, so a producer that deviates from the standard fails these tests.
#pragma once

#include <dlfcn.h>

#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>

namespace qorcam::gentltest {

using GC_ERROR = int32_t;
using Handle = void*;
using bool8 = uint8_t;

constexpr GC_ERROR kSuccess = 0;
constexpr GC_ERROR kTimeout = -1011;
constexpr uint64_t kInfinite = 0xFFFFFFFFFFFFFFFFull;

// Device access flags.
constexpr int32_t kAccessControl = 3;
constexpr int32_t kAccessExclusive = 4;
// Event types.
constexpr int32_t kEventError = 0;
constexpr int32_t kEventNewBuffer = 1;
// Buffer info commands.
constexpr int32_t kBufferBase = 0;
constexpr int32_t kBufferSize = 1;
constexpr int32_t kBufferUserPtr = 2;
constexpr int32_t kBufferIsIncomplete = 7;
constexpr int32_t kBufferSizeFilled = 9;
constexpr int32_t kBufferFrameId = 16;
// Queue operations and stop flags.
constexpr int32_t kQueueAllDiscard = 4;
constexpr int32_t kQueueInputToOutput = 0;
constexpr int32_t kStopDefault = 0;
constexpr int32_t kStartDefault = 0;
// URL info commands.
constexpr int32_t kUrlInfoUrl = 0;

// What the new-buffer event delivers.
struct NewBufferData {
    Handle buffer;
    void* userPointer;
};

#define QORCAM_STANDARD_GENTL_FUNCTIONS(X)                                                                 \
    X(GCInitLib, (void))                                                                                   \
    X(GCCloseLib, (void))                                                                                  \
    X(GCGetLastError, (GC_ERROR*, char*, size_t*))                                                         \
    X(GCReadPort, (Handle, uint64_t, void*, size_t*))                                                      \
    X(GCWritePort, (Handle, uint64_t, const void*, size_t*))                                               \
    X(GCGetNumPortURLs, (Handle, uint32_t*))                                                               \
    X(GCGetPortURL, (Handle, char*, size_t*))                                                              \
    X(GCGetPortURLInfo, (Handle, uint32_t, int32_t, int32_t*, void*, size_t*))                             \
    X(GCRegisterEvent, (Handle, int32_t, Handle*))                                                         \
    X(GCUnregisterEvent, (Handle, int32_t))                                                                \
    X(EventGetData, (Handle, void*, size_t*, uint64_t))                                                    \
    X(TLOpen, (Handle*))                                                                                   \
    X(TLClose, (Handle))                                                                                   \
    X(TLUpdateInterfaceList, (Handle, bool8*, uint64_t))                                                   \
    X(TLGetNumInterfaces, (Handle, uint32_t*))                                                             \
    X(TLGetInterfaceID, (Handle, uint32_t, char*, size_t*))                                                \
    X(TLOpenInterface, (Handle, const char*, Handle*))                                                     \
    X(IFClose, (Handle))                                                                                   \
    X(IFUpdateDeviceList, (Handle, bool8*, uint64_t))                                                      \
    X(IFGetNumDevices, (Handle, uint32_t*))                                                                \
    X(IFGetDeviceID, (Handle, uint32_t, char*, size_t*))                                                   \
    X(IFOpenDevice, (Handle, const char*, int32_t, Handle*))                                               \
    X(DevGetPort, (Handle, Handle*))                                                                       \
    X(DevGetNumDataStreams, (Handle, uint32_t*))                                                           \
    X(DevGetDataStreamID, (Handle, uint32_t, char*, size_t*))                                              \
    X(DevOpenDataStream, (Handle, const char*, Handle*))                                                   \
    X(DevClose, (Handle))                                                                                  \
    X(DSAnnounceBuffer, (Handle, void*, size_t, void*, Handle*))                                           \
    X(DSAllocAndAnnounceBuffer, (Handle, size_t, void*, Handle*))                                          \
    X(DSRevokeBuffer, (Handle, Handle, void**, void**))                                                    \
    X(DSQueueBuffer, (Handle, Handle))                                                                     \
    X(DSFlushQueue, (Handle, int32_t))                                                                     \
    X(DSStartAcquisition, (Handle, int32_t, uint64_t))                                                     \
    X(DSStopAcquisition, (Handle, int32_t))                                                                \
    X(DSGetBufferInfo, (Handle, Handle, int32_t, int32_t*, void*, size_t*))                                \
    X(DSClose, (Handle))

// One producer file, loaded with dlopen; every function resolved by name.
class StandardProducer {
public:
#define QORCAM_DECLARE(name, args) GC_ERROR(*name) args = nullptr;
    QORCAM_STANDARD_GENTL_FUNCTIONS(QORCAM_DECLARE)
#undef QORCAM_DECLARE

    explicit StandardProducer(const std::string& path) {
        library_ = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
        if (!library_) throw std::runtime_error(std::string("dlopen: ") + dlerror());
#define QORCAM_RESOLVE(name, args)                                                                         \
    name = reinterpret_cast<decltype(name)>(dlsym(library_, #name));                                       \
    if (!name) throw std::runtime_error("missing " #name);
        QORCAM_STANDARD_GENTL_FUNCTIONS(QORCAM_RESOLVE)
#undef QORCAM_RESOLVE
    }
    ~StandardProducer() {
        if (library_) dlclose(library_);
    }
    StandardProducer(const StandardProducer&) = delete;
    StandardProducer& operator=(const StandardProducer&) = delete;

    std::string LastError() {
        GC_ERROR code = 0;
        char text[1024] = {};
        size_t size = sizeof text;
        GCGetLastError(&code, text, &size);
        return std::to_string(code) + " " + text;
    }

private:
    void* library_ = nullptr;
};

} // namespace qorcam::gentltest
