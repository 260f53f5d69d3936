// ImageBuffer: Image_Buffer, an image record of the library with its pixel memory.
#pragma once

#include "QorCam.h"

#include "devio/Region.h"

#include <cstdint>
#include <memory>

namespace qorcam::library {

/// Root of the image records; only its destructor is virtual.
class Image_BufferBase {
public:
    Image_BufferBase() = default;
    virtual ~Image_BufferBase() = default;
    Image_BufferBase(const Image_BufferBase&) = delete;
    Image_BufferBase& operator=(const Image_BufferBase&) = delete;
};

/// An image of QORCAM_ImageAlloc: the record the application holds, the
/// buffer size and info offset it was made with, and its pixel memory (owned,
/// freed with it). The memory is a shared memory file where one can be had, so
/// that a producer can let its service write images into it in place. Find
/// tells a live record's address from any other pointer, so a record the
/// application made itself is refused.
class Image_Buffer : public Image_BufferBase {
public:
    /// Throws std::bad_alloc when the memory can't be had.
    Image_Buffer(const QORCAM_IMAGE& record, std::uint32_t bufferSize, std::uint32_t infoOffset);
    ~Image_Buffer() override;

    /// The live image whose public record is at `image`, or null.
    static Image_Buffer* Find(const QORCAM_IMAGE* image);
    /// Frees the table of live records; called last by the unload entry.
    static void FreeTable();

    /// The descriptor of the memory's file; -1 for plain memory.
    int MemoryFile() const { return region_ ? region_->Fd() : -1; }

    QORCAM_IMAGE image;
    const std::uint32_t bufferSize;
    const std::uint32_t infoOffset;

private:
    std::unique_ptr<devio::Region> region_;
    std::unique_ptr<std::uint8_t[]> memory_;
};

} // namespace qorcam::library
