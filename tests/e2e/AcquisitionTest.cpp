// Images from the camera emulator on the network rig, through libQorCam.so as an application loads it:
// the list, the open by number, stream resources, the image callback, the conversion to a bitmap, and a
// camera that goes away while it streams.
#include "CameraAcquisition.h"
#include "NetworkRig.h"

#include <gtest/gtest.h>

#include <csignal>
#include <set>
#include <sstream>
#include <thread>

namespace qorcam::testing {
namespace {

using namespace std::chrono_literals;
using sample::CameraAcquisition;

constexpr uint32_t kWidth = 320, kHeight = 240;

#define REQUIRE_RIG(rig)                                                                                     \
    if (!(rig).Available()) GTEST_SKIP() << "the acquisition test needs root and network namespaces: "      \
                                         << (rig).Reason()

rig::NetworkRig::Options CameraOptions() {
    rig::NetworkRig::Options o;
    o.driverManaged = false; // the host veth keeps its Linux address, which the service takes
    // The emulator answers between frames only: commands get time and resends.
    o.parameters = {{"CMDRETRY", 5}, {"CMDTIMEOUT", 300}};
    return o;
}

// Lists (a bounded number of times, discovery takes a moment) until a GigE camera shows up.
bool FindGigECamera(CameraAcquisition& acquisition, QORCAM_CAMERAINFO& found) {
    for (int attempt = 0; attempt < 15; ++attempt) {
        for (const auto& info : acquisition.List()) {
            if (info.CameraType == QORCAM_CTYPE_GIGE) {
                found = info;
                return true;
            }
        }
        std::this_thread::sleep_for(500ms);
    }
    return false;
}

// Opens the first listed GigE camera and sets it up for small Mono8 frames at 25 a second.
void OpenAndSetUp(CameraAcquisition& acquisition, QORCAM_CAMERAINFO& info) {
    ASSERT_TRUE(acquisition.Loaded()) << acquisition.Error();
    ASSERT_TRUE(acquisition.SetStructVersion(LIBRARY_STRUCT_VERSION)) << acquisition.Error();
    ASSERT_TRUE(FindGigECamera(acquisition, info)) << "no GigE camera listed; " << acquisition.Error();
    ASSERT_TRUE(acquisition.Open(info.UID)) << acquisition.Error();
    for (auto [address, value] : std::initializer_list<std::pair<uint32_t, uint32_t>>{
             {0x124, 0}, {0x100, kWidth}, {0x104, kHeight}, {0x128, 0x01080001}, {0x138, 40000}, {0x0D04, 1400}})
        ASSERT_TRUE(acquisition.WriteRegister(address, value)) << acquisition.Error();
}

std::string LibraryPath() {
    return rig::BinaryDir() + "/libQorCam.so";
}

TEST(Acquisition, StreamsTheEmulatorIntoCallbacksAndABitmap) {
    rig::NetworkRig rig(CameraOptions()); // sets QORCAM_ROOT before the library is loaded
    REQUIRE_RIG(rig);
    ASSERT_TRUE(rig.CameraRunning());
    CameraAcquisition acquisition(LibraryPath());
    QORCAM_CAMERAINFO info{};
    ASSERT_NO_FATAL_FAILURE(OpenAndSetUp(acquisition, info));

    ASSERT_TRUE(acquisition.Start(4)) << acquisition.Error();
    ASSERT_TRUE(acquisition.WaitFrames(6, 15s)) << acquisition.Error();
    const auto frames = acquisition.Frames();

    uint64_t lastBlock = 0;
    for (size_t n = 0; n < frames.size(); ++n) {
        const auto& f = frames[n];
        SCOPED_TRACE("frame " + std::to_string(n));
        EXPECT_EQ(f.length, kWidth * kHeight);
        EXPECT_EQ(f.width, kWidth);
        EXPECT_EQ(f.height, kHeight);
        ASSERT_TRUE(f.hasInfo);
        EXPECT_EQ(f.info.CType, static_cast<uint32_t>(QORCAM_CTYPE_GIGE));
        const auto& stream = f.info.Info.CGigE.StreamInfo;
        EXPECT_EQ(stream.SType, 1u) << "an image block";
        EXPECT_EQ(stream.Data.Image.Width, kWidth);
        EXPECT_EQ(stream.Data.Image.Height, kHeight);
        EXPECT_EQ(stream.Data.Image.Pixel_Type, 0x01080001u);
        // A copy: the record is packed, and the id lies off its 8-byte alignment.
        const uint64_t frameId = stream.Frame_ID;
        EXPECT_GT(frameId, lastBlock) << "block ids rise";
        lastBlock = frameId;
    }

    // The camera's conversion gives a 24-bit bottom-up bitmap of the frame, not one flat colour.
    sample::Bitmap bitmap;
    ASSERT_TRUE(acquisition.ToBitmap(frames[1], bitmap)) << acquisition.Error();
    const BITMAPINFOHEADER& header = bitmap.Header();
    EXPECT_EQ(header.biSize, 40u);
    EXPECT_EQ(header.biWidth, static_cast<int32_t>(kWidth));
    EXPECT_EQ(std::abs(header.biHeight), static_cast<int32_t>(kHeight));
    EXPECT_EQ(header.biPlanes, 1);
    EXPECT_EQ(header.biBitCount, 24);
    EXPECT_EQ(header.biCompression, static_cast<uint32_t>(BI_RGB));
    EXPECT_EQ(bitmap.bits.size(), size_t{kWidth} * 3 * kHeight);
    EXPECT_EQ(std::set<uint8_t>(bitmap.bits.begin(), bitmap.bits.end()).size() > 1, true)
        << "every pixel has one value";
    const auto file = sample::BmpFile(bitmap);
    ASSERT_GE(file.size(), 54u);
    EXPECT_EQ(file[0], 'B');
    EXPECT_EQ(file[1], 'M');
    EXPECT_EQ(file.size(), 14 + bitmap.info.size() + bitmap.bits.size());

    EXPECT_TRUE(acquisition.Finish()) << acquisition.Error();
}

TEST(Acquisition, ACameraThatGoesAwayWhileStreamingIsReported) {
    rig::NetworkRig rig(CameraOptions());
    REQUIRE_RIG(rig);
    CameraAcquisition acquisition(LibraryPath());
    QORCAM_CAMERAINFO info{};
    ASSERT_NO_FATAL_FAILURE(OpenAndSetUp(acquisition, info));
    ASSERT_TRUE(acquisition.Start(4)) << acquisition.Error();
    ASSERT_TRUE(acquisition.WaitFrames(2, 15s)) << acquisition.Error();

    // The emulator is the only process of the camera's namespace; the rig started it.
    std::string pids;
    ASSERT_EQ(rig.Run("ip netns pids " + rig.CameraNamespace(), &pids), 0);
    std::istringstream in(pids);
    for (int pid = 0; in >> pid;)
        ::kill(pid, SIGKILL);

    for (int wait = 0; wait < 30 && rig.CameraRunning(); ++wait)
        std::this_thread::sleep_for(100ms);
    ASSERT_FALSE(rig.CameraRunning()) << "emulator pids: " << pids;
    // Either a failed buffer (length 0) reaches the callback or the camera no longer counts as connected.
    bool failedBuffer = false, lost = false;
    for (auto until = std::chrono::steady_clock::now() + 20s;
         !failedBuffer && !lost && std::chrono::steady_clock::now() < until;) {
        for (const auto& f : acquisition.Frames())
            failedBuffer = failedBuffer || f.length == 0;
        lost = !acquisition.Connected();
        std::this_thread::sleep_for(200ms);
    }
    EXPECT_TRUE(failedBuffer || lost) << "neither a failed buffer nor a lost camera after the camera went away";
    acquisition.Finish();
}

TEST(Acquisition, ACameraThatDropsItsControlIsReportedLost) {
    rig::NetworkRig rig(CameraOptions());
    REQUIRE_RIG(rig);
    CameraAcquisition acquisition(LibraryPath());
    QORCAM_CAMERAINFO info{};
    ASSERT_NO_FATAL_FAILURE(OpenAndSetUp(acquisition, info));
    ASSERT_TRUE(acquisition.Connected()) << acquisition.Error();
    // The camera no longer grants this application control, while it still answers everything: the
    // heartbeat's next read of the privilege register shows it, and the camera counts as lost.
    ASSERT_TRUE(acquisition.WriteRegister(0x0A00, 0)) << acquisition.Error();
    bool lost = false;
    for (auto until = std::chrono::steady_clock::now() + 20s; !lost && std::chrono::steady_clock::now() < until;) {
        lost = !acquisition.Connected();
        std::this_thread::sleep_for(100ms);
    }
    EXPECT_TRUE(lost) << "the camera still counts as connected without control";
    acquisition.Finish();
}

} // namespace
} // namespace qorcam::testing
