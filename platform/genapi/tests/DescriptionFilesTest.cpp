// The public test description and the emulator's description: every node reads or fails clearly.
#include "MemoryPort.h"

#include "genapi/GenericException.h"
#include "genapi/NodeMap.h"
#include "genapi/Pointer.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

using namespace qorcam::genapi;
using qorcam::genapi::testing::MemoryPort;

namespace {

std::string ReadFixture(const char* name) {
    std::ifstream file(std::string(GENAPI_TEST_DATA) + "/" + name, std::ios::binary);
    std::stringstream text;
    text << file.rdbuf();
    return text.str();
}

/// Reads every node through its principal interface; a failure must be one
/// of the node map's own exceptions with a text. Returns the number read.
int ReadEveryNode(CNodeMapRef& map, std::vector<std::string>* failures = nullptr) {
    int read = 0;
    for (INode* node : map.GetNodes()) {
        try {
            node->GetAccessMode();
            node->IsCachable();
            if (auto* value = dynamic_cast<IValue*>(node); value && IsReadable(node->GetAccessMode())) {
                if (auto* c = dynamic_cast<ICommand*>(node))
                    c->IsDone();
                else
                    value->ToString();
                if (auto* i = dynamic_cast<IInteger*>(node)) {
                    i->GetMin();
                    i->GetMax();
                    i->GetInc();
                }
                if (auto* f = dynamic_cast<IFloat*>(node)) {
                    f->GetMin();
                    f->GetMax();
                }
            }
            ++read;
        } catch (const GenericException& e) {
            EXPECT_GT(std::string(e.what()).size(), 10u);
            if (failures) failures->push_back(node->GetName() + ": " + e.what());
        }
    }
    return read;
}

} // namespace

TEST(PublicTestDescription, EveryNodeReadsOrFailsClearly) {
    CNodeMapRef map;
    map._LoadXMLFromString(ReadFixture("aravis-genicam-test.xml").c_str());
    MemoryPort port(0x40000);
    ASSERT_TRUE(map._Connect(&port));
    std::vector<std::string> failures;
    int read = ReadEveryNode(map, &failures);
    EXPECT_GT(read, 80);
    // The chunk ports are never connected here, so their features are NA and
    // are skipped; nothing else may fail.
    for (const auto& f : failures)
        ADD_FAILURE() << f;
}

TEST(PublicTestDescription, KnownValues) {
    CNodeMapRef map;
    map._LoadXMLFromString(ReadFixture("aravis-genicam-test.xml").c_str());
    MemoryPort port(0x40000);
    map._Connect(&port);

    struct IntCase {
        const char* node;
        int64_t value;
    } ints[] = {
        {"IntSwissKnifeTestEntity", 0x10305070},
        {"IntSwissKnifeTestEntity2", 3},
        {"IntSwissKnifeTest", 0x1234},
        {"IntSwissKnifeTestSubAndConstant", 140}, // TEN * (TEN + X) with X = 4
        {"IntSwissKnifeBug699228", 4},
        {"Table", 200},
        {"Multiplexer", 200},
        {"IntConverter", 10},                      // 0.1 * 100
        {"IntConverterTestSubAndConstant", 10000}, // 100 * 10 * 10
        {"P_RWInteger", 1},
        {"IntRegisterBAddress", 0xff},
    };
    for (const auto& c : ints) {
        CIntegerPtr node = map._GetNode(c.node);
        ASSERT_TRUE(node.IsValid()) << c.node;
        EXPECT_EQ(node->GetValue(), c.value) << c.node;
    }
    EXPECT_DOUBLE_EQ(CFloatPtr(map._GetNode("Converter"))->GetValue(), 200.0);
    EXPECT_DOUBLE_EQ(CFloatPtr(map._GetNode("FloatTable"))->GetValue(), 200.2);
    EXPECT_DOUBLE_EQ(CFloatPtr(map._GetNode("FloatMultiplexer"))->GetValue(), 200.2);
    EXPECT_DOUBLE_EQ(CFloatPtr(map._GetNode("P_RWFloat"))->GetValue(), 0.1);
    EXPECT_EQ(CStringPtr(map._GetNode("StringNodeB"))->GetValue(), "Hello World!");
    EXPECT_TRUE(CBooleanPtr(map._GetNode("P_RWBoolean"))->GetValue());

    // Addresses: 100 + 20 + 5 * 1000 + 3 * 10000 + 2 * length 4.
    EXPECT_EQ(CRegisterPtr(map._GetNode("IndexedRegister"))->GetAddress(), 35128);
    // pAddress adds to Address.
    EXPECT_EQ(CRegisterPtr(map._GetNode("IntRegisterA"))->GetAddress(), 0x1050);
    EXPECT_EQ(CRegisterPtr(map._GetNode("IntRegisterB"))->GetAddress(), 0x20ff);

    // Selector tables follow their index.
    CIntegerPtr(map._GetNode("TableSelector"))->SetValue(10);
    EXPECT_EQ(CIntegerPtr(map._GetNode("Table"))->GetValue(), 100);
    CIntegerPtr(map._GetNode("TableSelector"))->SetValue(33);
    EXPECT_EQ(CIntegerPtr(map._GetNode("Table"))->GetValue(), 600);

    // Enumeration entries: one not available, one not implemented.
    CEnumerationPtr e = map._GetNode("Enumeration");
    EXPECT_EQ(e->ToString(), "Entry0");
    EXPECT_EQ(e->GetEntries().size(), 4u);
    EXPECT_EQ(e->GetEntryByName("EntryNotAvailable")->GetNode()->GetAccessMode(), NA);
    EXPECT_EQ(e->GetEntryByName("EntryNotImplemented")->GetNode()->GetAccessMode(), NI);
    EXPECT_THROW(*e = "EntryNotAvailable", AccessException);
    *e = "Entry1";
    EXPECT_EQ(CIntegerPtr(map._GetNode("EnumerationValue"))->GetValue(), 1);

    // Imposed access modes narrow, never widen.
    EXPECT_EQ(map._GetNode("RWRegister_ImposedAccessModeRO")->GetAccessMode(), RO);
    EXPECT_EQ(map._GetNode("RORegister_ImposedAccessModeRW")->GetAccessMode(), RO);
    EXPECT_EQ(map._GetNode("RWStructEntry_ImposedAccessModeRW")->GetAccessMode(), RW);
    EXPECT_EQ(map._GetNode("ROStructEntry_ImposedAccessModeRW")->GetAccessMode(), RO);

    // Locks follow the value of their lock node, whatever its kind.
    for (const char* lock : {"IntegerLock", "FloatLock", "BooleanLock"}) {
        std::string locked = std::string("LockedBy") + (lock[0] == 'I'   ? "Integer"
                                                        : lock[0] == 'F' ? "Float"
                                                                         : "Boolean");
        EXPECT_EQ(map._GetNode(locked)->GetAccessMode(), RW) << locked;
        CValuePtr(map._GetNode(lock))->FromString("1");
        EXPECT_EQ(map._GetNode(locked)->GetAccessMode(), RO) << locked;
        EXPECT_THROW(CIntegerPtr(map._GetNode(locked))->SetValue(1), AccessException);
    }
    EXPECT_EQ(map._GetNode("RWFloat")->GetVisibility(), Guru);
    EXPECT_EQ(map._GetNode("ChunkInt")->GetAccessMode(), NA);
    EXPECT_THROW(CIntegerPtr(map._GetNode("ChunkInt"))->GetValue(), AccessException);
}

TEST(EmulatorDescription, EveryNodeReadsAndStandardFeaturesWork) {
    CNodeMapRef map("Device");
    map._LoadXMLFromString(ReadFixture("aravis-fake-camera.xml").c_str());
    MemoryPort port(0x10000);
    port.Put32BE(0x118, 480); // sensor height
    port.Put32BE(0x11c, 640); // sensor width
    port.Put32BE(0x100, 512); // width
    port.Put32BE(0x104, 256); // height
    port.Put32BE(0x128, 0x01080001);
    port.Put32BE(0x138, 40000);
    port.Put32BE(0x120, 1000);
    port.Put32BE(0x12c, 1); // acquisition mode: continuous
    port.Put32BE(0x114, 1); // gain auto: off
    ASSERT_TRUE(map._Connect(&port));
    std::vector<std::string> failures;
    ReadEveryNode(map, &failures);
    for (const auto& f : failures)
        ADD_FAILURE() << f;

    CIntegerPtr width = map._GetNode("Width");
    CIntegerPtr payload = map._GetNode("PayloadSize");
    CEnumerationPtr format = map._GetNode("PixelFormat");
    EXPECT_EQ(width->GetMax(), 640);
    EXPECT_EQ(payload->GetValue(), 512 * 256);
    *format = "Mono16";
    width->SetValue(320);
    EXPECT_EQ(port.Get32BE(0x100), 320u);
    EXPECT_EQ(payload->GetValue(), 320 * 256 * 2);
    EXPECT_THROW(width->SetValue(641), OutOfRangeException);
    EXPECT_THROW(width->SetValue(0), OutOfRangeException);
    EXPECT_DOUBLE_EQ(CFloatPtr(map._GetNode("AcquisitionFrameRate"))->GetValue(), 25.0);

    // The trigger registers are indexed by the selector.
    CEnumerationPtr selector = map._GetNode("TriggerSelector");
    CEnumerationPtr mode = map._GetNode("TriggerMode");
    *selector = "AcquisitionStart";
    *mode = "On";
    EXPECT_EQ(port.Get32BE(0x320), 1u);
    EXPECT_EQ(port.Get32BE(0x300), 0u);
    *selector = "FrameStart";
    EXPECT_EQ(mode->ToString(), "Off");

    // Struct entries of one big-endian register, bit numbers from the top.
    CIntegerPtr(map._GetNode("TestRegister"))->SetValue(0x8001FFFE);
    EXPECT_EQ(CIntegerPtr(map._GetNode("StructEntry_0_15"))->GetValue(), 0x8001);
    EXPECT_EQ(CIntegerPtr(map._GetNode("StructEntry_16_31"))->GetValue(), -2);
    EXPECT_EQ(CIntegerPtr(map._GetNode("StructEntry_15"))->GetValue(), 1);
    CIntegerPtr(map._GetNode("StructEntry_16_31"))->SetValue(5);
    EXPECT_EQ(port.Get32BE(0x1f0), 0x80010005u);
    EXPECT_TRUE(CBooleanPtr(map._GetNode("TestBoolean"))->GetValue() == false);

    CCommandPtr start = map._GetNode("AcquisitionStart");
    EXPECT_EQ(start->GetAccessMode(), WO);
    start->Execute();
    EXPECT_EQ(port.Get32BE(0x124), 1u);
    EXPECT_TRUE(start->IsDone());
}

TEST(AddOn, ReplacesAndAddsNodes) {
    std::string main = qorcam::genapi::testing::Description(
        "<Category Name='Root'><pFeature>Gain</pFeature></Category>"
        "<Integer Name='Gain'><Value>3</Value><Min>0</Min><Max>10</Max></Integer>");
    std::string addon = "<RegisterDescription SchemaMajorVersion='1'>"
                        "<Integer Name='Gain'><Value>7</Value><Min>0</Min><Max>100</Max></Integer>"
                        "<Integer Name='Extra'><Value>1</Value></Integer></RegisterDescription>";
    CNodeMapRef map;
    map._LoadXMLFromStringInject(main.c_str(), addon.c_str());
    EXPECT_EQ(CIntegerPtr(map._GetNode("Gain"))->GetValue(), 7);
    EXPECT_EQ(CIntegerPtr(map._GetNode("Gain"))->GetMax(), 100);
    EXPECT_EQ(CIntegerPtr(map._GetNode("Extra"))->GetValue(), 1);
    EXPECT_TRUE(map._GetNode("Gain")->IsFeature());
}
