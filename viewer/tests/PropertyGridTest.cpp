// The feature grid built from the fixture's categories: item kinds, levels, updates, loss, refresh.
#include "GridFixture.h"

#include <gtest/gtest.h>

using namespace qorcam::viewer;
using namespace qorcam::viewer::testing;
using namespace qorcam::genapi;

namespace {

using Grid = GridFixture;

using Kind = GridValue::Kind;

} // namespace

TEST(PropertyGrid, BuildsOneItemPerFeatureByKindAndAccess) {
    Grid g;
    g.pane.RebuildPropertyList();
    EXPECT_EQ(g.TopNames(), (std::vector<std::string>{"Image Format", "Acquisition", "Device Control"}));
    EXPECT_EQ(g.host.shownLevel, kLevelBeginner);

    struct Case {
        const char* name;
        Kind kind;
        std::string text;
        bool allowEdit;
        bool readOnly;
    } cases[] = {
        {"Width", Kind::Int, "22", true, false},
        {"PixelFormat", Kind::Text, "Mono8", false, false},
        {"Gain", Kind::R8, "1.500000", true, false},
        {"Flip", Kind::Bool, "False", false, false},
        {"Temperature", Kind::Text, "40", false, false}, // 32-bit unsigned register: text form
        {"AcquisitionStart", Kind::Text, "Wait", true, false},
        {"DeviceUserID", Kind::Text, "cam", true, false},
        {"Blob", Kind::Text, "0000000000", true, false},
        {"Address", Kind::Text, "[IPv4] 192.168.0.1", false, false},
        {"Big", Kind::Text, "0x ffff ffff", false, false},
        {"Fixed", Kind::Text, "7", false, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        CPropertyGridProperty* item = g.Find(c.name);
        ASSERT_NE(item, nullptr);
        EXPECT_EQ(item->GetValue().kind, c.kind);
        EXPECT_EQ(item->GetValue().ToText(), c.text);
        EXPECT_EQ(item->IsAllowEdit(), c.allowEdit);
        EXPECT_EQ(item->IsReadOnlyItem(), c.readOnly);
        EXPECT_TRUE(item->IsVisible());
    }
    EXPECT_TRUE(g.Find("Width")->HasSpin());
    EXPECT_EQ(g.Find("Width")->SpinMin(), 10);
    EXPECT_EQ(g.Find("Width")->SpinMax(), 100);
    EXPECT_EQ(g.Find("AcquisitionStart")->GetOptions(), (std::vector<std::string>{"Wait", "Exec"}));
    EXPECT_EQ(g.Find("Hidden"), nullptr); // not available: no item
    ASSERT_NE(g.Find("Guru"), nullptr);   // above the level: an item, hidden
    EXPECT_FALSE(g.Find("Guru")->IsVisible());
    EXPECT_EQ(g.Find("Secret"), nullptr); // its category is for experts

    // The selector: a value-list group whose hidden first item holds the
    // current entry; what it selects is shown under it only.
    CPropertyGridProperty* selector = g.Find("GainSelector");
    ASSERT_TRUE(selector && selector->IsGroup());
    EXPECT_EQ(selector->GetOptions(), (std::vector<std::string>{"All", "Red"}));
    ASSERT_GE(selector->GetSubItemsCount(), 2u);
    EXPECT_FALSE(selector->GetSubItem(0)->IsVisible());
    EXPECT_EQ(selector->GetSubItem(0)->GetValue().ToText(), "All");
    CPropertyGridProperty* gainRaw = g.Find("GainRaw");
    EXPECT_EQ(gainRaw->GetParent(), selector);
    EXPECT_FALSE(gainRaw->HasSpin()); // minimum equals maximum
    int gainRawItems = 0;
    g.Find("Acquisition")->ForEach([&](CPropertyGridProperty* p) {
        gainRawItems += p->GetName() == "GainRaw";
    });
    EXPECT_EQ(gainRawItems, 1);

    // Groups without an expansion state are built collapsed; a volatile
    // feature arms the first refresh.
    EXPECT_FALSE(g.Find("Image Format")->IsExpanded());
    EXPECT_EQ(g.pane.RefreshMapSnapshot().size(), 1u);
    EXPECT_EQ(g.host.timers.back(), (std::pair<unsigned, unsigned>{10, 1000}));
}

TEST(PropertyGrid, LevelsAndFavourites) {
    struct Case {
        uint32_t level;
        std::set<std::string> favourites;
        std::vector<std::string> groups;
    } cases[] = {
        {kLevelExpert, {}, {"Image Format", "Acquisition", "Expert Cat", "Device Control"}},
        {kLevelFavorite, {"Flip"}, {"Image Format"}},
        {kLevelFavorite, {"Gain", "Blob"}, {"Image Format", "Device Control"}},
        {kLevelFavorite, {"NotInThisCamera"}, {}},
    };
    for (const auto& c : cases) {
        Grid g;
        g.host.favourites = c.favourites;
        g.pane.OnLevelChanged(c.level);
        std::vector<std::string> names = g.TopNames();
        // Category names without a display name show as they are.
        for (auto& n : names)
            if (n == "ExpertCat") n = "Expert Cat";
        EXPECT_EQ(names, c.groups) << "level " << c.level;
        if (c.level == kLevelFavorite && !c.groups.empty()) {
            EXPECT_TRUE(g.Find(c.groups[0])->IsExpanded());
            EXPECT_EQ(g.Find("Width"), nullptr);
        }
    }
    Grid stored;
    stored.pane.SetInitialLevel(7);
    EXPECT_EQ(stored.pane.level.load(), kLevelBeginner);
}

TEST(PropertyGrid, AnExpandedGroupFollowsTheCamera) {
    Grid g;
    g.host.child.expansionStates["Device Control"] = 1;
    g.pane.RebuildPropertyList();
    CPropertyGridProperty* exposure = g.Find("Exposure");
    ASSERT_NE(exposure, nullptr);
    EXPECT_EQ(exposure->GetValue().kind, Kind::Int);
    EXPECT_TRUE(g.Find("Device Control")->IsExpanded());

    // RW becomes RO: the item is made anew, read-only; an unavailable
    // feature that becomes available gets its item; a value change is shown.
    g.SetInt("Lock", 1);
    g.SetInt("Zero", 1);
    std::memcpy(g.host.port.memory.data() + 0x10, "new", 4);
    g.host.map.InvalidateNodes();
    g.pane.RebuildPropertyList();
    EXPECT_TRUE(g.Find("Exposure")->IsReadOnlyItem());
    EXPECT_EQ(g.Find("Exposure")->GetValue().ToText(), "3");
    EXPECT_NE(g.Find("Hidden"), nullptr);
    EXPECT_EQ(g.Find("DeviceUserID")->GetValue().ToText(), "new");
    // A collapsed group that was never expanded is left as it was.
    EXPECT_EQ(g.Find("Acquisition")->GetSubItemsCount(), g.Find("Acquisition")->GetSubItemsCount());

    // The feature goes away again: its item is removed.
    g.SetInt("Zero", 0);
    g.pane.RebuildPropertyList();
    EXPECT_EQ(g.Find("Hidden"), nullptr);
}

TEST(PropertyGrid, NoWindowOrALostCameraLeavesTheGridEmpty) {
    Grid g;
    g.host.active = nullptr;
    g.pane.RebuildPropertyList();
    EXPECT_EQ(g.pane.Grid().GetPropertyCount(), 0u);

    Grid lost;
    lost.pane.RebuildPropertyList();
    ASSERT_GT(lost.pane.Grid().GetPropertyCount(), 0u);
    lost.host.child.gridFlag = 0; // another window became active
    lost.pane.RebuildPropertyList();
    EXPECT_EQ(lost.pane.Grid().GetPropertyCount(), 0u);

    Grid gone;
    gone.host.api.connected = FALSE;
    gone.pane.RebuildPropertyList();
    EXPECT_EQ(gone.pane.Grid().GetPropertyCount(), 0u);
    EXPECT_EQ(gone.host.cameraChecks, (std::vector<std::pair<int, int>>{{1, 1}, {0, 1}}));
}

TEST(PropertyGrid, RefreshCycleReadsExpandedVolatileItems) {
    Grid g;
    g.host.child.expansionStates["Acquisition"] = 1;
    g.pane.RebuildPropertyList();
    CPropertyGridProperty* temperature = g.Find("Temperature");
    ASSERT_TRUE(temperature && temperature->IsParentExpanded());

    struct Case {
        uint32_t mode;
        std::set<std::string> selection;
        size_t sent;
        unsigned rearm;
    } cases[] = {
        {kRefreshAllItem, {}, 1, 985},
        {kRefreshSelectItem, {}, 0, 1000},
        {kRefreshSelectItem, {"Temperature"}, 1, 985},
    };
    for (const auto& c : cases) {
        g.host.sent.clear();
        g.host.refreshSelection = c.selection;
        g.pane.refreshMode = c.mode;
        g.host.port.Put32LE(0x08, 41);
        g.pane.PropertyRefreshThread();
        ASSERT_EQ(g.host.sent.size(), c.sent) << "mode " << c.mode;
        EXPECT_EQ(g.host.timers.back(), (std::pair<unsigned, unsigned>{1, c.rearm}));
        if (c.sent) {
            EXPECT_EQ(g.host.sent[0].first, temperature->Id());
            EXPECT_EQ(g.host.sent[0].second.ToText(), "41");
            g.pane.ApplyGridValue(g.host.sent[0].first, g.host.sent[0].second);
            EXPECT_EQ(temperature->GetValue().ToText(), "41");
        }
    }
    // A collapsed parent is not read; an item gone from the grid ends the cycle.
    g.Find("Acquisition")->Expand(false);
    g.host.sent.clear();
    g.pane.refreshMode = kRefreshAllItem;
    g.pane.PropertyRefreshThread();
    EXPECT_TRUE(g.host.sent.empty());
    const uint64_t gone = temperature->Id();
    g.pane.ClearGrid();
    g.pane.PropertyRefreshThread();
    EXPECT_EQ(g.host.timers.back(), (std::pair<unsigned, unsigned>{1, 1000}));
    g.pane.ApplyGridValue(gone, GridValue::Text("x")); // unknown id: ignored
}
