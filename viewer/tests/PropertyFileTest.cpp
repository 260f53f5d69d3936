// Property files: what a save writes, what a load sets, and files that are truncated, damaged or hostile.
#include "ViewerFixture.h"

#include "IniDocument.h"
#include "PropertyFile.h"

#include "TempFolder.h"

#include <gtest/gtest.h>

#include <clocale>
#include <filesystem>
#include <fstream>
#include <random>
#include <unistd.h>

using namespace qorcam::viewer;
using namespace qorcam::viewer::testing;
using namespace qorcam::genapi;
namespace fs = std::filesystem;

namespace {

using qorcam::viewer::testing::TempFolder;

std::string Read(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

/// The fixture camera with a register that holds every kind of byte.
struct Camera : FakeHost {
    Camera() {
        const uint8_t blob[5] = {0x41, 0x00, 0x5C, 0x7E, 0x20};
        std::memcpy(port.memory.data() + 0x20, blob, 5);
        child.modelName = "Model-7";
        child.title = "Fixture 0x0000000000000011";
    }
    int64_t Int(const char* n) { return CIntegerPtr(map._GetNode(n))->GetValue(); }
    double Float(const char* n) { return CFloatPtr(map._GetNode(n))->GetValue(); }
    std::string Enum(const char* n) {
        return CEnumerationPtr(map._GetNode(n))->GetCurrentEntry()->GetSymbolic();
    }
    std::string String(const char* n) { return CStringPtr(map._GetNode(n))->GetValue(); }
    bool Bool(const char* n) { return CBooleanPtr(map._GetNode(n))->GetValue(); }
    std::vector<uint8_t> Bytes(size_t at, size_t n) {
        return std::vector<uint8_t>(port.memory.begin() + at, port.memory.begin() + at + n);
    }
};

/// A second camera with its own map: features on increment grids, one
/// read-only, and none of the fixture's others. The getters answer while a
/// FakeHost has an active window.
struct SmallCamera {
    MemoryPort port{0x100};
    CNodeMapRef map;
    explicit SmallCamera(const std::string& extra = "") {
        map._LoadXMLFromString(
            Description(
                "<Category Name='Root'><pFeature>Image</pFeature><pFeature>Step</pFeature></Category>"
                "<Category Name='Image'><DisplayName>Image Format</DisplayName>"
                "<pFeature>Width</pFeature><pFeature>Rate</pFeature><pFeature>Flip</pFeature></Category>"
                "<Integer Name='Step'><Value>8</Value><Min>0</Min><Max>2000</Max><Inc>4</Inc></Integer>"
                "<Integer Name='Width'><Value>7</Value><ImposedAccessMode>RO</ImposedAccessMode></Integer>"
                "<Float Name='Rate'><Value>1</Value><Min>0</Min><Max>100</Max><Inc>0.25</Inc></Float>"
                "<Boolean Name='Flip'><Value>0</Value></Boolean>" +
                extra)
                .c_str());
        map._Connect(&port);
    }
    int64_t Int(const char* n) { return CIntegerPtr(map._GetNode(n))->GetValue(); }
    double Float(const char* n) { return CFloatPtr(map._GetNode(n))->GetValue(); }
};

/// A frame and window that record what the property file command asks of them.
struct RecordingHost : IPropertyFileHost {
    std::string answer;
    std::vector<std::string> calls;
    std::string AskPropertyFilePath(bool save, const std::string& defaultName) override {
        calls.push_back(std::string(save ? "save " : "open ") + defaultName);
        return answer;
    }
    void StopChild(CChildFrame* c) override {
        calls.push_back("stop");
        c->running = 0;
    }
    void StartChild(CChildFrame* c, CChildFrame::StartReason reason) override {
        calls.push_back(reason == CChildFrame::StartReason::Asked ? "start" : "restart");
        c->running = 1;
    }
    void RefreshModeForm() override { calls.push_back("mode form"); }
    void PostGridReset(int w) override { calls.push_back("grid reset " + std::to_string(w)); }
    void PostPixelFormatCheck(CChildFrame*) override { calls.push_back("pixel format"); }
};

} // namespace

TEST(PropertyFile, SavesEveryReadableFeatureUnderItsCategory) {
    Camera cam;
    TempFolder t;
    const std::string path = t.File("cam.ini");
    PropertyFileResult r = SaveCameraProperties(&cam.map, path, "Model-7", "Fixture 0x0000000000000011");
    ASSERT_TRUE(r.ok);
    const std::string text = Read(path);
    EXPECT_EQ(text.rfind("[CameraProperty : File Info]\nModel Name=Model-7\nCamera Name=Fixture "
                         "0x0000000000000011\n[Image Format : Width]\nInteger=22\n",
                         0),
              0u)
        << text;

    IniDocument file;
    file.Parse(text);
    struct Entry {
        const char *section, *key;
        std::optional<std::string> value;
    } entries[] = {
        {"Root : Width", "Integer", "22"},
        {"Image Format : PixelFormat", "Enumeration", "Mono8"},
        {"Image Format : Gain", "Float", "1.500000"},
        {"Sub : Flip", "Boolean", "0"},
        {"Acquisition : GainSelector", "Enumeration", "All"},
        {"Acquisition : Temperature", "Integer", "40"},
        {"ExpertCat : Secret", "Integer", "1"},
        {"Device Control : DeviceUserID", "String", "cam"},
        {"Device Control : Blob", "Register", "A\\00\\5C~\\20"},
        {"Device Control : Address", "Integer", "[IPv4] 192.168.0.1"},
        {"Device Control : Big", "Integer", "0x ffff ffff"},
        {"Device Control : Fixed", "Integer", "7"}, // read-only features are saved too
        // Not saved: commands, features that are not available, categories.
        {"Acquisition : DeviceReset", "Command", std::nullopt},
        {"Device Control : Hidden", "Integer", std::nullopt},
        {"Root : Image Format", "Category", std::nullopt},
    };
    for (const Entry& e : entries)
        EXPECT_EQ(file.Get(e.section, e.key), e.value) << e.section;
    EXPECT_EQ(r.features, 16u);
}

TEST(PropertyFile, ALoadRestoresWhatWasSaved) {
    Camera cam;
    TempFolder t;
    const std::string path = t.File("cam.ini");
    ASSERT_TRUE(SaveCameraProperties(&cam.map, path, "Model-7", "x").ok);

    CIntegerPtr(cam.map._GetNode("Width"))->SetValue(50);
    CEnumerationPtr(cam.map._GetNode("PixelFormat"))->FromString("RGB8");
    CFloatPtr(cam.map._GetNode("Gain"))->SetValue(3.0);
    CBooleanPtr(cam.map._GetNode("Flip"))->SetValue(true);
    CStringPtr(cam.map._GetNode("DeviceUserID"))->SetValue("other");
    const uint8_t other[5] = {9, 9, 9, 9, 9};
    CRegisterPtr(cam.map._GetNode("Blob"))->Set(other, 5);
    CIntegerPtr(cam.map._GetNode("Address"))->SetValue(0x0A000001);
    CEnumerationPtr(cam.map._GetNode("GainSelector"))->FromString("Red");

    int pixelFormatChecks = 0;
    PropertyFileResult r = LoadCameraProperties(&cam.map, path, [&] { ++pixelFormatChecks; });
    ASSERT_TRUE(r.ok);
    EXPECT_EQ(cam.Int("Width"), 22);
    EXPECT_EQ(cam.Enum("PixelFormat"), "Mono8");
    EXPECT_DOUBLE_EQ(cam.Float("Gain"), 1.5);
    EXPECT_FALSE(cam.Bool("Flip"));
    EXPECT_EQ(cam.String("DeviceUserID"), "cam");
    EXPECT_EQ(cam.Bytes(0x20, 5), (std::vector<uint8_t>{0x41, 0x00, 0x5C, 0x7E, 0x20}));
    EXPECT_EQ(cam.Int("Address"), 0xC0A80001);
    EXPECT_EQ(cam.Enum("GainSelector"), "All");
    EXPECT_EQ(cam.Int("Fixed"), 7);
    EXPECT_EQ(pixelFormatChecks, 1);
}

// A property file is the same under a decimal-comma locale: written with a
// point, and a file with a point read back as the number it says.
TEST(PropertyFile, NumbersDoNotFollowTheUsersLocale) {
    const std::string previous = std::setlocale(LC_ALL, nullptr);
    if (!std::setlocale(LC_ALL, "de_DE.UTF-8")) GTEST_SKIP() << "the de_DE.UTF-8 locale is not installed";
    struct Restore {
        std::string locale;
        ~Restore() { std::setlocale(LC_ALL, locale.c_str()); }
    } restore{previous};
    Camera cam;
    TempFolder t;
    const std::string path = t.File("cam.ini");
    ASSERT_TRUE(SaveCameraProperties(&cam.map, path, "Model-7", "x").ok);
    IniDocument file;
    file.Parse(Read(path));
    EXPECT_EQ(file.Get("Image Format : Gain", "Float"), std::optional<std::string>("1.500000"));
    EXPECT_EQ(file.Get("Root : Width", "Integer"), std::optional<std::string>("22"));

    CFloatPtr(cam.map._GetNode("Gain"))->SetValue(3.0);
    ASSERT_TRUE(LoadCameraProperties(&cam.map, path, [] {}).ok);
    EXPECT_DOUBLE_EQ(cam.Float("Gain"), 1.5);
}

TEST(PropertyFile, LoadedNumbersArePutOnTheGridAndOthersSkipped) {
    struct Case {
        const char* section;
        const char* key;
        const char* text;
        double expected; // the start value when the text is to be skipped
    } cases[] = {
        {"Root : Step", "Integer", "1001", 1000},
        {"Root : Step", "Integer", "2000", 2000},
        {"Root : Step", "Integer", "2001", 2000},
        {"Root : Step", "Integer", "2004", 8}, // above the maximum
        {"Root : Step", "Integer", "-4", 8},
        {"Root : Step", "Integer", "99999999999999999999999", 8},
        {"Root : Step", "Integer", "0x 7fff ffff ffff ffff", 8},
        {"Root : Step", "Float", "12", 8}, // the key names another kind
        {"Image Format : Rate", "Float", "10.3", 10.25},
        {"Image Format : Rate", "Float", "10.375", 10.25}, // a tie goes down
        {"Image Format : Rate", "Float", "1e2", 100},
        {"Image Format : Rate", "Float", "150", 1},
        {"Image Format : Rate", "Float", "nan", 1},
        {"Image Format : Rate", "Float", "-inf", 1},
        {"Image Format : Rate", "Float", "fast", 1},
        {"Image Format : Width", "Integer", "9", 7}, // read-only on this camera
        {"Root : Width", "Integer", "9", 7},         // not listed there
    };
    FakeHost live;
    TempFolder t;
    for (const Case& c : cases) {
        SmallCamera cam;
        const std::string path =
            t.Write("f.ini", std::string("[") + c.section + "]\n" + c.key + "=" + c.text + "\n");
        ASSERT_TRUE(LoadCameraProperties(&cam.map, path).ok);
        const bool isFloat = std::string(c.section).find("Rate") != std::string::npos;
        const double value =
            isFloat ? cam.Float("Rate")
                    : static_cast<double>(cam.Int(
                          std::string(c.section).find("Width") != std::string::npos ? "Width" : "Step"));
        EXPECT_DOUBLE_EQ(value, c.expected) << c.section << " " << c.text;
    }
}

TEST(PropertyFile, AFileOfAnotherCameraSetsOnlyWhatThisOneCanTake) {
    Camera big;
    TempFolder t;
    const std::string path = t.File("big.ini");
    ASSERT_TRUE(SaveCameraProperties(&big.map, path, "Model-7", "x").ok);
    SmallCamera small;
    CBooleanPtr(small.map._GetNode("Flip"))->SetValue(true);
    PropertyFileResult r = LoadCameraProperties(&small.map, path);
    EXPECT_TRUE(r.ok);
    EXPECT_EQ(r.features, 0u); // "Image Format : Width" is read-only here; Flip sits in another category
    EXPECT_EQ(small.Int("Width"), 7);
    EXPECT_TRUE(CBooleanPtr(small.map._GetNode("Flip"))->GetValue());
}

TEST(PropertyFile, DamagedAndHostileFilesNeverCrashOrWriteGarbage) {
    Camera cam;
    TempFolder t;
    const std::string good = t.File("good.ini");
    ASSERT_TRUE(SaveCameraProperties(&cam.map, good, "Model-7", "x").ok);
    const std::string text = Read(good);

    // Every truncation of a good file loads what it still holds.
    for (size_t n = 0; n < text.size(); n += 3) {
        const std::string path = t.Write("cut.ini", text.substr(0, n));
        EXPECT_TRUE(LoadCameraProperties(&cam.map, path).ok) << n;
    }
    // Random bytes, with and without line structure.
    std::mt19937 random(7);
    for (int round = 0; round < 20; ++round) {
        std::string noise(4096, '\0');
        for (char& c : noise)
            c = static_cast<char>(round % 2 ? random() % 256 : " [:]=\n\\0aZ"[random() % 11]);
        EXPECT_TRUE(LoadCameraProperties(&cam.map, t.Write("noise.ini", noise)).ok);
    }

    // Register texts that do not give every byte write nothing; a string is cut to its length.
    struct Case {
        const char* text;
        std::vector<uint8_t> blob;
    } registers[] = {
        {"AB", {0x41, 0x00, 0x5C, 0x7E, 0x20}},
        {"ABCD\\4", {0x41, 0x00, 0x5C, 0x7E, 0x20}},
        {"ABCD\\", {0x41, 0x00, 0x5C, 0x7E, 0x20}},
        {"ABCDEFGH", {'A', 'B', 'C', 'D', 'E'}},
        {"\\FF\\fe\\0g\\zzZ", {0xFF, 0xFE, 0x00, 0x00, 'Z'}},
    };
    for (const Case& c : registers) {
        const uint8_t start[5] = {0x41, 0x00, 0x5C, 0x7E, 0x20};
        std::memcpy(cam.port.memory.data() + 0x20, start, 5);
        cam.map.InvalidateNodes();
        LoadCameraProperties(
            &cam.map, t.Write("r.ini", std::string("[Device Control : Blob]\nRegister=") + c.text + "\n"));
        EXPECT_EQ(cam.Bytes(0x20, 5), c.blob) << c.text;
    }
    const std::string longLine =
        "[Device Control : DeviceUserID]\nString=" + std::string(1 << 20, 'x') + "\n";
    EXPECT_TRUE(LoadCameraProperties(&cam.map, t.Write("long.ini", longLine)).ok);
    EXPECT_EQ(cam.String("DeviceUserID"), "xxxxxxxx");

    // Files that are no files, or too large, are refused whole.
    EXPECT_FALSE(LoadCameraProperties(&cam.map, t.File("missing.ini")).ok);
    EXPECT_FALSE(LoadCameraProperties(&cam.map, t.path.string()).ok);
    std::string huge = "[Root : Width]\nInteger=30\n";
    huge.resize(kMaxPropertyFileSize + 1, ';');
    EXPECT_FALSE(LoadCameraProperties(&cam.map, t.Write("huge.ini", huge)).ok);
    EXPECT_EQ(cam.Int("Width"), 22);
    EXPECT_FALSE(LoadCameraProperties(nullptr, good).ok);
    EXPECT_FALSE(SaveCameraProperties(nullptr, t.File("none.ini"), "m", "c").ok);
    EXPECT_FALSE(fs::exists(t.File("none.ini")));
}

TEST(PropertyFile, CategoriesThatListEachOtherAreWalkedOnceAlongEachPath) {
    FakeHost live;
    CNodeMapRef map;
    map._LoadXMLFromString(
        Description("<Category Name='Root'><pFeature>Loop</pFeature></Category>"
                    "<Category Name='Loop'><pFeature>Back</pFeature><pFeature>Step</pFeature></Category>"
                    "<Category Name='Back'><pFeature>Loop</pFeature><pFeature>Root</pFeature></Category>"
                    "<Integer Name='Step'><Value>8</Value><Min>0</Min><Max>100</Max></Integer>")
            .c_str());
    MemoryPort port(0x10);
    map._Connect(&port);
    TempFolder t;
    const std::string path = t.File("loop.ini");
    PropertyFileResult r = SaveCameraProperties(&map, path, "m", "c");
    ASSERT_TRUE(r.ok);
    EXPECT_EQ(r.features, 1u);
    IniDocument file;
    ASSERT_TRUE(file.Load(path));
    EXPECT_EQ(file.Get("Loop : Step", "Integer"), "8");
    CIntegerPtr(map._GetNode("Step"))->SetValue(3);
    EXPECT_EQ(LoadCameraProperties(&map, path).features, 1u);
    EXPECT_EQ(CIntegerPtr(map._GetNode("Step"))->GetValue(), 8);
}

TEST(PropertyFile, TheWindowsCommandStopsARunningCameraAndRebuildsTheGrid) {
    Camera cam;
    TempFolder t;
    RecordingHost host;
    // Cancelled: nothing happens.
    EXPECT_FALSE(OnPropertyFile(cam.child, true, host));
    EXPECT_EQ(host.calls, std::vector<std::string>{"save CameraProperty.Model-7.ini"});

    host.calls.clear();
    host.answer = t.File("cam.ini");
    cam.child.running = 1;
    auto saved = OnPropertyFile(cam.child, true, host);
    ASSERT_TRUE(saved && saved->ok);
    EXPECT_EQ(host.calls, (std::vector<std::string>{"save CameraProperty.Model-7.ini", "stop", "mode form",
                                                    "restart", "mode form"}));
    IniDocument file;
    ASSERT_TRUE(file.Load(host.answer));
    EXPECT_EQ(file.Get("CameraProperty : File Info", "Camera Name"), "Fixture 0x0000000000000011");

    // A load into a stopped window rebuilds the grid; a changed pixel format is checked.
    CEnumerationPtr(cam.map._GetNode("PixelFormat"))->FromString("RGB8");
    cam.child.running = 0;
    host.calls.clear();
    auto loaded = OnPropertyFile(cam.child, false, host);
    ASSERT_TRUE(loaded && loaded->ok);
    EXPECT_EQ(host.calls,
              (std::vector<std::string>{"open CameraProperty.Model-7.ini", "pixel format", "grid reset 4"}));
    // A running one is started again instead.
    cam.child.running = 1;
    host.calls.clear();
    LoadPropertyFile(cam.child, host.answer, host);
    EXPECT_EQ(host.calls,
              (std::vector<std::string>{"stop", "mode form", "pixel format", "restart", "mode form"}));

    EXPECT_EQ(DefaultPropertyFileName("a/b\\c"), "CameraProperty.a_b_c.ini");
}
