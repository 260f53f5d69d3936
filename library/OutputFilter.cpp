// OutputFilter: COutputFilter, this process's ring of two 32-bit images published in named shared memory.
#include "OutputFilter.h"

#include <cstdio>
#include <cstring>

namespace qorcam::library {

namespace {

constexpr char kMutexBase[] = "QORCAMOutFilterMutex_Quillonmark";
constexpr char kEventBase[] = "QORCAMOutFilterEvent_Quillonmark";
constexpr char kControlBase[] = "QORCAMOutFilterFile_Quillonmark";
constexpr char kDataBase[] = "QORCAMOutFilterDataFile_Quillonmark";
constexpr std::uint64_t kPage = 4096;

struct Name {
    char text[256];
};

Name WithIdAndThree(const char* base, std::uint32_t processId) {
    Name n;
    std::snprintf(n.text, sizeof n.text, "%s_%d_%d", base, static_cast<int>(processId), 3);
    return n;
}

Name WithId(const char* base, std::uint32_t processId) {
    Name n;
    std::snprintf(n.text, sizeof n.text, "%s_%d", base, static_cast<int>(processId));
    return n;
}

} // namespace

COutputFilter::COutputFilter(std::uint32_t processId)
    : processId_(processId), mutex_(WithIdAndThree(kMutexBase, processId).text) {}

std::uint32_t COutputFilter::Alloc(std::uint32_t width, std::uint32_t height, std::uint32_t param) {
    if (!mutex_.IsValid()) return kError;
    os::NamedMutexLock lock(mutex_);
    if (!lock.owns()) return kError;

    auto event = std::make_unique<os::NamedEvent>(WithIdAndThree(kEventBase, processId_).text,
                                                  os::ResetMode::Auto, false);
    if (!event->IsValid()) return kError;
    auto control =
        std::make_unique<os::SharedMemory>(WithId(kControlBase, processId_).text, sizeof(OutFilterControl));
    if (!control->IsValid()) return kError;
    // Checked before anything is written, so a ring this process already has
    // keeps working untouched.
    if (control->AlreadyExisted()) return kExists;

    const std::uint64_t imageSize = std::uint64_t{width} * height * 4u;
    const std::uint64_t stride = (imageSize + kPage - 1) / kPage * kPage;
    if (imageSize == 0 || stride > 0xFFFFFFFFu) return kError;

    auto* block = static_cast<OutFilterControl*>(control->Data());
    block->writeIndex = 0;
    block->readIndex = 0;
    block->width = width;
    block->height = height;
    block->param = param;
    block->imageSize = static_cast<std::uint32_t>(imageSize);
    block->slotStride = static_cast<std::uint32_t>(stride);

    auto data = std::make_unique<os::SharedMemory>(WithId(kDataBase, processId_).text, 2 * stride);
    if (!data->IsValid()) return kError;

    event_ = std::move(event);
    controlArea_ = std::move(control);
    dataArea_ = std::move(data);
    control_ = block;
    data_ = static_cast<std::uint8_t*>(dataArea_->Data());
    imageSize_ = imageSize;
    slotStride_ = stride;
    std::memset(data_, 0, stride);
    pendingSlot_ = kNoSlot;
    return kSuccess;
}

std::uint32_t COutputFilter::ChooseSlot(bool& full) const {
    const std::uint32_t write = control_->writeIndex & 1u;
    const std::uint32_t read = control_->readIndex;
    std::uint32_t next = (write + 1) % 2;
    full = next == read;
    if (full) next = write;
    return next;
}

std::uint8_t* COutputFilter::SlotAddress(std::uint32_t slot) const {
    return data_ + slot * slotStride_;
}

std::uint32_t COutputFilter::OutPut(const void* image) {
    if (!HasRing() || image == nullptr) return kError;
    os::NamedMutexLock lock(mutex_);
    if (!lock.owns()) return kError;
    bool full = false;
    const std::uint32_t next = ChooseSlot(full);
    std::memcpy(SlotAddress(next), image, imageSize_);
    control_->writeIndex = next;
    pendingSlot_ = kNoSlot;
    event_->Set();
    return full ? kFull : kSuccess;
}

std::uint32_t COutputFilter::GetAddr(void** address) {
    if (!HasRing() || address == nullptr) return kError;
    os::NamedMutexLock lock(mutex_);
    if (!lock.owns()) return kError;
    bool full = false;
    const std::uint32_t next = ChooseSlot(full);
    pendingSlot_ = next;
    *address = SlotAddress(next);
    return full ? kFull : kSuccess;
}

std::uint32_t COutputFilter::Flush() {
    if (!HasRing()) return kError;
    if (pendingSlot_ == kNoSlot) return kNothing;
    os::NamedMutexLock lock(mutex_);
    if (!lock.owns()) return kError;
    control_->writeIndex = pendingSlot_;
    pendingSlot_ = kNoSlot;
    event_->Set();
    return kSuccess;
}

std::uint32_t COutputFilter::Purge() {
    if (!HasRing()) return kError;
    os::NamedMutexLock lock(mutex_);
    if (!lock.owns()) return kError;
    control_->readIndex = control_->writeIndex;
    event_->Set();
    return kSuccess;
}

std::uint32_t COutputFilter::Free() {
    if (!HasRing() || event_ == nullptr) return kError;
    os::NamedMutexLock lock(mutex_);
    if (!lock.owns()) return kError;
    ReleaseRing();
    return kSuccess;
}

void COutputFilter::ReleaseRing() {
    control_ = nullptr;
    data_ = nullptr;
    event_.reset();
    controlArea_.reset();
    dataArea_.reset();
    imageSize_ = 0;
    slotStride_ = 0;
    pendingSlot_ = kNoSlot;
}

void COutputFilter::Close() {
    ReleaseRing();
    mutex_.Close();
}

} // namespace qorcam::library
