// Info answers with their size rule, and the system module's interface list.
#include "FakeProducerFixture.h"

#include <cstring>

namespace qorcam::testing {
namespace {

using InfoAnswers = FakeProducerTest;

TEST_F(InfoAnswers, FillersFollowOneSizeRule) {
    // "Custom" needs 7 bytes with its terminator.
    char buffer[16];
    std::memset(buffer, '#', sizeof buffer);
    INFO_DATATYPE type = -1;
    size_t size = 99;
    EXPECT_EQ(gc->GCGetInfo(TL_INFO_TLTYPE, &type, nullptr, &size), GC_ERR_SUCCESS);
    EXPECT_EQ(size, 7u);
    EXPECT_EQ(type, INFO_DATATYPE_STRING);

    struct Case {
        size_t given;
        GC_ERROR expected;
        const char* text;
    };
    for (const Case& c : {Case{6, GC_ERR_INVALID_PARAMETER, "Invalid Buffer Size"},
                          Case{0, GC_ERR_INVALID_PARAMETER, "Invalid Buffer Size"},
                          Case{7, GC_ERR_SUCCESS, ""}, Case{16, GC_ERR_SUCCESS, ""}}) {
        SCOPED_TRACE(c.given);
        type = -1;
        size = c.given;
        std::memset(buffer, '#', sizeof buffer);
        const GC_ERROR result = gc->GCGetInfo(TL_INFO_TLTYPE, &type, buffer, &size);
        EXPECT_EQ(type, INFO_DATATYPE_STRING); // the type is stored also when the call fails
        if (c.expected == GC_ERR_SUCCESS) {
            EXPECT_EQ(result, GC_ERR_SUCCESS);
            EXPECT_STREQ(buffer, "Custom");
            EXPECT_EQ(size, 7u);
            EXPECT_EQ(buffer[7], '#');
        } else {
            ExpectError(result, c.expected, c.text);
            EXPECT_EQ(buffer[0], '#');
        }
    }
    ExpectError(gc->GCGetInfo(TL_INFO_MODEL, &type, buffer, nullptr), GC_ERR_INVALID_PARAMETER,
                "Invalid Size");

    // The same rule for texts handed out without a type.
    char id[8];
    size = 0;
    ExpectError(gc->TLGetInterfaceID(tl, 0, id, &size), GC_ERR_INVALID_PARAMETER, "Invalid Buffer Size");
    size = 0;
    EXPECT_EQ(gc->TLGetInterfaceID(tl, 0, nullptr, &size), GC_ERR_SUCCESS);
    EXPECT_EQ(size, std::strlen("FAKE::fake0") + 1);
}

TEST_F(InfoAnswers, LibraryInfoThroughGCGetInfoAndTLGetInfo) {
    ExpectLibraryInfo(*gc, tl,
                      {{TL_INFO_ID, "FakeGenTL.cti"},
                       {TL_INFO_VENDOR, "Fake Vendor"},
                       {TL_INFO_MODEL, "FakeGenTL"},
                       {TL_INFO_TLTYPE, "Custom"},
                       {TL_INFO_NAME, "FakeGenTL.cti"},
                       {TL_INFO_DISPLAYNAME, "GenTL Fake"}});
    const std::string path = gc->InfoText(
        [&](INFO_DATATYPE* t, void* b, size_t* s) { return gc->GCGetInfo(TL_INFO_PATHNAME, t, b, s); });
    EXPECT_EQ(path.substr(path.rfind('/') + 1), "FakeGenTL.cti");
    EXPECT_EQ(path.front(), '/');
    const std::string version = gc->InfoText(
        [&](INFO_DATATYPE* t, void* b, size_t* s) { return gc->GCGetInfo(TL_INFO_VERSION, t, b, s); });
    EXPECT_EQ(version, "1.1.6.0");

    // TL_INFO_ID needs no system module; every other command does.
    char text[64];
    size_t size = sizeof text;
    EXPECT_EQ(gc->TLGetInfo(nullptr, TL_INFO_ID, nullptr, text, &size), GC_ERR_SUCCESS);
    size = sizeof text;
    ExpectError(gc->TLGetInfo(nullptr, TL_INFO_MODEL, nullptr, text, &size), GC_ERR_ERROR,
                "Invalid Device Handle");
    ExpectError(gc->TLGetInfo(tl, TL_INFO_CHAR_ENCODING, nullptr, text, &size), GC_ERR_INVALID_PARAMETER,
                "Invalid cmd");
    ExpectError(gc->GCGetInfo(TL_INFO_CHAR_ENCODING, nullptr, text, &size), GC_ERR_INVALID_PARAMETER,
                "Unsupported GCInfo parameter");
    ExpectError(gc->GCGetInfo(-1, nullptr, text, &size), GC_ERR_INVALID_PARAMETER,
                "Unsupported GCInfo parameter");
}

TEST_F(InfoAnswers, SystemModulePortInfo) {
    struct Case {
        PORT_INFO_CMD cmd;
        INFO_DATATYPE type;
        std::string text;
        int flag;
    };
    const Case cases[] = {
        {PORT_INFO_ID, INFO_DATATYPE_STRING, "0", -1},
        {PORT_INFO_MODULE, INFO_DATATYPE_STRING, "TLSystem", -1},
        {PORT_INFO_PORTNAME, INFO_DATATYPE_STRING, "TLPort", -1},
        {PORT_INFO_VERSION, INFO_DATATYPE_STRING, "1.1.6.0", -1},
        {PORT_INFO_LITTLE_ENDIAN, INFO_DATATYPE_BOOL8, "", 1},
        {PORT_INFO_BIG_ENDIAN, INFO_DATATYPE_BOOL8, "", 0},
        {PORT_INFO_ACCESS_READ, INFO_DATATYPE_BOOL8, "", 0},
        {PORT_INFO_ACCESS_NI, INFO_DATATYPE_BOOL8, "", 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.cmd);
        char buffer[64] = {};
        size_t size = sizeof buffer;
        INFO_DATATYPE type = -1;
        ASSERT_EQ(gc->GCGetPortInfo(tl, c.cmd, &type, buffer, &size), GC_ERR_SUCCESS);
        EXPECT_EQ(type, c.type);
        if (c.flag >= 0) {
            EXPECT_EQ(size, 1u);
            EXPECT_EQ(buffer[0], c.flag);
        } else {
            EXPECT_EQ(std::string(buffer), c.text);
        }
    }
    char buffer[8];
    size_t size = sizeof buffer;
    ExpectError(gc->GCGetPortInfo(tl, 13, nullptr, buffer, &size), GC_ERR_INVALID_PARAMETER,
                "Invalid parameter");
}

TEST_F(InfoAnswers, InterfaceListIsReadLazilyAndKeepsItsEntries) {
    // Before any list read, the interface is unknown by id.
    char buffer[64];
    size_t size = sizeof buffer;
    ExpectError(gc->TLGetInterfaceInfo(tl, "FAKE::fake0", INTERFACE_INFO_ID, nullptr, buffer, &size),
                GC_ERR_INVALID_PARAMETER, "Invalid Interface name");

    uint32_t count = 0;
    ASSERT_EQ(gc->TLGetNumInterfaces(tl, &count), GC_ERR_SUCCESS);
    EXPECT_EQ(count, 1u);
    EXPECT_EQ(gc->InfoText([&](INFO_DATATYPE* t, void* b, size_t* s) {
        return gc->TLGetInterfaceInfo(tl, "FAKE::fake0", INTERFACE_INFO_DISPLAYNAME, t, b, s);
    }),
              "Interface : fake0");
    size = sizeof buffer;
    ExpectError(gc->TLGetInterfaceID(tl, 1, buffer, &size), GC_ERR_INVALID_PARAMETER,
                "Interface Index not available");

    bool8_t changed = 7;
    EXPECT_EQ(gc->TLUpdateInterfaceList(tl, &changed, 100), GC_ERR_SUCCESS);
    EXPECT_EQ(changed, 0);
    setInterfaceCount(2);
    EXPECT_EQ(gc->TLUpdateInterfaceList(tl, &changed, 100), GC_ERR_SUCCESS);
    EXPECT_EQ(changed, 1);
    EXPECT_EQ(gc->TLGetNumInterfaces(tl, &count), GC_ERR_SUCCESS);
    EXPECT_EQ(count, 2u);
    setInterfaceCount(1);
    EXPECT_EQ(gc->TLUpdateInterfaceList(tl, &changed, 100), GC_ERR_SUCCESS);
    EXPECT_EQ(changed, 1);
    EXPECT_EQ(gc->TLUpdateInterfaceList(tl, nullptr, 100), GC_ERR_SUCCESS);
}

TEST_F(InfoAnswers, OpeningInterfacesById) {
    // The full id in any case opens the interface; the device path alone finds the open one again.
    IF_HANDLE byLowerId = nullptr, byPath = nullptr, byId = nullptr, none = nullptr;
    ASSERT_EQ(gc->TLOpenInterface(tl, "fake::FAKE0", &byLowerId), GC_ERR_SUCCESS);
    ASSERT_EQ(gc->TLOpenInterface(tl, "fake0", &byPath), GC_ERR_SUCCESS);
    EXPECT_EQ(byPath, byLowerId);
    ASSERT_EQ(gc->TLOpenInterface(tl, "FAKE::fake0", &byId), GC_ERR_SUCCESS);
    EXPECT_NE(byId, byLowerId);

    ExpectError(gc->TLOpenInterface(tl, "FAKE::nothing", &none), GC_ERR_ERROR,
                "Invalid interface name FAKE::nothing");
    ExpectError(gc->TLOpenInterface(tl, "FAKE::", &none), GC_ERR_INVALID_PARAMETER, "Invalid Device Name");
    ExpectError(gc->TLOpenInterface(tl, nullptr, &none), GC_ERR_ERROR, "Invalid interface name ");
    // Formatted texts are cut at 255 characters.
    const std::string longId(400, 'x');
    EXPECT_EQ(gc->TLOpenInterface(tl, longId.c_str(), &none), GC_ERR_ERROR);
    EXPECT_EQ(gc->LastError().second, ("Invalid interface name " + longId).substr(0, 255));

    EXPECT_EQ(gc->InfoText([&](INFO_DATATYPE* t, void* b, size_t* s) {
        return gc->IFGetInfo(byId, INTERFACE_INFO_ID, t, b, s);
    }),
              "FAKE::fake0");
    char buffer[8];
    size_t size = sizeof buffer;
    ExpectError(gc->IFGetInfo(byId, 3, nullptr, buffer, &size), GC_ERR_INVALID_PARAMETER,
                "Invalid InterfaceInfoID 3");
    // An interface closed by IFClose is forgotten by its system module; TLClose closes the other.
    EXPECT_EQ(gc->IFClose(byId), GC_ERR_SUCCESS);
}

} // namespace
} // namespace qorcam::testing
