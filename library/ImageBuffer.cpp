// ImageBuffer: Image_Buffer, an image record of the library with its pixel memory.
#include "ImageBuffer.h"

#include <map>
#include <mutex>

namespace qorcam::library {

namespace {

// Never destroyed: images the library frees at process exit still leave the
// table after the static objects are gone.
std::mutex& LiveLock() {
    static std::mutex* const lock = new std::mutex;
    return *lock;
}
std::map<const QORCAM_IMAGE*, Image_Buffer*>& Live() {
    static auto* const live = new std::map<const QORCAM_IMAGE*, Image_Buffer*>;
    return *live;
}

} // namespace

Image_Buffer::Image_Buffer(const QORCAM_IMAGE& record, std::uint32_t size, std::uint32_t offset)
    : image(record), bufferSize(size), infoOffset(offset), memory_(new std::uint8_t[size == 0 ? 1 : size]()) {
    image.pBuffer = memory_.get();
    std::lock_guard<std::mutex> guard(LiveLock());
    Live()[&image] = this;
}

Image_Buffer::~Image_Buffer() {
    std::lock_guard<std::mutex> guard(LiveLock());
    Live().erase(&image);
}

Image_Buffer* Image_Buffer::Find(const QORCAM_IMAGE* image) {
    std::lock_guard<std::mutex> guard(LiveLock());
    const auto it = Live().find(image);
    return it == Live().end() ? nullptr : it->second;
}

} // namespace qorcam::library
