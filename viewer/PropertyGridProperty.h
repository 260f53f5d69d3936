// PropertyGridProperty: the items of the feature grid (one per feature or category) and their values.
#pragma once

#include "genapi/Types.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace qorcam::viewer {

/// The value an item holds, typed the way the grid edits it.
struct GridValue {
    enum class Kind { Empty, Int, I4, Bool, R8, Text };
    Kind kind = Kind::Empty;
    int64_t integer = 0;
    double real = 0.0;
    bool boolean = false;
    std::string text;

    static GridValue Int(int64_t v) { return {Kind::Int, static_cast<int32_t>(v), 0.0, false, {}}; }
    static GridValue I4(int64_t v) { return {Kind::I4, static_cast<int32_t>(v), 0.0, false, {}}; }
    static GridValue Bool(bool v) { return {Kind::Bool, 0, 0.0, v, {}}; }
    static GridValue R8(double v) { return {Kind::R8, 0, v, false, {}}; }
    static GridValue Text(std::string v) { return {Kind::Text, 0, 0.0, false, std::move(v)}; }

    /// As the grid shows it.
    std::string ToText() const;
    int64_t AsInt64() const;
    double AsDouble() const;
    bool AsBool() const;
    bool operator==(const GridValue&) const = default;
};

/// One item of the grid: a feature's value, or a group (category or
/// selector). Guarantees: sub-items are owned by their parent and deleted
/// with it; every item has an id unique in the process, so a worker may name
/// an item without holding a pointer that a rebuild could free.
class CPropertyGridProperty {
public:
    /// A group item (category, or a value-list group with options).
    CPropertyGridProperty(std::string name, std::string description, bool isGroup = true);
    /// A value item.
    CPropertyGridProperty(std::string name, GridValue value, std::string description);
    virtual ~CPropertyGridProperty();
    CPropertyGridProperty(const CPropertyGridProperty&) = delete;
    CPropertyGridProperty& operator=(const CPropertyGridProperty&) = delete;

    uint64_t Id() const { return id_; }
    const std::string& GetName() const { return name_; }
    const std::string& GetDescription() const { return description_; }
    bool IsGroup() const { return group_; }

    const GridValue& GetValue() const { return value_; }
    /// Keeps the item's kind where the grid edits it as such: a text "True"
    /// or "False" on a boolean item sets the boolean.
    virtual void SetValue(const GridValue& value);

    void AddOption(std::string option) { options_.push_back(std::move(option)); }
    const std::vector<std::string>& GetOptions() const { return options_; }

    bool IsAllowEdit() const { return allowEdit_; }
    void AllowEdit(bool allow) { allowEdit_ = allow; }
    bool IsEnabled() const { return enabled_; }
    void Enable(bool enable) { enabled_ = enable; }
    bool IsVisible() const { return shown_; }
    void Show(bool show) { shown_ = show; }
    bool IsExpanded() const { return expanded_; }
    void Expand(bool expand = true) { expanded_ = expand; }
    /// True when every group above the item is expanded.
    bool IsParentExpanded() const;

    void EnableSpinControl(bool enable, int64_t min, int64_t max);
    bool HasSpin() const { return spin_; }
    int64_t SpinMin() const { return spinMin_; }
    int64_t SpinMax() const { return spinMax_; }

    /// Read-only items draw their value in this colour (0 for the default).
    uint32_t TextColour() const { return textColour_; }
    virtual bool IsReadOnlyItem() const { return false; }

    // Fields the builder keeps with each item.
    bool numeric = false;
    genapi::EAccessMode accessMode = genapi::_UndefinedAccesMode;

    CPropertyGridProperty* GetParent() const { return parent_; }
    size_t GetSubItemsCount() const { return children_.size(); }
    CPropertyGridProperty* GetSubItem(size_t i) const { return children_.at(i).get(); }
    CPropertyGridProperty* AddSubItem(std::unique_ptr<CPropertyGridProperty> item);
    /// Removes and deletes a direct sub-item; false when it is not one.
    bool RemoveSubItem(CPropertyGridProperty* item);
    /// Visits the item and everything below it, depth first.
    template <class F> void ForEach(F&& f) {
        f(this);
        for (auto& c : children_)
            c->ForEach(f);
    }

protected:
    uint32_t textColour_ = 0;

private:
    friend class PropertyGrid;
    uint64_t id_;
    std::string name_;
    std::string description_;
    bool group_ = false;
    GridValue value_;
    std::vector<std::string> options_;
    bool allowEdit_ = true;
    bool enabled_ = true;
    bool shown_ = true;
    bool expanded_ = false;
    bool spin_ = false;
    int64_t spinMin_ = 0, spinMax_ = 0;
    CPropertyGridProperty* parent_ = nullptr;
    std::vector<std::unique_ptr<CPropertyGridProperty>> children_;
};

/// A value item that cannot be edited, drawn in red.
class ReadOnlyPropertyGridProperty : public CPropertyGridProperty {
public:
    ReadOnlyPropertyGridProperty(std::string name, std::string text, std::string description);
    bool IsReadOnlyItem() const override { return true; }
};

/// The group item of a read-only selector, drawn like a read-only item.
class ReadOnlySelectorPropertyGridProperty : public CPropertyGridProperty {
public:
    ReadOnlySelectorPropertyGridProperty(std::string name, std::string text, std::string description);
    bool IsReadOnlyItem() const override { return true; }
};

} // namespace qorcam::viewer
