// Broken descriptions: malformed XML, missing nodes, loops, absurd sizes, and fuzzed copies of real ones.
#include "MemoryPort.h"

#include "genapi/GenericException.h"
#include "genapi/NodeMap.h"
#include "genapi/Pointer.h"

#include <gtest/gtest.h>

#include <fstream>
#include <random>
#include <sstream>

using namespace qorcam::genapi;
using qorcam::genapi::testing::Description;
using qorcam::genapi::testing::MemoryPort;

namespace {

/// Loads xml and returns the error text, or "" when it loaded.
std::string LoadError(const std::string& xml) {
    CNodeMapRef map;
    try {
        map._LoadXMLFromString(xml.c_str());
    } catch (const LogicalErrorException& e) {
        EXPECT_EQ(map.GetNodes().size(), 0u) << "a failed load leaves nodes behind";
        return e.what();
    }
    return "";
}

void ReadAll(CNodeMapRef& map) {
    for (INode* node : map.GetNodes()) {
        try {
            if (auto* v = dynamic_cast<IValue*>(node); v && IsReadable(node->GetAccessMode())) v->ToString();
            if (auto* i = dynamic_cast<IInteger*>(node)) {
                i->GetMin();
                i->GetMax();
                i->SetValue(i->GetMin());
            }
            if (auto* f = dynamic_cast<IFloat*>(node)) f->SetValue(f->GetMax());
        } catch (const GenericException&) {
        }
    }
}

} // namespace

TEST(Malformed, RefusedAtLoadWithAClearText) {
    struct Case {
        std::string xml;
        const char* expected;
    } cases[] = {
        {"<RegisterDescription><Integer Name='A'><Value>1</Value>", "not well-formed XML"},
        {"", "empty"},
        {"<?xml version='1.0'?><Other/>", "no RegisterDescription"},
        {"<RegisterDescription SchemaMajorVersion='2'/>", "schema version 2"},
        {Description("<Integer Name='A'><pValue>Missing</pValue></Integer>"),
         "refers to missing node 'Missing'"},
        {Description("<Category Name='Root'><pFeature>Gone</pFeature></Category>"), "missing node 'Gone'"},
        {Description("<IntReg Name='R'><Address>0</Address><Length>4</Length><pPort>NoPort</pPort></IntReg>"),
         "missing node 'NoPort'"},
        {Description(
             "<Integer Name='A'><pValue>B</pValue></Integer><Integer Name='B'><pValue>A</pValue></Integer>"),
         "loop of values"},
        {Description("<Integer Name='A'><pValue>A</pValue></Integer>"), "loop of values"},
        {Description(
             "<IntSwissKnife Name='K'><pVariable Name='X'>K</pVariable><Formula>X</Formula></IntSwissKnife>"),
         "loop of values"},
        {Description("<IntReg Name='R'><pAddress>I</pAddress><Length>4</Length></IntReg>"
                     "<Integer Name='I'><pValue>R</pValue></Integer>"),
         "loop of values"},
        {Description(
             "<Integer Name='A'><Value>1</Value></Integer><Integer Name='A'><Value>2</Value></Integer>"),
         "twice"},
        {Description("<Integer Name='A'/>"), "neither"},
        {Description("<Integer Name='A'><Value>12abc</Value></Integer>"), "not an integer"},
        {Description("<Integer Name='A'><Value>0x1FFFFFFFFFFFFFFFF</Value></Integer>"), "not an integer"},
        {Description("<IntReg Name='R'><Address>0</Address><Length>0</Length></IntReg>"), "outside 1 to"},
        {Description("<IntReg Name='R'><Address>0</Address><Length>999999999999</Length></IntReg>"),
         "outside 1 to"},
        {Description("<IntReg Name='R'><Address>0</Address><Length>9</Length></IntReg>"), "1 to 8 bytes"},
        {Description("<MaskedIntReg Name='R'><Address>0</Address><Length>2</Length><LSB>3</LSB><MSB>20</MSB>"
                     "</MaskedIntReg>"),
         "lie outside"},
        {Description("<FloatReg Name='R'><Address>0</Address><Length>5</Length></FloatReg>"), "4 or 8 bytes"},
        {Description("<Integer><Value>1</Value></Integer>"), "no Name"},
        {Description("<Enumeration Name='E'><EnumEntry Name='X'/><Value>0</Value></Enumeration>"),
         "no <Value>"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.xml);
        std::string error = LoadError(c.xml);
        EXPECT_NE(error.find(c.expected), std::string::npos) << error;
    }
}

TEST(Malformed, NestingAndSizeLimits) {
    std::string groups;
    for (int i = 0; i < 5000; ++i)
        groups += "<Group Comment='g'>";
    EXPECT_NE(LoadError(Description(groups)).find(""), std::string::npos);
    EXPECT_NE(LoadError(Description(groups)), "");
    std::string huge(CNodeMapRef::kMaxDescriptionSize + 1, ' ');
    CNodeMapRef map;
    EXPECT_THROW(map._LoadXMLFromBuffer(huge.data(), huge.size()), LogicalErrorException);
    EXPECT_THROW(map._LoadXMLFromString(nullptr), InvalidArgumentException);
}

TEST(Malformed, LongChainsFailClearlyInsteadOfExhaustingTheStack) {
    std::string chain;
    const int length = 20000;
    for (int i = 0; i < length; ++i)
        chain += "<Integer Name='C" + std::to_string(i) + "'><pValue>C" + std::to_string(i + 1) +
                 "</pValue></Integer>";
    chain += "<Integer Name='C" + std::to_string(length) + "'><Value>1</Value></Integer>";
    std::string sum = "1";
    for (int i = 0; i < 100000; ++i)
        sum += "+1";
    chain += "<IntSwissKnife Name='Sum'><Formula>" + sum + "</Formula></IntSwissKnife>";
    CNodeMapRef map;
    map._LoadXMLFromString(Description(chain).c_str());
    CIntegerPtr head = map._GetNode("C0");
    EXPECT_THROW(head->GetValue(), LogicalErrorException);
    head->GetNode()->InvalidateNode();
    EXPECT_TRUE(head->GetNode()->IsCachable());
    EXPECT_EQ(CIntegerPtr(map._GetNode("C19990"))->GetValue(), 1);
    try {
        CIntegerPtr(map._GetNode("Sum"))->GetValue();
        ADD_FAILURE() << "no exception";
    } catch (const LogicalErrorException& e) {
        EXPECT_NE(std::string(e.what()).find("deeper than"), std::string::npos) << e.what();
    }
}

TEST(Malformed, LoopsOutsideValuesFailWhenRead) {
    // Availability that depends on itself, a sub-expression that names itself,
    // and a length taken from a node: each loads, and fails clearly when read.
    std::string xml = Description(
        "<Integer Name='A'><pIsAvailable>B</pIsAvailable><Value>1</Value></Integer>"
        "<Integer Name='B'><pIsAvailable>A</pIsAvailable><Value>1</Value></Integer>"
        "<IntSwissKnife Name='K'><Expression Name='E'>E + 1</Expression><Formula>E</Formula></IntSwissKnife>"
        "<IntSwissKnife Name='Bad'><Formula>1 +</Formula></IntSwissKnife>"
        "<IntSwissKnife Name='Unknown'><Formula>NOPE * 2</Formula></IntSwissKnife>"
        "<Integer Name='Len'><Value>999999999</Value></Integer>"
        "<StringReg "
        "Name='S'><Address>0</Address><pLength>Len</pLength><AccessMode>RO</AccessMode></StringReg>"
        "<IntReg Name='Neg'><Address>-16</Address><Length>4</Length></IntReg>");
    CNodeMapRef map;
    map._LoadXMLFromString(xml.c_str());
    MemoryPort port;
    map._Connect(&port);
    struct Case {
        const char* node;
        const char* expected;
    } cases[] = {{"A", "depends on itself"},         {"K", "depends on itself"}, {"Bad", "operand expected"},
                 {"Unknown", "unknown name 'NOPE'"}, {"S", "outside 1 to"},      {"Neg", "negative"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.node);
        try {
            CValuePtr(map._GetNode(c.node))->ToString();
            ADD_FAILURE() << "no exception";
        } catch (const GenericException& e) {
            EXPECT_NE(std::string(e.what()).find(c.expected), std::string::npos) << e.what();
        }
    }
}

TEST(Malformed, FuzzedDescriptionsNeverCrash) {
    std::string sources[2];
    const char* files[2] = {"aravis-genicam-test.xml", "aravis-fake-camera.xml"};
    for (int i = 0; i < 2; ++i) {
        std::ifstream file(std::string(GENAPI_TEST_DATA) + "/" + files[i], std::ios::binary);
        std::stringstream text;
        text << file.rdbuf();
        sources[i] = text.str();
        ASSERT_GT(sources[i].size(), 1000u);
    }
    // Mutations aimed at what the loader interprets: names, numbers and
    // element boundaries, plus plain byte damage. Fixed seed: failures repeat.
    std::mt19937 random(20261210);
    const char* tokens[] = {"0",          "-1",     "0xFFFFFFFFFFFFFFFF",
                            "99",         "Root",   "Device",
                            "Width",      "X",      "(",
                            "9999999999", "<",      ">",
                            "/",          "pValue", "RW",
                            "BigEndian",  "Signed", "\"",
                            "&amp;",      ""};
    int loaded = 0;
    for (int round = 0; round < 400; ++round) {
        std::string xml = sources[round % 2];
        int edits = 1 + static_cast<int>(random() % 4);
        for (int e = 0; e < edits; ++e) {
            size_t at = random() % xml.size();
            switch (random() % 4) {
            case 0:
                xml[at] = static_cast<char>(random() % 256);
                break;
            case 1:
                xml.erase(at, 1 + random() % 40);
                break;
            case 2: {
                // Replace the text of an element (between '>' and '<') with a token.
                size_t open = xml.find('>', at),
                       close = open == std::string::npos ? open : xml.find('<', open);
                if (close != std::string::npos)
                    xml.replace(open + 1, close - open - 1, tokens[random() % 20]);
                break;
            }
            default:
                xml.insert(at, tokens[random() % 20]);
                break;
            }
            if (xml.empty()) xml = "x";
        }
        CNodeMapRef map;
        try {
            map._LoadXMLFromString(xml.c_str());
        } catch (const GenericException&) {
            continue;
        }
        ++loaded;
        MemoryPort port(0x2000);
        map._Connect(&port);
        ReadAll(map);
    }
    // Some damage leaves a usable description; those were read through.
    EXPECT_GT(loaded, 20);
}

TEST(Malformed, RandomNodeGraphsNeverCrashOrHang) {
    // Descriptions made of random nodes that refer to each other at random:
    // kinds that do not fit, loops through every kind of reference, odd
    // lengths and formulas. Each loads or is refused; what loads is read,
    // written, executed, polled and invalidated without crashing.
    std::mt19937 random(4242);
    auto pick = [&](int n) { return static_cast<int>(random() % static_cast<unsigned>(n)); };
    const int count = 16;
    auto ref = [&] { return "N" + std::to_string(pick(count)); };
    const char* formulas[] = {"A + B", "A / B",       "A % B", "(A << B) | 1",    "A ? B : 3", "A ** B",
                              "-A",    "SQRT(A) * B", "A = B", "(A & 0xFF) >> 2", "A * 1.5",   "1 / 0"};
    int loaded = 0;
    for (int round = 0; round < 300; ++round) {
        std::string nodes;
        for (int i = 0; i < count; ++i) {
            std::string name = "N" + std::to_string(i);
            std::string common;
            if (pick(6) == 0) common += "<pIsAvailable>" + ref() + "</pIsAvailable>";
            if (pick(6) == 0) common += "<pIsLocked>" + ref() + "</pIsLocked>";
            if (pick(8) == 0) common += "<pInvalidator>" + ref() + "</pInvalidator>";
            if (pick(8) == 0) common += "<pSelected>" + ref() + "</pSelected>";
            if (pick(8) == 0) common += "<PollingTime>" + std::to_string(pick(50)) + "</PollingTime>";
            std::string address = "<Address>" + std::to_string(pick(64) * 4) + "</Address>" +
                                  (pick(4) == 0 ? "<pIndex Offset='4'>" + ref() + "</pIndex>" : "") +
                                  (pick(6) == 0 ? "<pAddress>" + ref() + "</pAddress>" : "");
            std::string length = pick(5) == 0 ? "<pLength>" + ref() + "</pLength>"
                                              : "<Length>" + std::to_string(1 + pick(8)) + "</Length>";
            std::string vars =
                "<pVariable Name='A'>" + ref() + "</pVariable><pVariable Name='B'>" + ref() + "</pVariable>";
            switch (pick(12)) {
            case 0:
                nodes += "<Integer Name='" + name + "'>" + common +
                         (pick(2) ? "<Value>" + std::to_string(pick(9) - 4) + "</Value>"
                                  : "<pValue>" + ref() + "</pValue>") +
                         (pick(3) == 0 ? "<pMax>" + ref() + "</pMax>" : "") + "</Integer>";
                break;
            case 1:
                nodes += "<Integer Name='" + name + "'>" + common + "<pIndex>" + ref() +
                         "</pIndex><ValueIndexed Index='1'>5</ValueIndexed><pValueIndexed Index='2'>" +
                         ref() + "</pValueIndexed>" + (pick(2) ? "<ValueDefault>7</ValueDefault>" : "") +
                         "</Integer>";
                break;
            case 2:
                nodes += "<IntReg Name='" + name + "'>" + common + address + length +
                         "<AccessMode>RW</AccessMode><Sign>Signed</Sign></IntReg>";
                break;
            case 3:
                nodes += "<MaskedIntReg Name='" + name + "'>" + common + address +
                         "<Length>4</Length><AccessMode>RW</AccessMode><LSB>" + std::to_string(pick(32)) +
                         "</LSB><MSB>" + std::to_string(pick(32)) + "</MSB></MaskedIntReg>";
                break;
            case 4:
                nodes += "<IntSwissKnife Name='" + name + "'>" + common + vars + "<Formula>" +
                         formulas[pick(12)] + "</Formula></IntSwissKnife>";
                break;
            case 5:
                nodes += "<Converter Name='" + name + "'>" + common + vars +
                         "<FormulaTo>FROM * A</FormulaTo>"
                         "<FormulaFrom>" +
                         formulas[pick(12)] + " + TO</FormulaFrom><pValue>" + ref() + "</pValue></Converter>";
                break;
            case 6:
                nodes +=
                    "<Enumeration Name='" + name + "'>" + common +
                    "<EnumEntry Name='A'><Value>0</Value></EnumEntry><EnumEntry Name='B'><pIsAvailable>" +
                    ref() + "</pIsAvailable><Value>1</Value></EnumEntry><pValue>" + ref() +
                    "</pValue></Enumeration>";
                break;
            case 7:
                nodes += "<Command Name='" + name + "'>" + common + "<pValue>" + ref() +
                         "</pValue><pCommandValue>" + ref() + "</pCommandValue></Command>";
                break;
            case 8:
                nodes +=
                    "<Boolean Name='" + name + "'>" + common + "<pValue>" + ref() + "</pValue></Boolean>";
                break;
            case 9:
                nodes += "<StringReg Name='" + name + "'>" + common + address + length +
                         "<AccessMode>RW</AccessMode></StringReg>";
                break;
            case 10:
                nodes += "<FloatReg Name='" + name + "'>" + common + address +
                         (pick(2) ? "<Length>4</Length>" : "<pLength>" + ref() + "</pLength>") +
                         "<AccessMode>RW</AccessMode></FloatReg>";
                break;
            default:
                nodes += "<Float Name='" + name + "'>" + common + "<pValue>" + ref() + "</pValue><pMin>" +
                         ref() + "</pMin></Float>";
                break;
            }
        }
        CNodeMapRef map;
        try {
            map._LoadXMLFromString(Description(nodes).c_str());
        } catch (const LogicalErrorException&) {
            continue;
        }
        ++loaded;
        MemoryPort port(0x400);
        map._Connect(&port);
        for (int pass = 0; pass < 2; ++pass) {
            ReadAll(map);
            for (INode* node : map.GetNodes()) {
                try {
                    if (auto* c = dynamic_cast<ICommand*>(node)) {
                        c->Execute();
                        c->IsDone();
                    }
                    if (auto* e = dynamic_cast<IEnumeration*>(node)) e->FromString("B");
                    if (auto* s = dynamic_cast<IString*>(node)) s->SetValue("text");
                    if (auto* b = dynamic_cast<IBoolean*>(node)) b->SetValue(true);
                } catch (const GenericException&) {
                }
                node->InvalidateNode();
            }
            map._Poll(30);
        }
    }
    EXPECT_GT(loaded, 10);
}
