// LibraryIdentity: the library's revision and build date, and the hand-over of the excluded process.
#include "LibraryIdentity.h"

#include "os/DynamicLibrary.h"

#include <cstring>

namespace qorcam::tracelog {

std::optional<LibraryIdentity> LoadLibraryIdentity(const std::string& libraryName, std::uint32_t processId) {
    os::DynamicLibrary library;
    if (!library.Open(libraryName)) return std::nullopt;
    auto revisionGet = library.Function<std::uint32_t (*)()>("QORCAM_GetLibraryRevision");
    auto commonAreaGet = library.Function<void (*)(std::uint32_t, char**)>("QORCAM_LogCommonAreaGet");
    if (revisionGet == nullptr || commonAreaGet == nullptr) return std::nullopt;

    LibraryIdentity id;
    const std::uint32_t r = revisionGet();
    id.major = r / 10000;
    id.minor = r % 10000 / 100;
    id.patch = r % 100;
    char* date = nullptr;
    commonAreaGet(processId, &date);
    // The date lives in memory every process can write; take at most the
    // eleven characters it is made of.
    if (date != nullptr) id.buildDate.assign(date, strnlen(date, 11));
    return id;
}

} // namespace qorcam::tracelog
