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
        {Description("<Integer Name='A'><pValue>Missing</pValue></Integer>"), "refers to missing node 'Missing'"},
        {Description("<Category Name='Root'><pFeature>Gone</pFeature></Category>"), "missing node 'Gone'"},
        {Description("<IntReg Name='R'><Address>0</Address><Length>4</Length><pPort>NoPort</pPort></IntReg>"),
         "missing node 'NoPort'"},
        {Description("<Integer Name='A'><pValue>B</pValue></Integer><Integer Name='B'><pValue>A</pValue></Integer>"),
         "loop of values"},
        {Description("<Integer Name='A'><pValue>A</pValue></Integer>"), "loop of values"},
        {Description("<IntSwissKnife Name='K'><pVariable Name='X'>K</pVariable><Formula>X</Formula></IntSwissKnife>"),
         "loop of values"},
        {Description("<IntReg Name='R'><pAddress>I</pAddress><Length>4</Length></IntReg>"
                     "<Integer Name='I'><pValue>R</pValue></Integer>"),
         "loop of values"},
        {Description("<Integer Name='A'><Value>1</Value></Integer><Integer Name='A'><Value>2</Value></Integer>"),
         "twice"},
        {Description("<Integer Name='A'/>"), "neither"},
        {Description("<Integer Name='A'><Value>12abc</Value></Integer>"), "not an integer"},
        {Description("<Integer Name='A'><Value>0x1FFFFFFFFFFFFFFFF</Value></Integer>"), "not an integer"},
        {Description("<IntReg Name='R'><Address>0</Address><Length>0</Length></IntReg>"), "outside 1 to"},
        {Description("<IntReg Name='R'><Address>0</Address><Length>999999999999</Length></IntReg>"), "outside 1 to"},
        {Description("<IntReg Name='R'><Address>0</Address><Length>9</Length></IntReg>"), "1 to 8 bytes"},
        {Description("<MaskedIntReg Name='R'><Address>0</Address><Length>2</Length><LSB>3</LSB><MSB>20</MSB>"
                     "</MaskedIntReg>"),
         "lie outside"},
        {Description("<FloatReg Name='R'><Address>0</Address><Length>5</Length></FloatReg>"), "4 or 8 bytes"},
        {Description("<Integer><Value>1</Value></Integer>"), "no Name"},
        {Description("<Enumeration Name='E'><EnumEntry Name='X'/><Value>0</Value></Enumeration>"), "no <Value>"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.xml);
        std::string error = LoadError(c.xml);
        EXPECT_NE(error.find(c.expected), std::string::npos) << error;
    }
}

TEST(Malformed, NestingAndSizeLimits) {
    std::string groups;
    for (int i = 0; i < 5000; ++i) groups += "<Group Comment='g'>";
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
        chain += "<Integer Name='C" + std::to_string(i) + "'><pValue>C" + std::to_string(i + 1) + "</pValue></Integer>";
    chain += "<Integer Name='C" + std::to_string(length) + "'><Value>1</Value></Integer>";
    std::string sum = "1";
    for (int i = 0; i < 100000; ++i) sum += "+1";
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
        "<StringReg Name='S'><Address>0</Address><pLength>Len</pLength><AccessMode>RO</AccessMode></StringReg>"
        "<IntReg Name='Neg'><Address>-16</Address><Length>4</Length></IntReg>");
    CNodeMapRef map;
    map._LoadXMLFromString(xml.c_str());
    MemoryPort port;
    map._Connect(&port);
    struct Case {
        const char* node;
        const char* expected;
    } cases[] = {{"A", "depends on itself"}, {"K", "depends on itself"}, {"Bad", "operand expected"},
                 {"Unknown", "unknown name 'NOPE'"}, {"S", "outside 1 to"}, {"Neg", "negative"}};
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
    const char* tokens[] = {"0", "-1", "0xFFFFFFFFFFFFFFFF", "99", "Root", "Device", "Width", "X", "(", "9999999999",
                            "<", ">", "/", "pValue", "RW", "BigEndian", "Signed", "\"", "&amp;", ""};
    int loaded = 0;
    for (int round = 0; round < 400; ++round) {
        std::string xml = sources[round % 2];
        int edits = 1 + static_cast<int>(random() % 4);
        for (int e = 0; e < edits; ++e) {
            size_t at = random() % xml.size();
            switch (random() % 4) {
            case 0: xml[at] = static_cast<char>(random() % 256); break;
            case 1: xml.erase(at, 1 + random() % 40); break;
            case 2: {
                // Replace the text of an element (between '>' and '<') with a token.
                size_t open = xml.find('>', at), close = open == std::string::npos ? open : xml.find('<', open);
                if (close != std::string::npos) xml.replace(open + 1, close - open - 1, tokens[random() % 20]);
                break;
            }
            default: xml.insert(at, tokens[random() % 20]); break;
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
