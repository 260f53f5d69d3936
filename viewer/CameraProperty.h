// CameraProperty: the feature grid's control logic: writing edited values, selection, group expansion.
#pragma once

#include "PropertyGrid.h"
#include "ViewerHost.h"

#include <string>

namespace qorcam::viewer {

class CPropertiesWnd;

/// The check after a pixel format change: can the library show the camera's
/// images now? Empty when it can, else the text to show ("Not Support
/// PixelFormat" or "Get BMPINFO Error").
std::string CheckPixelFormat(ICameraApi& api, HCAMERA camera);

/// What happens when the user edits a value, moves the selection or opens a
/// group. Values are corrected to the node's limits before they are written,
/// writes go through the one-attempt setters, and a write that changed
/// something rebuilds the grid, or reports the camera lost when it no
/// longer answers. UI thread only.
class CCameraProperty : public PropertyGrid {
public:
    CCameraProperty(IViewerHost& host, CPropertiesWnd& pane) : host_(host), pane_(pane) {}

    /// The user finished changing item's value; the base control's BOOL.
    bool OnPropertyChanged(CPropertyGridProperty* item);
    void OnChangeSelection(CPropertyGridProperty* newItem, CPropertyGridProperty* oldItem);
    /// The expansion hook run before a group is drawn, expanded or not.
    void OnDrawProperty(CPropertyGridProperty* item);

private:
    /// Finds the item's feature from "Root" and writes; the change flag.
    bool FindAndWrite(CPropertyGridProperty* item);
    bool WalkAndWrite(genapi::INode* category, CPropertyGridProperty* item, bool& found);
    bool Write(genapi::INode* feature, CPropertyGridProperty* item, bool& wrote);
    bool ItemReplaced(CPropertyGridProperty* item) const;
    void PixelFormatCheck();

    IViewerHost& host_;
    CPropertiesWnd& pane_;
    CChildFrame* changedChild_ = nullptr;
    std::string changingName_;
    bool itemReplaced_ = false;
};

} // namespace qorcam::viewer
