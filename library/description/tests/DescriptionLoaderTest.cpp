// The loader over a memory-backed device: URLs, device memory, files, zip, add-on, errors.
#include "ZipWriter.h"

#include "description/DescriptionLoader.h"

#include "genapi/GenericException.h"
#include "genapi/Pointer.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>

using namespace qorcam::description;
using namespace qorcam::genapi;
using qorcam::description::testing::MakeZip;

namespace {

/// A camera's remote device port: URLs, sparse memory and the producer's answers.
class FakeDevice : public IRemoteDevice {
public:
    int32_t GetNumPortURLs(uint32_t& count) override {
        if (failUrls) return -1004;
        count = static_cast<uint32_t>(urls.size());
        return 0;
    }
    int32_t GetPortURLInfo(uint32_t index, int32_t, void* buffer, size_t& size) override {
        if (failUrls || index >= urls.size()) return -1004;
        const std::string& url = urls[index];
        size_t n = std::min(size, url.size() + 1);
        std::memcpy(buffer, url.c_str(), n);
        size = reportedUrlSize ? reportedUrlSize : url.size() + 1;
        return 0;
    }
    int32_t ReadPort(uint64_t address, void* buffer, size_t& size) override {
        reads.push_back({address, size});
        if (failReads) return -1010;
        if (shortReads && size > 0) --size;
        auto* out = static_cast<uint8_t*>(buffer);
        for (size_t i = 0; i < size; ++i) {
            auto it = memory.find(address + i);
            out[i] = it == memory.end() ? 0 : it->second;
        }
        return 0;
    }
    int32_t WritePort(uint64_t address, const void* buffer, size_t& size) override {
        writes.push_back({address, size});
        for (size_t i = 0; i < size; ++i)
            memory[address + i] = static_cast<const uint8_t*>(buffer)[i];
        return 0;
    }
    std::string LastErrorText() override { return "producer says no"; }
    bool RefreshPresence() override {
        ++presenceChecks;
        return present;
    }

    void Put(uint64_t address, const void* data, size_t size) {
        for (size_t i = 0; i < size; ++i)
            memory[address + i] = static_cast<const uint8_t*>(data)[i];
    }

    std::vector<std::string> urls;
    std::map<uint64_t, uint8_t> memory;
    std::vector<std::pair<uint64_t, size_t>> reads, writes;
    bool failUrls = false, failReads = false, shortReads = false, present = true;
    int presenceChecks = 0;
    size_t reportedUrlSize = 0;
};

std::string CameraXml(const std::string& extra = "", bool withLocked = true) {
    return std::string(
               "<?xml version='1.0'?><RegisterDescription SchemaMajorVersion='1' SchemaMinorVersion='1'>"
               "<Integer Name='Width'><pValue>WidthReg</pValue></Integer>"
               "<IntReg Name='WidthReg'><Address>0x100</Address><Length>4</Length><AccessMode>RW</AccessMode>"
               "<pPort>Device</pPort><Endianess>BigEndian</Endianess></IntReg>"
               "<Integer Name='Height'><Value>480</Value></Integer>"
               "<IntSwissKnife Name='PayloadSize'><pVariable Name='W'>Width</pVariable>"
               "<pVariable Name='H'>Height</pVariable><Formula>W*H</Formula></IntSwissKnife>"
               "<Enumeration Name='PixelFormat'><EnumEntry Name='Mono8'><Value>17301505</Value></EnumEntry>"
               "<Value>17301505</Value></Enumeration>") +
           (withLocked ? "<Integer Name='TLParamsLocked'><Value>0</Value></Integer>" : "") +
           "<Command Name='AcquisitionStart'><pValue>Acq</pValue><CommandValue>1</CommandValue></Command>"
           "<Command Name='AcquisitionStop'><pValue>Acq</pValue><CommandValue>0</CommandValue></Command>"
           "<IntReg Name='Acq'><Address>0x124</Address><Length>4</Length><AccessMode>WO</AccessMode>"
           "<pPort>Device</pPort></IntReg>" +
           extra + "<Port Name='Device'/></RegisterDescription>";
}

std::string Hex(uint64_t v) {
    char text[32];
    std::snprintf(text, sizeof text, "%llX", static_cast<unsigned long long>(v));
    return text;
}

class Loader : public ::testing::Test {
protected:
    void SetUp() override {
        folder = std::filesystem::temp_directory_path() /
                 ("qorcam-desc-" + std::to_string(getpid()) + "-" +
                  ::testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::create_directories(folder);
    }
    void TearDown() override { std::filesystem::remove_all(folder); }
    void WriteFile(const std::string& name, const std::string& text) {
        std::ofstream(folder / name, std::ios::binary) << text;
    }
    std::string Error(uint32_t index = 0, bool watch = false) {
        NodeMapBinding binding;
        try {
            LoadNodeMap(device, index, watch, folder.string(), binding);
        } catch (const DescriptionError& e) {
            EXPECT_FALSE(binding.nodeMap) << "a failed load left a node map";
            return e.what();
        }
        return "";
    }

    FakeDevice device;
    std::filesystem::path folder;
};

} // namespace

TEST_F(Loader, DescriptionFromDeviceMemory) {
    std::string xml = CameraXml();
    device.Put(0x10000, xml.data(), xml.size());
    device.urls = {"local:Cam.xml;10000;" + Hex(xml.size()), "File:other.xml"};
    NodeMapBinding binding;
    ASSERT_TRUE(LoadNodeMap(device, 5, false, folder.string(), binding)); // index 5 of 2 URLs reads URL 0
    ASSERT_EQ(device.reads.size(), 1u);
    EXPECT_EQ(device.reads[0].first, 0x10000u);
    EXPECT_EQ(device.reads[0].second, (xml.size() + 3) & ~size_t{3});
    ASSERT_TRUE(binding.Width && binding.Height && binding.PixelFormat && binding.PayloadSize &&
                binding.TLParamsLocked && binding.AcquisitionStart && binding.AcquisitionStop);
    EXPECT_EQ(binding.Height->GetValue(), 480);
    // Settling executed AcquisitionStop: 0 written to the command register.
    ASSERT_EQ(device.writes.size(), 1u);
    EXPECT_EQ(device.writes[0].first, 0x124u);
    EXPECT_EQ(binding.port->GetAccessMode(), RW);
}

TEST_F(Loader, ZippedDescriptionFromDeviceMemory) {
    auto zip = MakeZip({{"Cam.xml", CameraXml()}});
    zip.push_back(0); // an odd size: 0x...1 style lengths round up to 4
    device.Put(0x10000, zip.data(), zip.size());
    device.urls = {"Local:Cam.zip;10000;" + Hex(zip.size()) + "?SchemaVersion=1.1.0"};
    NodeMapBinding binding;
    ASSERT_TRUE(LoadNodeMap(device, 0, false, folder.string(), binding));
    EXPECT_EQ(device.reads[0].second, (zip.size() + 3) & ~size_t{3});
    EXPECT_TRUE(binding.nodeMap->_GetNode("AcquisitionStop"));
}

TEST_F(Loader, InstalledCopyFirstThenDevice) {
    WriteFile("Cam.xml", CameraXml());
    std::string xml = CameraXml();
    device.Put(0x2000, xml.data(), xml.size());
    device.urls = {"Local:Cam.xml;2000;" + Hex(xml.size())};
    NodeMapBinding binding;
    ASSERT_TRUE(LoadNodeMap(device, kUrlIndexInstalledFirst, false, folder.string(), binding));
    EXPECT_TRUE(device.reads.empty()); // no device memory read for the description

    std::filesystem::remove(folder / "Cam.xml");
    NodeMapBinding second;
    EXPECT_FALSE(LoadNodeMap(device, kUrlIndexInstalledFirst, false, folder.string(), second));
    EXPECT_FALSE(second.nodeMap);
    ASSERT_TRUE(LoadNodeMap(device, 0, false, folder.string(), second));
    EXPECT_EQ(device.reads.size(), 1u);
}

TEST_F(Loader, FileUrlsZippedOrNot) {
    WriteFile("sub.xml", CameraXml());
    auto zip = MakeZip({{"x.xml", CameraXml()}});
    WriteFile("packed.ZIP", std::string(zip.begin(), zip.end()));
    for (const char* url : {"FILE:sub.xml", "file:///sub.xml", "File:packed.ZIP;ignored"}) {
        SCOPED_TRACE(url);
        device.urls = {url};
        NodeMapBinding binding;
        EXPECT_TRUE(LoadNodeMap(device, 0, false, folder.string(), binding));
        EXPECT_TRUE(binding.nodeMap);
    }
}

TEST_F(Loader, AddOnIsMergedByItsName) {
    // Cam_1.0.zip gives the add-on name Cam_10_QORADD.xml.
    WriteFile("Cam_10_QORADD.xml",
              "<RegisterDescription SchemaMajorVersion='1'>"
              "<Integer Name='Height'><Value>600</Value></Integer></RegisterDescription>");
    auto zip = MakeZip({{"Cam.xml", CameraXml()}});
    WriteFile("Cam_1.0.zip", std::string(zip.begin(), zip.end()));
    device.urls = {"File:Cam_1.0.zip"};
    NodeMapBinding binding;
    ASSERT_TRUE(LoadNodeMap(device, 0, false, folder.string(), binding));
    EXPECT_EQ(binding.Height->GetValue(), 600);

    // A first field shorter than 4 characters is used whole.
    WriteFile("ab_QORADD.xml", "<RegisterDescription><Integer Name='Height'><Value>7</Value></Integer>"
                               "</RegisterDescription>");
    WriteFile("ab", CameraXml());
    device.urls = {"file:ab"};
    NodeMapBinding shortName;
    ASSERT_TRUE(LoadNodeMap(device, 0, false, folder.string(), shortName));
    EXPECT_EQ(shortName.Height->GetValue(), 7);
}

TEST_F(Loader, FailuresGiveTheirTexts) {
    std::string xml = CameraXml();
    device.Put(0x10000, xml.data(), xml.size());
    std::string noLocked = CameraXml("", false);
    device.Put(0x40000, noLocked.data(), noLocked.size());
    auto zip = MakeZip({{"Cam.xml", xml}});
    zip[zip.size() / 2] ^= 0xFF;
    device.Put(0x80000, zip.data(), zip.size());
    const std::string size = Hex(xml.size());
    struct Case {
        std::string url;
        const char* text;
    } cases[] = {
        {"ftp:Cam.xml", "URL Error"},
        {"Cam.xml", "URL Error"},
        {"File:missing.xml", "Local File Error"},
        {"File:missing.zip", "Local File Error"},
        {"Local:Cam.xml;10000;" + Hex(100), "xml File Not Found Error"}, // a cut description
        {"Local:Cam.xml;40000;" + Hex(noLocked.size()), "Std Node NotFound"},
        {"Local:Cam.xml;10000;5000000", "Memory Alloc Error"},                  // 80 MiB: above the cap
        {"Local:Cam.xml;FFFFFFFFFFFFFFFF;10", "Memory Alloc Error"},            // address + size wraps
        {"Local:Cam.xml;10000000000000000;10", "Memory Alloc Error"},           // 17 digits
        {"Local:Cam.zip;80000;" + Hex(zip.size()), "xml File Not Found Error"}, // damaged archive
        {"Local:Cam.zip;10000;" + size, "xml File Not Found Error"},            // not an archive at all
        {"Local:Cam.xml;10000;0", "xml File Not Found Error"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.url);
        device.urls = {c.url};
        EXPECT_EQ(Error(), c.text);
    }
    device.urls = {"Local:Cam.xml;10000;" + size};
    device.failReads = true;
    EXPECT_EQ(Error(), "XML Data Read Error");
    device.failReads = false;
    device.failUrls = true;
    EXPECT_EQ(Error(), "producer says no");
}

TEST_F(Loader, FileUrlsNeverLeaveTheDescriptionFolder) {
    // A valid description one folder up, where a camera's URL must not reach.
    const auto outside = folder.parent_path() / (folder.filename().string() + "-outside.xml");
    std::ofstream(outside, std::ios::binary) << CameraXml();
    const std::string name = outside.filename().string();
    for (const std::string& url : {"File:../" + name, "File:sub\\..\\..\\" + name, "file:///../" + name,
                                  "File:./../" + name}) {
        SCOPED_TRACE(url);
        device.urls = {url};
        EXPECT_EQ(Error(), "Local File Error");
    }
    std::filesystem::remove(outside);
    // Dots inside a name are no step out.
    WriteFile("Cam..v2.xml", CameraXml());
    device.urls = {"File:Cam..v2.xml"};
    NodeMapBinding binding;
    EXPECT_TRUE(LoadNodeMap(device, 0, false, folder.string(), binding));
}

TEST_F(Loader, DescriptionWithoutADevicePortFailsToConnect) {
    std::string xml = CameraXml();
    for (size_t at; (at = xml.find("Device")) != std::string::npos;)
        xml.replace(at, 6, "Other");
    WriteFile("Cam.xml", xml);
    device.urls = {"File:Cam.xml"};
    NodeMapBinding binding;
    // The node map's own error passes through; nothing built is kept.
    EXPECT_THROW(LoadNodeMap(device, 0, false, folder.string(), binding), LogicalErrorException);
    EXPECT_FALSE(binding.nodeMap);
    EXPECT_TRUE(device.writes.empty());
}

TEST_F(Loader, UrlSizeFromTheProducerIsBounded) {
    WriteFile("Cam.xml", CameraXml());
    device.urls = {"File:Cam.xml"};
    device.reportedUrlSize = 100000; // claims more than the buffer holds
    NodeMapBinding binding;
    EXPECT_TRUE(LoadNodeMap(device, 0, false, folder.string(), binding));
    device.reportedUrlSize = 0;
    device.urls = {""};
    EXPECT_EQ(Error(), "URL Error");
}

TEST_F(Loader, WatchOpenWritesNothing) {
    WriteFile("Cam.xml", CameraXml("<Boolean Name='GevGVCPPendingAck'><pValue>Ack</pValue></Boolean>"
                                   "<IntReg Name='Ack'><Address>0x200</Address><Length>4</Length>"
                                   "<AccessMode>RW</AccessMode><pPort>Device</pPort></IntReg>"));
    device.urls = {"File:Cam.xml"};
    NodeMapBinding watched;
    ASSERT_TRUE(LoadNodeMap(device, 0, true, folder.string(), watched));
    EXPECT_TRUE(device.writes.empty());
    EXPECT_EQ(watched.port->GetAccessMode(), RO);
    EXPECT_EQ(watched.Width->GetAccessMode(), RO);
    EXPECT_THROW(watched.AcquisitionStart->Execute(), AccessException);

    NodeMapBinding normal;
    ASSERT_TRUE(LoadNodeMap(device, 0, false, folder.string(), normal));
    ASSERT_EQ(device.writes.size(), 2u); // AcquisitionStop, then the pending-ack flag
    EXPECT_EQ(device.writes[1].first, 0x200u);
    EXPECT_EQ(device.memory[0x200], 1);
}

TEST_F(Loader, PortFailuresAndTeardown) {
    WriteFile("Cam.xml", CameraXml());
    device.urls = {"File:Cam.xml"};
    {
        NodeMapBinding binding;
        ASSERT_TRUE(LoadNodeMap(device, 0, false, folder.string(), binding));
        device.present = false;
        try {
            binding.Width->GetValue();
            FAIL() << "no exception";
        } catch (const RuntimeException& e) {
            EXPECT_NE(std::string(e.what()).find("Unable to Read Register"), std::string::npos);
        }
        device.present = true;
        // A read that answers fewer bytes than asked fails too, and presence
        // is asked again after every failure.
        device.shortReads = true;
        device.presenceChecks = 0;
        EXPECT_THROW(binding.Width->GetValue(false, true), RuntimeException);
        EXPECT_EQ(device.presenceChecks, 2);
        device.shortReads = false;
        device.failReads = true;
        EXPECT_THROW(binding.Width->GetValue(false, true), RuntimeException);
        device.reads.clear();
        device.writes.clear();
    }
    // Destroying the binding (node map first, then the port) touched no register.
    EXPECT_TRUE(device.reads.empty());
    EXPECT_TRUE(device.writes.empty());
}
