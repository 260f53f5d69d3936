// ControlForms: the display, mode-set and record forms of the main frame's panes, without their windows.
#include "ControlForms.h"

#include "PropertiesWnd.h"

#include "os/Paths.h"

#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <cstdio>

namespace qorcam::viewer {
namespace {

std::string Number(long long value) {
    return std::to_string(value);
}

std::string Pair(long long a, long long b) {
    return Number(a) + " / " + Number(b);
}

std::vector<CChildFrame*> OpenWindows(IFormHost& host) {
    CQorViewerApp& app = host.App();
    std::lock_guard lock(app.TableLock());
    std::vector<CChildFrame*> windows;
    for (CChildFrame* c : app.openChildren)
        if (c) windows.push_back(c);
    return windows;
}

CChildFrame* ActiveOf(IFormHost& host) {
    CChildFrame* active = host.App().activeChild;
    return active && host.IsChildOfFrame(active) ? active : nullptr;
}

} // namespace

uint32_t ZoomFromSliderPosition(int p) {
    p = std::clamp(p, 1, 300);
    if (p <= 100) return static_cast<uint32_t>(p);
    if (p <= 200) return static_cast<uint32_t>(2 * p - 100);
    return static_cast<uint32_t>(5 * p - 700);
}

int SliderPositionFromZoom(uint32_t z) {
    if (z <= 100) return static_cast<int>(z);
    if (z <= 300) return static_cast<int>((z + 100) / 2);
    return static_cast<int>(std::min<uint64_t>((uint64_t{z} + 700) / 5, 300));
}

uint32_t ParseFrameCount(const std::string& text) {
    size_t i = 0;
    while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i])))
        ++i;
    if (i < text.size() && text[i] == '+') ++i;
    uint64_t value = 0;
    for (; i < text.size() && std::isdigit(static_cast<unsigned char>(text[i])); ++i)
        value = std::min<uint64_t>(value * 10 + static_cast<uint64_t>(text[i] - '0'), UINT32_MAX);
    return static_cast<uint32_t>(value);
}

// ---------------------------------------------------------------- display form

CFormDisplay::CFormDisplay(IFormHost& host) : host_(host) {
    controls[kZoom].text = "Zoom";
    controls[kFit].text = "Fit";
    controls[kZoomSlider].min = 1;
    controls[kZoomSlider].max = 300;
    controls[kZoomPercent];
    controls[kZoom100].text = "100%";
    controls[kCascade].text = "Cascade";
    controls[kTile].text = "Tile";
    controls[kRateSlider].min = 1;
    controls[kRateSlider].max = 100;
    controls[kRateSlider].tick = 10;
    controls[kRateText];
    controls[kRefreshList];
}

std::vector<CChildFrame*> CFormDisplay::Windows() {
    return OpenWindows(host_);
}

CChildFrame* CFormDisplay::ActiveWindow() {
    return ActiveOf(host_);
}

void CFormDisplay::OnInitialUpdate() {
    UpdateModeButtons();
    UpdateRateControls();
    UpdateRefreshCombo();
    UpdateZoomControls();
}

void CFormDisplay::UpdateModeButtons() {
    CQorViewerApp& app = host_.App();
    controls[kZoom].checked = app.zoom != 0;
    controls[kFit].checked = app.zoom == 0;
    controls[kCascade].checked = app.cascade != 0;
    controls[kTile].checked = app.cascade == 0;
    controls.Changed();
}

void CFormDisplay::OnZoomMode(uint8_t zoom) {
    CQorViewerApp& app = host_.App();
    if (app.zoom != zoom) {
        app.zoom = zoom;
        // Windows paint by their own copy of the flag.
        for (CChildFrame* w : Windows()) {
            w->zoomMode = zoom;
            host_.PostChildLayout(w, 0);
        }
    }
    UpdateModeButtons();
    UpdateZoomControls();
}

void CFormDisplay::OnCascade(uint8_t cascade) {
    host_.App().cascade = cascade;
    host_.BroadcastLayout(true);
    UpdateModeButtons();
}

void CFormDisplay::OnRefreshSelected(int index) {
    if (index < 0 || index > static_cast<int>(kRefreshAllItem)) return;
    host_.SetRefreshMode(static_cast<uint32_t>(index));
    controls[kRefreshList].selection = index;
    controls.Changed();
}

void CFormDisplay::UpdateRefreshCombo() {
    FormControl& list = controls[kRefreshList];
    list.items = {"No Refresh", "Select Item", "All Item"};
    const uint32_t mode = host_.RefreshMode();
    list.selection = mode <= kRefreshAllItem ? static_cast<int>(mode) : -1;
    controls.Changed();
}

void CFormDisplay::OnRateMoved(int position) {
    CQorViewerApp& app = host_.App();
    const uint32_t rate = static_cast<uint32_t>(std::clamp(position, 1, 100));
    if (rate != app.displayRate) {
        app.displayRate = rate;
        IRecordControl* records = host_.Records();
        for (CChildFrame* w : Windows()) {
            w->displayRate = rate;
            if (app.mode == 0 && w->running && records) records->RestartPlayback(w, 1000 / rate);
        }
    }
    controls[kRateSlider].pos = static_cast<int>(rate);
    controls[kRateText].text = Number(rate);
    controls.Changed();
}

void CFormDisplay::UpdateRateControls() {
    const uint32_t rate = host_.App().displayRate;
    FormControl& slider = controls[kRateSlider];
    slider.min = 1;
    slider.max = 100;
    slider.tick = 10;
    slider.pos = static_cast<int>(rate);
    controls[kRateText].text = Number(rate);
    controls.Changed();
}

void CFormDisplay::OnZoomMoved(int position) {
    CChildFrame* active = ActiveWindow();
    if (!active || position == lastZoomPosition) return;
    active->zoom = ZoomFromSliderPosition(position);
    UpdateZoomControls();
    host_.PostChildLayout(active, 0);
    host_.PostChildSize(active);
}

void CFormDisplay::OnZoom100() {
    CChildFrame* active = ActiveWindow();
    if (!active) return;
    active->zoom = 100;
    UpdateZoomControls();
    host_.PostChildLayout(active, 1);
}

void CFormDisplay::UpdateZoomControls() {
    CChildFrame* active = ActiveWindow();
    const bool on = active && host_.App().zoom;
    for (int id : {kZoomSlider, kZoomPercent, kZoom100})
        controls[id].enabled = on;
    if (on) {
        FormControl& slider = controls[kZoomSlider];
        slider.min = 1;
        slider.max = 300;
        slider.pos = lastZoomPosition = SliderPositionFromZoom(active->zoom);
        controls[kZoomPercent].text = Number(active->zoom);
    }
    controls.Changed();
}

// ---------------------------------------------------------------- mode-set form

CFormModeSet::CFormModeSet(IFormHost& host) : host_(host) {
    const std::pair<int, const char*> texts[] = {
        {kCamImage, "CamImage"},  {kPlayBack, "PlayBack"}, {kStart, "Start"},   {kStop, "Stop"},
        {kAllStart, "All Start"}, {kAllStop, "All Stop"},  {kCamera, "Camera"}, {kProperty, "Property"},
        {kFeature, "Feature"},    {kDisplay, "Display"},   {kInfo, "Info"},     {kRecord, "Record"},
        {kBmpSave, "BMP Save"},   {kConfig, "Config"},     {kHelp, "Help"}};
    for (auto& [id, text] : texts)
        controls[id].text = text;
}

void CFormModeSet::OnInitialUpdate() {
    const bool camera = host_.App().mode == 1;
    controls[kCamImage].checked = camera;
    controls[kPlayBack].checked = !camera;
    UpdateButtons();
    UpdatePaneChecks(false);
}

void CFormModeSet::UpdateButtons() {
    for (int id : {kStart, kStop, kAllStart, kAllStop, kBmpSave})
        controls[id].enabled = false;
    if (!busy) {
        int running = 0, idle = 0;
        bool image = false;
        for (CChildFrame* w : OpenWindows(host_)) {
            (w->running ? running : idle)++;
            if (w->HasDisplay()) image = true;
        }
        controls[kBmpSave].enabled = image;
        controls[kAllStop].enabled = running > 0;
        controls[kAllStart].enabled = idle > 0;
        if (CChildFrame* active = ActiveOf(host_)) controls[active->running ? kStop : kStart].enabled = true;
    }
    controls.Changed();
}

void CFormModeSet::OnStart() {
    if (CChildFrame* active = ActiveOf(host_)) host_.StartChild(active, CChildFrame::StartReason::Asked);
    UpdateButtons();
}

void CFormModeSet::OnStop() {
    if (CChildFrame* active = ActiveOf(host_)) host_.StopChild(active);
    UpdateButtons();
}

void CFormModeSet::OnAllStart() {
    for (CChildFrame* w : OpenWindows(host_))
        if (!w->running && host_.IsChildOfFrame(w)) host_.StartChild(w, CChildFrame::StartReason::Asked);
    UpdateButtons();
}

void CFormModeSet::OnAllStop() {
    for (CChildFrame* w : OpenWindows(host_))
        if (w->running && host_.IsChildOfFrame(w)) host_.StopChild(w);
    UpdateButtons();
}

void CFormModeSet::SaveGridVisibility() {
    gridVisible = host_.PaneVisible(FormPane::Properties);
    editorVisible = host_.PaneVisible(FormPane::FeatureSet);
}

void CFormModeSet::OnCamImage() {
    if (host_.App().mode == 1) return;
    controls[kBmpSave].enabled = true;
    controls[kRecord].text = "Record";
    host_.SetRecordPaneCaption("Record");
    controls[kCamImage].checked = true;
    controls[kPlayBack].checked = false;
    controls.Changed();
    host_.SwitchMode(1);
    ShowGridPanes(true);
}

void CFormModeSet::OnPlayBack() {
    if (host_.App().mode != 1) return;
    if (!host_.RecordMode()) SaveGridVisibility();
    controls[kBmpSave].enabled = false;
    controls[kRecord].text = "Play Back";
    host_.SetRecordPaneCaption("Play Back");
    controls[kCamImage].checked = false;
    controls[kPlayBack].checked = true;
    controls.Changed();
    host_.SwitchMode(0);
    ShowGridPanes(false);
}

void CFormModeSet::ShowGridPanes(bool show) {
    const bool shown = show && host_.App().mode == 1 && !host_.RecordMode();
    if (shown) {
        if (gridVisible) host_.PostGridReset(1);
        host_.ShowPane(FormPane::Properties, gridVisible != 0);
        host_.ShowPane(FormPane::FeatureSet, editorVisible != 0);
    } else {
        host_.ShowPane(FormPane::Properties, false);
        host_.ShowPane(FormPane::FeatureSet, false);
    }
    controls[kProperty].enabled = shown;
    controls[kFeature].enabled = shown;
    controls.Changed();
}

void CFormModeSet::OnPaneButton(int id) {
    static const std::map<int, FormPane> panes = {{kCamera, FormPane::CameraTree},
                                                  {kProperty, FormPane::Properties},
                                                  {kFeature, FormPane::FeatureSet},
                                                  {kDisplay, FormPane::Display},
                                                  {kInfo, FormPane::Output}};
    const bool in = controls[id].checked;
    if (id == kRecord) {
        // Only camera mode shows the grid panes, so only there is their visibility worth keeping.
        if (in && host_.App().mode == 1) SaveGridVisibility();
        ShowGridPanes(!in);
        host_.SetRecordMode(in);
        host_.UpdateRecordForm();
        host_.ShowPane(FormPane::Record, in);
        return;
    }
    auto it = panes.find(id);
    if (it == panes.end()) return;
    host_.ShowPane(it->second, in);
    if (id == kProperty && in) host_.RebuildGrid();
}

void CFormModeSet::UpdatePaneChecks(bool refreshGrid) {
    controls[kCamera].checked = host_.PaneVisible(FormPane::CameraTree);
    controls[kProperty].checked = host_.PaneVisible(FormPane::Properties);
    controls[kFeature].checked = host_.PaneVisible(FormPane::FeatureSet);
    controls[kDisplay].checked = host_.PaneVisible(FormPane::Display);
    controls[kInfo].checked = host_.PaneVisible(FormPane::Output);
    if (host_.Saving()) {
        controls[kRecord].checked = false;
        controls[kRecord].enabled = false;
        controls[kCamImage].enabled = false;
        controls[kPlayBack].enabled = false;
        controls.Changed();
        return;
    }
    const bool record = host_.PaneVisible(FormPane::Record);
    controls[kRecord].enabled = true;
    controls[kRecord].checked = record;
    // Record mode always follows the record pane.
    host_.SetRecordMode(record);
    if (refreshGrid) ShowGridPanes(!record);
    controls[kCamImage].enabled = true;
    controls[kPlayBack].enabled = true;
    controls.Changed();
}

// ---------------------------------------------------------------- record form

namespace {
struct Place {
    int id, x, y;
};
// Where the list, the counter and the progress bar sit in either layout.
constexpr Place kCameraPlaces[] = {{CFormRecordSet::kWindows, 7, 80},
                                   {CFormRecordSet::kCounter, 150, 120},
                                   {CFormRecordSet::kProgress, 7, 150}};
constexpr Place kPlaybackPlaces[] = {
    {CFormRecordSet::kWindows, 7, 10}, {CFormRecordSet::kCounter, 7, 75}, {CFormRecordSet::kProgress, 7, 50}};
// Shown in the camera layout only.
constexpr int kCameraOnly[] = {
    CFormRecordSet::kBefore,    CFormRecordSet::kBeforeAfter,  CFormRecordSet::kAfter,
    CFormRecordSet::kStart,     CFormRecordSet::kCounterLabel, CFormRecordSet::kFrames,
    CFormRecordSet::kFolderSet, CFormRecordSet::kFolder,       CFormRecordSet::kProgress};
} // namespace

CFormRecordSet::CFormRecordSet(IFormHost& host) : host_(host) {
    controls[kBefore].text = "Before";
    controls[kBeforeAfter].text = "Before && After";
    controls[kAfter].text = "After";
    controls[kStart].text = "Start";
    controls[kFrames];
    controls[kWindows];
    controls[kCounterLabel];
    controls[kCounter].text = "0 / 0";
    controls[kProgress];
    controls[kFrameSlider].visible = false;
    controls[kFolderSet].text = "Folder Set";
    controls[kFolder];
    for (const Place& p : kCameraPlaces) {
        controls[p.id].x = p.x;
        controls[p.id].y = p.y;
    }
}

std::vector<CChildFrame*> CFormRecordSet::Windows() {
    return OpenWindows(host_);
}

CChildFrame* CFormRecordSet::ActiveWindow() {
    return ActiveOf(host_);
}

RecordStatus CFormRecordSet::StatusOf(CChildFrame* child) {
    IRecordControl* records = host_.Records();
    return records ? records->Status(child) : RecordStatus{};
}

void CFormRecordSet::ShowSetCount() {
    controls[kFrames].text = Number(host_.SetCount());
}

void CFormRecordSet::OnInitialUpdate() {
    saveFolder = os::Paths::Documents() + "/QorCam_Viewer";
    os::Paths::CreateFolder(saveFolder);
    controls[kFolder].text = saveFolder;
    if (layout == 1) {
        UpdateTriggerRadio();
        ShowSetCount();
        UpdateRecordButton();
    }
    UpdateChildCombo();
    UpdateCounters(nullptr);
}

void CFormRecordSet::UpdateLayout(bool camera) {
    if (layout == (camera ? 1 : 0)) return;
    layout = camera ? 1 : 0;
    for (int id : kCameraOnly)
        controls[id].visible = camera;
    FormControl& slider = controls[kFrameSlider];
    slider.visible = !camera;
    slider.enabled = false;
    for (const Place& p : camera ? kCameraPlaces : kPlaybackPlaces) {
        controls[p.id].x = p.x;
        controls[p.id].y = p.y;
    }
    controls.Changed();
}

void CFormRecordSet::OnTrigger(uint32_t mode) {
    if (mode < 1 || mode > 3) return;
    triggerMode = mode;
    UpdateTriggerRadio();
}

void CFormRecordSet::UpdateTriggerRadio() {
    controls[kBefore].checked = triggerMode == 1;
    controls[kBeforeAfter].checked = triggerMode == 2;
    controls[kAfter].checked = triggerMode == 3;
    controls.Changed();
}

void CFormRecordSet::OnStart() {
    recording = recording ? 0 : 1;
    IRecordControl* records = host_.Records();
    const std::vector<CChildFrame*> windows = Windows();
    if (recording) {
        uint64_t n = std::min(ParseFrameCount(controls[kFrames].text), host_.RecordableCount());
        for (CChildFrame* w : windows) {
            if (triggerMode == 1 && records) records->Freeze(w);
            const uint64_t written = StatusOf(w).written;
            if (written == 0) continue;
            if (triggerMode == 1) n = std::min(n, written);
            if (triggerMode == 2) n = std::min(n, 2 * written);
        }
        host_.SetSetCount(n ? static_cast<uint32_t>(n) : 1);
        MakeRecordFolder();
    }
    UpdateRecordButton();
    if (layout == 1) {
        UpdateTriggerRadio();
        ShowSetCount();
        UpdateRecordButton();
    }
    UpdateChildCombo();
    UpdateCounters(nullptr);
    if (!records) return;
    for (CChildFrame* w : windows) {
        if (!host_.IsChildOfFrame(w)) continue;
        if (!recording) {
            records->StartRecordWriter(w);
        } else if (triggerMode == 1) {
            records->Trigger(w, RecordTrigger::End);
        } else if (StatusOf(w).hasRing) {
            records->Trigger(w, triggerMode == 3 ? RecordTrigger::Start : RecordTrigger::Center);
        }
    }
}

void CFormRecordSet::MakeRecordFolder() {
    const os::LocalTime t = now();
    for (int n = 1; n <= 1000; ++n) {
        char name[64];
        std::snprintf(name, sizeof name, "%04d%02d%02d-%02d%02d%02d-%03d", t.year, t.month, t.day, t.hour,
                      t.minute, t.second, n);
        const std::string path = saveFolder + "/" + name;
        host_.SetRecordFolder(name, path);
        // The first name not taken yet: a folder that exists is not created again.
        if (::mkdir(path.c_str(), 0755) == 0) break;
    }
}

void CFormRecordSet::OnFolderChosen(const std::string& folder) {
    if (folder.empty()) return;
    saveFolder = folder;
    controls[kFolder].text = saveFolder;
    controls.Changed();
}

void CFormRecordSet::OnWindowSelected(int index) {
    const std::vector<CChildFrame*> windows = Windows();
    if (index < 0 || index >= static_cast<int>(windows.size())) return;
    listSelection = index;
    host_.PostChildChanged(windows[static_cast<size_t>(index)], 3);
    if (layout == 1) UpdateRecordButton();
    UpdateChildCombo();
    UpdateCounters(nullptr);
}

void CFormRecordSet::UpdateChildCombo() {
    const std::vector<CChildFrame*> windows = Windows();
    CChildFrame* active = host_.App().activeChild;
    FormControl& list = controls[kWindows];
    list.items.clear();
    int found = -1;
    for (size_t i = 0; i < windows.size(); ++i) {
        list.items.push_back(windows[i]->title);
        if (windows[i] == active) found = static_cast<int>(i);
    }
    listCount = static_cast<uint32_t>(windows.size());
    if (!active)
        listSelection = -1;
    else
        listSelection = found >= 0 ? found : static_cast<int32_t>(listCount) - 1;
    list.selection = listSelection;
    controls.Changed();
}

void CFormRecordSet::UpdateRecordButton() {
    host_.PostModeSetRefresh(0);
    if (Windows().empty()) recording = 0;
    FormControl& start = controls[kStart];
    if (!ActiveWindow()) {
        start.enabled = false;
        start.checked = false;
        start.text = " ";
    } else if (host_.Saving()) {
        start.enabled = false;
        start.checked = false;
        start.text = "BMP Saving";
    } else if (recording) {
        start.enabled = true;
        start.checked = true;
        start.text = "Stop";
    } else {
        start.enabled = true;
        start.checked = false;
        start.text = "Start";
    }
    controls.Changed();
}

void CFormRecordSet::UpdateCounters(CChildFrame* window) {
    FormControl& counter = controls[kCounter];
    FormControl& progress = controls[kProgress];
    if (listSelection < 0) {
        counter.text = "0 / 0";
        progress.min = 0;
        progress.max = 100;
        progress.pos = 0;
        controls.Changed();
        return;
    }
    CChildFrame* active = ActiveWindow();
    if (!active || (window && window != active)) return;
    const RecordStatus s = StatusOf(active);
    long long first, second;
    if (layout == 1) {
        FormControl& label = controls[kCounterLabel];
        if (s.pendingWrite) {
            label.text = "BMP Saving Num";
            first = s.saved;
            second = s.collected;
        } else if (recording) {
            label.text = "Recorded Num";
            first = s.collected;
            second = host_.SetCount();
        } else {
            label.text = "Recordable Num";
            first = s.written;
            second = host_.RecordableCount();
        }
        progress.min = 0;
        progress.max = static_cast<int>(std::min<long long>(second, INT32_MAX));
        progress.pos = static_cast<int>(std::min<long long>(first, INT32_MAX));
    } else {
        first = static_cast<long long>(s.frameIndex) + 1;
        second = s.frameCount;
        FormControl& slider = controls[kFrameSlider];
        const int top = static_cast<int>(std::clamp<long long>(second, 1, INT32_MAX));
        const int at = static_cast<int>(std::clamp<long long>(first, 1, top));
        if (s.loading) {
            progress.min = 1;
            progress.max = top;
            progress.pos = at;
            progress.visible = true;
            slider.visible = false;
        } else {
            slider.min = 1;
            slider.max = top;
            slider.pos = at;
            slider.enabled = second > 0 && !host_.Busy();
            slider.visible = true;
            progress.visible = false;
        }
    }
    counter.text = Pair(first, second);
    controls.Changed();
}

void CFormRecordSet::OnFrameMoved(int position) {
    if (listSelection < 0 || position < 1) return;
    CChildFrame* active = ActiveWindow();
    IRecordControl* records = host_.Records();
    if (!active || !records) return;
    records->ShowFrame(active, static_cast<uint32_t>(position - 1));
    UpdateCounters(active);
}

void CFormRecordSet::SetBusy(bool busy) {
    if (!busy) {
        // A window that has loaded its frames gets its slider back.
        UpdateCounters(nullptr);
        return;
    }
    controls[kFrameSlider].enabled = false;
    controls.Changed();
}

void CFormRecordSet::UpdateRecordForm() {
    if (layout == 1) {
        UpdateTriggerRadio();
        ShowSetCount();
        UpdateRecordButton();
    }
    UpdateChildCombo();
    UpdateCounters(nullptr);
}

void CFormRecordSet::OnRecordProgress(CChildFrame* window) {
    if (layout == 1) UpdateRecordButton();
    if (!window) UpdateChildCombo();
    UpdateCounters(window);
}

void CFormRecordSet::OnRecordDone(CChildFrame* window) {
    IRecordControl* records = host_.Records();
    if (window && records && host_.IsChildOfFrame(window)) records->StartRecordWriter(window);
    bool going = false, saving = false;
    for (CChildFrame* w : Windows()) {
        const RecordStatus s = StatusOf(w);
        if (s.counting && w->running) going = true;
        if (triggerMode == 1 && s.frozen) going = true;
        if (s.pendingWrite) saving = true;
    }
    host_.SetSaving(saving);
    if (!going) {
        recording = 0;
        UpdateRecordForm();
    }
    if (!saving && noticePending) {
        noticePending = false;
        host_.PostModeSetRefresh(1);
    }
}

void CFormRecordSet::OnPaneShown() {
    if (host_.Saving()) {
        noticePending = true;
        return;
    }
    noticePending = false;
    host_.PostModeSetRefresh(1);
}

} // namespace qorcam::viewer
