// CameraProperty: the feature grid's control logic: writing edited values, selection, group expansion.
#include "CameraProperty.h"

#include "FeatureAccess.h"
#include "PropertiesWnd.h"
#include "ValueLimits.h"

#include <algorithm>
#include <cmath>
#include <functional>

namespace qorcam::viewer {

using namespace genapi;

bool CCameraProperty::ItemReplaced(CPropertyGridProperty* item) const {
    return !Contains(item) || item->IsGroup() || !item->IsAllowEdit() || item->GetName() != changingName_;
}

bool CCameraProperty::OnPropertyChanged(CPropertyGridProperty* item) {
    if (!item) return FALSE;
    changingName_ = item->GetName();
    itemReplaced_ = false;
    changedChild_ = host_.ActiveChild();
    if (!changedChild_ || !host_.IsChildOfFrame(changedChild_) || !changedChild_->hCamera) return TRUE;
    const bool wasGroup = item->IsGroup();
    const bool wasEditable = item->IsAllowEdit();
    bool changed = false;
    if (wasEditable || wasGroup) changed = FindAndWrite(item);
    // A value-list group (a selector) is no item the grid replaces, but its
    // change alters what the grid shows below it, so it is followed like an
    // editable item.
    if (itemReplaced_ && !(wasGroup && changed)) return FALSE;
    if (!wasGroup && (!wasEditable || item->GetName() != changingName_)) return TRUE;
    if (!changed) return TRUE;
    BOOL connected = FALSE;
    if (host_.Api().Camera(changedChild_->hCamera, &connected) && connected) {
        host_.PostGridReset(5);
        return TRUE;
    }
    host_.SendCameraCheck(changedChild_, 1, 1);
    host_.SendCameraCheck(changedChild_, 0, 1);
    host_.MessageBox("Error : Camera has been disconnected.\nPlease reconnect.");
    return TRUE;
}

bool CCameraProperty::FindAndWrite(CPropertyGridProperty* item) {
    INodeMap* map = changedChild_ ? changedChild_->nodeMap : nullptr;
    if (!map) return false;
    try {
        CCategoryPtr root(map->GetNode("Root"));
        bool found = false;
        for (INode* feature : root->GetFeatures()) {
            if (!feature || feature->GetPrincipalInterfaceType() != intfICategory) continue;
            bool changed = WalkAndWrite(feature, item, found);
            if (found) return changed;
        }
    } catch (...) {
    }
    return false;
}

bool CCameraProperty::WalkAndWrite(INode* category, CPropertyGridProperty* item, bool& found) {
    for (INode* feature : CCategoryPtr(category)->GetFeatures()) {
        if (!feature) continue;
        if (feature->GetPrincipalInterfaceType() == intfICategory) {
            bool changed = WalkAndWrite(feature, item, found);
            if (found) return changed;
            continue;
        }
        if (feature->GetDisplayName() != item->GetName()) continue;
        const bool sameDescription = feature->GetDescription() == item->GetDescription();
        if (!sameDescription && !(item->GetDescription().empty() && SafeIsSelector(feature))) continue;
        EAccessMode access = feature->GetAccessMode();
        if (access != RW && access != WO) {
            found = true;
            return false;
        }
        bool wrote = false;
        bool changed = Write(feature, item, wrote);
        if (wrote) {
            found = true;
            itemReplaced_ = ItemReplaced(item);
            return changed;
        }
    }
    return false;
}

bool CCameraProperty::Write(INode* feature, CPropertyGridProperty* item, bool& wrote) {
    bool changed = false;
    wrote = true;
    switch (feature->GetPrincipalInterfaceType()) {
    case intfIInteger: {
        CIntegerPtr p(feature);
        const int64_t old = SafeGetIntValue(p);
        const int64_t typed = item->GetValue().AsInt64();
        changed = old != typed;
        const int64_t inc = SafeGetIntInc(p), min = SafeGetIntMin(p), max = SafeGetIntMax(p);
        const int64_t value = CorrectInt(typed, min, max, inc);
        TrySetIntValue(p, value);
        if (!ItemReplaced(item)) {
            if (value != typed) item->SetValue(GridValue::I4(value));
            changed = changed || old != value;
        }
        break;
    }
    case intfIFloat: {
        CFloatPtr p(feature);
        const double old = SafeGetFloatValue(p);
        const double typed = item->GetValue().AsDouble();
        const double inc = SafeFloatHasInc(p) ? SafeGetFloatInc(p) : 0.0;
        const double min = SafeGetFloatMin(p), max = SafeGetFloatMax(p);
        double v = SnapFloatNearest(typed, min, inc);
        if (max >= min) v = std::clamp(v, min, max);
        if (v != typed) item->SetValue(GridValue::R8(v));
        TrySetFloatValue(p, v);
        if (!ItemReplaced(item)) changed = old != v;
        break;
    }
    case intfIBoolean: {
        CBooleanPtr p(feature);
        const bool old = SafeGetBoolValue(p);
        const bool value = item->GetValue().AsBool();
        TrySetBoolValue(p, value);
        if (!ItemReplaced(item)) changed = old != value;
        break;
    }
    case intfICommand: {
        if (item->GetValue().ToText() != "Exec") return false;
        item->SetValue(GridValue::Text("(running)"));
        TryExecuteCommand(CCommandPtr(feature), !IsResetCommand(feature->GetDisplayName()));
        item->SetValue(GridValue::Text("Wait"));
        changed = true;
        break;
    }
    case intfIString: {
        CStringPtr p(feature);
        const std::string before = SafeGetStringValue(p);
        std::string text = item->GetValue().ToText();
        const int64_t maxLength = SafeGetStringMaxLength(p);
        // A length that could not be read (0) cuts nothing, so a failed read
        // cannot erase what the user typed.
        if (maxLength > 0 && static_cast<int64_t>(text.size()) > maxLength) {
            text.resize(static_cast<size_t>(maxLength));
            changed = true;
        }
        TrySetStringValue(p, text);
        if (!ItemReplaced(item)) changed = changed || text != before;
        break;
    }
    case intfIEnumeration: {
        CEnumerationPtr p(feature);
        CPropertyGridProperty* source = item;
        if (item->IsGroup() && item->GetSubItemsCount() > 0 &&
            item->GetSubItem(0)->GetName() == item->GetName()) {
            // The group's hidden first item carries the chosen entry.
            item->GetSubItem(0)->SetValue(item->GetValue());
            source = item->GetSubItem(0);
        }
        const std::string wanted = source->GetValue().ToText();
        NodeList_t entries;
        TryGetEnumEntries(p, entries);
        INode* chosen = nullptr;
        for (INode* entry : entries)
            if (entry && SafeIsAvailable(entry) && EnumEntryText(entry) == wanted) {
                chosen = entry;
                break;
            }
        if (!chosen) break;
        CEnumEntryPtr current = SafeGetEnumCurrentEntry(p);
        if (dynamic_cast<INode*>(static_cast<IEnumEntry*>(current)) == chosen) break;
        changed = true;
        TrySetEnumValue(p, SafeGetEnumEntrySymbolic(CEnumEntryPtr(chosen)));
        if (!ItemReplaced(item) || item->IsGroup()) {
            if (feature->GetName() == "PixelFormat") PixelFormatCheck();
        }
        break;
    }
    default:
        wrote = false;
        return false;
    }
    return changed;
}

std::string CheckPixelFormat(ICameraApi& api, HCAMERA camera) {
    api.ResourceAlloc(camera);
    uint32_t size = 0;
    std::string failure;
    if (!api.GetBMPINFO(camera, nullptr, &size, FALSE))
        failure = api.GetLastError() == STATUSQORCAM_NO_SUPPORT_PIXELFORMAT ? "Not Support PixelFormat"
                                                                            : "Get BMPINFO Error";
    api.ResourceRelease(camera);
    return failure;
}

void CCameraProperty::PixelFormatCheck() {
    const std::string failure = CheckPixelFormat(host_.Api(), changedChild_->hCamera);
    if (!failure.empty()) host_.MessageBox(failure);
}

void CCameraProperty::OnChangeSelection(CPropertyGridProperty* newItem, CPropertyGridProperty* /*oldItem*/) {
    CChildFrame* active = host_.ActiveChild();
    if (!newItem || !active || !active->nodeMap) return;
    INodeMap* map = active->nodeMap;
    try {
        CCategoryPtr root(map->GetNode("Root"));
        INode* found = nullptr;
        std::function<void(INode*)> walk = [&](INode* category) {
            for (INode* feature : CCategoryPtr(category)->GetFeatures()) {
                if (found || !feature) return;
                const bool isCategory = feature->GetPrincipalInterfaceType() == intfICategory;
                if (isCategory && feature->GetDisplayName() == newItem->GetName()) {
                    found = feature;
                } else if (!isCategory && feature->GetDisplayName() == newItem->GetName() &&
                           feature->GetDescription() == newItem->GetDescription()) {
                    found = feature;
                } else if (isCategory) {
                    walk(feature);
                }
            }
        };
        walk(root->GetNode());
        if (!found) return;
        host_.FeatureSelected(found, map);
        selectedItem = newItem;
        selectedName = newItem->GetName();
        selectedDescription = newItem->GetDescription();
    } catch (...) {
    }
}

void CCameraProperty::OnDrawProperty(CPropertyGridProperty* item) {
    if (!item || !item->IsGroup() || pane_.level == kLevelFavorite) return;
    auto* map = pane_.ExpansionMap();
    if (!map) return;
    auto it = map->find(item->GetName());
    if (item->IsExpanded()) {
        if (it == map->end() || it->second == 0) {
            host_.PostPropertyRefresh(item);
            (*map)[item->GetName()] = 1;
        }
    } else if (it == map->end() || it->second != 2) {
        (*map)[item->GetName()] = 0;
    }
}

} // namespace qorcam::viewer
