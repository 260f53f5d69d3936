// ControlForms: the display, mode-set and record forms of the main frame's panes, without their windows.
#pragma once

#include "ChildFrame.h"
#include "QorViewerApp.h"

#include "os/LocalTime.h"

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

namespace qorcam::viewer {

/// The state of one control of a form: what the window shows. The forms
/// write it; the window layer copies it onto its widgets after every change
/// and writes back only what the user typed, checked, picked or dragged.
struct FormControl {
    bool enabled = true;
    bool visible = true;
    bool checked = false;
    std::string text;
    int min = 0, max = 100, pos = 0, tick = 0; ///< trackbars and progress bars
    std::vector<std::string> items;            ///< drop-down lists
    int selection = -1;
    int x = -1, y = -1; ///< form pixels; -1 where the form's own layout puts it
};

/// A form's controls by control id, with the notice the window layer syncs on.
class FormControls {
public:
    FormControl& operator[](int id) { return controls_[id]; }
    const std::map<int, FormControl>& All() const { return controls_; }
    /// Called after every operation that changed what the form shows.
    std::function<void()> onChanged;
    void Changed() {
        if (onChanged) onChanged();
    }

private:
    std::map<int, FormControl> controls_;
};

/// A window's record ring and playback frames, as the record form reads them.
struct RecordStatus {
    uint32_t written = 0;   ///< frames written since the ring was made (until it is full)
    uint32_t collected = 0; ///< frames of the current record window
    uint32_t saved = 0;     ///< frames the writer has saved
    bool hasRing = false;
    bool counting = false;     ///< collecting frames after a trigger
    bool frozen = false;       ///< the write index stands still
    bool pendingWrite = false; ///< a complete window waits for or is in the writer
    // Playback windows.
    uint32_t frameIndex = 0;
    uint32_t frameCount = 0;
    bool loading = false;
};

/// Where an armed ring puts its record window around the trigger.
enum class RecordTrigger { Start, Center, End };

/// The record rings and playback frames of the camera windows, provided by
/// the recording code. Calls come on the UI thread.
class IRecordControl {
public:
    virtual ~IRecordControl() = default;
    virtual RecordStatus Status(CChildFrame* child) = 0;
    /// Stops the write index (the "Before" trigger freezes every window first).
    virtual void Freeze(CChildFrame* child) = 0;
    /// Arms the window; End fixes the window at once (TriggerRecord).
    virtual void Trigger(CChildFrame* child, RecordTrigger where) = 0;
    /// Writes what the window holds (or unfreezes it when it holds nothing).
    virtual void StartRecordWriter(CChildFrame* child) = 0;
    /// The playback window shows frame index; false when it is not loaded.
    virtual bool ShowFrame(CChildFrame* child, uint32_t index) = 0;
    /// Restarts a running playback window's step timer with the period.
    virtual void RestartPlayback(CChildFrame* child, unsigned ms) = 0;
    /// Record mode turns on: the frames per window that fit in the record budget.
    virtual uint32_t UpdateRecordableCount() = 0;
    /// Record mode on: the window gets its ring unless it has one; off: a ring is freed.
    virtual void SetRing(CChildFrame* child, bool on) = 0;
};

/// The panes the mode-set form shows and hides.
enum class FormPane { CameraTree, Properties, FeatureSet, Display, Output, Record };

/// What the forms ask of the main frame, the application and the windows.
/// Everything runs on the UI thread; "posted" calls act later, after the
/// caller has returned.
class IFormHost {
public:
    virtual ~IFormHost() = default;
    virtual CQorViewerApp& App() = 0;
    virtual bool IsChildOfFrame(CChildFrame* child) = 0;
    /// The record rings, or null where no recording code is present.
    virtual IRecordControl* Records() = 0;

    // Camera windows.
    /// WM_CHILD_LAYOUT to the window, posted (wParam 1: fit the window to the image).
    virtual void PostChildLayout(CChildFrame* child, int wParam) = 0;
    /// WM_SIZE (0, 0) to the window, posted.
    virtual void PostChildSize(CChildFrame* child) = 0;
    /// WM_CHILD_START and WM_CHILD_STOP, sent; reason tells whether the user asked for the start.
    virtual void StartChild(CChildFrame* child, CChildFrame::StartReason reason) = 0;
    virtual void StopChild(CChildFrame* child) = 0;

    // The main frame.
    virtual void BroadcastLayout(bool arrange) = 0;
    virtual void SwitchMode(uint8_t mode) = 0;
    virtual bool RecordMode() = 0;
    virtual void SetRecordMode(bool on) = 0;
    virtual void PostGridReset(int wParam) = 0;
    /// WM_FRAME_CHILD_CHANGED with the window and the reason, posted.
    virtual void PostChildChanged(CChildFrame* child, int reason) = 0;
    /// The feature grid's refresh mode (kNoRefresh, kRefreshSelectItem, kRefreshAllItem).
    virtual uint32_t RefreshMode() = 0;
    virtual void SetRefreshMode(uint32_t mode) = 0;
    virtual bool PaneVisible(FormPane pane) = 0;
    /// Grows a collapsed pane, then shows or hides it.
    virtual void ShowPane(FormPane pane, bool show) = 0;
    virtual void SetRecordPaneCaption(const std::string& caption) = 0;
    /// Rebuilds the feature grid and clears the feature editor.
    virtual void RebuildGrid() = 0;
    virtual void SaveAllImages() = 0;
    virtual void OnTool() = 0;
    virtual void OnHelp() = 0;
    /// 1 while a window loads a record.
    virtual bool Busy() = 0;
    /// 1 while any window writes recorded frames.
    virtual bool Saving() = 0;
    virtual void SetSaving(bool saving) = 0;
    /// Frames per window that fit in the record budget.
    virtual uint32_t RecordableCount() = 0;
    /// Frames per record.
    virtual uint32_t SetCount() = 0;
    virtual void SetSetCount(uint32_t count) = 0;
    /// The folder made for the current record, kept for the record writer.
    virtual void SetRecordFolder(const std::string& name, const std::string& path) = 0;
    /// WM_MODESET_REFRESH to the mode-set pane, posted.
    virtual void PostModeSetRefresh(int wParam) = 0;
    /// The record form refreshes (the record pane's UpdateRecordForm).
    virtual void UpdateRecordForm() = 0;
};

/// Zoom percent for a zoom slider position: 1-100 as is, 101-200 in steps
/// of 2 up to 300, 201-300 in steps of 5 up to 800.
uint32_t ZoomFromSliderPosition(int position);
/// The slider position that shows a zoom percent (the inverse, rounded down).
int SliderPositionFromZoom(uint32_t zoom);

/// The display form: zoom or fit, cascade or tile, display rate and the
/// feature grid's refresh mode.
class CFormDisplay {
public:
    enum : int {
        kZoom = 1012,
        kFit = 1013,
        kZoomSlider = 1021,
        kZoomPercent = 1028,
        kZoom100 = 1014,
        kCascade = 1006,
        kTile = 1007,
        kRateSlider = 1020,
        kRateText = 1027,
        kRefreshList = 1010,
    };
    explicit CFormDisplay(IFormHost& host);

    void OnInitialUpdate();
    void OnZoomMode(uint8_t zoom);
    void OnCascade(uint8_t cascade);
    void OnRefreshSelected(int index);
    /// The rate trackbar's position, on every change.
    void OnRateMoved(int position);
    /// The zoom trackbar's position, on every change.
    void OnZoomMoved(int position);
    void OnZoom100();

    void UpdateModeButtons();
    void UpdateRateControls();
    void UpdateRefreshCombo();
    void UpdateZoomControls();

    FormControls controls;
    int lastZoomPosition = 0;

private:
    CChildFrame* ActiveWindow();
    std::vector<CChildFrame*> Windows();

    IFormHost& host_;
};

/// The mode-set form: camera or playback mode, start and stop, the pane
/// buttons, snapshot, tool and help.
class CFormModeSet {
public:
    enum : int {
        kCamImage = 1001,
        kPlayBack = 1002,
        kStart = 1003,
        kStop = 1004,
        kAllStart = 1005,
        kAllStop = 1006,
        kCamera = 1007,
        kProperty = 1012,
        kFeature = 1009,
        kDisplay = 1011,
        kInfo = 1008,
        kRecord = 1010,
        kBmpSave = 1017,
        kConfig = 1014,
        kHelp = 1016,
    };
    explicit CFormModeSet(IFormHost& host);

    void OnInitialUpdate();
    void UpdateButtons();
    /// Pane buttons follow the panes; with refreshGrid the grid panes follow the record pane too.
    void UpdatePaneChecks(bool refreshGrid);
    void ShowGridPanes(bool show);

    void OnStart();
    void OnStop();
    void OnAllStart();
    void OnAllStop();
    void OnCamImage();
    void OnPlayBack();
    /// A pane button was pressed in or released (its check state is already set).
    void OnPaneButton(int id);
    void OnBmpSave() { host_.SaveAllImages(); }
    void OnConfig() { host_.OnTool(); }
    void OnHelp() { host_.OnHelp(); }

    FormControls controls;
    int gridVisible = 1;
    int editorVisible = 1;
    uint8_t busy = 0;

private:
    void SaveGridVisibility();

    IFormHost& host_;
};

/// The record form: trigger position, frames per record, start and stop of
/// a record, the save folder, the windows and their progress; in playback a
/// frame slider.
class CFormRecordSet {
public:
    enum : int {
        kBefore = 1032,
        kBeforeAfter = 1033,
        kAfter = 1034,
        kStart = 1029,
        kFrames = 1036,
        kWindows = 1035,
        kCounterLabel = 1027,
        kCounter = 1030,
        kProgress = 1028,
        kFrameSlider = 1037,
        kFolderSet = 1026,
        kFolder = 1031,
    };
    explicit CFormRecordSet(IFormHost& host);

    /// Makes the save folder (documents, "QorCam_Viewer") and fills the form.
    void OnInitialUpdate();
    void UpdateLayout(bool camera);
    void UpdateTriggerRadio();
    void UpdateRecordButton();
    void UpdateChildCombo();
    /// Counters of the active window; a window that is not the active one changes nothing.
    void UpdateCounters(CChildFrame* window);
    /// Names the next record folder under the save folder and creates it.
    void MakeRecordFolder();
    void UpdateRecordForm();

    void OnTrigger(uint32_t mode);
    /// "Start" was pressed: recording turns on or off.
    void OnStart();
    /// "Folder Set" gave a folder (empty: the dialog was cancelled).
    void OnFolderChosen(const std::string& folder);
    void OnWindowSelected(int index);
    void OnFrameMoved(int position);

    // The record pane's messages.
    void OnRecordProgress(CChildFrame* window);
    void OnRecordDone(CChildFrame* window);
    /// The record pane was shown or hidden. While windows are still being
    /// written the notice to the mode-set pane waits until the writing ends,
    /// so record mode (and the rings the writers read) stay until then.
    void OnPaneShown();
    /// Busy: the frame slider is disabled while a record loads, and set up
    /// again for the active window when loading ends.
    void SetBusy(bool busy);

    FormControls controls;
    uint32_t triggerMode = 3; ///< 1 before, 2 before and after, 3 after
    uint8_t layout = 1;       ///< 1 camera, 0 playback
    uint32_t listCount = 0;
    int32_t listSelection = -1;
    std::string saveFolder;
    uint8_t recording = 0;
    bool noticePending = false;
    /// The clock of record folder names (tests set it).
    std::function<os::LocalTime()> now = [] { return os::LocalTime::Now(); };

private:
    std::vector<CChildFrame*> Windows();
    CChildFrame* ActiveWindow();
    RecordStatus StatusOf(CChildFrame* child);
    void ShowSetCount();

    IFormHost& host_;
};

/// The frames typed into the frames-per-record edit: a decimal number at the
/// start of the text; anything else, or a negative number, counts as 0.
uint32_t ParseFrameCount(const std::string& text);

} // namespace qorcam::viewer
