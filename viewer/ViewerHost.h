// ViewerHost: what the feature grid asks of the main frame and the application.
#pragma once

#include "CameraApi.h"
#include "ChildFrame.h"
#include "PropertyGridProperty.h"

#include <cstdint>
#include <string>

namespace qorcam::viewer {

/// The services of the main frame and the application that the feature grid
/// and its change handling use. The window layer implements it over Qt;
/// tests implement it with recorders. Calls marked "any thread" come from the
/// refresh worker too.
class IViewerHost {
public:
    virtual ~IViewerHost() = default;
    virtual ICameraApi& Api() = 0;
    /// The application's active camera window, or null. Any thread.
    virtual CChildFrame* ActiveChild() = 0;
    /// Whether the window still belongs to the main frame. Any thread.
    virtual bool IsChildOfFrame(CChildFrame* child) = 0;
    /// WM_CHILD_CAMERA_CHECK, sent (the window acts before this returns).
    virtual void SendCameraCheck(CChildFrame* child, int wParam, int lParam) = 0;
    /// Favourite and refresh-selection marks of feature names. Any thread.
    virtual bool IsFavourite(const std::string& name) = 0;
    virtual bool IsRefreshSelected(const std::string& name) = 0;
    virtual void MessageBox(const std::string& text) = 0;
    /// WM_FRAME_GRID_RESET to the main frame, posted.
    virtual void PostGridReset(int wParam) = 0;
    /// WM_PROPERTY_REFRESH to the grid pane, posted.
    virtual void PostPropertyRefresh(CPropertyGridProperty* group) = 0;
    /// WM_FEATURE_SELECT to the feature editor and WM_OUTPUT_NODE_INFO to the output window.
    virtual void FeatureSelected(genapi::INode* node, genapi::INodeMap* map) = 0;
    /// Pane timers (ids 1 and 10). Any thread.
    virtual void SetTimer(unsigned id, unsigned ms) = 0;
    virtual void KillTimer(unsigned id) = 0;
    virtual bool IsPaneShown() = 0;
    /// The visibility combo: show the level and enable it.
    virtual void ShowLevel(uint32_t level) = 0;
    /// WM_GRID_SET_INT/FLOAT/TEXT from the refresh worker: sent, so the value
    /// is applied on the UI thread before this returns.
    virtual void SendGridValue(uint64_t itemId, const GridValue& value) = 0;
};

} // namespace qorcam::viewer
