// PropertiesWnd: the feature grid pane's logic: building the grid from the node map and refreshing it.
#pragma once

#include "CameraProperty.h"
#include "ViewerHost.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace qorcam::viewer {

/// Visibility levels of the combo, in its order.
enum : uint32_t { kLevelBeginner = 0, kLevelExpert = 1, kLevelGuru = 2, kLevelFavorite = 3 };
/// Refresh modes of the display form's combo.
enum : uint32_t { kNoRefresh = 0, kRefreshSelectItem = 1, kRefreshAllItem = 2 };

/// The feature grid pane without its window: the grid (CCameraProperty), the
/// visibility level, the refresh map and the builder that turns the active
/// camera window's node map into items.
///
/// Guarantees: no node-map exception leaves it; builds run on the UI thread
/// under GridLock(), and the refresh worker looks every item up again under
/// the same lock, names items by id when it hands values to the UI thread,
/// and never holds the lock while it waits for the UI thread, so a rebuild
/// can neither free an item the worker still uses nor deadlock with it.
class CPropertiesWnd {
public:
    explicit CPropertiesWnd(IViewerHost& host);
    ~CPropertiesWnd();
    CPropertiesWnd(const CPropertiesWnd&) = delete;
    CPropertiesWnd& operator=(const CPropertiesWnd&) = delete;

    CCameraProperty& Grid() { return m_wndPropList; }
    const std::vector<CPropertyGridProperty*>& TopLevelItems() const { return topLevel_; }
    std::recursive_mutex& GridLock() { return gridLock_; }

    /// The combo's level (0-3); a stored value of 4 and up starts at 0.
    std::atomic<uint32_t> level{kLevelBeginner};
    std::atomic<uint32_t> refreshMode{kNoRefresh};
    void SetInitialLevel(uint32_t stored) { level = stored < 4 ? stored : 0; }

    /// The expansion-state map of the active window, handed over by the main
    /// frame (null: none).
    void SetExpansionMap(std::map<std::string, uint32_t>* map) { expansion_ = map; }
    std::map<std::string, uint32_t>* ExpansionMap() { return expansion_; }
    genapi::INodeMap* NodeMap() const { return nodeMap_; }

    /// Combo selection (WM_COMMAND 174 CBN_SELCHANGE).
    void OnLevelChanged(uint32_t newLevel);
    void RebuildPropertyList();
    /// Empties the grid, its top-level list and the refresh map.
    void ClearGrid();
    /// One category (or, in selector mode, one selector's selected features)
    /// into sub-items of parent; the count of names appended to names.
    int BuildFeatureItems(CPropertyGridProperty* parent, genapi::INode* node, bool collapsed,
                          bool selectorMode, std::vector<std::string>* names);
    bool CheckCameraConnection();

    /// Any WM_TIMER: starts one refresh cycle on a worker when allowed.
    void StartPropertyRefresh();
    /// One refresh cycle (the worker's body; tests call it directly).
    void PropertyRefreshThread();
    /// Applies a value sent by the refresh worker (WM_GRID_SET_*), UI thread.
    void ApplyGridValue(uint64_t itemId, const GridValue& value);
    /// Ends a running refresh cycle for good (no cycle starts afterwards);
    /// pump runs the UI's pending work while waiting.
    void StopRefresh(const std::function<void()>& pump);
    bool RefreshBusy() const { return refreshBusy_; }
    /// Items whose feature is volatile, by item id.
    std::map<uint64_t, genapi::INode*> RefreshMapSnapshot();

    // Left behind by a build for the walk and for tests.
    bool volatileFlag = false;
    bool favouriteSeen = false;
    int buildMarker = 0;
    CPropertyGridProperty* selectionToRestore = nullptr;

private:
    friend class CCameraProperty;
    void BuildCategoryGroups();
    bool ActiveChanged();
    CPropertyGridProperty* MakeOrUpdate(genapi::INode* feature, CPropertyGridProperty* existing,
                                        genapi::EAccessMode access, bool hidden, bool collapsed,
                                        std::vector<std::string>& selectorNames, bool& allowEdit);
    CPropertyGridProperty* BuildSelectorGroup(genapi::INode* feature, CPropertyGridProperty* group,
                                              bool collapsed, std::vector<std::string>& selectorNames);
    void RemoveItem(CPropertyGridProperty* parent, CPropertyGridProperty* item);
    /// Drops every pointer and refresh entry into an item that is about to go.
    void ForgetSubtree(CPropertyGridProperty* item);
    void FinishCycle(unsigned ms);

    IViewerHost& host_;
    CCameraProperty m_wndPropList;
    std::vector<CPropertyGridProperty*> topLevel_;
    bool firstBuild_ = true;
    CChildFrame* builtFor_ = nullptr;
    uint32_t builtLevel_ = 0;
    genapi::INodeMap* nodeMap_ = nullptr;
    std::map<std::string, uint32_t>* expansion_ = nullptr;
    std::map<std::string, uint32_t> noExpansion_;
    std::map<uint64_t, genapi::INode*> refreshMap_;
    std::recursive_mutex gridLock_;
    std::atomic<bool> refreshBusy_{false};
    std::atomic<bool> stop_{false};
    std::atomic<bool> closed_{false};
    std::thread worker_;
};

} // namespace qorcam::viewer
