// PropertiesWnd: the feature grid pane's logic: building the grid from the node map and refreshing it.
#include "PropertiesWnd.h"

#include "FeatureAccess.h"
#include "ValueText.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <limits>

namespace qorcam::viewer {

using namespace genapi;

namespace {

constexpr unsigned kFirstRefreshTimer = 10;
constexpr unsigned kRefreshTimer = 1;

bool Available(EAccessMode mode) {
    return mode != NI && mode != NA && mode != _UndefinedAccesMode;
}

/// Display name of the current entry when it is available, else empty.
std::string CurrentEntryName(CEnumerationPtr e) {
    CEnumEntryPtr entry = SafeGetEnumCurrentEntry(e);
    if (!entry.IsValid()) return {};
    INode* node = dynamic_cast<INode*>(static_cast<IEnumEntry*>(entry));
    if (!node || !SafeIsAvailable(node)) return {};
    return EnumEntryText(node);
}

/// The text form of an integer (IPv4, hex, or FormatIntValue), and whether
/// the value fits a number item instead.
struct IntForm {
    int64_t value = 0;
    bool number = false;
    int64_t min = 0, max = 0;
    std::string text;
};

IntForm ReadIntForm(INode* node) {
    CIntegerPtr p(node);
    IntForm f;
    f.value = SafeGetIntValue(p);
    ERepresentation rep = SafeGetIntRepresentation(p);
    if (rep == IPV4Address) {
        f.text = FormatIPv4Value(f.value);
    } else if (rep == HexNumber) {
        f.text = FormatHexValue(f.value);
    } else {
        f.min = SafeGetIntMin(p);
        f.max = SafeGetIntMax(p);
        if (f.min <= f.max && f.min >= -2147483648LL && f.max < 2147483648LL) {
            f.number = true;
            f.text = std::to_string(f.value);
        } else {
            f.text = FormatIntValue(f.value, f.min < f.max);
        }
    }
    return f;
}

std::unique_ptr<CPropertyGridProperty> ReadOnly(INode* n, std::string text) {
    return std::make_unique<ReadOnlyPropertyGridProperty>(n->GetDisplayName(), std::move(text),
                                                          n->GetDescription());
}

} // namespace

CPropertiesWnd::CPropertiesWnd(IViewerHost& host) : host_(host), m_wndPropList(host, *this) {}

CPropertiesWnd::~CPropertiesWnd() {
    StopRefresh([] {});
}

bool CPropertiesWnd::ActiveChanged() {
    CChildFrame* active = host_.ActiveChild();
    return active != builtFor_ || !active || !host_.IsChildOfFrame(active);
}

void CPropertiesWnd::ClearGrid() {
    m_wndPropList.RemoveAll();
    topLevel_.clear();
    refreshMap_.clear();
}

void CPropertiesWnd::OnLevelChanged(uint32_t newLevel) {
    level = newLevel < 4 ? newLevel : 0;
    RebuildPropertyList();
}

void CPropertiesWnd::RebuildPropertyList() {
    if (!host_.IsPaneShown()) return;
    host_.KillTimer(kFirstRefreshTimer);
    firstBuild_ = false;
    std::lock_guard lock(gridLock_);
    CChildFrame* active = host_.ActiveChild();
    if (active && host_.IsChildOfFrame(active) && active->gridFlag) {
        if (active != builtFor_ || level.load() != builtLevel_) ClearGrid();
        builtFor_ = active;
        builtLevel_ = level;
        nodeMap_ = active->nodeMap;
        host_.ShowLevel(level);
        BuildCategoryGroups();
    } else {
        ClearGrid();
        builtFor_ = nullptr;
        nodeMap_ = nullptr;
    }
}

bool CPropertiesWnd::CheckCameraConnection() {
    CChildFrame* active = host_.ActiveChild();
    if (!active) return false;
    BOOL connected = FALSE;
    if (host_.Api().Camera(active->hCamera, &connected) && connected) return true;
    if (host_.IsChildOfFrame(active)) {
        host_.SendCameraCheck(active, 1, 1);
        host_.SendCameraCheck(active, 0, 1);
    }
    return false;
}

void CPropertiesWnd::BuildCategoryGroups() {
    m_wndPropList.selectedItem = nullptr;
    selectionToRestore = nullptr;
    volatileFlag = false;
    refreshMap_.clear();
    if (!CheckCameraConnection()) return;
    if (!nodeMap_) return;
    auto& expansion = expansion_ ? *expansion_ : noExpansion_;
    try {
        CCategoryPtr root(nodeMap_->GetNode("Root"));
        NodeList_t features = root->GetFeatures();
        for (INode* feature : features) {
            if (ActiveChanged()) return;
            if (!feature || feature->GetPrincipalInterfaceType() != intfICategory) continue;
            if (level != kLevelFavorite && feature->GetVisibility() > static_cast<EVisibility>(level.load()))
                continue;
            const std::string display = feature->GetDisplayName();
            const std::string description = feature->GetDescription();
            CPropertyGridProperty* group = nullptr;
            for (auto* top : topLevel_)
                if (top->GetName() == display) group = top;
            bool isNew = false;
            std::unique_ptr<CPropertyGridProperty> made;
            if (group) {
                auto it = expansion.find(display);
                if (it == expansion.end() || it->second == 0) continue;
            } else {
                made = std::make_unique<CPropertyGridProperty>(display, description, true);
                group = made.get();
                topLevel_.push_back(group);
                isNew = true;
            }
            favouriteSeen = false;
            buildMarker = 0;
            auto state = expansion.find(display);
            if (state != expansion.end() && state->second != 0) {
                BuildFeatureItems(group, feature, false, false, nullptr);
                if (buildMarker == 0) buildMarker = 1;
            }
            if (buildMarker == 0) {
                if (level != kLevelFavorite) {
                    BuildFeatureItems(group, feature, false, false, nullptr);
                    group->Expand(false);
                    if (buildMarker == 2) buildMarker = 0;
                } else {
                    BuildFeatureItems(group, feature, false, false, nullptr);
                }
            }
            if (isNew) m_wndPropList.AddProperty(std::move(made));
            if (buildMarker != 0) group->Expand(true);
            if (level == kLevelFavorite) {
                if (!favouriteSeen) {
                    topLevel_.erase(std::find(topLevel_.begin(), topLevel_.end(), group));
                    m_wndPropList.DeleteProperty(group);
                } else {
                    group->Expand(true);
                }
            }
            if (ActiveChanged()) return;
        }
    } catch (...) {
        // A description without "Root", or a node map that failed under the
        // walk: the grid keeps what was built so far.
    }
    if (volatileFlag)
        host_.SetTimer(kFirstRefreshTimer, 1000);
    else
        host_.KillTimer(kFirstRefreshTimer);
    if (selectionToRestore && m_wndPropList.Contains(selectionToRestore)) {
        m_wndPropList.SetCurSel(selectionToRestore);
        m_wndPropList.selectedItem = selectionToRestore;
    }
}

void CPropertiesWnd::ForgetSubtree(CPropertyGridProperty* item) {
    item->ForEach([this](CPropertyGridProperty* p) {
        if (p == selectionToRestore) selectionToRestore = nullptr;
        refreshMap_.erase(p->Id());
    });
    m_wndPropList.Forget(item);
}

void CPropertiesWnd::RemoveItem(CPropertyGridProperty* parent, CPropertyGridProperty* item) {
    ForgetSubtree(item);
    item->Show(false);
    parent->RemoveSubItem(item);
}

int CPropertiesWnd::BuildFeatureItems(CPropertyGridProperty* parent, INode* node, bool collapsed,
                                      bool selectorMode, std::vector<std::string>* names) {
    if (!parent || !node) return 0;
    auto& expansion = expansion_ ? *expansion_ : noExpansion_;
    int count = 0;
    // 1. The parent's sub-items, and the features to show.
    std::vector<CPropertyGridProperty*> collected;
    for (size_t i = 0; i < parent->GetSubItemsCount(); ++i)
        collected.push_back(parent->GetSubItem(i));
    NodeList_t features;
    try {
        if (selectorMode)
            features = CSelectorPtr(node)->GetSelectedFeatures();
        else
            features = CCategoryPtr(node)->GetFeatures();
    } catch (...) {
        return 0;
    }
    auto takeMatch = [&collected](const std::string& name, const std::string& description, bool remove) {
        for (auto it = collected.begin(); it != collected.end(); ++it) {
            if ((*it)->GetName() == name && (*it)->GetDescription() == description) {
                CPropertyGridProperty* item = *it;
                if (remove) collected.erase(it);
                return item;
            }
        }
        return static_cast<CPropertyGridProperty*>(nullptr);
    };

    // 2. Items whose feature changed its access mode are made anew.
    for (INode* feature : features) {
        if (ActiveChanged()) return count;
        if (!feature) continue;
        CPropertyGridProperty* item = takeMatch(feature->GetDisplayName(), feature->GetDescription(), false);
        if (item && item->accessMode != SafeGetAccessMode(feature)) {
            collected.erase(std::find(collected.begin(), collected.end(), item));
            RemoveItem(parent, item);
        }
    }

    // 3. Make or update one item per feature.
    std::vector<std::string> selectorNames;
    for (INode* feature : features) {
        if (ActiveChanged()) return count;
        if (!feature) continue;
        try {
            const EAccessMode access = SafeGetAccessMode(feature);
            const std::string display = feature->GetDisplayName();
            const std::string description = feature->GetDescription();
            const std::string name = feature->GetName();
            CPropertyGridProperty* existing = takeMatch(display, description, true);
            const EInterfaceType type = feature->GetPrincipalInterfaceType();
            bool skipped = !Available(access);
            CPropertyGridProperty* item = existing;
            std::unique_ptr<CPropertyGridProperty> made;
            bool added = existing != nullptr;
            bool hidden = false;
            bool allowEdit = false;

            if (!skipped && type == intfICategory) {
                if (!item) {
                    made = std::make_unique<CPropertyGridProperty>(display, description, true);
                    made->accessMode = access;
                    item = parent->AddSubItem(std::move(made));
                    added = true;
                }
                auto state = expansion.find(display);
                const bool builtCollapsed = collapsed || state == expansion.end() || state->second == 0;
                BuildFeatureItems(item, feature, builtCollapsed, false, nullptr);
                if (ActiveChanged()) return count;
                item->Expand(!builtCollapsed);
                allowEdit = false;
            }
            if (!skipped && level == kLevelFavorite) {
                if (!host_.IsFavourite(name)) continue;
                favouriteSeen = true;
            } else if (!skipped) {
                hidden = feature->GetVisibility() > static_cast<EVisibility>(level.load());
            }
            if (!skipped && type != intfICategory) {
                CPropertyGridProperty* result =
                    MakeOrUpdate(feature, existing, access, hidden, collapsed, selectorNames, allowEdit);
                if (!result) {
                    skipped = true; // a kind without an item
                } else if (result != existing) {
                    made.reset(result);
                    item = result;
                }
            }
            if (!skipped && !selectorMode) {
                auto it = std::find(selectorNames.begin(), selectorNames.end(), name);
                if (it != selectorNames.end()) {
                    selectorNames.erase(it);
                    skipped = true;
                }
            }
            if (skipped) {
                // A feature shown under a selector, or no longer available,
                // leaves no item of its own behind here.
                if (existing && type != intfICategory) RemoveItem(parent, existing);
                if (made) ForgetSubtree(made.get());
                continue;
            }
            item->accessMode = access;
            item->AllowEdit(allowEdit);
            if (!added) {
                item = parent->AddSubItem(std::move(made));
                item->Show(true);
            }
            buildMarker = 2;
            if (selectorMode && names) {
                names->push_back(name);
                ++count;
            }
            if (!m_wndPropList.selectedName.empty() && !selectionToRestore &&
                item->GetName() == m_wndPropList.selectedName &&
                item->GetDescription() == m_wndPropList.selectedDescription)
                selectionToRestore = item;
            if (!feature->IsCachable() && type != intfICommand) {
                volatileFlag = true;
                refreshMap_[item->Id()] = feature;
            }
            if (hidden) item->Show(false);
        } catch (...) {
            // A node that fails while it is read is left out of this pass.
        }
    }

    // 4. Items whose feature is gone.
    if (!selectorMode)
        for (CPropertyGridProperty* item : collected)
            RemoveItem(parent, item);
    return count;
}

CPropertyGridProperty* CPropertiesWnd::BuildSelectorGroup(INode* feature, CPropertyGridProperty* group,
                                                          bool collapsed,
                                                          std::vector<std::string>& selectorNames) {
    auto& expansion = expansion_ ? *expansion_ : noExpansion_;
    CEnumerationPtr e(feature);
    const std::string display = feature->GetDisplayName();
    const std::string current = CurrentEntryName(e);
    std::unique_ptr<CPropertyGridProperty> made;
    if (!group) {
        made = std::make_unique<CPropertyGridProperty>(display, feature->GetDescription(), true);
        group = made.get();
        NodeList_t entries;
        TryGetEnumEntries(e, entries);
        for (INode* entry : entries)
            if (entry && SafeIsAvailable(entry)) group->AddOption(EnumEntryText(entry));
        group->SetValue(GridValue::Text(current));
        auto first = std::make_unique<CPropertyGridProperty>(display, GridValue::Text(current),
                                                             feature->GetDescription());
        first->Show(false);
        group->AddSubItem(std::move(first));
        auto state = expansion.find(display);
        const bool builtCollapsed = collapsed || state == expansion.end() || state->second == 0;
        BuildFeatureItems(group, feature, builtCollapsed, true, &selectorNames);
        group->Expand(!builtCollapsed);
        made.release();
        return group;
    }
    // The value shown on the group and its hidden first item follow the camera.
    if (group->GetValue().ToText() != current) {
        group->SetValue(GridValue::Text(current));
        if (group->GetSubItemsCount() > 0) group->GetSubItem(0)->SetValue(GridValue::Text(current));
    }
    if (group->IsExpanded()) {
        BuildFeatureItems(group, feature, false, true, &selectorNames);
    } else {
        try {
            for (INode* selected : CSelectorPtr(feature)->GetSelectedFeatures())
                if (selected) selectorNames.push_back(selected->GetName());
        } catch (...) {
        }
    }
    return group;
}

CPropertyGridProperty* CPropertiesWnd::MakeOrUpdate(INode* n, CPropertyGridProperty* item, EAccessMode access,
                                                    bool hidden, bool collapsed,
                                                    std::vector<std::string>& selectorNames,
                                                    bool& allowEdit) {
    const EInterfaceType type = n->GetPrincipalInterfaceType();
    const std::string display = n->GetDisplayName();
    const std::string description = n->GetDescription();
    switch (type) {
    case intfIInteger: {
        if (access == WO) {
            allowEdit = false;
            return item ? item : ReadOnly(n, "Write Only").release();
        }
        IntForm f = ReadIntForm(n);
        const bool locked = display == "TLParamsLocked";
        if (item) {
            if (f.number && access == RW &&
                (item->GetValue().kind == GridValue::Kind::Int ||
                 item->GetValue().kind == GridValue::Kind::I4)) {
                if (!hidden && item->GetValue().integer != static_cast<int32_t>(f.value))
                    item->SetValue(item->GetValue().kind == GridValue::Kind::I4 ? GridValue::I4(f.value)
                                                                                : GridValue::Int(f.value));
                allowEdit = !locked;
            } else {
                if (item->GetValue().ToText() != f.text) item->SetValue(GridValue::Text(f.text));
                allowEdit = false;
            }
            return item;
        }
        std::unique_ptr<CPropertyGridProperty> made;
        if (f.number && access == RW) {
            made = std::make_unique<CPropertyGridProperty>(display, GridValue::Int(f.value), description);
            made->numeric = true;
            made->EnableSpinControl(f.min != f.max, f.min, f.max);
            allowEdit = true;
        } else if (access == RW) {
            made = std::make_unique<CPropertyGridProperty>(display, GridValue::Text(f.text), description);
            made->numeric = true;
            allowEdit = false;
        } else {
            made = ReadOnly(n, f.text);
            allowEdit = false;
        }
        if (locked) {
            allowEdit = false;
            made->numeric = false;
        }
        return made.release();
    }
    case intfIBoolean: {
        CBooleanPtr p(n);
        allowEdit = false;
        if (item) {
            if (access == RO)
                item->SetValue(GridValue::Text(SafeGetBoolValue(p) ? "TRUE" : "FALSE"));
            else if (access == RW)
                item->SetValue(GridValue::Text(SafeGetBoolValue(p) ? "True" : "False"));
            else
                item->SetValue(GridValue::Text("Write Only"));
            return item;
        }
        std::unique_ptr<CPropertyGridProperty> made;
        if (access == WO) {
            made = ReadOnly(n, "Write Only");
            made->numeric = true;
        } else if (access == RO) {
            made = ReadOnly(n, SafeGetBoolValue(p) ? "TRUE" : "FALSE");
        } else {
            made = std::make_unique<CPropertyGridProperty>(display, GridValue::Bool(SafeGetBoolValue(p)),
                                                           description);
            made->AddOption("True");
            made->AddOption("False");
            made->numeric = true;
        }
        return made.release();
    }
    case intfICommand: {
        allowEdit = access != RO;
        if (item) return item;
        if (access == RO) return ReadOnly(n, "WAIT").release();
        auto made = std::make_unique<CPropertyGridProperty>(display, GridValue::Text("Wait"), description);
        made->AddOption("Wait");
        made->AddOption("Exec");
        made->numeric = true;
        return made.release();
    }
    case intfIFloat: {
        CFloatPtr p(n);
        if (access == WO) {
            allowEdit = false;
            return item ? item : ReadOnly(n, "Write Only").release();
        }
        const double value = SafeGetFloatValue(p);
        if (access == RO) {
            allowEdit = false;
            const std::string text = FormatFloatValue(static_cast<float>(value));
            if (item) {
                item->SetValue(GridValue::Text(text));
                return item;
            }
            return ReadOnly(n, text).release();
        }
        allowEdit = true;
        if (item) {
            if (static_cast<float>(item->GetValue().AsDouble()) != static_cast<float>(value))
                item->SetValue(GridValue::R8(value));
            return item;
        }
        return new CPropertyGridProperty(display, GridValue::R8(value), description);
    }
    case intfIString:
    case intfIRegister: {
        if (access == WO) {
            allowEdit = false;
            return item ? item : ReadOnly(n, "Write Only").release();
        }
        const std::string text =
            type == intfIString ? SafeStringToString(CStringPtr(n)) : SafeGetRegister(CRegisterPtr(n));
        allowEdit = access == RW;
        if (item) {
            if (item->GetValue().ToText() != text) item->SetValue(GridValue::Text(text));
            return item;
        }
        if (access == RO) return ReadOnly(n, text).release();
        return new CPropertyGridProperty(display, GridValue::Text(text), description);
    }
    case intfIEnumeration: {
        allowEdit = false;
        CEnumerationPtr e(n);
        if (SafeIsSelector(n)) {
            if (access == RO) {
                const std::string current = CurrentEntryName(e);
                if (item) {
                    if (item->GetValue().ToText() != current) item->SetValue(GridValue::Text(current));
                    return item;
                }
                return new ReadOnlySelectorPropertyGridProperty(display, current, description);
            }
            return BuildSelectorGroup(n, item, collapsed, selectorNames);
        }
        const std::string current = CurrentEntryName(e);
        if (item) {
            if (item->GetValue().ToText() != current) item->SetValue(GridValue::Text(current));
            return item;
        }
        if (access == RO) return ReadOnly(n, current).release();
        return new CPropertyGridProperty(display, GridValue::Text(current), description);
    }
    default:
        return nullptr;
    }
}

void CPropertiesWnd::StartPropertyRefresh() {
    CChildFrame* active = host_.ActiveChild();
    if (closed_ || refreshMode == kNoRefresh || !active || !host_.IsChildOfFrame(active) || !active->gridFlag)
        return;
    if (refreshBusy_.exchange(true)) return;
    host_.KillTimer(kFirstRefreshTimer);
    if (worker_.joinable()) worker_.join();
    stop_ = false;
    worker_ = std::thread([this] { PropertyRefreshThread(); });
}

void CPropertiesWnd::FinishCycle(unsigned ms) {
    host_.SetTimer(kRefreshTimer, ms);
    refreshBusy_ = false;
}

std::map<uint64_t, INode*> CPropertiesWnd::RefreshMapSnapshot() {
    std::lock_guard lock(gridLock_);
    return refreshMap_;
}

void CPropertiesWnd::PropertyRefreshThread() {
    INodeMap* noted;
    std::map<uint64_t, INode*> pairs;
    {
        std::lock_guard lock(gridLock_);
        noted = nodeMap_;
        pairs = refreshMap_;
    }
    unsigned count = 0;
    for (auto [id, node] : pairs) {
        if (stop_) break;
        GridValue value;
        {
            std::lock_guard lock(gridLock_);
            auto it = refreshMap_.find(id);
            CPropertyGridProperty* item = m_wndPropList.FindItem(id);
            if (it == refreshMap_.end() || it->second != node || !item) return FinishCycle(1000);
            if (!item->IsParentExpanded()) continue;
            const EAccessMode access = SafeGetAccessMode(node);
            if (access != RO && access != RW) continue;
            std::string name;
            EInterfaceType type;
            EVisibility visibility;
            try {
                name = node->GetName();
                type = node->GetPrincipalInterfaceType();
                visibility = node->GetVisibility();
            } catch (...) {
                continue;
            }
            if (refreshMode == kRefreshSelectItem && !host_.IsRefreshSelected(name)) continue;
            if (level != kLevelFavorite && visibility > static_cast<EVisibility>(level.load())) continue;
            if (level == kLevelFavorite && !host_.IsFavourite(name)) continue;
            if (!item->IsEnabled()) continue;
            CChildFrame* active = host_.ActiveChild();
            if (!active || active->nodeMap != noted) return FinishCycle(1000);
            const bool editable = item->IsAllowEdit();
            switch (type) {
            case intfIValue:
                value = GridValue::Text(SafeValueToString(CValuePtr(node)));
                break;
            case intfIInteger:
                if (editable) {
                    value = GridValue::Int(SafeGetIntValue(CIntegerPtr(node)));
                } else {
                    value = GridValue::Text(ReadIntForm(node).text);
                }
                break;
            case intfIBoolean: {
                const bool b = SafeGetBoolValue(CBooleanPtr(node));
                value = GridValue::Text(access == RO ? (b ? "TRUE" : "FALSE") : (b ? "True" : "False"));
                break;
            }
            case intfIFloat:
                if (editable)
                    value = GridValue::R8(SafeGetFloatValue(CFloatPtr(node)));
                else
                    value = GridValue::Text(FormatFloatValue(SafeGetFloatValue(CFloatPtr(node))));
                break;
            case intfIString:
                value = GridValue::Text(SafeStringToString(CStringPtr(node)));
                break;
            case intfIRegister:
                value = GridValue::Text(SafeGetRegister(CRegisterPtr(node)));
                break;
            case intfIEnumeration:
                value = GridValue::Text(CurrentEntryName(CEnumerationPtr(node)));
                break;
            default:
                continue;
            }
        }
        host_.SendGridValue(id, value);
        ++count;
        std::this_thread::sleep_for(std::chrono::milliseconds(15));
    }
    const long long rest = 1000LL - 15LL * count;
    FinishCycle(static_cast<unsigned>(std::max(rest, 15LL)));
}

void CPropertiesWnd::ApplyGridValue(uint64_t itemId, const GridValue& value) {
    std::lock_guard lock(gridLock_);
    if (CPropertyGridProperty* item = m_wndPropList.FindItem(itemId)) item->SetValue(value);
}

void CPropertiesWnd::StopRefresh(const std::function<void()>& pump) {
    // Once stopped, no timer starts a cycle again: the pane is going away.
    closed_ = true;
    stop_ = true;
    while (refreshBusy_ && worker_.joinable())
        pump();
    if (worker_.joinable()) worker_.join();
}

} // namespace qorcam::viewer
