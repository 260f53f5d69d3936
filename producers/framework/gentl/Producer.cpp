// What each producer plugs into the framework (its transport), and the producer-wide identity and state.
#include "gentl/Producer.h"

#include "GenTL.h"
#include "gentl/CTLIError.h"

#include <dlfcn.h>
#include <mutex>

#ifndef QORCAM_VERSION_MAJOR
#define QORCAM_VERSION_MAJOR 0
#define QORCAM_VERSION_MINOR 0
#define QORCAM_VERSION_PATCH 0
#endif
#ifndef QORCAM_VERSION_TWEAK
#define QORCAM_VERSION_TWEAK 0
#endif

namespace GenICam::Client {
namespace {

std::mutex& InitLock() {
    static std::mutex lock;
    return lock;
}

uint32_t g_initCount = 0;

// An address that certainly lies in this producer's file: exported names may be interposed by another
// producer loaded into the same process, this one cannot.
void PathAnchor() {}

} // namespace

std::string GetProducerVendorName() {
    return GetTransport().VendorName();
}
std::string GetProducerModelName() {
    return GetTransport().ModelName();
}
std::string GetProducerTLType() {
    return GetTransport().TLType();
}
std::string GetProducerDisplayName() {
    return GetTransport().DisplayName();
}

std::string GetProducerPath() {
    Dl_info info{};
    if (dladdr(reinterpret_cast<void*>(&PathAnchor), &info) == 0 || !info.dli_fname) return std::string();
    return info.dli_fname;
}

uint64_t GetProducerVersion() {
    return (uint64_t(QORCAM_VERSION_MAJOR & 0xFFFF) << 48) | (uint64_t(QORCAM_VERSION_MINOR & 0xFFFF) << 32) |
           (uint64_t(QORCAM_VERSION_PATCH & 0xFFFF) << 16) | uint64_t(QORCAM_VERSION_TWEAK & 0xFFFF);
}

std::string FormatProducerVersion(uint64_t version) {
    return std::to_string((version >> 48) & 0xFFFF) + "." + std::to_string((version >> 32) & 0xFFFF) + "." +
           std::to_string((version >> 16) & 0xFFFF) + "." + std::to_string(version & 0xFFFF);
}

void ProducerInitLib() {
    std::lock_guard<std::mutex> guard(InitLock());
    if (g_initCount == 0) GetTransport().InitLib();
    ++g_initCount;
}

void ProducerCloseLib() {
    std::lock_guard<std::mutex> guard(InitLock());
    if (g_initCount == 0) return;
    if (--g_initCount == 0) {
        GetTransport().CloseLib();
        CTLIError::Clear();
    }
}

uint32_t ProducerInitCount() {
    std::lock_guard<std::mutex> guard(InitLock());
    return g_initCount;
}

} // namespace GenICam::Client
