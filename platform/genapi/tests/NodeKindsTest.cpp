// Each register and value kind over small descriptions and a memory port.
#include "MemoryPort.h"

#include "genapi/GenericException.h"
#include "genapi/NodeMap.h"
#include "genapi/Pointer.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cstring>
#include <string>

using namespace qorcam::genapi;
using qorcam::genapi::testing::Description;
using qorcam::genapi::testing::MemoryPort;

namespace {

struct Fixture {
    explicit Fixture(const std::string& nodes, size_t memory = 0x1000) : port(memory) {
        map._LoadXMLFromString(Description(nodes).c_str());
        map._Connect(&port);
    }
    MemoryPort port;
    CNodeMapRef map;
};

std::string IntReg(const char* extra) {
    return std::string(
               "<IntReg Name='R'><Address>0x10</Address><AccessMode>RW</AccessMode><pPort>Device</pPort>") +
           extra + "</IntReg>";
}

} // namespace

TEST(IntReg, ByteOrderSignAndLength) {
    struct Case {
        const char* elements;
        std::vector<uint8_t> bytes;
        int64_t value;
    } cases[] = {
        {"<Length>4</Length><Endianess>BigEndian</Endianess>", {0x12, 0x34, 0x56, 0x78}, 0x12345678},
        {"<Length>4</Length><Endianess>LittleEndian</Endianess>", {0x78, 0x56, 0x34, 0x12}, 0x12345678},
        {"<Length>4</Length>", {0x78, 0x56, 0x34, 0x12}, 0x12345678},
        {"<Length>2</Length><Sign>Signed</Sign><Endianess>BigEndian</Endianess>", {0xFF, 0xFE}, -2},
        {"<Length>2</Length><Sign>Unsigned</Sign><Endianess>BigEndian</Endianess>", {0xFF, 0xFE}, 0xFFFE},
        {"<Length>1</Length><Sign>Signed</Sign>", {0x80}, -128},
        {"<Length>3</Length><Endianess>BigEndian</Endianess>", {0x01, 0x02, 0x03}, 0x010203},
        {"<Length>8</Length><Sign>Signed</Sign>", {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}, -1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.elements);
        Fixture f(IntReg(c.elements));
        std::memcpy(f.port.memory.data() + 0x10, c.bytes.data(), c.bytes.size());
        CIntegerPtr r = f.map._GetNode("R");
        EXPECT_EQ(r->GetValue(), c.value);
        // Writing the value back gives the same bytes.
        std::memset(f.port.memory.data() + 0x10, 0xAA, c.bytes.size());
        r->SetValue(c.value);
        EXPECT_EQ(0, std::memcmp(f.port.memory.data() + 0x10, c.bytes.data(), c.bytes.size()));
    }
}

TEST(IntReg, RangeFollowsWidthAndSign) {
    Fixture u(IntReg("<Length>2</Length>"));
    CIntegerPtr r = u.map._GetNode("R");
    EXPECT_EQ(r->GetMin(), 0);
    EXPECT_EQ(r->GetMax(), 0xFFFF);
    EXPECT_THROW(r->SetValue(0x10000), OutOfRangeException);
    EXPECT_THROW(r->SetValue(-1), OutOfRangeException);
    Fixture s(IntReg("<Length>1</Length><Sign>Signed</Sign>"));
    EXPECT_EQ(CIntegerPtr(s.map._GetNode("R"))->GetMin(), -128);
    EXPECT_EQ(CIntegerPtr(s.map._GetNode("R"))->GetMax(), 127);
}

TEST(MaskedIntReg, BitFieldsKeepTheOtherBits) {
    struct Case {
        const char* endian;
        int lsb, msb;
        uint32_t before, field, after;
    } cases[] = {
        // Little endian counts from the least significant bit.
        {"LittleEndian", 4, 7, 0xFFFFFFFF, 0xF, 0xFFFFFF0F},
        // Big endian counts from the most significant bit: LSB 31 is bit 0.
        {"BigEndian", 31, 24, 0xFFFFFFFF, 0xFF, 0xFFFFFF00},
        {"BigEndian", 7, 0, 0xFF0000FF, 0xFF, 0x000000FF},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.endian);
        std::string xml = std::string("<MaskedIntReg Name='M'><Address>0x20</Address><Length>4</Length>"
                                      "<AccessMode>RW</AccessMode><pPort>Device</pPort><Endianess>") +
                          c.endian + "</Endianess><LSB>" + std::to_string(c.lsb) + "</LSB><MSB>" +
                          std::to_string(c.msb) + "</MSB></MaskedIntReg>";
        Fixture f(xml);
        bool big = std::string(c.endian) == "BigEndian";
        big ? f.port.Put32BE(0x20, c.before) : f.port.Put32LE(0x20, c.before);
        CIntegerPtr m = f.map._GetNode("M");
        EXPECT_EQ(m->GetValue(), static_cast<int64_t>(c.field));
        m->SetValue(0);
        EXPECT_EQ(big ? f.port.Get32BE(0x20) : f.port.Get32LE(0x20), c.after);
        EXPECT_THROW(m->SetValue(static_cast<int64_t>(c.field) + 1), OutOfRangeException);
    }
}

TEST(FloatReg, FourAndEightBytesBothOrders) {
    for (const char* endian : {"LittleEndian", "BigEndian"})
        for (int length : {4, 8}) {
            SCOPED_TRACE(std::string(endian) + " " + std::to_string(length));
            Fixture f(std::string("<FloatReg Name='F'><Address>0x40</Address><Length>") +
                      std::to_string(length) +
                      "</Length><AccessMode>RW</AccessMode><pPort>Device</pPort><Endianess>" + endian +
                      "</Endianess></FloatReg>");
            CFloatPtr node = f.map._GetNode("F");
            node->SetValue(-1.5);
            EXPECT_DOUBLE_EQ(node->GetValue(false, true), -1.5);
            // -1.5 as IEEE: sign and exponent in the most significant byte.
            size_t top = std::string(endian) == "BigEndian" ? 0x40 : 0x40 + length - 1;
            EXPECT_EQ(f.port.memory[top], 0xBF);
        }
}

TEST(StringReg, TerminatesAndRefusesLongTexts) {
    Fixture f("<StringReg Name='S'><Address>0x80</Address><Length>8</Length><AccessMode>RW</AccessMode>"
              "<pPort>Device</pPort></StringReg>");
    CStringPtr s = f.map._GetNode("S");
    std::memcpy(f.port.memory.data() + 0x80, "ABCDEFGH", 8); // no terminator inside the register
    EXPECT_EQ(s->GetValue(), "ABCDEFGH");
    s->SetValue("hi");
    EXPECT_EQ(s->GetValue(false, true), "hi");
    EXPECT_EQ(f.port.memory[0x82], 0);
    EXPECT_EQ(s->GetMaxLength(), 8);
    EXPECT_THROW(s->SetValue("123456789"), OutOfRangeException);
}

TEST(Register, RawBytesWithPartialAccess) {
    Fixture f("<Register Name='B'><Address>0x100</Address><Length>4</Length><AccessMode>RW</AccessMode>"
              "<pPort>Device</pPort></Register>");
    CRegisterPtr r = f.map._GetNode("B");
    uint8_t in[2] = {1, 2}, out[4] = {};
    r->Set(in, 2);
    r->Get(out, 4, false, true);
    EXPECT_EQ(out[0], 1);
    EXPECT_EQ(out[1], 2);
    EXPECT_EQ(r->ToString(), "01020000");
    uint8_t six[6] = {};
    EXPECT_THROW(r->Set(six, 6), OutOfRangeException);
    EXPECT_THROW(r->Get(nullptr, 4), InvalidArgumentException);
    EXPECT_EQ(f.map._GetNode("B")->GetPrincipalInterfaceType(), intfIRegister);
}

TEST(Integer, RangeIncrementAndPointers) {
    Fixture f("<Integer Name='I'><pValue>R</pValue><Min>10</Min><pMax>Top</pMax><Inc>4</Inc></Integer>"
              "<Integer Name='Top'><Value>100</Value></Integer>" +
              IntReg("<Length>4</Length>"));
    CIntegerPtr i = f.map._GetNode("I");
    i->SetValue(22);
    EXPECT_EQ(f.port.Get32LE(0x10), 22u);
    EXPECT_THROW(i->SetValue(23), OutOfRangeException);
    EXPECT_THROW(i->SetValue(6), OutOfRangeException);
    EXPECT_THROW(i->SetValue(102), OutOfRangeException);
    CIntegerPtr(f.map._GetNode("Top"))->SetValue(200);
    i->SetValue(198);
    EXPECT_EQ(i->GetValue(), 198);
    EXPECT_EQ(i->GetInc(), 4);

    // Without a default, an index that has no value makes the node unavailable.
    Fixture table("<Integer Name='T'><pIndex>Sel</pIndex><ValueIndexed Index='1'>10</ValueIndexed></Integer>"
                  "<Integer Name='Sel'><Value>1</Value></Integer>");
    CIntegerPtr t = table.map._GetNode("T");
    EXPECT_EQ(t->GetValue(), 10);
    CIntegerPtr(table.map._GetNode("Sel"))->SetValue(2);
    EXPECT_EQ(t->GetAccessMode(), NA);
    EXPECT_THROW(t->GetValue(), AccessException);

    // pValueCopy: a write goes to the copies as well.
    Fixture copies("<Integer Name='Both'><pValue>R</pValue><pValueCopy>R2</pValueCopy></Integer>" +
                   IntReg("<Length>4</Length>") +
                   "<IntReg Name='R2'><Address>0x20</Address><Length>4</Length><AccessMode>RW</AccessMode>"
                   "</IntReg>");
    CIntegerPtr(copies.map._GetNode("Both"))->SetValue(9);
    EXPECT_EQ(copies.port.Get32LE(0x10), 9u);
    EXPECT_EQ(copies.port.Get32LE(0x20), 9u);
}

TEST(Float, RangeAndConstantValue) {
    Fixture f(
        "<Float Name='G'><Value>1.5</Value><Min>0</Min><Max>2</Max><Inc>0.5</Inc><Unit>dB</Unit></Float>");
    CFloatPtr g = f.map._GetNode("G");
    EXPECT_DOUBLE_EQ(g->GetValue(), 1.5);
    g->SetValue(2.0);
    EXPECT_DOUBLE_EQ(g->GetValue(), 2.0);
    EXPECT_THROW(g->SetValue(2.01), OutOfRangeException);
    EXPECT_TRUE(g->HasInc());
    EXPECT_DOUBLE_EQ(g->GetInc(), 0.5);
    EXPECT_EQ(g->GetUnit(), "dB");
}

TEST(Boolean, OnAndOffValues) {
    Fixture f("<Boolean Name='B'><pValue>R</pValue><OnValue>321</OnValue><OffValue>123</OffValue></Boolean>" +
              IntReg("<Length>4</Length>"));
    CBooleanPtr b = f.map._GetNode("B");
    *b = true;
    EXPECT_EQ(f.port.Get32LE(0x10), 321u);
    EXPECT_TRUE(b->GetValue());
    *b = false;
    EXPECT_EQ(f.port.Get32LE(0x10), 123u);
    EXPECT_FALSE(b->GetValue());
}

TEST(Enumeration, EntriesValuesAndSymbolics) {
    Fixture f(
        "<Enumeration Name='E'><EnumEntry Name='A'><Value>1</Value></EnumEntry>"
        "<EnumEntry Name='B'><Value>5</Value><DisplayName>Bee</DisplayName></EnumEntry><pValue>R</pValue>"
        "</Enumeration>" +
        IntReg("<Length>4</Length>"));
    CEnumerationPtr e = f.map._GetNode("E");
    f.port.Put32LE(0x10, 5);
    EXPECT_EQ(e->ToString(), "B");
    EXPECT_EQ(e->GetCurrentEntry()->GetNode()->GetDisplayName(), "Bee");
    EXPECT_EQ(f.map._GetNode("EnumEntry_E_B"), e->GetCurrentEntry()->GetNode());
    *e = "A";
    EXPECT_EQ(f.port.Get32LE(0x10), 1u);
    EXPECT_THROW(*e = "C", InvalidArgumentException);
    EXPECT_THROW(e->SetIntValue(2), OutOfRangeException);
    f.port.Put32LE(0x10, 9);
    e->GetNode()->InvalidateNode();
    EXPECT_EQ(e->GetCurrentEntry(), nullptr);
    EXPECT_THROW(e->ToString(), RuntimeException);
}

TEST(Command, ExecuteAndPollDone) {
    Fixture f("<Command Name='C'><pValue>R</pValue><CommandValue>1</CommandValue></Command>" +
              IntReg("<Length>4</Length>"));
    CCommandPtr c = f.map._GetNode("C");
    c->Execute();
    EXPECT_EQ(f.port.Get32LE(0x10), 1u);
    EXPECT_FALSE(c->IsDone());
    // The device clears the register when done; IsDone asks it again.
    f.port.Put32LE(0x10, 0);
    EXPECT_TRUE(c->IsDone());
}

TEST(Converters, BothDirectionsAndRange) {
    Fixture f("<Converter Name='Rate'><FormulaTo>(1000000 / FROM)</FormulaTo><FormulaFrom>(1000000 / "
              "TO)</FormulaFrom>"
              "<pValue>Period</pValue></Converter>"
              "<Integer Name='Period'><pValue>R</pValue><Min>1000</Min><Max>10000000</Max></Integer>"
              "<IntConverter Name='Half'><FormulaTo>FROM * 2</FormulaTo><FormulaFrom>TO / 2</FormulaFrom>"
              "<pValue>Period</pValue></IntConverter>" +
              IntReg("<Length>4</Length>"));
    f.port.Put32LE(0x10, 40000);
    CFloatPtr rate = f.map._GetNode("Rate");
    EXPECT_DOUBLE_EQ(rate->GetValue(), 25.0);
    EXPECT_DOUBLE_EQ(rate->GetMin(), 0.1);
    EXPECT_DOUBLE_EQ(rate->GetMax(), 1000.0);
    rate->SetValue(50.0);
    EXPECT_EQ(f.port.Get32LE(0x10), 20000u);
    EXPECT_THROW(rate->SetValue(2000.0), OutOfRangeException);
    CIntegerPtr half = f.map._GetNode("Half");
    EXPECT_EQ(half->GetValue(), 10000);
    half->SetValue(600);
    EXPECT_EQ(f.port.Get32LE(0x10), 1200u);
    EXPECT_THROW(half->SetValue(100), OutOfRangeException); // 200 is below Period's minimum
}

TEST(Converters, IntegerLimitsAreExactAndOverflowOrDivisionByZeroIsAnError) {
    Fixture f("<Integer Name='Period'><pValue>R</pValue><Min>1001</Min><Max>10000001</Max></Integer>"
              "<IntConverter Name='Half'><FormulaTo>FROM * 2</FormulaTo><FormulaFrom>TO / 2</FormulaFrom>"
              "<pValue>Period</pValue></IntConverter>"
              "<IntConverter Name='Pico'><FormulaTo>FROM / 1000000000000</FormulaTo>"
              "<FormulaFrom>TO * 1000000000000</FormulaFrom><pValue>Period</pValue></IntConverter>"
              "<Converter Name='Inverse'><FormulaTo>1 / FROM</FormulaTo><FormulaFrom>1 / TO</FormulaFrom>"
              "<pValue>Period</pValue></Converter>" +
              IntReg("<Length>4</Length><Cachable>NoCache</Cachable>"));
    // The limits are what GetValue gives at the underlying limits: 1001 / 2 and 10000001 / 2 in integers.
    CIntegerPtr half = f.map._GetNode("Half");
    EXPECT_EQ(half->GetMin(), 500);
    EXPECT_EQ(half->GetMax(), 5000000);

    CIntegerPtr pico = f.map._GetNode("Pico");
    f.port.Put32LE(0x10, 1000000);
    EXPECT_EQ(pico->GetValue(), 1000000000000000000);
    f.port.Put32LE(0x10, 10000000); // 10^19 does not fit 64 bits
    EXPECT_THROW(pico->GetValue(), RuntimeException);

    CFloatPtr inverse = f.map._GetNode("Inverse");
    f.port.Put32LE(0x10, 2000);
    EXPECT_DOUBLE_EQ(inverse->GetValue(), 0.0005);
    f.port.Put32LE(0x10, 0); // a register outside its node's range, as a device may hold
    EXPECT_THROW(inverse->GetValue(), RuntimeException);
}

// Numbers in descriptions and in the texts of float nodes have a decimal
// point, whatever locale the process runs under.
TEST(Locale, FloatsReadAndPrintTheSameUnderADecimalCommaLocale) {
    struct LocaleGuard {
        std::string old = std::setlocale(LC_ALL, nullptr);
        ~LocaleGuard() { std::setlocale(LC_ALL, old.c_str()); }
    } guard;
    if (std::setlocale(LC_ALL, "de_DE.UTF-8") == nullptr)
        GTEST_SKIP() << "the de_DE.UTF-8 locale is not installed (locale-gen)";
    Fixture f("<Float Name='G'><Value>1.5</Value><Min>0.25</Min><Max>2.75</Max></Float>"
              "<SwissKnife Name='S'><pVariable Name='X'>G</pVariable><Formula>X * 0.5</Formula></SwissKnife>"
              "<Converter Name='C'><FormulaTo>FROM / 2.5</FormulaTo><FormulaFrom>TO * 2.5</FormulaFrom>"
              "<pValue>G</pValue></Converter>");
    CFloatPtr g = f.map._GetNode("G");
    EXPECT_DOUBLE_EQ(g->GetValue(), 1.5);
    EXPECT_DOUBLE_EQ(g->GetMin(), 0.25);
    EXPECT_DOUBLE_EQ(g->GetMax(), 2.75);
    EXPECT_DOUBLE_EQ(CFloatPtr(f.map._GetNode("S"))->GetValue(), 0.75);
    EXPECT_DOUBLE_EQ(CFloatPtr(f.map._GetNode("C"))->GetValue(), 3.75);
    EXPECT_EQ(g->ToString(), "1.5");
    g->FromString("2.25");
    EXPECT_DOUBLE_EQ(g->GetValue(), 2.25);
    EXPECT_THROW(g->FromString("2,25"), GenericException);
}

TEST(SwissKnife, VariablesConstantsAndExpressions) {
    Fixture f("<SwissKnife Name='S'><pVariable Name='A'>IA</pVariable><Constant Name='K'>0.5</Constant>"
              "<Expression Name='E1'>A * K</Expression><Formula>E1 + 1</Formula></SwissKnife>"
              "<Integer Name='IA'><Value>5</Value></Integer>"
              "<IntSwissKnife Name='IS'><pVariable Name='A'>IA</pVariable><Formula>A / "
              "2</Formula></IntSwissKnife>"
              "<Integer Name='Ranged'><Value>5</Value><Min>0</Min><Max>100</Max></Integer>"
              "<IntSwissKnife Name='Room'><pVariable Name='M'>Ranged.Max</pVariable>"
              "<pVariable Name='V'>Ranged</pVariable><Formula>M - V</Formula></IntSwissKnife>");
    EXPECT_DOUBLE_EQ(CFloatPtr(f.map._GetNode("S"))->GetValue(), 3.5);
    // A variable may name a limit of a node.
    EXPECT_EQ(CIntegerPtr(f.map._GetNode("Room"))->GetValue(), 95);
    EXPECT_EQ(CIntegerPtr(f.map._GetNode("IS"))->GetValue(), 2);
    EXPECT_EQ(f.map._GetNode("S")->GetAccessMode(), RO);
    EXPECT_THROW(CIntegerPtr(f.map._GetNode("IS"))->SetValue(1), AccessException);
}

TEST(Category, FeaturesInOrderAndSelectors) {
    Fixture f("<Category Name='Root'><pFeature>Sel</pFeature><pFeature>V</pFeature></Category>"
              "<Integer Name='Sel'><Value>0</Value><pSelected>V</pSelected></Integer>"
              "<Integer Name='V' NameSpace='Standard'><Value>0</Value><ToolTip>tip</ToolTip>"
              "<Description>about V</Description><DisplayName>Vee</DisplayName><Visibility>Guru</Visibility>"
              "<Streamable>Yes</Streamable></Integer>");
    INode* v = f.map._GetNode("V");
    EXPECT_EQ(v->GetDisplayName(), "Vee");
    EXPECT_EQ(v->GetDescription(), "about V");
    EXPECT_EQ(v->GetToolTip(), "tip");
    EXPECT_EQ(v->GetVisibility(), Guru);
    EXPECT_EQ(v->GetName(true), "Std::V");
    EXPECT_TRUE(v->IsStreamable());
    EXPECT_TRUE(v->IsFeature());
    EXPECT_FALSE(f.map._GetNode("Root")->IsFeature());
    EXPECT_EQ(f.map._GetNode("Sel")->GetDisplayName(), "Sel"); // the name when none is given
    CCategoryPtr root = f.map._GetNode("Root");
    auto features = root->GetFeatures();
    ASSERT_EQ(features.size(), 2u);
    EXPECT_EQ(features[0]->GetName(), "Sel");
    CSelectorPtr sel = f.map._GetNode("Sel");
    EXPECT_TRUE(sel->IsSelector());
    EXPECT_EQ(sel->GetSelectedFeatures().at(0)->GetName(), "V");
    EXPECT_EQ(CSelectorPtr(f.map._GetNode("V"))->GetSelectingFeatures().at(0)->GetName(), "Sel");
    EXPECT_FALSE(CSelectorPtr(f.map._GetNode("V"))->IsSelector());
    // A pointer of the wrong kind holds nothing and says so when used.
    CCommandPtr notCommand = f.map._GetNode("V");
    EXPECT_FALSE(notCommand.IsValid());
    EXPECT_THROW(notCommand->Execute(), LogicalErrorException);
}

TEST(StructReg, EntriesShareTheRegisterAndItsInlineAddress) {
    Fixture f("<StructReg Comment='S'><IntSwissKnife Name='Base'><Formula>0x30</Formula></IntSwissKnife>"
              "<Address>0x10</Address><Length>4</Length><AccessMode>RW</AccessMode><pPort>Device</pPort>"
              "<Endianess>LittleEndian</Endianess>"
              "<StructEntry Name='Low'><LSB>0</LSB><MSB>7</MSB></StructEntry>"
              "<StructEntry Name='Flag'><Bit>31</Bit><AccessMode>RO</AccessMode></StructEntry></StructReg>");
    CIntegerPtr low = f.map._GetNode("Low");
    CIntegerPtr flag = f.map._GetNode("Flag");
    EXPECT_EQ(CRegisterPtr(low)->GetAddress(), 0x40);
    EXPECT_EQ(CRegisterPtr(flag)->GetAddress(), 0x40);
    f.port.Put32LE(0x40, 0x800000AB);
    EXPECT_EQ(low->GetValue(), 0xAB);
    EXPECT_EQ(flag->GetValue(), 1);
    EXPECT_EQ(flag->GetAccessMode(), RO);
    low->SetValue(0x12);
    EXPECT_EQ(f.port.Get32LE(0x40), 0x80000012u);
}
