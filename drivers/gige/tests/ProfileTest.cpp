// The profile file: reading, records, and the addresses binding takes from it.
#include "Fixture.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <unistd.h>

namespace qorcam::gige::test {
namespace {

DriverProfileRecord Record(const MacAddress& adapter, const MacAddress& camera, uint32_t ip, uint32_t mask) {
    DriverProfileRecord r{};
    std::memcpy(r.adapterMac, adapter.data(), 6);
    std::memcpy(r.cameraMac, camera.data(), 6);
    r.ip = ip;
    r.mask = mask;
    return r;
}

TEST(DriverProfile, ReadsWholeRecordsAndIgnoresTheTail) {
    const MacAddress camera{0x00, 0x0C, 0xDF, 0x01, 0x02, 0x03};
    std::vector<DriverProfileRecord> records = {
        Record(kAdapterMac, camera, Ip(192, 168, 1, 10), Ip(255, 255, 255, 0)),
        Record(kAdapterMac, {}, Ip(192, 168, 1, 1), Ip(255, 255, 255, 0)),
        Record(kAdapterMac, {}, Ip(10, 0, 0, 1), Ip(255, 0, 0, 0)), // a second adapter record is not read
    };
    std::string path = ::testing::TempDir() + "QORGIGEDRVPROF-" + std::to_string(getpid()) + ".dat";
    {
        std::ofstream out(path, std::ios::binary);
        out.write(reinterpret_cast<const char*>(records.data()),
                  records.size() * sizeof(DriverProfileRecord));
        out.write("tail!", 5);
    }
    DriverProfile p;
    ASSERT_TRUE(p.ReadProfileFile(path));
    std::remove(path.c_str());
    ASSERT_EQ(p.Count(), 3u);
    // The address is stored as it stands on the wire.
    const uint8_t* raw = reinterpret_cast<const uint8_t*>(&p.Records()[0]);
    EXPECT_EQ(raw[12], 0xC0);
    EXPECT_EQ(raw[13], 0xA8);
    EXPECT_EQ(raw[14], 0x01);
    EXPECT_EQ(raw[15], 0x0A);
    EXPECT_EQ(p.AdapterRecord(kAdapterMac)->ip, Ip(192, 168, 1, 1));
    EXPECT_EQ(p.CameraRecord(kAdapterMac, camera)->ip, Ip(192, 168, 1, 10));
    EXPECT_FALSE(p.AdapterRecord(kPeerMac));
    EXPECT_FALSE(p.CameraRecord(kPeerMac, camera));

    DriverProfile missing;
    EXPECT_FALSE(missing.ReadProfileFile(path));
    EXPECT_TRUE(missing.Empty());
}

TEST(DriverProfile, BindingTakesTheAdaptersAddress) {
    const uint32_t mask24 = Ip(255, 255, 255, 0);
    GigeParameters server;
    server.dhcp = 1;
    struct Case {
        const char* what;
        GigeParameters params;
        std::vector<DriverProfileRecord> records;
        uint32_t expectedIp;
    };
    const MacAddress otherAdapter{0x02, 0, 0, 0, 0, 9};
    const Case cases[] = {
        {"fixed address",
         server,
         {Record(kAdapterMac, {}, Ip(169, 254, 3, 1), Ip(255, 255, 0, 0))},
         Ip(169, 254, 3, 1)},
        {"automatic: 192.168.N.1", server, {Record(kAdapterMac, {}, 0, 0)}, Ip(192, 168, 0, 1)},
        {"automatic, N raised past another adapter's record",
         server,
         {Record(kAdapterMac, {}, 0, 0), Record(otherAdapter, {}, Ip(192, 168, 0, 1), mask24)},
         Ip(192, 168, 1, 1)},
        {"client mode takes no address at bind",
         GigeParameters{},
         {Record(kAdapterMac, {}, Ip(10, 1, 1, 1), mask24)},
         0},
        {"no record: served by the system", server, {Record(otherAdapter, {}, Ip(10, 1, 1, 1), mask24)}, 0},
    };
    for (const auto& c : cases) {
        DriverFixture f(c.params, DriverProfile(c.records));
        f.Bind(f.port);
        auto list = f.Call(IOCTL_GIGE_GetNicList, Bytes().U32(1), 802);
        auto rec = list->Out<NicInfoRecord>();
        EXPECT_EQ(rec.ip, c.expectedIp) << c.what;
    }
}

} // namespace
} // namespace qorcam::gige::test
