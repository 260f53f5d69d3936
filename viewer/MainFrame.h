// MainFrame: the viewer's main window with its docking panes and menus.
#pragma once

#include "CameraViewPane.h"
#include "InformationOutputPane.h"
#include "ControlPanes.h"
#include "FeatureSetPane.h"
#include "PropertiesPane.h"
#include "PropertyFile.h"
#include "QorViewerApp.h"
#include "ViewerHost.h"

#include <QAction>
#include <QDockWidget>
#include <QListWidget>
#include <QMainWindow>
#include <QMdiArea>
#include <QTabWidget>
#include <QTreeWidget>

#include <atomic>
#include <functional>
#include <map>
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

    uint64_t pendingCameraId = 0xFFFFFFFFFFFFFFFFULL;
    uint32_t pendingCameraType = 0;
    /// The record INI for the next window in playback mode.
    std::string pendingRecordPath;
    /// Stores the record INI path and asks for a window for it.
    void OpenRecord(const std::string& iniPath);

    // Recording: the rings of the camera windows (null until the recording
    // code provides them), the counts and the folder of the current record.
    IRecordControl* records = nullptr;
    uint32_t recordableCount = 0;
    std::string recordFolderName, recordFolderPath;
    /// WM_RECORD_PROGRESS and WM_RECORD_DONE to the record pane, posted. Any thread.
    void PostRecordProgress(CChildFrame* child);
    void PostRecordDone(CChildFrame* child);
    /// WM_FRAME_BUSY: a record loads (going idle waits for every load to end).
    void FrameBusy(bool busy);
    /// The forms show the active window, the modes and the windows' states.
    void RefreshForms();

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
    void StartChild(CChildFrame* child) override;
    void StopChild(CChildFrame* child) override;
    void BroadcastLayout(bool arrange) override;
    void SwitchMode(uint8_t mode) override;
    bool RecordMode() override { return recordMode_; }
    void SetRecordMode(bool on) override;
    void PostChildChanged(CChildFrame* child, int reason) override;
    uint32_t RefreshMode() override { return properties_->Logic().refreshMode; }
    void SetRefreshMode(uint32_t mode) override { properties_->Logic().refreshMode = mode; }
    bool PaneVisible(FormPane pane) override;
    void ShowPane(FormPane pane, bool show) override;
    void SetRecordPaneCaption(const std::string& caption) override;
    void RebuildGrid() override { GridReset(1); }
    void SaveAllImages() override;
    void OnTool() override;
    void OnHelp() override;
    bool Busy() override { return busy_; }
    bool Saving() override { return saving_; }
    void SetSaving(bool saving) override { saving_ = saving; }
    uint32_t RecordableCount() override { return recordableCount; }
    uint32_t SetCount() override { return setCount_; }
    void SetSetCount(uint32_t count) override { setCount_ = count; }
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
    /// ID_FILE_NEW: a window for the pending camera.
    void OnFileNew();

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
    QAction* bmpSaveAction_ = nullptr;
    bool maxView_ = false;
    std::map<QDockWidget*, bool> paneVisibility_;
    std::map<CChildFrame*, CChildWindow*> windows_;
    bool recordMode_ = false;
    bool switching_ = false;
    bool busy_ = false;
    std::atomic<bool> saving_{false};
    uint32_t setCount_ = 0;
};

} // namespace qorcam::viewer
