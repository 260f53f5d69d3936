// Region: a block of shared memory that a client and a service both map.
#pragma once

#include <cstdint>
#include <memory>

namespace qorcam::devio {

/// Shared memory backed by an anonymous memory file (memfd), mapped
/// read-write in this process.
///
/// Guarantees: Data() stays valid and the mapping keeps its Size() for the
/// object's life; a region made by Create is sealed against shrinking and
/// growing, so a peer that maps it can never fault on a page that was cut
/// away; Adopt refuses a descriptor without those seals, so a client cannot
/// make the service fault either. The descriptor and the mapping are released
/// by the destructor; memory the peer still maps stays valid for the peer.
class Region {
public:
    /// Creates a zero-filled region of size bytes (1 or more). Null when the
    /// memory cannot be had.
    static std::unique_ptr<Region> Create(std::uint64_t size);

    /// Takes ownership of a received descriptor and maps it. Null (and the
    /// descriptor closed) when it is no sealed memory file, is empty, or
    /// cannot be mapped.
    static std::unique_ptr<Region> Adopt(int fd);

    ~Region();
    Region(const Region&) = delete;
    Region& operator=(const Region&) = delete;

    std::uint8_t* Data() const { return data_; }
    std::uint64_t Size() const { return size_; }
    /// The memory file's descriptor, to be sent to a service.
    int Fd() const { return fd_; }

private:
    Region(int fd, std::uint8_t* data, std::uint64_t size) : fd_(fd), data_(data), size_(size) {}

    int fd_;
    std::uint8_t* data_;
    std::uint64_t size_;
};

} // namespace qorcam::devio
