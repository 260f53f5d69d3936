// The feature editor pane's logic: controls by kind and access, corrected writes, sliders, marks, a camera
// that went away.
#include "ViewerFixture.h"

#include "FeatureEditor.h"

#include <gtest/gtest.h>

#include <map>

using namespace qorcam::viewer;
using namespace qorcam::viewer::testing;
using namespace qorcam::genapi;

namespace {

std::string EditorDescription() {
    return Description(
        "<Category Name='Root'><pFeature>Cat</pFeature></Category>"
        "<Category Name='Cat'><pFeature>Percent</pFeature></Category>"
        "<Integer Name='Percent'><Value>30</Value><Min>0</Min><Max>100</Max><Inc>10</Inc></Integer>"
        "<Integer Name='Ip'><Value>3232235521</Value><Min>0</Min><Max>4294967295</Max>"
        "<Representation>IPV4Address</Representation></Integer>"
        "<Integer Name='Fixed'><Value>7</Value><ImposedAccessMode>RO</ImposedAccessMode></Integer>" +
        Reg("Temp", 0x00, "<Cachable>NoCache</Cachable><ImposedAccessMode>RO</ImposedAccessMode>") +
        "<Integer Name='Secret'><Value>5</Value><Min>0</Min><Max>9</Max>"
        "<ImposedAccessMode>WO</ImposedAccessMode></Integer>"
        "<Integer Name='TLParamsLocked'><Value>0</Value><Min>0</Min><Max>1</Max></Integer>"
        "<Float Name='Gain'><Value>1</Value><Min>0</Min><Max>10</Max><Inc>0.25</Inc></Float>"
        "<Float Name='Free'><Value>0</Value><Min>0</Min><Max>1</Max></Float>"
        "<Boolean Name='Flip'><Value>0</Value></Boolean>"
        "<Enumeration Name='Mode'><pSelected>Percent</pSelected>"
        "<EnumEntry Name='A'><Value>0</Value></EnumEntry><EnumEntry Name='B'><Value>1</Value></EnumEntry>"
        "<Value>0</Value></Enumeration>"
        "<Enumeration Name='PixelFormat'>"
        "<EnumEntry Name='Mono8'><Value>0</Value></EnumEntry>"
        "<EnumEntry Name='RGB8'><DisplayName>RGB 8</DisplayName><Value>1</Value></EnumEntry>"
        "<EnumEntry Name='Off'><pIsAvailable>Zero</pIsAvailable><Value>2</Value></EnumEntry>"
        "<Value>0</Value></Enumeration>"
        "<Integer Name='Zero'><Value>0</Value></Integer>"
        "<StringReg Name='Name'><Address>0x10</Address><Length>8</Length><AccessMode>RW</AccessMode>"
        "<pPort>Device</pPort></StringReg>"
        "<Register Name='Blob'><Address>0x20</Address><Length>4</Length><AccessMode>RW</AccessMode>"
        "<pPort>Device</pPort></Register>"
        "<Command Name='DeviceReset'><pValue>CmdReg</pValue><CommandValue>2</CommandValue></Command>"
        "<Command Name='Start'><pValue>CmdReg</pValue><CommandValue>1</CommandValue></Command>" +
        Reg("CmdReg", 0x0C));
}

/// The viewer host of the fixture, a camera over the editor's description,
/// and the frame's services the editor asks for, recorded.
struct Editor : FakeHost, IFeatureEditorHost {
    MemoryPort editorPort{0x100};
    CNodeMapRef editorMap;
    std::map<std::string, bool> favouriteMarks, refreshMarks;
    int rebuilds = 0;
    std::vector<CChildFrame*> pixelFormatChecks;
    CPropertyGridProperty item{"item", GridValue::Text(""), ""};
    CPaneFeatureSet pane{*this, *this};
    CFormFeatureSet& form = pane.Form();

    Editor() {
        editorMap._LoadXMLFromString(EditorDescription().c_str());
        editorMap._Connect(&editorPort);
        editorPort.Put32LE(0x00, 40);
        std::memcpy(editorPort.memory.data() + 0x10, "cam", 4);
        child.nodeMap = &editorMap;
    }
    INode* Node(const char* name) { return editorMap._GetNode(name); }
    void Select(const char* name) { pane.OnFeatureSelect(Node(name), &item); }
    int64_t Int(const char* n) { return CIntegerPtr(Node(n))->GetValue(); }
    double Float(const char* n) { return CFloatPtr(Node(n))->GetValue(); }
    /// What the user does: type into the value edit, then "Set".
    void Type(const std::string& text) {
        form.value = text;
        pane.OnSet();
    }
    void Slide(int32_t position) {
        form.slider.position = position;
        pane.OnSlider();
    }
    void Choose(int index) {
        form.combo.selection = index;
        pane.OnComboChange();
    }
    std::string Shown() {
        std::string s;
        auto add = [&s](const EditorControl& c, const char* name) {
            if (c.visible) s += s.empty() ? name : std::string(" ") + name;
        };
        if (form.favorite.enabled) s = "Favorite";
        add(form.refresh, "Refresh");
        add(form.set, "Set");
        add(form.valueEdit, "Value");
        add(form.minEdit, "Min");
        add(form.maxEdit, "Max");
        add(form.incEdit, "Inc");
        add(form.slider, "Slider");
        add(form.combo, "Combo");
        add(form.exec, "Exec");
        return s;
    }

    // Marks as the application keeps them: a name counts when its value is true.
    bool IsFavourite(const std::string& n) override { return favouriteMarks.count(n) && favouriteMarks[n]; }
    bool IsRefreshSelected(const std::string& n) override { return refreshMarks.count(n) && refreshMarks[n]; }
    // IFeatureEditorHost
    void RebuildPropertyList() override { ++rebuilds; }
    void SetFavourite(const std::string& n, bool m) override { favouriteMarks[n] = m; }
    void SetRefreshSelected(const std::string& n, bool m) override { refreshMarks[n] = m; }
    void PostPixelFormatCheck(CChildFrame* c) override { pixelFormatChecks.push_back(c); }
};

} // namespace

TEST(FeatureEditor, ControlsFollowTheFeaturesKindAndAccess) {
    struct Case {
        const char* feature;
        const char* shown;
    } cases[] = {
        {"Fixed", "Favorite"},        // read-only: only the marks
        {"Temp", "Favorite Refresh"}, // read-only and volatile
        {"Percent", "Favorite Set Value Min Max Inc Slider"},
        {"Ip", "Favorite Set Value Min Max Inc"}, // an address has no slider
        {"Secret", "Favorite Set Value Min Max Inc"},
        {"TLParamsLocked", "Favorite"},
        {"Gain", "Favorite Set Value Min Max Inc Slider"},
        {"Flip", "Favorite Combo"},
        {"Mode", "Favorite"}, // a selector gets no combo box
        {"PixelFormat", "Favorite Combo"},
        {"Name", "Favorite Set Value"},
        {"Blob", "Favorite Set Value"},
        {"DeviceReset", "Favorite Exec"},
        {"Cat", ""}, // a category clears the editor
    };
    for (const Case& c : cases) {
        Editor e;
        e.Select("Percent"); // something shown before
        e.Select(c.feature);
        EXPECT_EQ(e.Shown(), c.shown) << c.feature;
    }

    Editor e;
    e.Select("Percent");
    EXPECT_EQ(e.form.value, "30");
    EXPECT_EQ(e.form.min, "Min : 0");
    EXPECT_EQ(e.form.max, "Max : 100");
    EXPECT_EQ(e.form.inc, "Inc : 10");
    EXPECT_EQ(e.form.slider.rangeMax, 100);
    EXPECT_EQ(e.form.slider.tick, 10);
    EXPECT_EQ(e.form.slider.position, 30);
    EXPECT_TRUE(e.form.sliderFocus);
    e.Select("Ip");
    EXPECT_EQ(e.form.value, "[IPv4] 192.168.0.1");
    EXPECT_EQ(e.form.max, "Max : [IPv4] 255.255.255.255");
    e.Select("Secret");
    EXPECT_EQ(e.form.value, "Write Only");
    e.Select("Gain");
    EXPECT_EQ(e.form.value, "1.000000");
    EXPECT_EQ(e.form.inc, "Inc : 0.250000");
    EXPECT_EQ(e.form.slider.rangeMax, 40);
    EXPECT_EQ(e.form.slider.position, 4);
    e.Select("Flip");
    EXPECT_EQ(e.form.combo.items, (std::vector<std::string>{"False", "True"}));
    EXPECT_EQ(e.form.combo.selection, 0);
    e.Select("PixelFormat");
    EXPECT_EQ(e.form.combo.items, (std::vector<std::string>{"Mono8", "RGB 8"}));
    EXPECT_EQ(e.form.combo.selection, 0);
    e.Select("Name");
    EXPECT_EQ(e.form.value, "cam");
    e.Select("Blob");
    EXPECT_EQ(e.form.value, "\\00\\00\\00\\00");
}

TEST(FeatureEditor, TypedValuesAreCorrectedAndWritten) {
    struct IntCase {
        const char* typed;
        int64_t written;
        int rebuilds;
    } ints[] = {{"57", 50, 1}, {"101", 100, 1}, {"-5", 0, 1}, {"30", 30, 0}};
    for (const IntCase& c : ints) {
        Editor e;
        e.Select("Percent");
        e.Type(c.typed);
        EXPECT_EQ(e.Int("Percent"), c.written) << c.typed;
        EXPECT_EQ(e.rebuilds, c.rebuilds) << c.typed;
        EXPECT_EQ(e.form.value, std::to_string(c.written));
        EXPECT_EQ(e.form.slider.position, c.written);
    }
    struct FloatCase {
        const char* typed;
        double written;
        int rebuilds;
    } floats[] = {{"1.3", 1.25, 1}, {"1.375", 1.25, 1}, {"11", 10, 1},
                  {"x", 1, 0},      {"nan", 1, 0},      {"1", 1, 0}};
    for (const FloatCase& c : floats) {
        Editor e;
        e.Select("Gain");
        e.Type(c.typed);
        EXPECT_DOUBLE_EQ(e.Float("Gain"), c.written) << c.typed;
        EXPECT_EQ(e.rebuilds, c.rebuilds) << c.typed;
    }

    Editor e;
    e.Select("Ip");
    e.Type("[IPv4] 10.0.0.1");
    EXPECT_EQ(e.Int("Ip"), 0x0A000001);
    EXPECT_EQ(e.form.value, "[IPv4] 10.0.0.1");
    e.Select("Name");
    e.Type("a-very-long-name");
    EXPECT_EQ(CStringPtr(e.Node("Name"))->GetValue(), "a-very-l");
    e.Select("Blob");
    e.Type("AB\\01");
    EXPECT_EQ(std::vector<uint8_t>(e.editorPort.memory.begin() + 0x20, e.editorPort.memory.begin() + 0x24),
              (std::vector<uint8_t>{'A', 'B', 1, 0}));
    // Write-only: what the edit shows is no value; a typed one is written.
    e.Select("Secret");
    const int writes = e.rebuilds;
    e.Type("Write Only");
    EXPECT_EQ(e.rebuilds, writes);
    e.Type("7");
    EXPECT_EQ(e.rebuilds, writes + 1);
    // The transport layer's lock is never written from here.
    e.Select("TLParamsLocked");
    e.Type("1");
    EXPECT_EQ(e.Int("TLParamsLocked"), 0);
}

TEST(FeatureEditor, ChoicesWriteAtOnceAndAPixelFormatIsChecked) {
    Editor e;
    e.Select("Flip");
    e.Choose(1);
    EXPECT_TRUE(CBooleanPtr(e.Node("Flip"))->GetValue());
    EXPECT_EQ(e.rebuilds, 1);
    e.Choose(1); // unchanged
    EXPECT_EQ(e.rebuilds, 1);

    e.Select("PixelFormat");
    e.Choose(1);
    EXPECT_EQ(CEnumerationPtr(e.Node("PixelFormat"))->GetIntValue(), 1);
    EXPECT_EQ(e.pixelFormatChecks, std::vector<CChildFrame*>{&e.child});
    EXPECT_EQ(e.rebuilds, 2);
    e.Choose(1);
    e.Choose(5); // no such item
    EXPECT_EQ(e.rebuilds, 2);
    EXPECT_EQ(e.pixelFormatChecks.size(), 1u);
}

TEST(FeatureEditor, ACommandRunsOnceAndAResetIsNeverRetried) {
    Editor e;
    e.Select("Start");
    e.pane.OnExec();
    EXPECT_EQ(e.editorPort.Get32LE(0x0C), 1u);
    EXPECT_EQ(e.rebuilds, 1);
    e.pane.OnSet(); // "Set" on a command executes it too
    EXPECT_EQ(e.rebuilds, 2);

    e.Select("DeviceReset");
    e.editorPort.fail = true;
    const int writes = e.editorPort.writes;
    e.pane.OnExec();
    EXPECT_EQ(e.editorPort.writes, writes);
    EXPECT_EQ(LastFeatureFailure(), "[DeviceReset]\n\rExecute the command error\n\rTryNum:1");
    EXPECT_EQ(e.rebuilds, 3);
}

TEST(FeatureEditor, FavouriteAndRefreshMarksAreSetAndClearedButKept) {
    Editor e;
    e.Select("Temp");
    EXPECT_FALSE(e.form.favorite.checked);
    e.form.favorite.checked = true;
    e.pane.OnFavorite();
    e.form.refresh.checked = true;
    e.pane.OnRefresh();
    EXPECT_EQ(e.favouriteMarks, (std::map<std::string, bool>{{"Temp", true}}));
    EXPECT_EQ(e.refreshMarks, (std::map<std::string, bool>{{"Temp", true}}));
    e.Select("Percent");
    e.Select("Temp");
    EXPECT_TRUE(e.form.favorite.checked);
    EXPECT_TRUE(e.form.refresh.checked);
    e.form.favorite.checked = false;
    e.pane.OnFavorite();
    EXPECT_EQ(e.favouriteMarks, (std::map<std::string, bool>{{"Temp", false}}));
    // Without a node or item the boxes do nothing.
    e.pane.ClearFeatureEditor();
    e.form.favorite.checked = true;
    e.pane.OnFavorite();
    EXPECT_EQ(e.favouriteMarks, (std::map<std::string, bool>{{"Temp", false}}));
}

TEST(FeatureEditor, SliderMappingsKeepEveryRangeOnTheSlider) {
    constexpr int64_t kMin = std::numeric_limits<int64_t>::min(), kMax = std::numeric_limits<int64_t>::max();
    constexpr int32_t kTop = 2147483647;
    struct Case {
        int64_t min, max, inc;
        IntSliderMapping::Mode mode;
        int32_t rangeMax;
        int64_t value;
        int32_t position;
        int64_t back; // the value of that position
    } cases[] = {
        {0, 100, 10, IntSliderMapping::Mode::Direct, 100, 57, 57, 57},
        {10, 20, 0, IntSliderMapping::Mode::Direct, 10, 15, 5, 15},
        {-2147483647, 0, 1, IntSliderMapping::Mode::Direct, kTop, 0, kTop, 0},
        {0, 4294967295, 4, IntSliderMapping::Mode::Steps, 1073741823, 400, 100, 400},
        {0, 4294967295, 1, IntSliderMapping::Mode::Scaled, kTop, 4294967295, kTop, 4294967295},
        {5, int64_t{1} << 40, 0, IntSliderMapping::Mode::Scaled, kTop, 5, 0, 5},
        {kMin, kMax, 1, IntSliderMapping::Mode::Scaled, kTop, kMin, 0, kMin},
        {kMin, kMax, 1, IntSliderMapping::Mode::Scaled, kTop, kMax, kTop, kMax},
        {kMin, kMax, 1, IntSliderMapping::Mode::Scaled, kTop, 0, 1073741824, 0},
        {0, 100, 10, IntSliderMapping::Mode::Direct, 100, -5, 0, 0},       // below the range
        {0, 100, 10, IntSliderMapping::Mode::Direct, 100, kMax, 100, 100}, // above it
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.min) + ".." + std::to_string(c.max) + " value " +
                     std::to_string(c.value));
        const IntSliderMapping m = IntSliderMapping::For(c.min, c.max, c.inc);
        EXPECT_EQ(m.mode, c.mode);
        EXPECT_EQ(m.rangeMax, c.rangeMax);
        EXPECT_EQ(m.Position(c.value), c.position);
        EXPECT_EQ(m.Value(c.position), c.back);
        EXPECT_EQ(m.Value(-1), c.min);
    }

    const FloatSliderMapping gain = FloatSliderMapping::For(0, 10, 0.25);
    double v = 0;
    EXPECT_EQ(gain.rangeMax, 40);
    EXPECT_EQ(gain.Position(1.0), 4);
    ASSERT_TRUE(gain.Value(6, v));
    EXPECT_DOUBLE_EQ(v, 1.5);
    EXPECT_EQ(FloatSliderMapping::For(0, 1, 0).rangeMax, 65535);
    EXPECT_EQ(FloatSliderMapping::For(0, 1e9, 0.001).rangeMax, 65535);
    for (auto [min, max] : {std::pair{5.0, 5.0}, {5.0, 1.0}, {-1e308, 1e308}}) {
        const FloatSliderMapping empty = FloatSliderMapping::For(min, max, 1);
        EXPECT_EQ(empty.rangeMax, 0);
        EXPECT_EQ(empty.Position(3), 0);
        EXPECT_FALSE(empty.Value(0, v));
    }
}

TEST(FeatureEditor, TheSliderWritesAsItMovesAndTheNextSelectionRebuildsTheGrid) {
    Editor e;
    e.Select("Percent");
    e.Slide(57);
    EXPECT_EQ(e.Int("Percent"), 50);
    EXPECT_EQ(e.form.slider.position, 50);
    EXPECT_EQ(e.form.value, "50");
    EXPECT_TRUE(e.pane.SliderChanged());
    EXPECT_EQ(e.rebuilds, 1);
    e.Slide(50); // where it already is
    EXPECT_EQ(e.rebuilds, 1);
    // "Set" with the value the slider wrote still reports the change once.
    e.Type("50");
    EXPECT_EQ(e.rebuilds, 2);
    EXPECT_FALSE(e.pane.SliderChanged());
    e.Slide(70);
    e.Select("Gain");
    EXPECT_EQ(e.rebuilds, 4);
    EXPECT_FALSE(e.pane.SliderChanged());

    e.Slide(6);
    EXPECT_DOUBLE_EQ(e.Float("Gain"), 1.5);
    EXPECT_EQ(e.form.value, "1.500000");
    e.Select("Free");
    e.Slide(32768);
    EXPECT_NEAR(e.Float("Free"), 0.5, 1e-4);
    EXPECT_EQ(e.form.slider.position, 32768);
}

TEST(FeatureEditor, NothingIsTouchedOnceTheCameraWindowWentAway) {
    Editor e;
    e.Select("Percent");
    e.child.hCamera = nullptr; // the camera closed under the editor
    e.Type("80");
    e.Slide(90);
    e.pane.OnExec();
    EXPECT_EQ(e.Int("Percent"), 30);
    EXPECT_EQ(e.rebuilds, 0);

    e.child.hCamera = reinterpret_cast<HCAMERA>(0x1234);
    e.active = nullptr;
    e.Type("80");
    EXPECT_EQ(e.Int("Percent"), 30);
    e.Select("Percent"); // a selection without a live window clears the editor
    EXPECT_EQ(e.pane.Node(), nullptr);
    EXPECT_EQ(e.Shown(), "");
    e.pane.OnFeatureSelect(nullptr, &e.item);
    EXPECT_EQ(e.Shown(), "");
}
