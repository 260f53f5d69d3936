// The display, mode-set and record forms over a recording frame and recording windows.
#include "ViewerFixture.h"

#include "ControlForms.h"
#include "PropertiesWnd.h"

#include "TempFolder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <memory>
#include <unistd.h>

using namespace qorcam::viewer;
using namespace qorcam::viewer::testing;
namespace fs = std::filesystem;

namespace {

/// Record rings that answer from a table and note what they were asked.
class FakeRecords : public IRecordControl {
public:
    RecordStatus Status(CChildFrame* c) override { return status[c]; }
    void Freeze(CChildFrame* c) override {
        status[c].frozen = true;
        calls.push_back("Freeze " + c->title);
    }
    void Trigger(CChildFrame* c, RecordTrigger where) override {
        static const char* names[] = {"Start", "Center", "End"};
        calls.push_back(std::string(names[static_cast<int>(where)]) + " " + c->title);
    }
    void StartRecordWriter(CChildFrame* c) override { calls.push_back("Writer " + c->title); }
    bool ShowFrame(CChildFrame* c, uint32_t index) override {
        if (index >= status[c].frameCount) return false;
        status[c].frameIndex = index;
        return true;
    }
    void RestartPlayback(CChildFrame* c, unsigned ms) override {
        calls.push_back("Playback " + c->title + " " + std::to_string(ms));
    }
    uint32_t UpdateRecordableCount() override { return 0; }
    void SetRing(CChildFrame*, bool) override {}

    std::map<CChildFrame*, RecordStatus> status;
    std::vector<std::string> calls;
};

/// A main frame that keeps the panes' visibility and the record values in
/// fields and notes what it was asked.
class FakeFormHost : public IFormHost {
public:
    FakeFormHost() {
        for (FormPane p : {FormPane::CameraTree, FormPane::Properties, FormPane::FeatureSet,
                           FormPane::Display, FormPane::Output})
            visible[p] = true;
        visible[FormPane::Record] = false;
    }
    CChildFrame* AddWindow(const std::string& title) {
        windows.push_back(std::make_unique<CChildFrame>());
        CChildFrame* c = windows.back().get();
        c->title = title;
        app.openChildren.push_back(c);
        return c;
    }

    CQorViewerApp& App() override { return app; }
    bool IsChildOfFrame(CChildFrame* c) override {
        for (CChildFrame* o : app.openChildren)
            if (o == c) return c != nullptr;
        return false;
    }
    IRecordControl* Records() override { return &records; }
    void PostChildLayout(CChildFrame* c, int w) override {
        Note("Layout " + c->title + " " + std::to_string(w));
    }
    void PostChildSize(CChildFrame* c) override { Note("Size " + c->title); }
    void StartChild(CChildFrame* c, CChildFrame::StartReason reason) override {
        c->running = 1;
        Note((reason == CChildFrame::StartReason::Asked ? "Start " : "Restart ") + c->title);
    }
    void StopChild(CChildFrame* c) override {
        c->running = 0;
        Note("Stop " + c->title);
    }
    void BroadcastLayout(bool arrange) override { Note(arrange ? "Arrange" : "NoArrange"); }
    void SwitchMode(uint8_t mode) override {
        app.mode = mode;
        Note("SwitchMode " + std::to_string(mode));
    }
    bool RecordMode() override { return recordMode; }
    void SetRecordMode(bool on) override {
        if (app.mode == 1) recordMode = on;
    }
    void PostGridReset(int w) override { Note("GridReset " + std::to_string(w)); }
    void PostChildChanged(CChildFrame* c, int reason) override {
        Note("ChildChanged " + c->title + " " + std::to_string(reason));
    }
    uint32_t RefreshMode() override { return refreshMode; }
    void SetRefreshMode(uint32_t m) override { refreshMode = m; }
    bool PaneVisible(FormPane p) override { return visible[p]; }
    void ShowPane(FormPane p, bool show) override { visible[p] = show; }
    void SetRecordPaneCaption(const std::string& c) override { caption = c; }
    void RebuildGrid() override { Note("RebuildGrid"); }
    void SaveAllImages() override { Note("SaveAllImages"); }
    void OnTool() override { Note("Tool"); }
    void OnHelp() override { Note("Help"); }
    bool Busy() override { return busy; }
    bool Saving() override { return saving; }
    void SetSaving(bool s) override { saving = s; }
    uint32_t RecordableCount() override { return recordable; }
    uint32_t SetCount() override { return setCount; }
    void SetSetCount(uint32_t n) override { setCount = n; }
    void SetRecordFolder(const std::string& n, const std::string& p) override {
        folderName = n;
        folderPath = p;
    }
    void PostModeSetRefresh(int w) override { modeSetRefreshes.push_back(w); }
    void UpdateRecordForm() override { Note("UpdateRecordForm"); }

    void Note(const std::string& s) { notes.push_back(s); }
    bool Noted(const std::string& s) const { return std::find(notes.begin(), notes.end(), s) != notes.end(); }

    FakeApi api;
    CQorViewerApp app{api};
    FakeRecords records;
    std::vector<std::unique_ptr<CChildFrame>> windows;
    std::map<FormPane, bool> visible;
    bool recordMode = false, busy = false, saving = false;
    uint32_t refreshMode = kNoRefresh, recordable = 100, setCount = 100;
    std::string caption, folderName, folderPath;
    std::vector<int> modeSetRefreshes;
    std::vector<std::string> notes;
};

} // namespace

TEST(ControlForms, ZoomSliderPositionsAndPercents) {
    const std::pair<int, uint32_t> table[] = {{1, 1},     {100, 100}, {101, 102}, {125, 150},
                                              {200, 300}, {201, 305}, {250, 550}, {300, 800}};
    for (auto [position, zoom] : table) {
        EXPECT_EQ(ZoomFromSliderPosition(position), zoom) << position;
        EXPECT_EQ(SliderPositionFromZoom(zoom), position) << zoom;
    }
    // Every position shows the zoom it set; zooms between steps round down.
    for (int p = 1; p <= 300; ++p)
        ASSERT_EQ(SliderPositionFromZoom(ZoomFromSliderPosition(p)), p);
    EXPECT_EQ(SliderPositionFromZoom(151), 125);
    EXPECT_EQ(SliderPositionFromZoom(304), 200);
    // Out of the slider's range.
    EXPECT_EQ(ZoomFromSliderPosition(0), 1u);
    EXPECT_EQ(ZoomFromSliderPosition(999), 800u);
    EXPECT_EQ(SliderPositionFromZoom(0xFFFFFFFFu), 300);
}

TEST(ControlForms, FrameCountText) {
    const std::pair<const char*, uint32_t> table[] = {
        {"0", 0},   {"abc", 0}, {"", 0},   {"12", 12},
        {" 7x", 7}, {"-5", 0},  {"+9", 9}, {"99999999999", 0xFFFFFFFFu}};
    for (auto [text, n] : table)
        EXPECT_EQ(ParseFrameCount(text), n) << text;
}

TEST(ControlForms, DisplayFormZoomFollowsTheActiveWindow) {
    FakeFormHost h;
    CChildFrame* a = h.AddWindow("A");
    CChildFrame* b = h.AddWindow("B");
    CFormDisplay form(h);
    form.OnInitialUpdate();
    // No active window: the zoom controls are off and the slider does nothing.
    EXPECT_FALSE(form.controls[CFormDisplay::kZoomSlider].enabled);
    form.OnZoomMoved(250);
    EXPECT_TRUE(h.notes.empty());

    h.app.activeChild = a;
    a->zoom = 150;
    form.UpdateZoomControls();
    EXPECT_TRUE(form.controls[CFormDisplay::kZoomSlider].enabled);
    EXPECT_EQ(form.controls[CFormDisplay::kZoomSlider].pos, 125);
    EXPECT_EQ(form.controls[CFormDisplay::kZoomPercent].text, "150");

    form.OnZoomMoved(125); // the position already shown
    EXPECT_TRUE(h.notes.empty());
    form.OnZoomMoved(250);
    EXPECT_EQ(a->zoom, 550u);
    EXPECT_EQ(form.controls[CFormDisplay::kZoomPercent].text, "550");
    EXPECT_EQ(h.notes, (std::vector<std::string>{"Layout A 0", "Size A"}));

    h.notes.clear();
    form.OnZoom100();
    EXPECT_EQ(a->zoom, 100u);
    EXPECT_EQ(form.controls[CFormDisplay::kZoomSlider].pos, 100);
    EXPECT_EQ(h.notes, (std::vector<std::string>{"Layout A 1"}));

    // Fit: every window takes the flag and lays out; the zoom controls go off.
    h.notes.clear();
    form.OnZoomMode(0);
    EXPECT_EQ(h.app.zoom, 0);
    EXPECT_EQ(a->zoomMode, 0);
    EXPECT_EQ(b->zoomMode, 0);
    EXPECT_EQ(h.notes, (std::vector<std::string>{"Layout A 0", "Layout B 0"}));
    EXPECT_FALSE(form.controls[CFormDisplay::kZoom100].enabled);
    EXPECT_TRUE(form.controls[CFormDisplay::kFit].checked);
    EXPECT_FALSE(form.controls[CFormDisplay::kZoom].checked);
    h.notes.clear();
    form.OnZoomMode(0); // no change: no layout
    EXPECT_TRUE(h.notes.empty());

    form.OnCascade(0);
    EXPECT_EQ(h.app.cascade, 0);
    EXPECT_TRUE(form.controls[CFormDisplay::kTile].checked);
    EXPECT_TRUE(h.Noted("Arrange"));
}

TEST(ControlForms, DisplayRateAndRefreshMode) {
    FakeFormHost h;
    CChildFrame* a = h.AddWindow("A");
    CChildFrame* b = h.AddWindow("B");
    CFormDisplay form(h);
    form.OnInitialUpdate();
    EXPECT_EQ(form.controls[CFormDisplay::kRateSlider].pos, 30);
    EXPECT_EQ(form.controls[CFormDisplay::kRateText].text, "30");
    EXPECT_EQ(form.controls[CFormDisplay::kRefreshList].items,
              (std::vector<std::string>{"No Refresh", "Select Item", "All Item"}));
    EXPECT_EQ(form.controls[CFormDisplay::kRefreshList].selection, 0);

    // Camera mode: the windows take the rate; no playback timer is touched.
    form.OnRateMoved(20);
    EXPECT_EQ(h.app.displayRate, 20u);
    EXPECT_EQ(a->displayRate, 20u);
    EXPECT_EQ(form.controls[CFormDisplay::kRateText].text, "20");
    EXPECT_TRUE(h.records.calls.empty());
    // Playback: a running window steps at the new period, a stopped one is left.
    h.app.mode = 0;
    a->running = 1;
    b->running = 0;
    form.OnRateMoved(7);
    EXPECT_EQ(b->displayRate, 7u);
    EXPECT_EQ(h.records.calls, (std::vector<std::string>{"Playback A 142"}));
    form.OnRateMoved(0); // below the range
    EXPECT_EQ(h.app.displayRate, 1u);

    form.OnRefreshSelected(2);
    EXPECT_EQ(h.refreshMode, kRefreshAllItem);
    form.OnRefreshSelected(3);
    form.OnRefreshSelected(-1);
    EXPECT_EQ(h.refreshMode, kRefreshAllItem);
}

TEST(ControlForms, ModeSetButtonsFollowTheWindows) {
    FakeFormHost h;
    CChildFrame* a = h.AddWindow("A");
    CChildFrame* b = h.AddWindow("B");
    CFormModeSet form(h);
    using F = CFormModeSet;
    auto enabled = [&form] {
        std::string s;
        for (int id : {F::kStart, F::kStop, F::kAllStart, F::kAllStop, F::kBmpSave})
            s += form.controls[id].enabled ? '1' : '0';
        return s;
    };
    form.UpdateButtons();
    EXPECT_EQ(enabled(), "00100"); // nothing active, nothing running, no image
    h.app.activeChild = a;
    b->running = 1;
    b->displayBuffer.resize(4);
    form.UpdateButtons();
    EXPECT_EQ(enabled(), "10111");
    form.OnStart();
    EXPECT_EQ(h.notes, (std::vector<std::string>{"Start A"}));
    EXPECT_EQ(enabled(), "01011");
    form.busy = 1;
    form.UpdateButtons();
    EXPECT_EQ(enabled(), "00000");
    form.busy = 0;
    h.notes.clear();
    form.OnAllStop();
    EXPECT_EQ(h.notes, (std::vector<std::string>{"Stop A", "Stop B"}));
    form.OnAllStart();
    EXPECT_EQ(a->running, 1u);
    EXPECT_EQ(b->running, 1u);
    // Both buttons are the user's own starts.
    EXPECT_EQ(h.notes, (std::vector<std::string>{"Stop A", "Stop B", "Start A", "Start B"}));

    // In record mode a window shows a ring slot, not a buffer of its own:
    // there is still an image to save.
    BITMAPINFOHEADER hd{};
    hd.biSize = sizeof hd;
    hd.biWidth = hd.biHeight = 1;
    hd.biBitCount = 32;
    hd.biSizeImage = 4;
    b->bitmapInfo.assign(reinterpret_cast<uint8_t*>(&hd), reinterpret_cast<uint8_t*>(&hd) + sizeof hd);
    b->running = 0;
    b->AllocRecordBuffers(2);
    ASSERT_TRUE(b->displayBuffer.empty());
    form.UpdateButtons();
    EXPECT_TRUE(form.controls[F::kBmpSave].enabled);
}

TEST(ControlForms, RecordModeFollowsTheRecordPane) {
    FakeFormHost h;
    CFormModeSet form(h);
    using F = CFormModeSet;
    form.OnInitialUpdate();
    EXPECT_TRUE(form.controls[F::kCamImage].checked);
    EXPECT_FALSE(form.controls[F::kRecord].checked);
    EXPECT_TRUE(form.controls[F::kProperty].checked);

    // The user closed the feature editor, then presses "Record".
    h.visible[FormPane::FeatureSet] = false;
    form.controls[F::kRecord].checked = true;
    form.OnPaneButton(F::kRecord);
    EXPECT_TRUE(h.recordMode);
    EXPECT_TRUE(h.visible[FormPane::Record]);
    EXPECT_FALSE(h.visible[FormPane::Properties]);
    EXPECT_FALSE(form.controls[F::kProperty].enabled);
    EXPECT_TRUE(h.Noted("UpdateRecordForm"));

    // Hiding the record pane by other means: record mode goes off and the
    // grid panes come back as they were.
    h.visible[FormPane::Record] = false;
    form.UpdatePaneChecks(true);
    EXPECT_FALSE(h.recordMode);
    EXPECT_TRUE(h.visible[FormPane::Properties]);
    EXPECT_FALSE(h.visible[FormPane::FeatureSet]);
    EXPECT_TRUE(h.Noted("GridReset 1"));
    // Showing it switches record mode on.
    h.visible[FormPane::Record] = true;
    form.UpdatePaneChecks(true);
    EXPECT_TRUE(h.recordMode);
    EXPECT_TRUE(form.controls[F::kRecord].checked);
    EXPECT_FALSE(h.visible[FormPane::Properties]);

    // While windows are written the record button and the mode radios are locked.
    h.saving = true;
    h.visible[FormPane::Record] = false;
    form.UpdatePaneChecks(true);
    EXPECT_TRUE(h.recordMode);
    EXPECT_FALSE(form.controls[F::kRecord].enabled);
    EXPECT_FALSE(form.controls[F::kRecord].checked);
    EXPECT_FALSE(form.controls[F::kCamImage].enabled);
    EXPECT_FALSE(form.controls[F::kPlayBack].enabled);

    form.controls[F::kProperty].checked = true;
    form.OnPaneButton(F::kProperty);
    EXPECT_TRUE(h.visible[FormPane::Properties]);
    EXPECT_TRUE(h.Noted("RebuildGrid"));
}

TEST(ControlForms, PlaybackAndBackKeepTheGridPanes) {
    FakeFormHost h;
    CFormModeSet form(h);
    using F = CFormModeSet;
    form.OnInitialUpdate();
    form.OnPlayBack();
    EXPECT_EQ(h.app.mode, 0);
    EXPECT_EQ(h.caption, "Play Back");
    EXPECT_EQ(form.controls[F::kRecord].text, "Play Back");
    EXPECT_FALSE(h.visible[FormPane::Properties]);
    EXPECT_FALSE(form.controls[F::kBmpSave].enabled);
    // The play back pane opened and closed in playback mode.
    form.controls[F::kRecord].checked = true;
    form.OnPaneButton(F::kRecord);
    EXPECT_TRUE(h.visible[FormPane::Record]);
    EXPECT_FALSE(h.recordMode); // no record mode outside camera mode
    form.controls[F::kRecord].checked = false;
    form.OnPaneButton(F::kRecord);
    form.OnPlayBack(); // already there
    EXPECT_EQ(std::count(h.notes.begin(), h.notes.end(), "SwitchMode 0"), 1);

    form.OnCamImage();
    EXPECT_EQ(h.app.mode, 1);
    EXPECT_EQ(h.caption, "Record");
    EXPECT_TRUE(h.visible[FormPane::Properties]);
    EXPECT_TRUE(h.visible[FormPane::FeatureSet]);
    EXPECT_TRUE(form.controls[F::kProperty].enabled);
    EXPECT_TRUE(form.controls[F::kBmpSave].enabled);

    form.OnBmpSave();
    form.OnConfig();
    form.OnHelp();
    EXPECT_TRUE(h.Noted("SaveAllImages") && h.Noted("Tool") && h.Noted("Help"));
}

TEST(ControlForms, StartLimitsFramesPerRecordAndArmsTheWindows) {
    struct Case {
        uint32_t mode;
        const char* typed;
        uint32_t recordable;
        uint32_t writtenA, writtenB;
        uint32_t setCount;
        std::vector<std::string> calls;
    };
    const Case cases[] = {
        {3, "0", 100, 0, 0, 1, {"Start A"}},     // 0 counts as 1; only a window with a ring is armed
        {3, "text", 100, 0, 0, 1, {"Start A"}},  // so does text
        {3, "500", 100, 0, 0, 100, {"Start A"}}, // at most what fits
        {1, "50", 100, 20, 0, 20, {"Freeze A", "Freeze B", "End A", "End B"}},
        {2, "50", 100, 20, 30, 40, {"Center A"}}, // twice the frames written
        {2, "50", 100, 0, 0, 50, {"Center A"}},
    };
    for (const Case& c : cases) {
        TempFolder temp;
        FakeFormHost h;
        CChildFrame* a = h.AddWindow("A");
        CChildFrame* b = h.AddWindow("B");
        h.app.activeChild = a;
        h.recordable = c.recordable;
        h.records.status[a] = {.written = c.writtenA, .hasRing = true};
        h.records.status[b] = {.written = c.writtenB};
        CFormRecordSet form(h);
        form.saveFolder = temp.path.string();
        form.triggerMode = c.mode;
        form.controls[CFormRecordSet::kFrames].text = c.typed;
        form.OnStart();
        EXPECT_EQ(form.recording, 1) << c.typed;
        EXPECT_EQ(h.setCount, c.setCount) << c.mode << " " << c.typed;
        EXPECT_EQ(form.controls[CFormRecordSet::kFrames].text, std::to_string(c.setCount));
        EXPECT_EQ(form.controls[CFormRecordSet::kStart].text, "Stop");
        EXPECT_TRUE(form.controls[CFormRecordSet::kStart].checked);
        EXPECT_EQ(h.records.calls, c.calls) << c.mode << " " << c.typed;
        EXPECT_TRUE(fs::is_directory(h.folderPath));
        EXPECT_EQ(fs::path(h.folderPath).parent_path(), temp.path);

        // "Stop": every window writes what it holds.
        h.records.calls.clear();
        form.OnStart();
        EXPECT_EQ(form.recording, 0);
        EXPECT_EQ(form.controls[CFormRecordSet::kStart].text, "Start");
        EXPECT_EQ(h.records.calls, (std::vector<std::string>{"Writer A", "Writer B"}));
    }
}

TEST(ControlForms, RecordFolderNames) {
    TempFolder temp;
    FakeFormHost h;
    CFormRecordSet form(h);
    form.saveFolder = temp.path.string();
    form.now = [] {
        qorcam::os::LocalTime t;
        t.year = 2026, t.month = 3, t.day = 4, t.hour = 5, t.minute = 6, t.second = 7;
        return t;
    };
    form.MakeRecordFolder();
    EXPECT_EQ(h.folderName, "20260304-050607-001");
    EXPECT_EQ(h.folderPath, (temp.path / "20260304-050607-001").string());
    form.MakeRecordFolder(); // the second record in the same second
    EXPECT_EQ(h.folderName, "20260304-050607-002");
    EXPECT_TRUE(fs::is_directory(temp.path / "20260304-050607-002"));
    // No folder can be made: the last name tried stays.
    form.saveFolder = (temp.path / "missing" / "deeper").string();
    form.MakeRecordFolder();
    EXPECT_EQ(h.folderName, "20260304-050607-1000");
    EXPECT_FALSE(fs::exists(temp.path / "missing"));
}

TEST(ControlForms, WindowListAndCounters) {
    FakeFormHost h;
    CChildFrame* a = h.AddWindow("A");
    CChildFrame* b = h.AddWindow("B");
    CFormRecordSet form(h);
    using F = CFormRecordSet;
    form.UpdateChildCombo();
    EXPECT_EQ(form.controls[F::kWindows].items, (std::vector<std::string>{"A", "B"}));
    EXPECT_EQ(form.listSelection, -1);
    form.UpdateCounters(nullptr);
    EXPECT_EQ(form.controls[F::kCounter].text, "0 / 0");
    EXPECT_EQ(form.controls[F::kProgress].max, 100);

    h.app.activeChild = b;
    form.UpdateChildCombo();
    EXPECT_EQ(form.listSelection, 1);
    CChildFrame stranger;
    h.app.activeChild = &stranger; // not among the windows: the last one
    form.UpdateChildCombo();
    EXPECT_EQ(form.listSelection, 1);
    h.app.activeChild = b;
    form.UpdateChildCombo();

    form.OnWindowSelected(7); // not a window
    form.OnWindowSelected(-1);
    EXPECT_TRUE(h.notes.empty());
    form.OnWindowSelected(0);
    EXPECT_EQ(h.notes, (std::vector<std::string>{"ChildChanged A 3"}));

    struct Case {
        RecordStatus s;
        uint8_t recording;
        const char* label;
        const char* counter;
    };
    const Case cases[] = {
        {{.written = 20}, 0, "Recordable Num", "20 / 100"},
        {{.written = 20, .collected = 5}, 1, "Recorded Num", "5 / 40"},
        {{.written = 20, .collected = 9, .saved = 3, .pendingWrite = true}, 1, "BMP Saving Num", "3 / 9"},
    };
    h.setCount = 40;
    for (const Case& c : cases) {
        h.records.status[b] = c.s;
        form.recording = c.recording;
        form.UpdateCounters(nullptr);
        EXPECT_EQ(form.controls[F::kCounterLabel].text, c.label);
        EXPECT_EQ(form.controls[F::kCounter].text, c.counter);
    }
    EXPECT_EQ(form.controls[F::kProgress].pos, 3);
    EXPECT_EQ(form.controls[F::kProgress].max, 9);
    form.UpdateCounters(a); // another window's progress: nothing changes
    EXPECT_EQ(form.controls[F::kCounter].text, "3 / 9");

    // Playback: the counter and either the load progress or the frame slider.
    form.UpdateLayout(false);
    EXPECT_FALSE(form.controls[F::kStart].visible);
    EXPECT_FALSE(form.controls[F::kFolder].visible);
    EXPECT_TRUE(form.controls[F::kFrameSlider].visible);
    EXPECT_FALSE(form.controls[F::kFrameSlider].enabled);
    EXPECT_EQ(form.controls[F::kWindows].y, 10);
    EXPECT_EQ(form.controls[F::kCounter].x, 7);
    EXPECT_EQ(form.controls[F::kCounter].y, 75);
    h.records.status[b] = {.frameIndex = 4, .frameCount = 1234, .loading = true};
    form.UpdateCounters(b);
    EXPECT_EQ(form.controls[F::kCounter].text, "5 / 1234");
    EXPECT_TRUE(form.controls[F::kProgress].visible);
    EXPECT_FALSE(form.controls[F::kFrameSlider].visible);
    h.records.status[b].loading = false;
    form.UpdateCounters(b);
    EXPECT_TRUE(form.controls[F::kFrameSlider].visible);
    EXPECT_TRUE(form.controls[F::kFrameSlider].enabled);
    EXPECT_FALSE(form.controls[F::kProgress].visible);
    EXPECT_EQ(form.controls[F::kFrameSlider].max, 1234);
    // A record loading somewhere keeps the slider off; it comes back when the frame is idle again.
    h.busy = true;
    form.SetBusy(true);
    form.UpdateCounters(b);
    EXPECT_FALSE(form.controls[F::kFrameSlider].enabled);
    h.busy = false;
    form.SetBusy(false);
    EXPECT_TRUE(form.controls[F::kFrameSlider].enabled);
    form.OnFrameMoved(1000);
    EXPECT_EQ(form.controls[F::kCounter].text, "1000 / 1234");
    form.OnFrameMoved(2000); // beyond the loaded frames: refused
    form.OnFrameMoved(0);
    EXPECT_EQ(form.controls[F::kCounter].text, "1000 / 1234");
    form.UpdateLayout(true);
    EXPECT_TRUE(form.controls[F::kStart].visible);
    EXPECT_FALSE(form.controls[F::kFrameSlider].visible);
    EXPECT_EQ(form.controls[F::kWindows].y, 80);
}

TEST(ControlForms, RecordButtonStates) {
    FakeFormHost h;
    CFormRecordSet form(h);
    using F = CFormRecordSet;
    form.recording = 1;
    form.UpdateRecordButton(); // no window: recording ends, nothing to press
    EXPECT_EQ(form.recording, 0);
    EXPECT_FALSE(form.controls[F::kStart].enabled);
    EXPECT_EQ(form.controls[F::kStart].text, " ");
    EXPECT_EQ(h.modeSetRefreshes, (std::vector<int>{0}));
    h.app.activeChild = h.AddWindow("A");
    h.saving = true;
    form.UpdateRecordButton();
    EXPECT_FALSE(form.controls[F::kStart].enabled);
    EXPECT_EQ(form.controls[F::kStart].text, "BMP Saving");
    h.saving = false;
    form.UpdateRecordButton();
    EXPECT_TRUE(form.controls[F::kStart].enabled);
    EXPECT_FALSE(form.controls[F::kStart].checked);
    EXPECT_EQ(form.controls[F::kStart].text, "Start");
}

TEST(ControlForms, RecordDoneEndsTheRecordWhenNothingGoesOn) {
    FakeFormHost h;
    CChildFrame* a = h.AddWindow("A");
    CChildFrame* b = h.AddWindow("B");
    h.app.activeChild = a;
    CFormRecordSet form(h);
    form.triggerMode = 3;
    form.recording = 1;
    // B still collects frames after its trigger: the record goes on; A's
    // complete window goes to its writer.
    b->running = 1;
    h.records.status[a] = {.pendingWrite = true};
    h.records.status[b] = {.counting = true};
    form.OnRecordDone(a);
    EXPECT_EQ(h.records.calls, (std::vector<std::string>{"Writer A"}));
    EXPECT_TRUE(h.saving);
    EXPECT_EQ(form.recording, 1);
    // A stopped window that counts does not hold the record.
    b->running = 0;
    form.OnRecordDone(nullptr);
    EXPECT_EQ(form.recording, 0);
    EXPECT_TRUE(h.saving);
    EXPECT_EQ(form.controls[CFormRecordSet::kStart].text, "BMP Saving");

    // "Before": a frozen window holds the record.
    form.triggerMode = 1;
    form.recording = 1;
    h.records.status[a] = {.frozen = true};
    h.records.status[b] = {};
    form.OnRecordDone(nullptr);
    EXPECT_EQ(form.recording, 1);
    EXPECT_FALSE(h.saving);

    CChildFrame gone; // a window that closed in between gets no writer
    h.records.calls.clear();
    form.OnRecordDone(&gone);
    EXPECT_TRUE(h.records.calls.empty());
}

TEST(ControlForms, RecordPaneNoticeWaitsForTheWriters) {
    FakeFormHost h;
    CChildFrame* a = h.AddWindow("A");
    CFormRecordSet form(h);
    form.OnPaneShown();
    EXPECT_EQ(h.modeSetRefreshes, (std::vector<int>{1}));
    h.modeSetRefreshes.clear();
    // Hidden while a window is written: record mode (and its rings) stay until the writer ends.
    h.saving = true;
    h.records.status[a] = {.pendingWrite = true};
    form.OnPaneShown();
    EXPECT_TRUE(h.modeSetRefreshes.empty());
    form.OnRecordDone(nullptr);
    EXPECT_TRUE(std::find(h.modeSetRefreshes.begin(), h.modeSetRefreshes.end(), 1) ==
                h.modeSetRefreshes.end());
    h.records.status[a] = {};
    form.OnRecordDone(a);
    EXPECT_FALSE(h.saving);
    EXPECT_EQ(h.modeSetRefreshes.back(), 1);
    EXPECT_FALSE(form.noticePending);
}

TEST(ControlForms, RecordFormStartsWithItsSaveFolder) {
    TempFolder temp;
    setenv("QORCAM_ROOT", temp.path.c_str(), 1);
    FakeFormHost h;
    CFormRecordSet form(h);
    form.OnInitialUpdate();
    unsetenv("QORCAM_ROOT");
    EXPECT_EQ(form.saveFolder, (temp.path / "documents" / "QorCam_Viewer").string());
    EXPECT_TRUE(fs::is_directory(form.saveFolder));
    EXPECT_EQ(form.controls[CFormRecordSet::kFolder].text, form.saveFolder);
    EXPECT_EQ(form.controls[CFormRecordSet::kFrames].text, "100");
    EXPECT_TRUE(form.controls[CFormRecordSet::kAfter].checked);
    EXPECT_FALSE(form.controls[CFormRecordSet::kFrameSlider].visible);
    form.OnFolderChosen("");
    EXPECT_EQ(form.controls[CFormRecordSet::kFolder].text, form.saveFolder);
    form.OnFolderChosen("/elsewhere");
    EXPECT_EQ(form.saveFolder, "/elsewhere");
}
