// OutputFilter: COutputFilter, this process's ring of two 32-bit images published in named shared memory.
#pragma once

#include "os/NamedEvent.h"
#include "os/NamedMutex.h"
#include "os/SharedMemory.h"

#include <cstdint>
#include <memory>

namespace qorcam::library {

/// The control block that consumers read (28 bytes, all u32).
struct OutFilterControl {
    std::uint32_t writeIndex; // slot holding the newest image
    std::uint32_t readIndex;  // slot the consumer has taken
    std::uint32_t width;
    std::uint32_t height;
    std::uint32_t param;
    std::uint32_t imageSize;  // width * height * 4
    std::uint32_t slotStride; // image size rounded up to 4096
};
static_assert(sizeof(OutFilterControl) == 28);

/// The writer's side of the output filter. Results are the QORCAMFILTER_
/// codes: 0 success, 1 nothing pending, 2 failure or no ring, 3 ring already
/// exists, 0xFFFFFFFF ring full (the newest slot is used again).
///
/// Guarantees: every index change and every copy into a slot happens under
/// the per-process filter mutex (recovered when a holder died); the sizes
/// used for copying and mapping are this process's own, computed in 64 bits,
/// and a ring whose image or slot size would not fit the control block's
/// 32-bit fields is refused; slot numbers read back from the shared control
/// block, which consumers may write, are reduced to 0 or 1 before use.
class COutputFilter {
public:
    static constexpr std::uint32_t kSuccess = 0;
    static constexpr std::uint32_t kNothing = 1;
    static constexpr std::uint32_t kError = 2;
    static constexpr std::uint32_t kExists = 3;
    static constexpr std::uint32_t kFull = 0xFFFFFFFFu;

    /// Creates the filter mutex (process attach).
    explicit COutputFilter(std::uint32_t processId);

    std::uint32_t Alloc(std::uint32_t width, std::uint32_t height, std::uint32_t param);
    std::uint32_t OutPut(const void* image);
    std::uint32_t GetAddr(void** address);
    std::uint32_t Flush();
    std::uint32_t Purge();
    std::uint32_t Free();

    /// Closes the ring's objects, then the mutex (process detach).
    void Close();

private:
    static constexpr std::uint32_t kNoSlot = 0xFFFFFFFFu;

    bool HasRing() const { return mutex_.IsValid() && control_ != nullptr && data_ != nullptr; }
    /// The slot the next image goes to, and whether the ring was full.
    std::uint32_t ChooseSlot(bool& full) const;
    std::uint8_t* SlotAddress(std::uint32_t slot) const;
    void ReleaseRing();

    std::uint32_t processId_;
    os::NamedMutex mutex_;
    std::unique_ptr<os::NamedEvent> event_;
    std::unique_ptr<os::SharedMemory> controlArea_;
    std::unique_ptr<os::SharedMemory> dataArea_;
    OutFilterControl* control_ = nullptr;
    std::uint8_t* data_ = nullptr;
    std::uint64_t imageSize_ = 0;
    std::uint64_t slotStride_ = 0;
    std::uint32_t pendingSlot_ = kNoSlot;
};

} // namespace qorcam::library
