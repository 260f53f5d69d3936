// Node map benchmark: load and connect, and read every feature, against the bare XML parse.
#include "genapi/NodeMap.h"
#include "genapi/Pointer.h"

#include <pugixml.hpp>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

using namespace qorcam::genapi;

namespace {

class MemoryPort : public IPort {
public:
    explicit MemoryPort(size_t size) : memory_(size) {}
    void Read(void* buffer, int64_t address, int64_t length) override {
        std::memcpy(buffer, memory_.data() + address, static_cast<size_t>(length));
    }
    void Write(const void* buffer, int64_t address, int64_t length) override {
        std::memcpy(memory_.data() + address, buffer, static_cast<size_t>(length));
    }
    EAccessMode GetAccessMode() override { return RW; }

private:
    std::vector<uint8_t> memory_;
};

/// A description of about the given size, made of the node kinds real
/// cameras use most: integers over registers with computed limits,
/// enumerations, converted floats, strings, all filed in categories.
std::string MakeDescription(size_t targetBytes, int& features) {
    std::string xml = "<?xml version=\"1.0\"?>\n<RegisterDescription ModelName=\"Big\" VendorName=\"Bench\" "
                      "SchemaMajorVersion=\"1\" SchemaMinorVersion=\"1\" SchemaSubMinorVersion=\"0\" "
                      "xmlns=\"http://www.genicam.org/GenApi/Version_1_1\">\n";
    std::string body, root = "<Category Name=\"Root\">\n";
    features = 0;
    for (int g = 0; body.size() < targetBytes; ++g) {
        std::string cat = "Group" + std::to_string(g);
        root += "  <pFeature>" + cat + "</pFeature>\n";
        body += "<Category Name=\"" + cat + "\">\n";
        std::string nodes;
        for (int k = 0; k < 10; ++k, ++features) {
            int i = g * 10 + k;
            std::string n = "F" + std::to_string(i);
            char address[32];
            std::snprintf(address, sizeof address, "0x%X", 0x1000 + i * 8);
            body += "  <pFeature>" + n + "</pFeature>\n";
            std::string common = "  <ToolTip>Tool tip of feature " + n +
                                 "</ToolTip>\n  <Description>The feature " + n +
                                 " of the benchmark description, with a sentence of text as real ones have."
                                 "</Description>\n  <DisplayName>Feature " +
                                 n + "</DisplayName>\n  <Visibility>Expert</Visibility>\n";
            std::string reg =
                "<IntReg Name=\"" + n + "Reg\">\n  <Address>" + address +
                "</Address>\n  <Length>4</Length>\n  <AccessMode>RW</AccessMode>\n  <pPort>Device</pPort>\n"
                "  <Cachable>WriteThrough</Cachable>\n  <Sign>Unsigned</Sign>\n"
                "  <Endianess>BigEndian</Endianess>\n</IntReg>\n";
            switch (k % 5) {
            case 0:
            case 1:
                nodes +=
                    "<Integer Name=\"" + n + "\">\n" + common + "  <pValue>" + n +
                    "Reg</pValue>\n  <Min>0</Min>\n"
                    "  <pMax>" +
                    n + "Max</pMax>\n  <Inc>1</Inc>\n</Integer>\n" + reg + "<IntSwissKnife Name=\"" + n +
                    "Max\">\n  <pVariable Name=\"A\">" + n +
                    "Reg</pVariable>\n  <Formula>((A &amp; 0xFFFF) + 1000) * 2</Formula>\n</IntSwissKnife>\n";
                break;
            case 2: {
                nodes += "<Enumeration Name=\"" + n + "\">\n" + common;
                for (int e = 0; e < 8; ++e)
                    nodes += "  <EnumEntry Name=\"Value" + std::to_string(e) +
                             "\">\n    <DisplayName>Value " + std::to_string(e) +
                             "</DisplayName>\n    <Value>" + std::to_string(e) + "</Value>\n  </EnumEntry>\n";
                nodes += "  <pValue>" + n + "Reg</pValue>\n</Enumeration>\n" + reg;
                break;
            }
            case 3:
                nodes += "<Float Name=\"" + n + "\">\n" + common + "  <pValue>" + n +
                         "Conv</pValue>\n  <Min>0</Min>\n"
                         "  <Max>1000000</Max>\n  <Unit>us</Unit>\n</Float>\n<Converter Name=\"" +
                         n +
                         "Conv\">\n  <FormulaTo>FROM * 10</FormulaTo>\n  <FormulaFrom>TO / 10</FormulaFrom>\n"
                         "  <pValue>" +
                         n + "Reg</pValue>\n</Converter>\n" + reg;
                break;
            default:
                nodes += "<StringReg Name=\"" + n + "\">\n" + common + "  <Address>" +
                         std::to_string(0x100000 + i * 32) +
                         "</Address>\n  <Length>32</Length>\n  <AccessMode>RW</AccessMode>\n"
                         "  <pPort>Device</pPort>\n</StringReg>\n";
                break;
            }
        }
        body += "</Category>\n" + nodes;
    }
    return xml + root + "</Category>\n" + body + "<Port Name=\"Device\"/>\n</RegisterDescription>\n";
}

double MedianMs(int runs, const std::function<void()>& work) {
    std::vector<double> times;
    for (int r = 0; r < runs; ++r) {
        auto start = std::chrono::steady_clock::now();
        work();
        times.push_back(
            std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count());
    }
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}

int ReadAll(CNodeMapRef& map) {
    int read = 0;
    for (INode* node : map.GetNodes()) {
        if (!node->IsFeature()) continue;
        if (auto* v = dynamic_cast<IValue*>(node); v && IsReadable(node->GetAccessMode())) {
            if (dynamic_cast<ICategory*>(node)) continue;
            v->ToString();
            ++read;
        }
    }
    return read;
}

void Report(const char* name, const std::string& xml, int runs) {
    double parse = MedianMs(runs, [&] {
        pugi::xml_document doc;
        doc.load_buffer(xml.data(), xml.size());
    });
    MemoryPort spare(0x200000);
    double load = MedianMs(runs, [&] {
        CNodeMapRef map;
        MemoryPort& port = spare;
        map._LoadXMLFromString(xml.c_str());
        map._Connect(&port);
    });
    CNodeMapRef map;
    MemoryPort port(0x200000);
    map._LoadXMLFromString(xml.c_str());
    map._Connect(&port);
    int features = 0;
    double readCold = MedianMs(runs, [&] {
        map.InvalidateNodes();
        features = ReadAll(map);
    });
    double readWarm = MedianMs(runs, [&] { ReadAll(map); });
    std::printf("%s: %zu bytes, %zu nodes, %d features read\n", name, xml.size(), map.GetNodes().size(),
                features);
    std::printf("  XML parse alone        %9.3f ms  (1.00)\n", parse);
    std::printf("  load and connect       %9.3f ms  (%.2f x parse)\n", load, load / parse);
    std::printf("  read every feature     %9.3f ms  (%.2f x parse), caches cleared first\n", readCold,
                readCold / parse);
    std::printf("  read every feature     %9.3f ms  (%.2f x parse), from caches\n", readWarm,
                readWarm / parse);
}

} // namespace

int main() {
    int features = 0;
    std::string big = MakeDescription(2 * 1024 * 1024, features);
    Report("generated description", big, 7);
    std::ifstream file(std::string(GENAPI_TEST_DATA) + "/aravis-genicam-test.xml", std::ios::binary);
    std::stringstream text;
    text << file.rdbuf();
    Report("public test description", text.str(), 51);
    return 0;
}
