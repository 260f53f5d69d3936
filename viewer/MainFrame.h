// MainFrame: the viewer's main window with its docking panes and menus.
#pragma once

#include "PropertiesPane.h"
#include "QorViewerApp.h"
#include "Recorder.h"
#include "ViewerHost.h"

#include <QAction>
#include <QDockWidget>
#include <QListWidget>
#include <QMainWindow>
#include <QMdiArea>
#include <QTabWidget>
#include <QTreeWidget>

#include <functional>
#include <map>

namespace qorcam::viewer {

class CChildWindow;

/// The main window: seven docking panes around the area where camera
/// windows live, the "&File" and "&Help" menus, the active camera window
/// kept in step with the panes, and the services the feature grid and the
/// camera-list thread call. Calls of the list thread are carried to the UI
/// thread and wait there.
class CMainFrame : public QMainWindow, public IViewerHost, public ICameraListHost {
    Q_OBJECT
public:
    explicit CMainFrame(CQorViewerApp& app);
    ~CMainFrame() override;

    PropertiesPane* Properties() { return properties_; }
    QDockWidget* CameraTreePane() { return cameraTree_; }
    QDockWidget* OutputPane() { return output_; }
    QDockWidget* Pane(const char* name) const;

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
    void InfoUpdate(CChildFrame*) {}
    /// The window of an open camera, or null.
    CChildWindow* WindowOf(CChildFrame* child);
    /// Run when the frame closes, before it goes (saving the viewer's state).
    std::function<void()> onClose;

    uint64_t pendingCameraId = 0xFFFFFFFFFFFFFFFFULL;
    uint32_t pendingCameraType = 0;

    // Recording and playback.
    /// What every camera window's recording reads (set count, recordable
    /// count, record folder, saving flag, the application's running byte).
    CRecordSettings recordSettings;
    /// The record INI the next playback window opens (ID_FILE_NEW in playback mode).
    std::string recordIniPath;
    /// Opens a playback window for a record INI.
    void OpenRecord(const std::string& iniPath);
    /// WM_RECORD_PROGRESS and WM_RECORD_DONE for the record pane (child or
    /// null when the window is gone). Without a handler a done notice
    /// starts the window's writer, as the pane would.
    std::function<void(CChildFrame*)> onRecordProgress, onRecordDone;
    void RecordProgress(CChildFrame* child);
    void RecordDone(CChildFrame* child);
    /// WM_FRAME_BUSY: busy while a record folder loads; going idle waits
    /// for every loading window. onBusy hears every change.
    void FrameBusy(bool busy);
    bool Busy() const { return busy_; }
    std::function<void(bool)> onBusy;
    /// A written record joins its camera's folder entry (added at the head when new).
    void AddRecord(const std::string& title, const std::string& recordTime, const std::string& iniPath);
    /// The camera's folder entry, added at the head of the list when new, marked in use.
    CFolderInfo& FolderFor(const std::string& title);
    /// Record mode on or off for every camera window (camera mode only):
    /// running windows stop, take their new ring or their own buffer, and
    /// start again. While it is on, no window feeds the feature grid.
    void SetRecordMode(bool on);
    bool RecordMode() const { return recordMode_; }
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

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    template <class F> void OnUiThread(F&& f);
    QDockWidget* MakePane(const char* caption, const char* name, QWidget* body);
    void BuildMenus();
    void ShowPane(QDockWidget* pane);
    /// ID_FILE_NEW: a window for the pending camera, or in playback mode
    /// for the record INI path.
    void OnFileNew();
    void OpenPlaybackWindow();

    CQorViewerApp& app_;
    QMdiArea* mdi_;
    PropertiesPane* properties_;
    QDockWidget* cameraTree_;
    QTreeWidget* tree_;
    QDockWidget* modeSet_;
    QDockWidget* display_;
    QDockWidget* output_;
    QListWidget* outputLists_[3];
    QDockWidget* featureSet_;
    QDockWidget* record_;
    QAction* maxViewAction_ = nullptr;
    bool maxView_ = false;
    bool busy_ = false;
    bool recordMode_ = false;
    std::map<QDockWidget*, bool> paneVisibility_;
    std::map<CChildFrame*, CChildWindow*> windows_;
};

} // namespace qorcam::viewer
