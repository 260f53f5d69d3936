// Export frame: initialisation, the last-error record, handle tests and the port functions.
#include "FakeProducerFixture.h"

#include <atomic>
#include <cstring>
#include <set>
#include <thread>
#include <vector>

namespace qorcam::testing {
namespace {

using ExportFrame = FakeProducerTest;

TEST_F(ExportFrame, LastErrorLivesUntilTheLastCloseLib) {
    // Nothing failed yet: no record, and the outputs stay untouched.
    char text[8] = "xxxxxxx";
    size_t size = sizeof text;
    GC_ERROR code = 77;
    EXPECT_EQ(gc->GCGetLastError(&code, text, &size), GC_ERR_NO_DATA);
    EXPECT_EQ(size, sizeof text);
    EXPECT_STREQ(text, "xxxxxxx");

    ExpectError(gc->TLClose(nullptr), GC_ERR_ERROR, "Invalid Device Handle");
    // Success neither clears nor changes the record.
    uint32_t count = 0;
    ASSERT_EQ(gc->TLGetNumInterfaces(tl, &count), GC_ERR_SUCCESS);
    EXPECT_EQ(gc->LastError().second, "Invalid Device Handle");

    // A nested GCInitLib keeps the record through its GCCloseLib; the last close frees it.
    ASSERT_EQ(gc->GCInitLib(), GC_ERR_SUCCESS);
    ASSERT_EQ(gc->GCCloseLib(), GC_ERR_SUCCESS);
    EXPECT_EQ(gc->LastError().second, "Invalid Device Handle");
    ASSERT_EQ(gc->GCCloseLib(), GC_ERR_SUCCESS);
    EXPECT_EQ(gc->GCGetLastError(&code, text, &size), GC_ERR_NO_DATA);
    // An unmatched GCCloseLib does not wrap the count: one GCInitLib is again the first.
    EXPECT_EQ(gc->GCCloseLib(), GC_ERR_SUCCESS);
    ASSERT_EQ(gc->GCInitLib(), GC_ERR_SUCCESS);
    ExpectError(gc->TLClose(nullptr), GC_ERR_ERROR, "Invalid Device Handle");
    ASSERT_EQ(gc->GCCloseLib(), GC_ERR_SUCCESS);
    EXPECT_EQ(gc->GCGetLastError(&code, text, &size), GC_ERR_NO_DATA);
    ASSERT_EQ(gc->GCInitLib(), GC_ERR_SUCCESS); // for TearDown
}

TEST_F(ExportFrame, GetLastErrorNeverWritesPastTheGivenSize) {
    ExpectError(gc->TLClose(nullptr), GC_ERR_ERROR, "Invalid Device Handle");
    const size_t full = std::strlen("Invalid Device Handle") + 1;
    GC_ERROR code = 0;

    // Size queries: a null text, or a size of 0.
    size_t size = 5;
    EXPECT_EQ(gc->GCGetLastError(&code, nullptr, &size), GC_ERR_SUCCESS);
    EXPECT_EQ(size, full);
    char guard[64];
    std::memset(guard, '#', sizeof guard);
    size = 0;
    EXPECT_EQ(gc->GCGetLastError(&code, guard, &size), GC_ERR_SUCCESS);
    EXPECT_EQ(size, full);
    EXPECT_EQ(guard[0], '#');

    // A short buffer gets the text cut and terminated; the byte after it stays untouched.
    size = 8;
    EXPECT_EQ(gc->GCGetLastError(&code, guard, &size), GC_ERR_SUCCESS);
    EXPECT_STREQ(guard, "Invalid");
    EXPECT_EQ(guard[8], '#');
    EXPECT_EQ(size, full);
    EXPECT_EQ(code, GC_ERR_ERROR);

    // The code pointer is optional; the size pointer is not.
    size = sizeof guard;
    EXPECT_EQ(gc->GCGetLastError(nullptr, guard, &size), GC_ERR_SUCCESS);
    EXPECT_STREQ(guard, "Invalid Device Handle");
    EXPECT_EQ(gc->GCGetLastError(&code, guard, nullptr), GC_ERR_INVALID_PARAMETER);
}

TEST_F(ExportFrame, LastErrorTextIsNeverTornBetweenThreads) {
    IF_HANDLE iface = OpenInterface();
    DEV_HANDLE device = OpenDevice(iface);
    const std::set<std::string> known = {"Invalid Device Handle", "Invalid Stream Index 7",
                                         "Event ID 1000 not implemented"};
    std::atomic<bool> stop{false};
    std::vector<std::thread> writers;
    writers.emplace_back([&] {
        while (!stop)
            gc->TLClose(nullptr);
    });
    writers.emplace_back([&] {
        char text[32];
        size_t size = sizeof text;
        while (!stop)
            gc->DevGetDataStreamID(device, 7, text, &size);
    });
    writers.emplace_back([&] {
        EVENT_HANDLE event;
        while (!stop)
            gc->GCRegisterEvent(device, EVENT_CUSTOM_BUS, &event);
    });
    for (int i = 0; i < 2000; ++i) {
        auto [code, text] = gc->LastError();
        if (code == GC_ERR_NO_DATA) continue;
        ASSERT_TRUE(known.count(text)) << text;
    }
    stop = true;
    for (auto& t : writers)
        t.join();
}

TEST_F(ExportFrame, WrongStaleAndGarbageModuleHandlesAreRefused) {
    IF_HANDLE iface = OpenInterface();
    DEV_HANDLE device = OpenDevice(iface);
    DS_HANDLE stream = nullptr;
    ASSERT_EQ(gc->DevOpenDataStream(device, "DS0", &stream), GC_ERR_SUCCESS);

    TL_HANDLE staleTl = nullptr;
    ASSERT_EQ(gc->TLOpen(&staleTl), GC_ERR_SUCCESS);
    ASSERT_EQ(gc->TLClose(staleTl), GC_ERR_SUCCESS);
    uint64_t garbage[8] = {};

    uint32_t count = 0;
    struct Case {
        const char* what;
        std::function<GC_ERROR()> call;
    };
    const std::vector<Case> cases = {
        {"device handle to IFClose", [&] { return gc->IFClose(device); }},
        {"interface handle to DevClose", [&] { return gc->DevClose(iface); }},
        {"stream handle to TLClose", [&] { return gc->TLClose(stream); }},
        {"null to IFGetNumDevices", [&] { return gc->IFGetNumDevices(nullptr, &count); }},
        {"closed system module", [&] { return gc->TLGetNumInterfaces(staleTl, &count); }},
        {"closed system module closed again", [&] { return gc->TLClose(staleTl); }},
        {"garbage pointer", [&] { return gc->DevClose(garbage); }},
        {"stream handle as buffer", [&] { return gc->DSQueueBuffer(stream, stream); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ExpectError(c.call(), GC_ERR_ERROR, "Invalid Device Handle");
    }
    // Nothing was closed by the refused calls.
    EXPECT_EQ(gc->IFGetNumDevices(iface, &count), GC_ERR_SUCCESS);
    EXPECT_EQ(count, 2u);
    DEV_HANDLE parent = nullptr;
    EXPECT_EQ(gc->DSGetParentDev(stream, &parent), GC_ERR_SUCCESS);
    EXPECT_EQ(parent, device);
}

TEST_F(ExportFrame, ClosingAParentMakesItsChildrenStale) {
    IF_HANDLE iface = OpenInterface();
    DEV_HANDLE device = OpenDevice(iface);
    DS_HANDLE stream = nullptr;
    ASSERT_EQ(gc->DevOpenDataStream(device, "DS1", &stream), GC_ERR_SUCCESS);
    EVENT_HANDLE bus = nullptr;
    ASSERT_EQ(gc->GCRegisterEvent(iface, EVENT_CUSTOM_BUS, &bus), GC_ERR_SUCCESS);

    ASSERT_EQ(gc->TLClose(tl), GC_ERR_SUCCESS);
    tl = nullptr;
    ExpectError(gc->DSClose(stream), GC_ERR_ERROR, "Invalid Device Handle");
    ExpectError(gc->DevClose(device), GC_ERR_ERROR, "Invalid Device Handle");
    ExpectError(gc->IFClose(iface), GC_ERR_ERROR, "Invalid Device Handle");
    ExpectError(gc->EventFlush(bus), GC_ERR_INVALID_HANDLE, "Invalid Event Handle");
    size_t size = 8;
    EXPECT_EQ(gc->GCReadPort(iface, 0, nullptr, &size), GC_ERR_INVALID_HANDLE);
}

TEST_F(ExportFrame, NullOutputsAndHandlesOfThePreChecksLeaveTheRecordAlone) {
    IF_HANDLE iface = OpenInterface();
    DEV_HANDLE device = OpenDevice(iface);
    uint64_t garbage[4] = {};
    size_t size = 4;
    uint8_t buffer[4];
    struct Case {
        const char* what;
        GC_ERROR expected;
        std::function<GC_ERROR()> call;
    };
    const std::vector<Case> cases = {
        {"TLOpen null output", GC_ERR_INVALID_PARAMETER, [&] { return gc->TLOpen(nullptr); }},
        {"TLGetNumInterfaces null output", GC_ERR_INVALID_PARAMETER,
         [&] { return gc->TLGetNumInterfaces(tl, nullptr); }},
        {"TLOpenInterface null output", GC_ERR_INVALID_PARAMETER,
         [&] { return gc->TLOpenInterface(tl, "fake0", nullptr); }},
        {"IFOpenDevice null output", GC_ERR_INVALID_PARAMETER,
         [&] { return gc->IFOpenDevice(iface, "Fake::2", DEVICE_ACCESS_CONTROL, nullptr); }},
        {"GCRegisterEvent null output", GC_ERR_INVALID_PARAMETER,
         [&] { return gc->GCRegisterEvent(iface, EVENT_CUSTOM_BUS, nullptr); }},
        {"GCReadPort null port", GC_ERR_INVALID_HANDLE,
         [&] { return gc->GCReadPort(nullptr, 0, buffer, &size); }},
        {"GCReadPort garbage port", GC_ERR_INVALID_HANDLE,
         [&] { return gc->GCReadPort(garbage, 0, buffer, &size); }},
        {"GCUnregisterEvent null source", GC_ERR_INVALID_HANDLE,
         [&] { return gc->GCUnregisterEvent(nullptr, EVENT_CUSTOM_BUS); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(c.call(), c.expected);
        EXPECT_EQ(gc->LastError().first, GC_ERR_NO_DATA);
    }
    // The refused IFOpenDevice opened nothing: the device can still be opened.
    DEV_HANDLE second = nullptr;
    EXPECT_EQ(gc->IFOpenDevice(iface, "Fake::2", DEVICE_ACCESS_CONTROL, &second), GC_ERR_SUCCESS);
    ExpectError(gc->IFOpenDevice(iface, "Fake::1", DEVICE_ACCESS_CONTROL, &second), GC_ERR_ERROR,
                "Device already open");
    (void)device;
}

TEST_F(ExportFrame, PortAccessAndStackedAccess) {
    IF_HANDLE iface = OpenInterface();
    // Modules without registers answer size 0.
    uint8_t buffer[16];
    size_t size = sizeof buffer;
    EXPECT_EQ(gc->GCReadPort(tl, 0x100, buffer, &size), GC_ERR_SUCCESS);
    EXPECT_EQ(size, 0u);
    // Its one URL names its description, beside the registers.
    uint32_t urls = 9;
    EXPECT_EQ(gc->GCGetNumPortURLs(tl, &urls), GC_ERR_SUCCESS);
    EXPECT_EQ(urls, 1u);
    // A missing size, or a missing buffer for a non-empty access, is refused before the module.
    ExpectError(gc->GCReadPort(iface, 0, buffer, nullptr), GC_ERR_INVALID_PARAMETER, "Invalid Size");
    size = 4;
    ExpectError(gc->GCReadPort(iface, 0, nullptr, &size), GC_ERR_INVALID_PARAMETER, "Invalid buffer");

    // Three entries, the second fails: its code, and one entry done.
    uint32_t a = 0, b = 0, c = 0;
    PORT_REGISTER_STACK_ENTRY entries[3] = {{0x10, &a, 4}, {0xBAD, &b, 4}, {0x18, &c, 4}};
    size_t count = 3;
    ExpectError(gc->GCReadPortStacked(iface, entries, &count), GC_ERR_ERROR, "Error I/O");
    EXPECT_EQ(count, 1u);
    EXPECT_EQ(a, 0xABABABABu);
    EXPECT_EQ(c, 0u);
    entries[1].Address = 0x14;
    count = 3;
    EXPECT_EQ(gc->GCReadPortStacked(iface, entries, &count), GC_ERR_SUCCESS);
    EXPECT_EQ(count, 3u);
    EXPECT_EQ(c, 0xABABABABu);
    // An empty or missing list is a handle error.
    count = 0;
    EXPECT_EQ(gc->GCReadPortStacked(iface, entries, &count), GC_ERR_INVALID_HANDLE);
    EXPECT_EQ(gc->GCWritePortStacked(iface, nullptr, &count), GC_ERR_INVALID_HANDLE);
}

TEST_F(ExportFrame, ExceptionsBecomeCodesAndTexts) {
    IF_HANDLE iface = OpenInterface();
    struct Case {
        uint64_t address;
        GC_ERROR code;
        const char* text;
    };
    const Case cases[] = {
        {0xE1, GC_ERR_INVALID_PARAMETER, "bad argument"}, // before logic_error, from which it derives
        {0xE2, GC_ERR_ERROR, "out of range"},
        {0xBAD, GC_ERR_ERROR, "Error I/O"},
        {0xE3, GC_ERR_ERROR, "logic"},
        {0xE4, GC_ERR_TIMEOUT, "waited too long"},
        {0xE5, GC_ERR_ERROR, "wrong class"},
    };
    uint8_t buffer[4];
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        size_t size = sizeof buffer;
        ExpectError(gc->GCReadPort(iface, c.address, buffer, &size), c.code, c.text);
    }
    // Any other exception: -1001, and the record stays as the last failure left it.
    size_t size = sizeof buffer;
    ExpectError(gc->GCReadPort(iface, 0xE6, buffer, &size), GC_ERR_ERROR, "wrong class");
}

TEST_F(ExportFrame, DeviceStreamsAndBuffers) {
    IF_HANDLE iface = OpenInterface();
    DEV_HANDLE device = OpenDevice(iface);
    uint32_t streams = 0;
    EXPECT_EQ(gc->DevGetNumDataStreams(device, &streams), GC_ERR_SUCCESS);
    EXPECT_EQ(streams, 2u);
    char id[8];
    size_t size = sizeof id;
    EXPECT_EQ(gc->DevGetDataStreamID(device, 1, id, &size), GC_ERR_SUCCESS);
    EXPECT_STREQ(id, "DS1");
    ExpectError(gc->DevGetDataStreamID(device, 2, id, &size), GC_ERR_INVALID_PARAMETER,
                "Invalid Stream Index 2");

    DS_HANDLE ds0 = nullptr, again = nullptr, bad = nullptr;
    ASSERT_EQ(gc->DevOpenDataStream(device, "DS0", &ds0), GC_ERR_SUCCESS);
    ASSERT_EQ(gc->DevOpenDataStream(device, "DS0", &again), GC_ERR_SUCCESS);
    EXPECT_EQ(ds0, again);
    ExpectError(gc->DevOpenDataStream(device, "DS7", &bad), GC_ERR_INVALID_PARAMETER,
                "Invalid Stream ID DS7");

    IF_HANDLE parentIf = nullptr;
    TL_HANDLE parentTl = nullptr;
    EXPECT_EQ(gc->DevGetParentIF(device, &parentIf), GC_ERR_SUCCESS);
    EXPECT_EQ(parentIf, iface);
    EXPECT_EQ(gc->IFGetParentTL(iface, &parentTl), GC_ERR_SUCCESS);
    EXPECT_EQ(parentTl, tl);

    BUFFER_HANDLE buffer = nullptr;
    int user = 0;
    ASSERT_EQ(gc->DSAllocAndAnnounceBuffer(ds0, 100, &user, &buffer), GC_ERR_SUCCESS);
    void* base = nullptr;
    size = sizeof base;
    INFO_DATATYPE type = 0;
    EXPECT_EQ(gc->DSGetBufferInfo(ds0, buffer, BUFFER_INFO_BASE, &type, &base, &size), GC_ERR_SUCCESS);
    EXPECT_EQ(type, INFO_DATATYPE_PTR);
    EXPECT_NE(base, nullptr);

    // No chunk layout: the count says 0.
    size_t chunks = 5;
    SINGLE_CHUNK_DATA chunk[1];
    EXPECT_EQ(gc->DSGetBufferChunkData(ds0, buffer, chunk, &chunks), GC_ERR_SUCCESS);
    EXPECT_EQ(chunks, 0u);

    // A revoked buffer's handle is stale.
    void* memory = &user;
    void* priv = nullptr;
    EXPECT_EQ(gc->DSRevokeBuffer(ds0, buffer, &memory, &priv), GC_ERR_SUCCESS);
    EXPECT_EQ(priv, &user);
    ExpectError(gc->DSRevokeBuffer(ds0, buffer, &memory, &priv), GC_ERR_ERROR, "Invalid Device Handle");

    // Closing a stream frees its slot; the device opens a new one.
    ASSERT_EQ(gc->DSClose(ds0), GC_ERR_SUCCESS);
    ASSERT_EQ(gc->DevOpenDataStream(device, "DS0", &again), GC_ERR_SUCCESS);
    EXPECT_EQ(gc->DSClose(again), GC_ERR_SUCCESS);
}

} // namespace
} // namespace qorcam::testing
