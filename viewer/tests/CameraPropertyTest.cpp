// Edits in the feature grid: corrected writes, commands, refused kinds, a lost camera, selection, expansion.
#include "GridFixture.h"

#include <gtest/gtest.h>

using namespace qorcam::viewer;
using namespace qorcam::viewer::testing;
using namespace qorcam::genapi;

namespace {

struct Grid : GridFixture {
    Grid() { pane.RebuildPropertyList(); }
};

} // namespace

TEST(CameraProperty, IntegersAndFloatsAreCorrectedToTheNodesLimits) {
    struct IntCase {
        int64_t typed, written;
    } ints[] = {{23, 22}, {5, 10}, {1000, 98}, {26, 26}};
    for (const auto& c : ints) {
        Grid g;
        EXPECT_TRUE(g.Edit("Width", GridValue::Int(c.typed)));
        EXPECT_EQ(g.host.port.Get32LE(0x00), static_cast<uint32_t>(c.written)) << c.typed;
        EXPECT_EQ(g.Find("Width")->GetValue().integer, c.written);
        EXPECT_EQ(g.host.gridResets, std::vector<int>{5});
    }
    struct FloatCase {
        double typed, written;
    } floats[] = {{1.3, 1.5}, {1.2, 1.0}, {1.25, 1.0}, {9.0, 4.0}, {-3.0, 0.0}};
    for (const auto& c : floats) {
        Grid g;
        g.Edit("Gain", GridValue::R8(c.typed));
        EXPECT_DOUBLE_EQ(CFloatPtr(g.host.map._GetNode("Gain"))->GetValue(), c.written) << c.typed;
        EXPECT_DOUBLE_EQ(g.Find("Gain")->GetValue().real, c.written);
    }
    // Writing the value the camera already holds changes nothing: no rebuild.
    Grid same;
    same.Edit("Width", GridValue::Int(22));
    EXPECT_TRUE(same.host.gridResets.empty());
}

TEST(CameraProperty, CommandsStringsSelectorsAndRegisters) {
    Grid g;
    const int writes = g.host.port.writes;
    g.Edit("DeviceReset", GridValue::Text("Wait")); // "Wait" does nothing
    EXPECT_EQ(g.host.port.writes, writes);
    g.Edit("DeviceReset", GridValue::Text("Exec"));
    EXPECT_EQ(g.host.port.Get32LE(0x0C), 2u);
    EXPECT_EQ(g.host.port.writes, writes + 1);
    EXPECT_EQ(g.Find("DeviceReset")->GetValue().ToText(), "Wait");

    g.Edit("DeviceUserID", GridValue::Text("a-very-long-name")); // cut to the 8 bytes it holds
    EXPECT_EQ(CStringPtr(g.host.map._GetNode("DeviceUserID"))->GetValue(), "a-very-l");

    const int before = g.host.port.writes;
    g.Edit("Blob", GridValue::Text("0102030405")); // registers are not written from the grid
    EXPECT_EQ(g.host.port.writes, before);

    g.host.gridResets.clear();
    CPropertyGridProperty* selector = g.Find("GainSelector");
    selector->SetValue(GridValue::Text("Red"));
    g.pane.Grid().OnPropertyChanged(selector);
    EXPECT_EQ(CEnumerationPtr(g.host.map._GetNode("GainSelector"))->GetIntValue(), 1);
    EXPECT_EQ(g.host.gridResets, std::vector<int>{5});
    selector->SetValue(GridValue::Text("Off")); // no such available entry: nothing written
    g.pane.Grid().OnPropertyChanged(selector);
    EXPECT_EQ(CEnumerationPtr(g.host.map._GetNode("GainSelector"))->GetIntValue(), 1);
}

TEST(CameraProperty, ACameraLostBeforeAnEditIsReported) {
    Grid g;
    g.host.port.fail = true;
    g.host.api.connected = FALSE;
    g.Edit("Width", GridValue::Int(30));
    EXPECT_EQ(g.host.cameraChecks, (std::vector<std::pair<int, int>>{{1, 1}, {0, 1}}));
    EXPECT_EQ(g.host.messages,
              std::vector<std::string>{"Error : Camera has been disconnected.\nPlease reconnect."});
    EXPECT_TRUE(g.host.gridResets.empty());
}

TEST(CameraProperty, SelectionIsRememberedAndRestoredAfterARebuild) {
    Grid g;
    g.pane.Grid().OnChangeSelection(g.Find("Width"), nullptr);
    ASSERT_EQ(g.host.selected.size(), 1u);
    EXPECT_EQ(g.host.selected[0], g.host.map._GetNode("Width"));
    g.pane.Grid().OnChangeSelection(g.Find("Image Format"), nullptr);
    EXPECT_EQ(g.host.selected.back(), g.host.map._GetNode("ImageFormat"));
    g.pane.Grid().OnChangeSelection(g.Find("Width"), nullptr);

    g.pane.ClearGrid();
    g.pane.RebuildPropertyList();
    ASSERT_NE(g.pane.selectionToRestore, nullptr);
    EXPECT_EQ(g.pane.Grid().GetCurSel(), g.Find("Width"));
}

TEST(CameraProperty, ExpandingAGroupAsksForOneRebuild) {
    Grid g;
    CPropertyGridProperty* group = g.Find("Acquisition");
    group->Expand(true);
    g.pane.Grid().OnDrawProperty(group);
    g.pane.Grid().OnDrawProperty(group);
    EXPECT_EQ(g.host.propertyRefreshes, std::vector<CPropertyGridProperty*>{group});
    EXPECT_EQ(g.host.child.expansionStates["Acquisition"], 1u);
    group->Expand(false);
    g.pane.Grid().OnDrawProperty(group);
    EXPECT_EQ(g.host.child.expansionStates["Acquisition"], 0u);
    // Favourites are built expanded and keep no state.
    g.pane.level = kLevelFavorite;
    group->Expand(true);
    g.pane.Grid().OnDrawProperty(group);
    EXPECT_EQ(g.host.propertyRefreshes.size(), 1u);
}
