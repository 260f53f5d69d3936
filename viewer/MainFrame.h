// MainFrame: the viewer's main window with its docking panes and menus.
#pragma once

#include "CameraViewPane.h"
#include "ControlPanes.h"
#include "FeatureSetPane.h"
#include "InformationOutputPane.h"
#include "PropertiesPane.h"
#include "PropertyFile.h"
#include "QorViewerApp.h"
#include "Recorder.h"
#include "ViewerHost.h"
#include "ViewerSettings.h"

#include <QAction>
#include <QDockWidget>
#include <QListWidget>
#include <QMainWindow>
#include <QMdiArea>
#include <QTabWidget>
#include <QTreeWidget>

#include <functional>
#include <map>
#include <memory>
#include <string>

namespace qorcam::viewer {

class CChildWindow;

/// The main window: seven docking panes around the area where camera
/// windows live, the "&File" and "&Help" menus, the active camera window
/// kept in step with the panes, and the services the feature grid and the
/// camera-list thread call. Calls of the list thread are carried to the UI
/// thread and wait there.
class CMainFrame : public QMainWindow,
                   public IViewerHost,
                   public ICameraListHost,
                   public IFormHost,
                   public IFeatureEditorHost,
                   public IPropertyFileHost {
    Q_OBJECT
public:
    explicit CMainFrame(CQorViewerApp& app);
    ~CMainFrame() override;

    PropertiesPane* Properties() { return properties_; }
    CameraViewPane* CameraTreePane() { return cameraTree_; }
    InformationOutputPane* OutputPane() { return output_; }
    FeatureSetPane* FeatureEditor() { return featureEditor_; }
    QDockWidget* Pane(const char* name) const;
    CPaneDisplay* DisplayPane() { return display_; }
    CPaneModeSet* ModeSetPane() { return modeSet_; }
    CPaneRecordSet* RecordPane() { return record_; }

    /// WM_FRAME_CHILD_CHANGED: the active camera window changes (null: none).
    void OnChildChanged(CChildFrame* child);
    /// WM_FRAME_GRID_RESET: 2, 3, 4 empty the grid first; every value rebuilds it.
    void GridReset(int wParam);
    /// "&Max view": hides the panes, or shows them as they were.
    void ToggleMaxView();
    bool MaxView() const { return maxView_; }
    /// A closing camera window leaves the tables and closes its camera
    /// under the grid's lock, so the refresh worker never reads a freed node map.
    void ChildClosing(CChildWindow* window);
    /// WM_FRAME_INFO_UPDATE: a window's statistics or state changed.
    void InfoUpdate(CChildFrame* child);
    /// The window of an open camera, or null.
    CChildWindow* WindowOf(CChildFrame* child);
    /// Run when the frame closes, before it goes (saving the viewer's state).
    std::function<void()> onClose;
    /// Where the frame's messages go instead of a modal box when set (tests).
    std::function<void(const std::string&)> onMessage;
    /// The frame's size and place and the panes' layout, kept with the
    /// viewer's settings (kViewerKey\Window); a missing or damaged record
    /// leaves the layout the frame was built with.
    void SaveWindowState(os::SettingsStore& store) const;
    void RestoreWindowState(const os::SettingsStore& store);

    uint64_t pendingCameraId = 0xFFFFFFFFFFFFFFFFULL;
    uint32_t pendingCameraType = 0;

    // Recording and playback.
    /// What every camera window's recording reads (set count, recordable
    /// count, record folder, saving flag, the application's running byte).
    CRecordSettings recordSettings;
    /// The rings and playback frames of the camera windows as the record
    /// form drives them; the frame's own unless replaced.
    IRecordControl* records = nullptr;
    /// The record INI the next playback window opens (ID_FILE_NEW in playback mode).
    std::string recordIniPath;
    /// Opens a playback window for a record INI.
    void OpenRecord(const std::string& iniPath);
    /// WM_RECORD_PROGRESS and WM_RECORD_DONE to the record pane, posted
    /// (child null when the window is gone). Any thread.
    void PostRecordProgress(CChildFrame* child);
    void PostRecordDone(CChildFrame* child);
    /// WM_FRAME_BUSY: busy while a record folder loads; going idle waits
    /// for every loading window. onBusy hears every change.
    void FrameBusy(bool busy);
    std::function<void(bool)> onBusy;
    /// The forms show the active window, the modes and the windows' states.
    void RefreshForms();
    /// A written record joins its camera's folder entry (added at the head when new).
    void AddRecord(const std::string& title, const std::string& recordTime, const std::string& iniPath);
    /// The camera's folder entry, added at the head of the list when new, marked in use.
    CFolderInfo& FolderFor(const std::string& title);
    /// The recordable count (and the set count) from the record budget and
    /// every window's image size.
    void UpdateRecordableCount();

    // Snapshots.
    std::string snapshotPath;
    std::string snapshotExtension = "bmp";
    std::string snapshotFolder;
    /// "&BMP save": every window into a dated folder under a chosen one.
    void OnSaveAllImages();
    /// One window's snapshot through a save dialog.
    void OnSaveImage(CChildWindow* window);

    // IViewerHost
    ICameraApi& Api() override { return app_.Api(); }
    CChildFrame* ActiveChild() override { return app_.activeChild; }
    bool IsChildOfFrame(CChildFrame* child) override;
    void SendCameraCheck(CChildFrame* child, int wParam, int lParam) override;
    bool IsFavourite(const std::string& name) override { return app_.IsFavourite(name); }
    bool IsRefreshSelected(const std::string& name) override { return app_.IsRefreshSelected(name); }
    void MessageBox(const std::string& text) override;
    void PostGridReset(int wParam) override;
    void PostPropertyRefresh(CPropertyGridProperty*) override { properties_->PostPropertyRefresh(); }
    void FeatureSelected(genapi::INode* node, genapi::INodeMap* map) override;
    void SetTimer(unsigned id, unsigned ms) override { properties_->SetTimer(id, ms); }
    void KillTimer(unsigned id) override { properties_->KillTimer(id); }
    bool IsPaneShown() override { return properties_->IsShown(); }
    void ShowLevel(uint32_t level) override { properties_->ShowLevel(level); }
    void SendGridValue(uint64_t id, const GridValue& value) override {
        properties_->SendGridValue(id, value);
    }

    // ICameraListHost
    void CheckChildren(int wParam) override;
    void OpenCamera(uint64_t cameraId, uint32_t cameraType) override;
    void ClearPendingCamera() override;
    void RefreshCameraTree() override;
    void PostCameraList() override;

    // IFormHost
    CQorViewerApp& App() override { return app_; }
    IRecordControl* Records() override { return records; }
    void PostChildLayout(CChildFrame* child, int wParam) override;
    void PostChildSize(CChildFrame* child) override;
    void StartChild(CChildFrame* child, CChildFrame::StartReason reason) override;
    void StopChild(CChildFrame* child) override;
    void BroadcastLayout(bool arrange) override;
    void SwitchMode(uint8_t mode) override;
    bool RecordMode() override { return recordMode_; }
    /// Record mode on or off for every camera window (camera mode only):
    /// running windows stop, take their new ring or their own buffer, and
    /// start again. While it is on, no window feeds the feature grid.
    void SetRecordMode(bool on) override;
    void PostChildChanged(CChildFrame* child, int reason) override;
    uint32_t RefreshMode() override { return properties_->Logic().refreshMode; }
    void SetRefreshMode(uint32_t mode) override { properties_->Logic().refreshMode = mode; }
    bool PaneVisible(FormPane pane) override;
    void ShowPane(FormPane pane, bool show) override;
    void SetRecordPaneCaption(const std::string& caption) override;
    void RebuildGrid() override { GridReset(1); }
    void SaveAllImages() override;
    /// Config: starts the configuration tool that is installed (a choice
    /// when there are several) or says that none is.
    void OnTool() override;
    /// Help: opens the help file beside the API folder, else shows the
    /// installed help page in a window of its own, else says there is none.
    void OnHelp() override;
    /// The help page's window once Help has shown it.
    QWidget* HelpWindow() { return helpWindow_; }
    bool Busy() override { return busy_; }
    bool Saving() override { return recordSettings.saving != 0; }
    void SetSaving(bool saving) override { recordSettings.saving = saving ? 1 : 0; }
    uint32_t RecordableCount() override { return recordSettings.recordableCount; }
    uint32_t SetCount() override { return recordSettings.setCount; }
    void SetSetCount(uint32_t count) override { recordSettings.setCount = count; }
    void SetRecordFolder(const std::string& name, const std::string& path) override;
    void PostModeSetRefresh(int wParam) override;
    void UpdateRecordForm() override { record_->Form().UpdateRecordForm(); }

    // IFeatureEditorHost
    void RebuildPropertyList() override { properties_->RebuildPropertyList(); }
    void SetFavourite(const std::string& name, bool marked) override;
    void SetRefreshSelected(const std::string& name, bool marked) override;
    void PostPixelFormatCheck(CChildFrame* child) override;

    // IPropertyFileHost (PostGridReset, PostPixelFormatCheck, StartChild and StopChild above)
    std::string AskPropertyFilePath(bool save, const std::string& defaultName) override;
    void RefreshModeForm() override { modeSet_->Form().UpdateButtons(); }
    /// "Save" (true) and "Read" of "Property &file": WM_CHILD_PROPERTY_FILE to the active window.
    void OnPropertyFileCommand(bool save);

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    template <class F> void OnUiThread(F&& f);
    QDockWidget* MakePane(const char* caption, const char* name, QWidget* body);
    QDockWidget* PaneOf(FormPane pane);
    void BuildMenus();
    void ShowPane(QDockWidget* pane);
    /// ID_FILE_NEW: a window for the pending camera, or in playback mode
    /// for the record INI path.
    void OnFileNew();
    void OpenPlaybackWindow();
    void StartTool(const std::string& path);
    void ShowHelpPage(const std::string& path);

    CQorViewerApp& app_;
    QMdiArea* mdi_;
    PropertiesPane* properties_;
    CameraViewPane* cameraTree_;
    CPaneModeSet* modeSet_;
    CPaneDisplay* display_;
    InformationOutputPane* output_;
    QDockWidget* featureSet_;
    FeatureSetPane* featureEditor_;
    CPaneRecordSet* record_;
    QAction* maxViewAction_ = nullptr;
    bool maxView_ = false;
    std::map<QDockWidget*, bool> paneVisibility_;
    std::map<CChildFrame*, CChildWindow*> windows_;
    bool recordMode_ = false;
    bool switching_ = false;
    bool busy_ = false;
    std::unique_ptr<IRecordControl> recordControl_;
    QWidget* helpWindow_ = nullptr;
};

} // namespace qorcam::viewer
