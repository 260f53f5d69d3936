// SharedMemory: a named object file mapped shared.
#include "os/SharedMemory.h"

#include "os/NamedObjectFile.h"

#include <cerrno>
#include <sys/mman.h>
#include <unistd.h>
#include <utility>

namespace qorcam::os {

SharedMemory::SharedMemory(std::string_view name, std::size_t size) {
    detail::NamedObjectFile file = detail::OpenNamedObject(name, ".mem", size, [](int) { return true; });
    if (file.fd < 0) {
        error_ = file.error;
        return;
    }
    void* data = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED, file.fd, 0);
    if (data == MAP_FAILED) {
        error_ = errno;
        detail::CloseNamedObject(file.fd, file.path);
        return;
    }
    data_ = data;
    size_ = size;
    fd_ = file.fd;
    existed_ = file.existed;
    path_ = std::move(file.path);
}

SharedMemory::~SharedMemory() {
    Close();
}

SharedMemory::SharedMemory(SharedMemory&& other) noexcept {
    *this = std::move(other);
}

SharedMemory& SharedMemory::operator=(SharedMemory&& other) noexcept {
    if (this != &other) {
        Close();
        data_ = std::exchange(other.data_, nullptr);
        size_ = std::exchange(other.size_, 0);
        fd_ = std::exchange(other.fd_, -1);
        existed_ = std::exchange(other.existed_, false);
        error_ = std::exchange(other.error_, 0);
        path_ = std::move(other.path_);
        other.path_.clear();
    }
    return *this;
}

void SharedMemory::Close() {
    if (data_ != nullptr) munmap(data_, size_);
    data_ = nullptr;
    size_ = 0;
    if (fd_ >= 0) detail::CloseNamedObject(fd_, path_);
    fd_ = -1;
    existed_ = false;
}

} // namespace qorcam::os
