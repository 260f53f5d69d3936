// The descriptions of the system, interface and device modules: found through each module's URL, read
// from its port, loaded by the node map and answering what the modules know.
#include "FakeProducerFixture.h"
#include "genapi/NodeMap.h"

#include <cstdio>
#include <memory>

namespace qorcam::testing {
namespace {

using ModuleDescriptions = FakeProducerTest;

// A module port as the node map uses it.
class Port : public genapi::IPort {
public:
    Port(GenTLConsumer& gc, void* module) : gc_(gc), module_(module) {}
    void Read(void* buffer, int64_t address, int64_t length) override {
        size_t size = static_cast<size_t>(length);
        if (gc_.GCReadPort(module_, address, buffer, &size) != GC_ERR_SUCCESS || size != size_t(length))
            throw std::runtime_error(gc_.LastError().second);
    }
    void Write(const void* buffer, int64_t address, int64_t length) override {
        size_t size = static_cast<size_t>(length);
        if (gc_.GCWritePort(module_, address, buffer, &size) != GC_ERR_SUCCESS || size != size_t(length))
            throw std::runtime_error(gc_.LastError().second);
    }
    genapi::EAccessMode GetAccessMode() override { return genapi::RW; }

private:
    GenTLConsumer& gc_;
    void* module_;
};

struct Described {
    std::unique_ptr<Port> port;
    std::unique_ptr<genapi::CNodeMapRef> map;
    std::string Text(const char* name) {
        auto* node = dynamic_cast<genapi::IString*>(map->GetNode(name));
        return node ? node->GetValue() : "<missing " + std::string(name) + ">";
    }
    int64_t Number(const char* name) {
        auto* node = dynamic_cast<genapi::IInteger*>(map->GetNode(name));
        return node ? node->GetValue() : -1;
    }
    void Set(const char* name, int64_t value) { dynamic_cast<genapi::IInteger&>(*map->GetNode(name)).SetValue(value); }
};

// The module's one URL, its text read from the port at the URL's address, a node map over it.
Described Load(GenTLConsumer& gc, void* module) {
    Described d;
    char url[256] = {};
    size_t size = sizeof url;
    EXPECT_EQ(gc.GCGetPortURLInfo(module, 0, URL_INFO_URL, nullptr, url, &size), GC_ERR_SUCCESS);
    char file[128] = {};
    unsigned long long address = 0, length = 0;
    EXPECT_EQ(std::sscanf(url, "Local:%127[^;];%llx;%llx", file, &address, &length), 3) << url;
    uint64_t fileSize = 0;
    size = sizeof fileSize;
    EXPECT_EQ(gc.GCGetPortURLInfo(module, 0, URL_INFO_FILE_SIZE, nullptr, &fileSize, &size), GC_ERR_SUCCESS);
    EXPECT_EQ(fileSize, length);
    std::string xml(length, '\0');
    size = xml.size();
    EXPECT_EQ(gc.GCReadPort(module, address, xml.data(), &size), GC_ERR_SUCCESS) << gc.LastError().second;
    d.port = std::make_unique<Port>(gc, module);
    d.map = std::make_unique<genapi::CNodeMapRef>();
    d.map->_LoadXMLFromString(xml.c_str());
    EXPECT_TRUE(d.map->_Connect(d.port.get(), "Device"));
    return d;
}

TEST_F(ModuleDescriptions, EachModuleDescribesWhatItKnows) {
    setInterfaceCount(2);
    Described system = Load(*gc, tl);
    EXPECT_EQ(system.Text("TLVendorName"), "Fake Vendor");
    EXPECT_EQ(system.Text("TLModelName"), "FakeGenTL");
    EXPECT_EQ(system.Text("TLType"), "Custom");
    EXPECT_EQ(system.Number("InterfaceSelector"), 0);
    char id[64] = {};
    size_t size = sizeof id;
    ASSERT_EQ(gc->TLGetInterfaceID(tl, 1, id, &size), GC_ERR_SUCCESS);
    system.Set("InterfaceSelector", 1);
    EXPECT_EQ(system.Text("InterfaceID"), id);
    // The selector stops at the last interface: the port refuses a value past it.
    uint64_t past = 2;
    size = sizeof past;
    ExpectError(gc->GCWritePort(tl, 0xF000, &past, &size), GC_ERR_INVALID_PARAMETER, "Invalid selector value");
    dynamic_cast<genapi::ICommand&>(*system.map->GetNode("InterfaceUpdateList")).Execute();

    IF_HANDLE iface = nullptr;
    ASSERT_EQ(gc->TLOpenInterface(tl, id, &iface), GC_ERR_SUCCESS) << gc->LastError().second;
    Described itf = Load(*gc, iface);
    EXPECT_EQ(itf.Text("InterfaceID"), id);
    itf.Set("DeviceSelector", 1);
    EXPECT_EQ(itf.Text("DeviceID"), "Fake::2");
    dynamic_cast<genapi::ICommand&>(*itf.map->GetNode("DeviceUpdateList")).Execute();
    // The interface's own registers are still its own.
    uint32_t value = 0;
    size = sizeof value;
    EXPECT_EQ(gc->GCReadPort(iface, 0x10, &value, &size), GC_ERR_SUCCESS);

    DEV_HANDLE device = nullptr;
    ASSERT_EQ(gc->IFOpenDevice(iface, "Fake::1", DEVICE_ACCESS_CONTROL, &device), GC_ERR_SUCCESS);
    Described dev = Load(*gc, device);
    EXPECT_EQ(dev.Text("DeviceID"), "Fake::1");
    // The device module has one URL; a second does not exist.
    uint32_t urls = 0;
    EXPECT_EQ(gc->GCGetNumPortURLs(device, &urls), GC_ERR_SUCCESS);
    EXPECT_EQ(urls, 1u);
    char url[256];
    size = sizeof url;
    EXPECT_EQ(gc->GCGetPortURLInfo(device, 1, URL_INFO_URL, nullptr, url, &size), GC_ERR_INVALID_PARAMETER);
}

} // namespace
} // namespace qorcam::testing
