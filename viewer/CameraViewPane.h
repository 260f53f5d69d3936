// CameraViewPane: the docking pane "Camera View" / "File View" with its refresh button and item tree.
#pragma once

#include "CameraFileView.h"

#include <QDockWidget>
#include <QIcon>
#include <QToolBar>
#include <QTreeWidget>

#include <functional>

namespace qorcam::viewer {

class CMainFrame;
class CQorViewerApp;

/// The window of the camera tree: shows what CCameraFileView built, forwards
/// selection, double clicks, the context menu and the refresh button to it,
/// and carries its requests to the main frame.
class CameraViewPane : public QDockWidget, public ICameraTreeHost {
    Q_OBJECT
public:
    CameraViewPane(CMainFrame& main, CQorViewerApp& app, QWidget* parent);

    CCameraFileView& Logic() { return logic_; }
    QTreeWidget* Tree() { return tree_; }
    QAction* RefreshAction() { return refresh_; }

    /// Deletes every item and fills the view of the current mode, with the caption.
    void Refresh();
    /// The main frame's busy state.
    void SetBusy(bool busy) { logic_.busy = busy ? 1 : 0; }
    /// The context menu of item as it would pop up (tests and the pane itself).
    QMenu* MakeContextMenu(QTreeWidgetItem* item);
    /// The one-window snapshot; "&BMP save" stays disabled while unset.
    std::function<void(CChildFrame*)> onSaveImage;
    /// Picks a record INI for the file view's root; unset, a file dialog asks.
    std::function<std::string()> chooseRecordFile;

    // ICameraTreeHost
    void ActivateChild(CChildFrame* child, int reason, bool reselect) override;
    void OpenCamera(uint64_t cameraId, uint32_t cameraType) override;
    void OpenRecord(const std::string& iniPath) override;
    void StartChild(CChildFrame* child, CChildFrame::StartReason reason) override;
    void StopChild(CChildFrame* child) override;
    void SaveImage(CChildFrame* child) override;
    std::string ChooseRecordFile() override;

    static TreeItemRef RefOf(const QTreeWidgetItem* item);

private:
    void AddItems(QTreeWidgetItem* parent, const std::vector<TreeItem>& items);

    CMainFrame& main_;
    CQorViewerApp& app_;
    CCameraFileView logic_;
    QToolBar* toolbar_;
    QAction* refresh_;
    QTreeWidget* tree_;
    QIcon icons_[3];
};

} // namespace qorcam::viewer
