// MainFrame: the viewer's main window with its docking panes and menus.
#pragma once

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

#include <functional>
#include <map>

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
                   public IFeatureEditorHost,
                   public IPropertyFileHost {
    Q_OBJECT
public:
    explicit CMainFrame(CQorViewerApp& app);
    ~CMainFrame() override;

    PropertiesPane* Properties() { return properties_; }
    FeatureSetPane* FeatureEditor() { return featureEditor_; }
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

    // IFeatureEditorHost
    void RebuildPropertyList() override { properties_->RebuildPropertyList(); }
    void SetFavourite(const std::string& name, bool marked) override;
    void SetRefreshSelected(const std::string& name, bool marked) override;
    void PostPixelFormatCheck(CChildFrame* child) override;

    // IPropertyFileHost (PostGridReset and PostPixelFormatCheck above)
    std::string AskPropertyFilePath(bool save, const std::string& defaultName) override;
    void StopChild(CChildFrame* child) override;
    void StartChild(CChildFrame* child) override;
    /// The mode-set pane holds no form with buttons yet: nothing to refresh.
    void RefreshModeForm() override {}
    /// "Save" (true) and "Read" of "Property &file": WM_CHILD_PROPERTY_FILE to the active window.
    void OnPropertyFileCommand(bool save);

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    template <class F> void OnUiThread(F&& f);
    QDockWidget* MakePane(const char* caption, const char* name, QWidget* body);
    void BuildMenus();
    void ShowPane(QDockWidget* pane);
    /// ID_FILE_NEW: a window for the pending camera.
    void OnFileNew();

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
    FeatureSetPane* featureEditor_;
    QDockWidget* record_;
    QAction* maxViewAction_ = nullptr;
    bool maxView_ = false;
    std::map<QDockWidget*, bool> paneVisibility_;
    std::map<CChildFrame*, CChildWindow*> windows_;
};

} // namespace qorcam::viewer
