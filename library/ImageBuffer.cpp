// ImageBuffer: Image_Buffer, an image record of the library with its pixel memory.
#include "ImageBuffer.h"

#include <map>
#include <mutex>

namespace qorcam::library {

namespace {

// Not static objects: images the library frees at process exit still leave
// the table after those are gone. The lock is constant-initialized and never
// destroyed; the table is freed by the unload entry.
std::mutex g_liveLock;
std::map<const QORCAM_IMAGE*, Image_Buffer*>* g_live = nullptr;

std::mutex& LiveLock() {
    return g_liveLock;
}
std::map<const QORCAM_IMAGE*, Image_Buffer*>& Live() {
    if (g_live == nullptr) g_live = new std::map<const QORCAM_IMAGE*, Image_Buffer*>;
    return *g_live;
}

} // namespace

Image_Buffer::Image_Buffer(const QORCAM_IMAGE& record, std::uint32_t size, std::uint32_t offset)
    : image(record), bufferSize(size), infoOffset(offset),
      region_(devio::Region::Create(size == 0 ? 1 : size)) {
    if (!region_) memory_.reset(new std::uint8_t[size == 0 ? 1 : size]());
    image.pBuffer = region_ ? region_->Data() : memory_.get();
    std::lock_guard<std::mutex> guard(LiveLock());
    Live()[&image] = this;
}

Image_Buffer::~Image_Buffer() {
    std::lock_guard<std::mutex> guard(LiveLock());
    Live().erase(&image);
}

void Image_Buffer::FreeTable() {
    std::lock_guard<std::mutex> guard(LiveLock());
    delete g_live;
    g_live = nullptr;
}

Image_Buffer* Image_Buffer::Find(const QORCAM_IMAGE* image) {
    std::lock_guard<std::mutex> guard(LiveLock());
    const auto it = Live().find(image);
    return it == Live().end() ? nullptr : it->second;
}

} // namespace qorcam::library
