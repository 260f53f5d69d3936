// PropertyGrid: the top-level items of the feature grid and the remembered selection.
#include "PropertyGrid.h"

#include <algorithm>

namespace qorcam::viewer {

CPropertyGridProperty* PropertyGrid::AddProperty(std::unique_ptr<CPropertyGridProperty> item) {
    items_.push_back(std::move(item));
    return items_.back().get();
}

bool PropertyGrid::DeleteProperty(CPropertyGridProperty* item) {
    auto it = std::find_if(items_.begin(), items_.end(), [item](auto& p) { return p.get() == item; });
    if (it == items_.end()) return false;
    Forget(item);
    items_.erase(it);
    return true;
}

void PropertyGrid::Forget(CPropertyGridProperty* subtree) {
    subtree->ForEach([this](CPropertyGridProperty* p) {
        if (p == current_) current_ = nullptr;
        if (p == selectedItem) selectedItem = nullptr;
    });
}

void PropertyGrid::RemoveAll() {
    items_.clear();
    current_ = nullptr;
    selectedItem = nullptr;
}

CPropertyGridProperty* PropertyGrid::FindItem(uint64_t id) const {
    CPropertyGridProperty* found = nullptr;
    for (auto& top : items_) {
        top->ForEach([&](CPropertyGridProperty* p) {
            if (!found && p->Id() == id) found = p;
        });
        if (found) break;
    }
    return found;
}

bool PropertyGrid::Contains(const CPropertyGridProperty* item) const {
    if (!item) return false;
    bool found = false;
    for (auto& top : items_)
        top->ForEach([&](CPropertyGridProperty* p) { found = found || p == item; });
    return found;
}

void PropertyGrid::ExpandAll() {
    for (auto& top : items_)
        top->ForEach([](CPropertyGridProperty* p) {
            if (p->IsGroup()) p->Expand(true);
        });
}

} // namespace qorcam::viewer
