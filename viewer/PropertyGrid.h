// PropertyGrid: the top-level items of the feature grid and the remembered selection.
#pragma once

#include "PropertyGridProperty.h"

#include <memory>
#include <string>
#include <vector>

namespace qorcam::viewer {

/// The grid's content without any drawing: top-level items in order, owned
/// here. A view shows it and reports edits, selection and expansion back.
class PropertyGrid {
public:
    virtual ~PropertyGrid() = default;

    CPropertyGridProperty* AddProperty(std::unique_ptr<CPropertyGridProperty> item);
    /// Removes and deletes a top-level item; false when it is not one.
    bool DeleteProperty(CPropertyGridProperty* item);
    void RemoveAll();
    size_t GetPropertyCount() const { return items_.size(); }
    CPropertyGridProperty* GetProperty(size_t i) const { return items_.at(i).get(); }
    /// The item with this id anywhere in the grid, or null.
    CPropertyGridProperty* FindItem(uint64_t id) const;
    /// Whether the pointer is an item of the grid now.
    bool Contains(const CPropertyGridProperty* item) const;
    void ExpandAll();
    /// Drops the grid's pointers into an item and its sub-items before they are deleted.
    void Forget(CPropertyGridProperty* subtree);

    bool alphabetic = false;
    CPropertyGridProperty* GetCurSel() const { return current_; }
    void SetCurSel(CPropertyGridProperty* item) { current_ = item; }

    /// The selection remembered across rebuilds: the item, its name and description.
    CPropertyGridProperty* selectedItem = nullptr;
    std::string selectedName;
    std::string selectedDescription;

private:
    std::vector<std::unique_ptr<CPropertyGridProperty>> items_;
    CPropertyGridProperty* current_ = nullptr;
};

} // namespace qorcam::viewer
