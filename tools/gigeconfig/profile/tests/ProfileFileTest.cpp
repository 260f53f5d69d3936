// The profile file: its lock, whole-file reads and writes, and each tool's record edits.
#include "ProfileFile.h"

#include "TempRoot.h"
#include "os/NamedMutex.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <thread>
#include <unistd.h>

namespace qorcam::gigeconfig {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

constexpr MacAddress kAdapterA{0x02, 0, 0, 0, 0, 0x0A};
constexpr MacAddress kAdapterB{0x02, 0, 0, 0, 0, 0x0B};
constexpr MacAddress kCamera1{0x00, 0x0C, 0xDF, 0, 0, 1};
constexpr MacAddress kCamera2{0x00, 0x0C, 0xDF, 0, 0, 2};

uint32_t Ip(uint8_t a, uint8_t b, uint8_t c, uint8_t d) {
    return a | b << 8 | c << 16 | static_cast<uint32_t>(d) << 24;
}

class ProfileFileTest : public ::testing::Test {
protected:
    test::TempRoot temp_{"profile"};
    const fs::path& root_ = temp_.Path();
};

TEST_F(ProfileFileTest, PathIsUnderTheDataFolderAndOnlyTheDriverSelectToolMakesIt) {
    const std::string path = CProfileFile::ProfilePath(false);
    EXPECT_EQ(path, root_.string() + "/data/Korvashdrevali/QorCam/QORGIGEDRVPROF.dat");
    EXPECT_FALSE(fs::exists(root_ / "data/Korvashdrevali"));
    EXPECT_EQ(CProfileFile::ProfilePath(true), path);
    EXPECT_TRUE(fs::is_directory(root_ / "data/Korvashdrevali/QorCam"));
}

TEST_F(ProfileFileTest, RoundTripKeepsRecordsInOrderAndIgnoresAPartialTail) {
    CProfileFile file(CProfileFile::ProfilePath(true));
    EXPECT_TRUE(file.Read().empty()); // no file at all

    const ProfileRecords records = {
        MakeProfileRecord(kAdapterA, {}, Ip(192, 168, 1, 1), Ip(255, 255, 255, 0)),
        MakeProfileRecord(kAdapterA, kCamera1, Ip(192, 168, 1, 10), Ip(255, 255, 255, 0))};
    ASSERT_TRUE(file.Write(records));
    EXPECT_EQ(fs::file_size(file.Path()), 40u);
    EXPECT_FALSE(fs::exists(file.Path() + ".tmp"));
    {
        // The address is kept as it stands on the wire: 192.168.1.10 is C0 A8 01 0A at offset 12.
        std::ifstream in(file.Path(), std::ios::binary);
        std::vector<unsigned char> bytes((std::istreambuf_iterator<char>(in)), {});
        EXPECT_EQ(std::vector<unsigned char>(bytes.begin() + 32, bytes.begin() + 36),
                  (std::vector<unsigned char>{0xC0, 0xA8, 0x01, 0x0A}));
    }
    {
        std::ofstream out(file.Path(), std::ios::binary | std::ios::app);
        out.write("partial", 7);
    }
    const ProfileRecords back = file.Read();
    ASSERT_EQ(back.size(), 2u);
    EXPECT_EQ(std::memcmp(back.data(), records.data(), 40), 0);

    // An empty set gives an empty file; the driver select tool deletes it instead.
    ASSERT_TRUE(file.Write({}));
    EXPECT_EQ(fs::file_size(file.Path()), 0u);
    ASSERT_TRUE(file.WriteOrDelete({}));
    EXPECT_FALSE(fs::exists(file.Path()));
    EXPECT_TRUE(file.Delete()); // deleting a missing file is no error
}

TEST_F(ProfileFileTest, WriteWaitsForTheLockAndAnUnwritableFileStaysAsItWas) {
    CProfileFile file(CProfileFile::ProfilePath(true));
    os::NamedMutex mutex(kProfileMutexName);
    ASSERT_TRUE(os::Owns(mutex.Lock()));
    std::atomic<bool> written{false};
    std::thread writer([&] {
        file.Write({MakeProfileRecord(kAdapterA, {}, 0, 0)});
        written = true;
    });
    std::this_thread::sleep_for(200ms);
    EXPECT_FALSE(written.load()) << "the file was written while another holder had the lock";
    EXPECT_FALSE(fs::exists(file.Path()));
    mutex.Unlock();
    writer.join();
    EXPECT_TRUE(written.load());
    EXPECT_EQ(file.Read().size(), 1u);

    if (geteuid() != 0) { // root writes into read-only folders anyway
        fs::permissions(fs::path(file.Path()).parent_path(), fs::perms::owner_read | fs::perms::owner_exec);
        EXPECT_FALSE(file.Write({}));
        fs::permissions(fs::path(file.Path()).parent_path(), fs::perms::owner_all);
        EXPECT_EQ(file.Read().size(), 1u);
    }
}

TEST_F(ProfileFileTest, AdapterLookupAndUpdateTouchOnlyTheFirstRecordOfAnAdapter) {
    CProfileFile file(CProfileFile::ProfilePath(true));
    EXPECT_TRUE(file.ReadProfileNicEntry(kAdapterA)); // no file: automatic
    file.UpdateProfileNicEntries({{kAdapterA, false, Ip(10, 0, 0, 1), Ip(255, 0, 0, 0)}});
    EXPECT_FALSE(fs::exists(file.Path())) << "the adapter update must not create the file";

    ASSERT_TRUE(file.Write({MakeProfileRecord(kAdapterB, kCamera1, Ip(10, 0, 0, 5), Ip(255, 0, 0, 0)),
                            MakeProfileRecord(kAdapterA, {}, 0, 0),
                            MakeProfileRecord(kAdapterA, {}, Ip(10, 0, 0, 1), Ip(255, 0, 0, 0))}));
    EXPECT_TRUE(file.ReadProfileNicEntry(kAdapterA)); // the first adapter record decides
    EXPECT_TRUE(file.ReadProfileNicEntry(kAdapterB)); // a camera record is not the adapter's

    file.UpdateProfileNicEntries({{kAdapterA, false, Ip(192, 168, 5, 1), Ip(255, 255, 255, 0)},
                                  {kAdapterB, false, Ip(172, 16, 0, 1), Ip(255, 255, 0, 0)}});
    ProfileRecords r = file.Read();
    ASSERT_EQ(r.size(), 3u);
    EXPECT_EQ(r[0].ip, Ip(10, 0, 0, 5));
    EXPECT_EQ(r[1].ip, Ip(192, 168, 5, 1));
    EXPECT_EQ(r[1].mask, Ip(255, 255, 255, 0));
    EXPECT_EQ(r[2].ip, Ip(10, 0, 0, 1)); // the second record of the adapter is not patched
    EXPECT_FALSE(file.ReadProfileNicEntry(kAdapterA));

    file.UpdateProfileNicEntries({{kAdapterA, true, Ip(192, 168, 5, 1), Ip(255, 255, 255, 0)}});
    r = file.Read();
    EXPECT_EQ(r[1].ip, 0u);
    EXPECT_EQ(r[1].mask, 0u);
}

TEST(ProfileRecords, CameraRecordMovesWithItsCamera) {
    ProfileRecords r = {MakeProfileRecord(kAdapterA, {}, 0, 0),
                        MakeProfileRecord(kAdapterA, kCamera1, Ip(192, 168, 0, 7), Ip(255, 255, 255, 0)),
                        MakeProfileRecord(kAdapterB, kCamera2, Ip(192, 168, 1, 7), Ip(255, 255, 255, 0))};
    // Moved behind adapter B: the old record goes, the new one is appended.
    SetCameraRecord(r, kAdapterB, kCamera1, true, Ip(192, 168, 1, 8), Ip(255, 255, 255, 0));
    ASSERT_EQ(r.size(), 3u);
    EXPECT_TRUE(HasCameraRecord(r, kAdapterB, kCamera1));
    EXPECT_FALSE(HasCameraRecord(r, kAdapterA, kCamera1));
    EXPECT_EQ(std::memcmp(r[1].cameraMac, kCamera2.data(), 6), 0);
    EXPECT_EQ(r[2].ip, Ip(192, 168, 1, 8));
    // Removal only.
    SetCameraRecord(r, kAdapterA, kCamera2, false, 0, 0);
    SetCameraRecord(r, kAdapterA, kCamera1, false, 0, 0);
    ASSERT_EQ(r.size(), 1u);
    EXPECT_TRUE(IsZeroMac(r[0].cameraMac));
}

TEST(ProfileRecords, DriverSelectModes) {
    struct Case {
        const char* what;
        ProfileRecords before;
        std::vector<ProfileModeAdapter> chosen;
        bool changed;
        ProfileRecords after;
    };
    const uint32_t fixed = Ip(192, 168, 3, 1), mask = Ip(255, 255, 255, 0);
    const Case cases[] = {
        {"original adapter without record gets an automatic one",
         {},
         {{kAdapterA, 0}},
         true,
         {MakeProfileRecord(kAdapterA, {}, 0, 0)}},
        {"original adapter with a fixed address is reset, mask kept",
         {MakeProfileRecord(kAdapterA, {}, fixed, mask)},
         {{kAdapterA, 0}},
         true,
         {MakeProfileRecord(kAdapterA, {}, 0, mask)}},
        {"original adapter already automatic: nothing changes",
         {MakeProfileRecord(kAdapterA, {}, 0, 0)},
         {{kAdapterA, 0}},
         false,
         {MakeProfileRecord(kAdapterA, {}, 0, 0)}},
        {"system modes remove the adapter record, camera records stay",
         {MakeProfileRecord(kAdapterA, {}, fixed, mask),
          MakeProfileRecord(kAdapterA, kCamera1, fixed + 1, mask)},
         {{kAdapterA, 1}},
         true,
         {MakeProfileRecord(kAdapterA, kCamera1, fixed + 1, mask)}},
        {"system mode without record adds nothing", {}, {{kAdapterA, 2}}, false, {}},
        {"records of adapters no longer present are dropped",
         {MakeProfileRecord(kAdapterB, kCamera2, fixed, mask), MakeProfileRecord(kAdapterA, {}, 0, 0)},
         {},
         true,
         {MakeProfileRecord(kAdapterA, {}, 0, 0)}},
    };
    for (const auto& c : cases) {
        ProfileRecords r = c.before;
        EXPECT_EQ(ApplyAdapterModes(r, {kAdapterA}, c.chosen), c.changed) << c.what;
        ASSERT_EQ(r.size(), c.after.size()) << c.what;
        if (!r.empty()) {
            EXPECT_EQ(std::memcmp(r.data(), c.after.data(), r.size() * sizeof(DriverProfileRecord)), 0)
                << c.what;
        }
    }
}

} // namespace
} // namespace qorcam::gigeconfig
