// OutputFilterTest: the two-slot image ring: sizes, slot choice, reservations, lifetime and bad input.
#include "OutputFilter.h"
#include "TempRoot.h"

#include "os/SharedMemory.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using qorcam::library::COutputFilter;
using qorcam::library::OutFilterControl;

namespace {

constexpr std::uint32_t kPid = 4242;

class OutputFilterTest : public ::testing::Test {
protected:
    // What a consumer opens by name.
    OutFilterControl* Control() {
        if (!consumerControl_.IsValid()) {
            consumerControl_ =
                qorcam::os::SharedMemory("QORCAMOutFilterFile_Quillonmark_4242", sizeof(OutFilterControl));
        }
        return static_cast<OutFilterControl*>(consumerControl_.Data());
    }

    qorcam::testing::TempRoot root_;
    COutputFilter filter_{kPid};
    qorcam::os::SharedMemory consumerControl_;
};

TEST_F(OutputFilterTest, ControlBlockDescribesTheRing) {
    struct Case {
        std::uint32_t width, height, imageSize, stride;
    };
    for (const Case c : {Case{640, 480, 1228800, 1228800}, Case{641, 480, 1230720, 1232896}}) {
        COutputFilter filter(kPid + c.width);
        ASSERT_EQ(filter.Alloc(c.width, c.height, 77), COutputFilter::kSuccess);
        qorcam::os::SharedMemory control("QORCAMOutFilterFile_Quillonmark_" + std::to_string(kPid + c.width),
                                         28);
        const auto* block = static_cast<const OutFilterControl*>(control.Data());
        EXPECT_EQ(block->width, c.width);
        EXPECT_EQ(block->param, 77u);
        EXPECT_EQ(block->imageSize, c.imageSize);
        EXPECT_EQ(block->slotStride, c.stride);
        qorcam::os::SharedMemory data("QORCAMOutFilterDataFile_Quillonmark_" + std::to_string(kPid + c.width),
                                      2u * c.stride);
        EXPECT_TRUE(data.IsValid());
        EXPECT_EQ(filter.Free(), COutputFilter::kSuccess);
    }
}

TEST_F(OutputFilterTest, EveryCallButAllocNeedsARing) {
    void* address = nullptr;
    std::uint32_t pixel = 0;
    EXPECT_EQ(filter_.OutPut(&pixel), COutputFilter::kError);
    EXPECT_EQ(filter_.GetAddr(&address), COutputFilter::kError);
    EXPECT_EQ(filter_.Flush(), COutputFilter::kError);
    EXPECT_EQ(filter_.Purge(), COutputFilter::kError);
    EXPECT_EQ(filter_.Free(), COutputFilter::kError);
}

TEST_F(OutputFilterTest, WithoutAConsumerTheNewestSlotIsOverwritten) {
    ASSERT_EQ(filter_.Alloc(2, 2, 0), COutputFilter::kSuccess);
    std::vector<std::uint32_t> image(4, 0x11111111);
    EXPECT_EQ(filter_.OutPut(image.data()), COutputFilter::kSuccess);
    EXPECT_EQ(Control()->writeIndex, 1u);
    image.assign(4, 0x22222222);
    EXPECT_EQ(filter_.OutPut(image.data()), COutputFilter::kFull);
    image.assign(4, 0x33333333);
    EXPECT_EQ(filter_.OutPut(image.data()), COutputFilter::kFull);
    EXPECT_EQ(Control()->writeIndex, 1u);

    qorcam::os::SharedMemory data("QORCAMOutFilterDataFile_Quillonmark_4242", 2 * 4096);
    const auto* slots = static_cast<const std::uint32_t*>(data.Data());
    EXPECT_EQ(slots[1024], 0x33333333u) << "slot 1 holds the newest image";
    EXPECT_EQ(slots[0], 0u) << "slot 0 was zeroed and never written";

    // A consumer that took slot 1 frees slot 0 again.
    Control()->readIndex = 1;
    EXPECT_EQ(filter_.OutPut(image.data()), COutputFilter::kSuccess);
    EXPECT_EQ(Control()->writeIndex, 0u);
}

TEST_F(OutputFilterTest, FlushPublishesOnlyAStandingReservation) {
    ASSERT_EQ(filter_.Alloc(2, 2, 0), COutputFilter::kSuccess);
    EXPECT_EQ(filter_.Flush(), COutputFilter::kNothing);

    void* address = nullptr;
    ASSERT_EQ(filter_.GetAddr(&address), COutputFilter::kSuccess);
    ASSERT_NE(address, nullptr);
    EXPECT_EQ(Control()->writeIndex, 0u) << "reserving changes no index";
    EXPECT_EQ(filter_.Flush(), COutputFilter::kSuccess);
    EXPECT_EQ(Control()->writeIndex, 1u);

    ASSERT_NE(filter_.GetAddr(&address), COutputFilter::kError);
    std::uint32_t image[4] = {};
    filter_.OutPut(image);
    EXPECT_EQ(filter_.Flush(), COutputFilter::kNothing) << "an OutPut cancels the reservation";
}

TEST_F(OutputFilterTest, SecondAllocKeepsTheFirstRingAndFreeAllowsANewOne) {
    ASSERT_EQ(filter_.Alloc(2, 2, 0), COutputFilter::kSuccess);
    EXPECT_EQ(filter_.Alloc(8, 8, 0), COutputFilter::kExists);
    EXPECT_EQ(Control()->width, 2u);
    std::uint32_t image[4] = {};
    EXPECT_EQ(filter_.OutPut(image), COutputFilter::kSuccess);
    EXPECT_EQ(filter_.Purge(), COutputFilter::kSuccess);
    EXPECT_EQ(Control()->readIndex, Control()->writeIndex);

    consumerControl_.Close();
    EXPECT_EQ(filter_.Free(), COutputFilter::kSuccess);
    EXPECT_EQ(filter_.Free(), COutputFilter::kError);
    EXPECT_EQ(filter_.Alloc(4, 4, 0), COutputFilter::kSuccess);
}

TEST_F(OutputFilterTest, UnsafeInputFailsInsteadOfCorruptingMemory) {
    EXPECT_EQ(filter_.Alloc(65536, 65536, 0), COutputFilter::kError) << "image size past 32 bits";
    EXPECT_EQ(filter_.Alloc(0, 480, 0), COutputFilter::kError) << "empty image";
    ASSERT_EQ(filter_.Alloc(2, 2, 0), COutputFilter::kSuccess);
    EXPECT_EQ(filter_.OutPut(nullptr), COutputFilter::kError);
    EXPECT_EQ(filter_.GetAddr(nullptr), COutputFilter::kError);

    // A consumer scribbling on the indexes can't send a copy past the ring.
    Control()->writeIndex = 7;
    Control()->readIndex = 0;
    std::uint32_t image[4] = {1, 2, 3, 4};
    EXPECT_EQ(filter_.OutPut(image), COutputFilter::kFull);
    EXPECT_LE(Control()->writeIndex, 1u);
}

} // namespace
