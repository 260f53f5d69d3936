// The flat C interface: open, look up, typed get and set, entries, categories, errors.
#include "MemoryPort.h"

#include "genapi/GenApiC.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

using qorcam::genapi::testing::Description;

namespace {

std::vector<uint8_t> memory(0x100);

int ReadMemory(void*, uint64_t address, void* buffer, uint64_t length) {
    if (address + length > memory.size()) return 1;
    std::memcpy(buffer, memory.data() + address, length);
    return 0;
}

int WriteMemory(void*, uint64_t address, const void* buffer, uint64_t length) {
    if (address + length > memory.size()) return 1;
    std::memcpy(memory.data() + address, buffer, length);
    return 0;
}

std::string LastError() {
    char text[256];
    size_t size = sizeof text;
    QgaGetLastError(text, &size);
    return text;
}

const std::string kXml = Description(
    "<Category Name='Root'><pFeature>Width</pFeature><pFeature>Mode</pFeature><pFeature>Name</pFeature>"
    "</Category>"
    "<Integer Name='Width'><pValue>WidthReg</pValue><Min>1</Min><Max>100</Max><Inc>1</Inc>"
    "<DisplayName>Image width</DisplayName></Integer>"
    "<IntReg Name='WidthReg'><Address>0</Address><Length>4</Length><AccessMode>RW</AccessMode></IntReg>"
    "<Enumeration Name='Mode'><EnumEntry Name='Off'><Value>0</Value></EnumEntry>"
    "<EnumEntry Name='On'><Value>1</Value></EnumEntry><Value>0</Value></Enumeration>"
    "<StringReg Name='Name'><Address>0x10</Address><Length>8</Length><AccessMode>RW</AccessMode></StringReg>"
    "<Float Name='Gain'><Value>1.5</Value><Min>0</Min><Max>4</Max></Float>"
    "<Command Name='Go'><pValue>WidthReg</pValue><CommandValue>7</CommandValue></Command>");

} // namespace

TEST(GenApiC, WalksReadsAndWrites) {
    QGA_NODEMAP map = nullptr;
    ASSERT_EQ(QgaOpenXml(kXml.c_str(), nullptr, &map), QGA_OK) << LastError();
    ASSERT_EQ(QgaConnect(map, "Device", ReadMemory, WriteMemory, nullptr, 0), QGA_OK);

    QGA_NODE root, feature, width, mode, entry, name, gain, go;
    ASSERT_EQ(QgaGetNode(map, "Root", &root), QGA_OK);
    uint32_t count = 0;
    ASSERT_EQ(QgaGetFeatureCount(root, &count), QGA_OK);
    EXPECT_EQ(count, 3u);
    ASSERT_EQ(QgaGetFeature(root, 1, &feature), QGA_OK);
    char text[64];
    size_t size = sizeof text;
    ASSERT_EQ(QgaGetText(feature, QGA_TEXT_NAME, text, &size), QGA_OK);
    EXPECT_STREQ(text, "Mode");
    EXPECT_EQ(QgaGetFeature(root, 3, &feature), QGA_ERR_NOT_FOUND);

    ASSERT_EQ(QgaGetNode(map, "Width", &width), QGA_OK);
    EXPECT_EQ(QgaSetInt(width, 42), QGA_OK);
    int64_t value = 0, mn = 0, mx = 0, inc = 0;
    EXPECT_EQ(QgaGetInt(width, &value), QGA_OK);
    EXPECT_EQ(value, 42);
    EXPECT_EQ(memory[0], 42);
    EXPECT_EQ(QgaGetIntRange(width, &mn, &mx, &inc), QGA_OK);
    EXPECT_EQ(mx, 100);
    EXPECT_EQ(QgaSetInt(width, 101), QGA_ERR_RANGE);
    EXPECT_NE(LastError().find("between 1 and 100"), std::string::npos) << LastError();
    int32_t kind = -1, access = -1;
    QgaGetInterfaceType(width, &kind);
    QgaGetAccessMode(width, &access);
    EXPECT_EQ(kind, 2);   // integer
    EXPECT_EQ(access, 4); // RW

    ASSERT_EQ(QgaGetNode(map, "Mode", &mode), QGA_OK);
    ASSERT_EQ(QgaGetEnumEntryCount(mode, &count), QGA_OK);
    EXPECT_EQ(count, 2u);
    ASSERT_EQ(QgaGetEnumEntry(mode, 1, &entry), QGA_OK);
    size = sizeof text;
    QgaGetText(entry, QGA_TEXT_SYMBOLIC, text, &size);
    EXPECT_STREQ(text, "On");
    EXPECT_EQ(QgaSetString(mode, "On"), QGA_OK);
    size = sizeof text;
    EXPECT_EQ(QgaGetString(mode, text, &size), QGA_OK);
    EXPECT_STREQ(text, "On");
    EXPECT_EQ(QgaSetString(mode, "Nope"), QGA_ERR_ARGUMENT);

    ASSERT_EQ(QgaGetNode(map, "Name", &name), QGA_OK);
    EXPECT_EQ(QgaSetString(name, "camera"), QGA_OK);
    char small[4];
    size = sizeof small;
    EXPECT_EQ(QgaGetString(name, small, &size), QGA_ERR_BUFFER_SHORT);
    EXPECT_STREQ(small, "cam");
    EXPECT_EQ(size, 7u);

    ASSERT_EQ(QgaGetNode(map, "Gain", &gain), QGA_OK);
    EXPECT_EQ(QgaGetInt(gain, &value), QGA_OK); // a float read as an integer is truncated
    EXPECT_EQ(value, 1);
    EXPECT_EQ(QgaGetBool(gain, &kind), QGA_ERR_WRONG_KIND);

    ASSERT_EQ(QgaGetNode(map, "Go", &go), QGA_OK);
    EXPECT_EQ(QgaExecute(go), QGA_OK);
    EXPECT_EQ(memory[0], 7);

    EXPECT_EQ(QgaGetNode(map, "Missing", &feature), QGA_ERR_NOT_FOUND);
    EXPECT_EQ(QgaGetInt(nullptr, &value), QGA_ERR_ARGUMENT);
    EXPECT_EQ(QgaClose(map), QGA_OK);
    EXPECT_EQ(QgaClose(map), QGA_ERR_ARGUMENT);
}

TEST(GenApiC, OpenFailuresAndReadOnlyPort) {
    QGA_NODEMAP map = reinterpret_cast<QGA_NODEMAP>(1);
    EXPECT_EQ(QgaOpenXml("<broken", nullptr, &map), QGA_ERR_LOGICAL);
    EXPECT_EQ(map, nullptr);
    EXPECT_NE(LastError().find("not well-formed"), std::string::npos);
    EXPECT_EQ(QgaOpenFile("/nonexistent/description.xml", &map), QGA_ERR_LOGICAL);

    ASSERT_EQ(QgaOpenXml(kXml.c_str(), nullptr, &map), QGA_OK);
    ASSERT_EQ(QgaConnect(map, "Device", ReadMemory, WriteMemory, nullptr, 1), QGA_OK);
    QGA_NODE width;
    QgaGetNode(map, "Width", &width);
    EXPECT_EQ(QgaSetInt(width, 5), QGA_ERR_ACCESS);
    EXPECT_EQ(QgaConnect(map, "Nowhere", ReadMemory, WriteMemory, nullptr, 0), QGA_ERR_NOT_FOUND);
    QgaClose(map);
}
