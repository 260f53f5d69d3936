// A GenTL consumer written from the standard alone.
#include "StandardConsumer.h"

#include "description/ZipReader.h"

#include <algorithm>
#include <chrono>
#include <functional>
#include <thread>
#include <cstring>
#include <map>
#include <stdexcept>

namespace qorcam::gentltest {

void ModulePort::Read(void* buffer, int64_t address, int64_t length) {
    size_t size = static_cast<size_t>(length);
    if (gc_.GCReadPort(port_, static_cast<uint64_t>(address), buffer, &size) != kSuccess ||
        size != static_cast<size_t>(length))
        throw std::runtime_error("port read failed: " + gc_.LastError());
}

void ModulePort::Write(const void* buffer, int64_t address, int64_t length) {
    size_t size = static_cast<size_t>(length);
    if (gc_.GCWritePort(port_, static_cast<uint64_t>(address), buffer, &size) != kSuccess ||
        size != static_cast<size_t>(length))
        throw std::runtime_error("port write failed: " + gc_.LastError());
}

namespace {

std::string Unzip(const std::string& archive) {
    using namespace qorcam::description;
    ZipReader* zip = nullptr;
    if (OpenArchive(&zip, archive.data(), static_cast<uint32_t>(archive.size()), ZIP_SOURCE_MEMORY) != ZR_OK)
        return {};
    ZipEntryInfo entry{};
    std::string text;
    if (GetEntry(zip, 0, &entry) == ZR_OK && entry.uncompressedSize > 0) {
        text.resize(static_cast<size_t>(entry.uncompressedSize));
        uint32_t got = 0;
        const uint32_t result = ExtractEntry(zip, text.data(), static_cast<uint32_t>(text.size()), &got);
        text.resize(result == ZR_OK ? got : 0);
    }
    CloseArchive(zip);
    return text;
}

} // namespace

std::string ReadDescription(StandardProducer& gc, Handle port) {
    uint32_t count = 0;
    EXPECT_EQ(gc.GCGetNumPortURLs(port, &count), kSuccess) << gc.LastError();
    EXPECT_GE(count, 1u);
    char url[1024] = {};
    size_t size = sizeof url;
    int32_t type = 0;
    if (count == 0 || gc.GCGetPortURLInfo(port, 0, kUrlInfoUrl, &type, url, &size) != kSuccess) {
        ADD_FAILURE() << "no URL: " << gc.LastError();
        return {};
    }
    // The old single-URL call names the same file.
    char first[1024] = {};
    size = sizeof first;
    EXPECT_EQ(gc.GCGetPortURL(port, first, &size), kSuccess) << gc.LastError();
    EXPECT_STREQ(first, url);

    const std::string text(url);
    const auto colon = text.find(':');
    const auto semi1 = text.find(';');
    const auto semi2 = semi1 == std::string::npos ? std::string::npos : text.find(';', semi1 + 1);
    if (text.substr(0, colon) != "Local" && text.substr(0, colon) != "local") {
        ADD_FAILURE() << "not a local URL: " << text;
        return {};
    }
    if (semi2 == std::string::npos) {
        ADD_FAILURE() << "malformed URL: " << text;
        return {};
    }
    const std::string file = text.substr(colon + 1, semi1 - colon - 1);
    const uint64_t address = std::stoull(text.substr(semi1 + 1, semi2 - semi1 - 1), nullptr, 16);
    const uint64_t length = std::stoull(text.substr(semi2 + 1), nullptr, 16);
    if (length == 0 || length > (64u << 20)) {
        ADD_FAILURE() << "implausible length in " << text;
        return {};
    }
    std::string bytes(static_cast<size_t>(length), '\0');
    size = bytes.size();
    if (gc.GCReadPort(port, address, bytes.data(), &size) != kSuccess || size != bytes.size()) {
        ADD_FAILURE() << "reading " << text << ": " << gc.LastError();
        return {};
    }
    std::string lower = file;
    std::transform(lower.begin(), lower.end(), lower.begin(), [](unsigned char c) { return std::tolower(c); });
    if (lower.size() > 4 && lower.substr(lower.size() - 4) == ".zip") return Unzip(bytes);
    // A text description may be padded with zeros behind its end.
    bytes.resize(strnlen(bytes.data(), bytes.size()));
    return bytes;
}

int64_t PortNodeMap::Integer(const std::string& name) const {
    auto* node = dynamic_cast<genapi::IInteger*>(Node(name));
    if (!node) throw std::runtime_error("no integer " + name);
    return node->GetValue();
}

std::string PortNodeMap::String(const std::string& name) const {
    auto* node = dynamic_cast<genapi::IString*>(Node(name));
    if (!node) throw std::runtime_error("no string " + name);
    return node->GetValue();
}

void PortNodeMap::SetInteger(const std::string& name, int64_t value) const {
    auto* node = dynamic_cast<genapi::IInteger*>(Node(name));
    if (!node) throw std::runtime_error("no integer " + name);
    node->SetValue(value);
}

void PortNodeMap::Execute(const std::string& name) const {
    auto* node = dynamic_cast<genapi::ICommand*>(Node(name));
    if (!node) throw std::runtime_error("no command " + name);
    node->Execute();
}

PortNodeMap LoadNodeMap(StandardProducer& gc, Handle port, const std::string& portName) {
    PortNodeMap result;
    const std::string xml = ReadDescription(gc, port);
    if (xml.empty()) return result;
    result.port = std::make_unique<ModulePort>(gc, port);
    result.map = std::make_unique<genapi::CNodeMapRef>();
    try {
        result.map->_LoadXMLFromString(xml.c_str());
        EXPECT_TRUE(result.map->_Connect(result.port.get(), portName));
    } catch (const std::exception& e) {
        ADD_FAILURE() << "description does not load: " << e.what();
        result.map.reset();
    }
    return result;
}

void StreamFrames(StandardProducer& gc, Handle device, const PortNodeMap& camera, int frames, size_t own,
                  size_t allocated, size_t extra) {
    uint32_t streams = 0;
    ASSERT_EQ(gc.DevGetNumDataStreams(device, &streams), kSuccess) << gc.LastError();
    ASSERT_GE(streams, 1u);
    char id[128] = {};
    size_t size = sizeof id;
    ASSERT_EQ(gc.DevGetDataStreamID(device, 0, id, &size), kSuccess) << gc.LastError();
    Handle stream = nullptr;
    ASSERT_EQ(gc.DevOpenDataStream(device, id, &stream), kSuccess) << gc.LastError();

    // Buffers sized as the camera says a block is, or larger.
    const int64_t payload = camera.Integer("PayloadSize");
    ASSERT_GT(payload, 0);
    const size_t bytes = static_cast<size_t>(payload) + extra;
    std::vector<std::vector<uint8_t>> memory(own, std::vector<uint8_t>(bytes));
    // Every buffer has its own user pointer: an element of this array.
    std::vector<int> tags(own + allocated);
    std::map<Handle, size_t> index; // buffer handle -> its number
    std::vector<Handle> buffers;
    for (size_t i = 0; i < own + allocated; ++i) {
        Handle buffer = nullptr;
        if (i < own) {
            ASSERT_EQ(gc.DSAnnounceBuffer(stream, memory[i].data(), bytes, &tags[i], &buffer), kSuccess)
                << gc.LastError();
        } else {
            ASSERT_EQ(gc.DSAllocAndAnnounceBuffer(stream, bytes, &tags[i], &buffer), kSuccess) << gc.LastError();
        }
        index[buffer] = i;
        buffers.push_back(buffer);
        ASSERT_EQ(gc.DSQueueBuffer(stream, buffer), kSuccess) << gc.LastError();
    }
    ASSERT_EQ(index.size(), buffers.size()) << "every buffer has its own handle";
    Handle newBuffer = nullptr;
    ASSERT_EQ(gc.GCRegisterEvent(stream, kEventNewBuffer, &newBuffer), kSuccess) << gc.LastError();
    ASSERT_NE(newBuffer, nullptr);

    // What the stream reports going wrong, for the messages below.
    Handle errors = nullptr;
    EXPECT_EQ(gc.GCRegisterEvent(stream, kEventError, &errors), kSuccess) << gc.LastError();
    auto streamErrors = [&] {
        std::string all;
        char text[1024];
        size_t n = sizeof text - 1;
        while (errors && gc.EventGetData(errors, text, &n, 0) == kSuccess) {
            text[std::min(n, sizeof text - 1)] = 0;
            all += std::string(n > 4 ? text + 4 : "") + "; ";
            n = sizeof text - 1;
        }
        return all;
    };

    if (camera.Node("TLParamsLocked")) camera.SetInteger("TLParamsLocked", 1);
    ASSERT_EQ(gc.DSStartAcquisition(stream, kStartDefault, kInfinite), kSuccess) << gc.LastError();
    camera.Execute("AcquisitionStart");

    auto info = [&](Handle buffer, int32_t cmd, void* out, size_t n) {
        size_t got = n;
        int32_t type = 0;
        EXPECT_EQ(gc.DSGetBufferInfo(stream, buffer, cmd, &type, out, &got), kSuccess)
            << "command " << cmd << ": " << gc.LastError();
        EXPECT_EQ(got, n) << "command " << cmd;
    };
    uint64_t lastFrame = 0;
    for (int n = 0; n < frames; ++n) {
        NewBufferData data{};
        size = sizeof data;
        ASSERT_EQ(gc.EventGetData(newBuffer, &data, &size, 10000), kSuccess)
            << "buffer " << n << ": " << gc.LastError() << "; stream errors: " << streamErrors();
        ASSERT_EQ(size, sizeof data);
        ASSERT_EQ(index.count(data.buffer), 1u) << "buffer " << n << " has an unknown handle";
        const size_t i = index[data.buffer];
        EXPECT_EQ(data.userPointer, &tags[i]) << "buffer " << n;
        void* user = nullptr;
        info(data.buffer, kBufferUserPtr, &user, sizeof user);
        EXPECT_EQ(user, &tags[i]);
        void* base = nullptr;
        info(data.buffer, kBufferBase, &base, sizeof base);
        ASSERT_NE(base, nullptr);
        if (i < own) {
            EXPECT_EQ(base, memory[i].data());
        }
        size_t announced = 0;
        info(data.buffer, kBufferSize, &announced, sizeof announced);
        EXPECT_EQ(announced, bytes);
        bool8 incomplete = 1;
        info(data.buffer, kBufferIsIncomplete, &incomplete, sizeof incomplete);
        EXPECT_EQ(incomplete, 0) << "buffer " << n;
        uint64_t frame = 0;
        info(data.buffer, kBufferFrameId, &frame, sizeof frame);
        if (n > 0) {
            EXPECT_GT(frame, lastFrame) << "buffer " << n << ": frame ids rise";
        }
        lastFrame = frame;
        const auto* image = static_cast<const uint8_t*>(base);
        EXPECT_TRUE(std::any_of(image, image + payload, [](uint8_t b) { return b != 0; }))
            << "buffer " << n << " holds no image";
        ASSERT_EQ(gc.DSQueueBuffer(stream, data.buffer), kSuccess) << gc.LastError();
    }

    camera.Execute("AcquisitionStop");
    EXPECT_EQ(gc.DSStopAcquisition(stream, kStopDefault), kSuccess) << gc.LastError();
    if (camera.Node("TLParamsLocked")) camera.SetInteger("TLParamsLocked", 0);
    EXPECT_EQ(gc.DSFlushQueue(stream, kQueueInputToOutput), kSuccess) << gc.LastError();
    EXPECT_EQ(gc.DSFlushQueue(stream, kQueueAllDiscard), kSuccess) << gc.LastError();
    EXPECT_EQ(gc.GCUnregisterEvent(stream, kEventNewBuffer), kSuccess) << gc.LastError();
    EXPECT_EQ(gc.GCUnregisterEvent(stream, kEventError), kSuccess) << gc.LastError();
    for (Handle buffer : buffers) {
        const size_t i = index[buffer];
        void* back = reinterpret_cast<void*>(1);
        void* user = nullptr;
        EXPECT_EQ(gc.DSRevokeBuffer(stream, buffer, &back, &user), kSuccess) << gc.LastError();
        EXPECT_EQ(user, &tags[i]);
        EXPECT_EQ(back, i < own ? memory[i].data() : nullptr);
    }
    EXPECT_EQ(gc.DSClose(stream), kSuccess) << gc.LastError();
}

namespace {

bool WaitFor(const std::function<bool()>& condition, int timeoutMs = 10000) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (std::chrono::steady_clock::now() < end) {
        if (condition()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    return condition();
}

std::string Text(const std::function<GC_ERROR(char*, size_t*)>& call) {
    char text[512] = {};
    size_t size = sizeof text;
    return call(text, &size) == kSuccess ? std::string(text) : std::string();
}

} // namespace

// The whole session of a consumer: the first interface, the first camera found on it (waiting a bounded
// time for it to be listed), its description and node map, two acquisitions with a close and a reopen
// of the camera in between.
void RunSession(const std::string& producer, const std::string& model) {
    StandardProducer gc(producer);
    ASSERT_EQ(gc.GCInitLib(), kSuccess);
    Handle tl = nullptr;
    ASSERT_EQ(gc.TLOpen(&tl), kSuccess) << gc.LastError();
    bool8 changed = 0;
    ASSERT_EQ(gc.TLUpdateInterfaceList(tl, &changed, 1000), kSuccess) << gc.LastError();
    uint32_t interfaces = 0;
    ASSERT_EQ(gc.TLGetNumInterfaces(tl, &interfaces), kSuccess) << gc.LastError();
    ASSERT_GE(interfaces, 1u);
    const std::string ifId = Text([&](char* t, size_t* s) { return gc.TLGetInterfaceID(tl, 0, t, s); });
    ASSERT_FALSE(ifId.empty()) << gc.LastError();
    Handle iface = nullptr;
    ASSERT_EQ(gc.TLOpenInterface(tl, ifId.c_str(), &iface), kSuccess) << gc.LastError();

    ASSERT_TRUE(WaitFor([&] {
        uint32_t n = 0;
        return gc.IFUpdateDeviceList(iface, nullptr, 1000) == kSuccess &&
               gc.IFGetNumDevices(iface, &n) == kSuccess && n > 0;
    })) << "no camera listed: " << gc.LastError();
    const std::string devId = Text([&](char* t, size_t* s) { return gc.IFGetDeviceID(iface, 0, t, s); });
    ASSERT_FALSE(devId.empty()) << gc.LastError();

    // The system's and the interface's own descriptions, through the node map.
    {
        PortNodeMap system = LoadNodeMap(gc, tl);
        ASSERT_TRUE(system.map) << "the system module's description";
        EXPECT_EQ(system.String("TLModelName"), model);
        EXPECT_FALSE(system.String("TLVendorName").empty());
        EXPECT_FALSE(system.String("TLType").empty());
        system.Execute("InterfaceUpdateList");
        system.SetInteger("InterfaceSelector", 0);
        EXPECT_EQ(system.String("InterfaceID"), ifId);

        PortNodeMap itf = LoadNodeMap(gc, iface);
        ASSERT_TRUE(itf.map) << "the interface module's description";
        EXPECT_EQ(itf.String("InterfaceID"), ifId);
        itf.Execute("DeviceUpdateList");
        itf.SetInteger("DeviceSelector", 0);
        EXPECT_EQ(itf.String("DeviceID"), devId);
        EXPECT_FALSE(itf.String("DeviceVendorName").empty());
        EXPECT_FALSE(itf.String("DeviceModelName").empty());
        const bool gige = itf.Node("GevDeviceIPAddress") != nullptr;
        int64_t ip = 0, mac = 0;
        if (gige) {
            ip = itf.Integer("GevDeviceIPAddress");
            mac = itf.Integer("GevDeviceMACAddress");
            EXPECT_NE(ip, 0);
            EXPECT_NE(mac, 0);
        }

        Handle device = nullptr;
        ASSERT_EQ(gc.IFOpenDevice(iface, devId.c_str(), kAccessExclusive, &device), kSuccess) << gc.LastError();
        PortNodeMap dev = LoadNodeMap(gc, device);
        ASSERT_TRUE(dev.map) << "the device module's description";
        EXPECT_EQ(dev.String("DeviceID"), devId);
        EXPECT_EQ(dev.String("DeviceVendorName"), itf.String("DeviceVendorName"));
        EXPECT_EQ(dev.String("DeviceModelName"), itf.String("DeviceModelName"));
        if (gige) {
            EXPECT_EQ(dev.Integer("GevDeviceIPAddress"), ip);
            EXPECT_EQ(dev.Integer("GevDeviceMACAddress"), mac);
        }
        dev = {};
        ASSERT_EQ(gc.DevClose(device), kSuccess) << gc.LastError();
    }

    for (int session = 0; session < 2; ++session) {
        SCOPED_TRACE("session " + std::to_string(session));
        Handle device = nullptr;
        ASSERT_EQ(gc.IFOpenDevice(iface, devId.c_str(), kAccessExclusive, &device), kSuccess) << gc.LastError();
        Handle port = nullptr;
        ASSERT_EQ(gc.DevGetPort(device, &port), kSuccess) << gc.LastError();
        PortNodeMap camera = LoadNodeMap(gc, port);
        ASSERT_TRUE(camera.map) << "the camera's description";
        // Twenty buffers the first time, ten after the reopen into buffers half as large again as the
        // payload; three of the consumer's memory, two of the producer's.
        const size_t payload = static_cast<size_t>(camera.Integer("PayloadSize"));
        StreamFrames(gc, device, camera, session == 0 ? 20 : 10, 3, 2, session == 0 ? 0 : payload / 2);
        camera = {};
        ASSERT_EQ(gc.DevClose(device), kSuccess) << gc.LastError();
    }
    EXPECT_EQ(gc.IFClose(iface), kSuccess) << gc.LastError();
    EXPECT_EQ(gc.TLClose(tl), kSuccess) << gc.LastError();
    EXPECT_EQ(gc.GCCloseLib(), kSuccess);
}

} // namespace qorcam::gentltest
