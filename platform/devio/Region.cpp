// Region: memfd-backed shared memory, sealed so that no peer can cut it under the other.
#include "devio/Region.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace qorcam::devio {
namespace {

constexpr int kRequiredSeals = F_SEAL_SHRINK | F_SEAL_GROW | F_SEAL_SEAL;

std::uint8_t* MapShared(int fd, std::uint64_t size) {
    void* data = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    return data == MAP_FAILED ? nullptr : static_cast<std::uint8_t*>(data);
}

} // namespace

std::unique_ptr<Region> Region::Create(std::uint64_t size) {
    if (size == 0 || size > static_cast<std::uint64_t>(PTRDIFF_MAX)) return nullptr;
    const int fd = memfd_create("qorcam-region", MFD_CLOEXEC | MFD_ALLOW_SEALING);
    if (fd < 0) return nullptr;
    if (ftruncate(fd, static_cast<off_t>(size)) != 0 || fcntl(fd, F_ADD_SEALS, kRequiredSeals) != 0) {
        close(fd);
        return nullptr;
    }
    std::uint8_t* data = MapShared(fd, size);
    if (data == nullptr) {
        close(fd);
        return nullptr;
    }
    return std::unique_ptr<Region>(new Region(fd, data, size));
}

std::unique_ptr<Region> Region::Adopt(int fd) {
    if (fd < 0) return nullptr;
    // The size comes from the file itself, never from the peer's word; the
    // seals make sure it stays so while we write into it.
    struct stat st {};
    const int seals = fcntl(fd, F_GET_SEALS);
    if (seals < 0 || (seals & (F_SEAL_SHRINK | F_SEAL_GROW)) != (F_SEAL_SHRINK | F_SEAL_GROW) ||
        fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_size <= 0) {
        close(fd);
        return nullptr;
    }
    const auto size = static_cast<std::uint64_t>(st.st_size);
    std::uint8_t* data = MapShared(fd, size);
    if (data == nullptr) {
        close(fd);
        return nullptr;
    }
    return std::unique_ptr<Region>(new Region(fd, data, size));
}

Region::~Region() {
    munmap(data_, size_);
    close(fd_);
}

} // namespace qorcam::devio
