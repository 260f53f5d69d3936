// SharedMemory: a named memory area shared between processes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace qorcam::os {

/// A named area of shared memory, the same bytes in every process that opens
/// the same name under the same runtime root as the same user.
///
/// Named objects live as files under `<run>/user/<uid>/` (see Paths): this area is
/// `<run>/user/<uid>/<name>.mem`. Every user holds a shared lock on its file; the
/// user that closes last (or the next opener, when all earlier users died
/// without closing) removes or renews it, so an area lives exactly as long as
/// it has a user, as a page-file mapping does.
///
/// Guarantees: a new area reads as zeros and AlreadyExisted() is false; an
/// area that has a living user is opened with AlreadyExisted() true and the
/// content untouched; an existing area smaller than the size asked for fails
/// to open rather than exposing memory past its end. Names may hold any
/// characters (those a file name can't hold are escaped as %XX); an empty
/// name, a size of 0, or a name longer than 240 bytes once escaped fails.
class SharedMemory {
public:
    SharedMemory() = default;
    /// Creates the area or opens the existing one of that name.
    SharedMemory(std::string_view name, std::size_t size);
    ~SharedMemory();
    SharedMemory(SharedMemory&& other) noexcept;
    SharedMemory& operator=(SharedMemory&& other) noexcept;
    SharedMemory(const SharedMemory&) = delete;
    SharedMemory& operator=(const SharedMemory&) = delete;

    bool IsValid() const { return data_ != nullptr; }
    bool AlreadyExisted() const { return existed_; }
    /// errno of the failure when not valid.
    int Error() const { return error_; }

    void* Data() const { return data_; }
    std::size_t Size() const { return size_; }
    const std::string& Path() const { return path_; }

    /// Unmaps and closes; the last user removes the area.
    void Close();

private:
    void* data_ = nullptr;
    std::size_t size_ = 0;
    int fd_ = -1;
    bool existed_ = false;
    int error_ = 0;
    std::string path_;
};

} // namespace qorcam::os
