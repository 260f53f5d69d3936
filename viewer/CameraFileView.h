// CameraFileView: the camera tree's logic: the camera view, the file view of record folders, item commands.
#pragma once

#include "ChildFrame.h"
#include "FolderInfo.h"

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

namespace qorcam::viewer {

class CQorViewerApp;

/// One item of the tree as the pane shows it.
struct TreeItem {
    std::string text;
    int image = 0; ///< 0 group or root, 1 camera or camera folder, 2 record
    bool bold = false;
    bool expanded = false;
    std::vector<TreeItem> children;
};

/// An item as the commands see it: its text and its parent's text (empty at the root).
struct TreeItemRef {
    std::string text;
    std::string parent;
};

/// What the tree asks of the main frame and the window layer.
class ICameraTreeHost {
public:
    virtual ~ICameraTreeHost() = default;
    /// WM_FRAME_CHILD_CHANGED with the window (or null) and the reason,
    /// posted; reselect makes a window that already is the active one count
    /// as a change all the same.
    virtual void ActivateChild(CChildFrame* child, int reason, bool reselect) = 0;
    /// Stores the pending camera and sends ID_FILE_NEW.
    virtual void OpenCamera(uint64_t cameraId, uint32_t cameraType) = 0;
    /// Stores the record INI path and sends ID_FILE_NEW.
    virtual void OpenRecord(const std::string& iniPath) = 0;
    /// WM_CHILD_START / WM_CHILD_STOP, sent; reason tells whether the user asked for the start.
    virtual void StartChild(CChildFrame* child, CChildFrame::StartReason reason) = 0;
    virtual void StopChild(CChildFrame* child) = 0;
    /// The one-window snapshot.
    virtual void SaveImage(CChildFrame* child) = 0;
    /// The open dialog for a record INI; empty when cancelled.
    virtual std::string ChooseRecordFile() = 0;
};

/// The tree texts that name groups and the file view's root.
inline constexpr const char* kGroupNames[4] = {"1394 Camera", "GigE Camera", "USB Camera", "Unknown Camera"};
inline constexpr const char* kFileRoot = "File";

/// The camera view (camera mode: the listed cameras with a window title,
/// grouped by camera type) or the file view (playback mode: the record
/// folders of each camera title), rebuilt whole on every refresh, and the
/// commands on its items. Runs on the UI thread; reads and writes the
/// application's tables under its table lock.
class CCameraFileView {
public:
    CCameraFileView(CQorViewerApp& app, ICameraTreeHost& host) : app_(app), host_(host) {}

    /// Deletes every item and fills the view of the current mode.
    void Refresh();
    /// Run after every refresh, so the window shows the new items.
    std::function<void()> onItemsChanged;
    /// "Camera View" or "File View".
    std::string Caption() const;
    const std::vector<TreeItem>& Items() const { return items_; }

    void FillCameraView();
    void FillFileView();
    /// The window that shows the item, or null.
    CChildFrame* FindChildForItem(const TreeItemRef& item);
    /// The record INI path of a record item; empty when there is none.
    std::string RecordPathForItem(const TreeItemRef& item);
    /// "&Open" and double click on an item that opens.
    void OpenSelectedItem(const TreeItemRef& item);

    /// Double click: group items, the root and camera folders open nothing.
    void OnSelectItem(const TreeItemRef& item);
    /// The selection moved to item: the panes follow the window that shows it (or none).
    void OnSelectionChanged(const TreeItemRef& item);
    /// The toolbar's refresh: the camera-list thread runs a cycle.
    void OnRefreshButton();

    enum class Menu { None, File, Camera, CameraGigE, PlayBack };
    Menu ContextMenuFor(const TreeItemRef& item) const;

    struct CommandState {
        bool enabled = false;
        bool checked = false;
    };
    CommandState StartState(const TreeItemRef& item);
    CommandState StopState(const TreeItemRef& item);
    CommandState RecoverState(const TreeItemRef& item);
    void OnStart(const TreeItemRef& item);
    void OnStop(const TreeItemRef& item);
    void OnBmpSave(const TreeItemRef& item);
    void OnRecover(const TreeItemRef& item);

    /// The main frame's busy state: start and stop are disabled while set.
    uint8_t busy = 0;
    /// Camera item text to camera id and to group index (0-3).
    std::map<std::string, uint64_t> nameToId;
    std::map<std::string, int> nameToType;
    /// The record last chosen for opening in playback mode.
    std::string recordIniPath;

private:
    static bool IsGroupName(const std::string& text);
    /// Opens a record unless a playback window for it is open already.
    void OpenRecord(const std::string& path, const std::string& cameraName, const std::string& recordTime);
    void OpenFromDialog();
    CommandState StartStopState(const TreeItemRef& item, bool start);

    CQorViewerApp& app_;
    ICameraTreeHost& host_;
    std::vector<TreeItem> items_;
};

} // namespace qorcam::viewer
