// CameraFileView: the camera tree's logic: the camera view, the file view of record folders, item commands.
#include "CameraFileView.h"

#include "IniFile.h"
#include "QorViewerApp.h"

#include <algorithm>
#include <mutex>

namespace qorcam::viewer {
namespace {

constexpr uint64_t kNoCamera = 0xFFFFFFFFFFFFFFFFULL;
constexpr size_t kIniValueChars = 64;

/// A value read as the record readers read it: "-" when missing.
std::string RecordValue(const std::string& path, const char* section, const char* key) {
    return IniFile::ReadString(path, section, key, "-", kIniValueChars);
}

bool Missing(const std::string& value) {
    return !value.empty() && value[0] == '-';
}

/// The title of the playback window of a record.
std::string PlaybackTitle(const std::string& recordTime, const std::string& cameraName) {
    return recordTime + " - " + cameraName;
}

} // namespace

bool CCameraFileView::IsGroupName(const std::string& text) {
    return std::any_of(std::begin(kGroupNames), std::end(kGroupNames),
                       [&](const char* g) { return text == g; });
}

std::string CCameraFileView::Caption() const {
    return app_.mode == 1 ? "Camera View" : "File View";
}

void CCameraFileView::Refresh() {
    items_.clear();
    if (app_.mode == 1)
        FillCameraView();
    else
        FillFileView();
    if (onItemsChanged) onItemsChanged();
}

void CCameraFileView::FillCameraView() {
    nameToId.clear();
    nameToType.clear();
    int groupAt[4] = {-1, -1, -1, -1}; // index in items_ of each group made
    std::lock_guard lock(app_.TableLock());
    for (const auto& [id, entry] : app_.cameraTable) {
        if (entry.known != 1 || entry.title.empty()) continue;
        const int g = entry.cameraType < 4 ? static_cast<int>(entry.cameraType) : 3;
        if (groupAt[g] < 0) {
            groupAt[g] = static_cast<int>(items_.size());
            items_.push_back({kGroupNames[g], 0, true, g < 3, {}});
        }
        nameToId[entry.title] = id;
        nameToType[entry.title] = g;
        items_[groupAt[g]].children.push_back({entry.title, 1, false, false, {}});
    }
}

void CCameraFileView::FillFileView() {
    TreeItem root{kFileRoot, 0, true, true, {}};
    std::lock_guard lock(app_.TableLock());
    for (auto& folder : app_.folders) {
        TreeItem camera{folder->name, 1, false, false, {}};
        for (auto it = folder->records.begin(); it != folder->records.end();) {
            const std::string time = RecordValue(*it, "File Info", "Rec Time");
            if (Missing(time)) {
                // A record that vanished leaves the list, and its time with it.
                const std::string gone = *it;
                it = folder->records.erase(it);
                std::erase_if(folder->timeMap, [&](const auto& e) { return e.second == gone; });
                continue;
            }
            camera.children.push_back({time, 2, false, false, {}});
            folder->timeMap[time] = *it;
            ++it;
        }
        root.children.push_back(std::move(camera));
    }
    items_.push_back(std::move(root));
}

CChildFrame* CCameraFileView::FindChildForItem(const TreeItemRef& item) {
    const std::string title = app_.mode == 1 ? item.text : PlaybackTitle(item.text, item.parent);
    std::lock_guard lock(app_.TableLock());
    for (CChildFrame* child : app_.openChildren)
        if (child && child->title == title) return child;
    return nullptr;
}

std::string CCameraFileView::RecordPathForItem(const TreeItemRef& item) {
    std::lock_guard lock(app_.TableLock());
    CFolderInfo* folder = FindFolderInfo(app_.folders, item.parent);
    if (!folder) return {};
    auto it = folder->timeMap.find(item.text);
    return it == folder->timeMap.end() ? std::string() : it->second;
}

void CCameraFileView::OpenSelectedItem(const TreeItemRef& item) {
    CChildFrame* child = FindChildForItem(item);
    if (app_.mode == 1) {
        if (child) {
            host_.ActivateChild(child, 5, false);
            return;
        }
        auto id = nameToId.find(item.text);
        auto type = nameToType.find(item.text);
        host_.OpenCamera(id == nameToId.end() ? kNoCamera : id->second,
                         type == nameToType.end() ? 3u : static_cast<uint32_t>(type->second));
        return;
    }
    if (child) return;
    const std::string path = RecordPathForItem(item);
    if (path.empty()) {
        OpenFromDialog();
        return;
    }
    recordIniPath = path;
    host_.OpenRecord(path);
}

void CCameraFileView::OpenFromDialog() {
    const std::string path = host_.ChooseRecordFile();
    if (path.empty()) return;
    // Read as the playback window reads it: a record it can't open is not listed.
    CRecInfo record;
    if (!record.ReadRecordInfo(path)) return;
    const std::string& cameraName = record.cameraName;
    const std::string& recordTime = record.recordTime;
    bool listed;
    {
        std::lock_guard lock(app_.TableLock());
        CFolderInfo* folder = FindFolderInfo(app_.folders, cameraName);
        listed = folder &&
                 std::find(folder->records.begin(), folder->records.end(), path) != folder->records.end();
        if (!folder) folder = &AddFolderInfo(app_.folders, cameraName);
        folder->inUse = 1;
        if (!listed) {
            folder->records.push_back(path);
            folder->timeMap[recordTime] = path;
        }
    }
    if (!listed) Refresh();
    OpenRecord(path, cameraName, recordTime);
}

void CCameraFileView::OpenRecord(const std::string& path, const std::string& cameraName,
                                 const std::string& recordTime) {
    const std::string title = PlaybackTitle(recordTime, cameraName);
    {
        std::lock_guard lock(app_.TableLock());
        for (CChildFrame* child : app_.openChildren)
            if (child && child->title == title) return;
    }
    recordIniPath = path;
    host_.OpenRecord(path);
}

void CCameraFileView::OnSelectItem(const TreeItemRef& item) {
    if (IsGroupName(item.text) || item.text == kFileRoot) return;
    if (app_.mode != 1 && item.parent == kFileRoot) return;
    OpenSelectedItem(item);
}

void CCameraFileView::OnSelectionChanged(const TreeItemRef& item) {
    CChildFrame* child = FindChildForItem(item);
    host_.ActivateChild(child, 4, child != nullptr);
}

void CCameraFileView::OnRefreshButton() {
    app_.RequestCameraList();
}

CCameraFileView::Menu CCameraFileView::ContextMenuFor(const TreeItemRef& item) const {
    if (IsGroupName(item.text)) return Menu::None;
    if (item.text == kFileRoot) return Menu::File;
    if (app_.mode == 1) return item.parent == kGroupNames[1] ? Menu::CameraGigE : Menu::Camera;
    return item.parent == kFileRoot ? Menu::None : Menu::PlayBack;
}

CCameraFileView::CommandState CCameraFileView::StartStopState(const TreeItemRef& item, bool start) {
    CommandState state;
    CChildFrame* child = FindChildForItem(item);
    if (!child) return state;
    state.enabled = !busy && (app_.mode != 1 || child->hCamera != nullptr);
    state.checked = (child->running != 0) == start;
    return state;
}

CCameraFileView::CommandState CCameraFileView::StartState(const TreeItemRef& item) {
    return StartStopState(item, true);
}

CCameraFileView::CommandState CCameraFileView::StopState(const TreeItemRef& item) {
    return StartStopState(item, false);
}

CCameraFileView::CommandState CCameraFileView::RecoverState(const TreeItemRef& item) {
    CommandState state;
    if (CChildFrame* child = FindChildForItem(item)) {
        state.enabled = true;
        state.checked = child->recover != 0;
    }
    return state;
}

void CCameraFileView::OnStart(const TreeItemRef& item) {
    if (StartState(item).enabled) host_.StartChild(FindChildForItem(item), CChildFrame::StartReason::Asked);
}

void CCameraFileView::OnStop(const TreeItemRef& item) {
    if (StopState(item).enabled) host_.StopChild(FindChildForItem(item));
}

void CCameraFileView::OnBmpSave(const TreeItemRef& item) {
    if (CChildFrame* child = FindChildForItem(item)) host_.SaveImage(child);
}

void CCameraFileView::OnRecover(const TreeItemRef& item) {
    CChildFrame* child = FindChildForItem(item);
    if (!child) return;
    child->recover = child->recover ? 0 : 1;
    // The stream resources take the recover value when acquisition starts.
    if (child->running) {
        host_.StopChild(child);
        host_.StartChild(child, CChildFrame::StartReason::Restart);
    }
}

} // namespace qorcam::viewer
