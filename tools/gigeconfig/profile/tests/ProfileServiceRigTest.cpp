// The GigE service reads the profile the tools wrote: the adapter takes the address of its record.
#include "GigeIoctl.h"
#include "GigeRecords.h"
#include "NetworkRig.h"
#include "ProfileFile.h"
#include "devio/DeviceHandle.h"
#include "os/SettingsStore.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>

namespace qorcam::gigeconfig {
namespace {

MacAddress ParseMac(const std::string& text) {
    unsigned m[6] = {};
    std::sscanf(text.c_str(), "%x:%x:%x:%x:%x:%x", &m[0], &m[1], &m[2], &m[3], &m[4], &m[5]);
    MacAddress mac;
    for (int i = 0; i < 6; ++i)
        mac[i] = static_cast<uint8_t>(m[i]);
    return mac;
}

TEST(ProfileServiceRig, ServiceTakesTheAdapterAddressTheToolWrote) {
    rig::NetworkRig::Options options;
    options.startService = false;
    options.startCamera = false;
    rig::NetworkRig rig(options);
    if (!rig.Available()) GTEST_SKIP() << rig.Reason();

    os::SettingsStore settings(rig.Root() + "/etc/machine.ini");
    const std::string path = settings.GetString(kGigeParametersKey, "PATH").value_or("");
    ASSERT_FALSE(path.empty());
    // The rig itself uses 169.254.1-250.1; 251 can only come from this file.
    const uint32_t ip = 169 | 254u << 8 | 251u << 16 | 1u << 24, mask = 0xFFFF;
    const MacAddress camera{0x00, 0x0C, 0xDF, 1, 2, 3};
    CProfileFile file(path);
    ASSERT_TRUE(file.Write({MakeProfileRecord(ParseMac(rig.HostMac()), camera, ip + (9u << 24), mask),
                            MakeProfileRecord(ParseMac(rig.HostMac()), {}, ip, mask)}));
    {
        // A partial record at the end is ignored by the service as by the tools.
        std::ofstream out(path, std::ios::binary | std::ios::app);
        out.write("\x01\x02\x03", 3);
    }
    ASSERT_TRUE(rig.StartService()) << rig.Reason();

    devio::DeviceHandle h;
    ASSERT_EQ(h.Open("\\\\.\\QORGIGE"), devio::STATUS_SUCCESS);
    gige::NicInfoRecord nic{};
    uint32_t count = 1;
    uint64_t bytes = 0;
    ASSERT_EQ(h.DeviceIoControl(gige::IOCTL_GIGE_GetNicList, &count, 4, &nic, sizeof nic, &bytes),
              devio::STATUS_SUCCESS);
    ASSERT_EQ(bytes, sizeof nic);
    EXPECT_EQ(nic.ip, ip);
    EXPECT_EQ(nic.mask, mask);
}

} // namespace
} // namespace qorcam::gigeconfig
