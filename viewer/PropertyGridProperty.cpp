// PropertyGridProperty: the items of the feature grid (one per feature or category) and their values.
#include "PropertyGridProperty.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>

namespace qorcam::viewer {
namespace {
std::atomic<uint64_t> g_nextId{1};
}

std::string GridValue::ToText() const {
    char buf[64];
    switch (kind) {
    case Kind::Empty:
        return {};
    case Kind::Int:
    case Kind::I4:
        std::snprintf(buf, sizeof buf, "%lld", static_cast<long long>(integer));
        return buf;
    case Kind::Bool:
        return boolean ? "True" : "False";
    case Kind::R8:
        std::snprintf(buf, sizeof buf, "%f", real);
        return buf;
    case Kind::Text:
        return text;
    }
    return {};
}

int64_t GridValue::AsInt64() const {
    switch (kind) {
    case Kind::Int:
    case Kind::I4:
        return integer;
    case Kind::Bool:
        return boolean ? 1 : 0;
    case Kind::R8:
        return static_cast<int64_t>(real);
    case Kind::Text:
        return std::strtoll(text.c_str(), nullptr, 10);
    default:
        return 0;
    }
}

double GridValue::AsDouble() const {
    switch (kind) {
    case Kind::R8:
        return real;
    case Kind::Text:
        return std::strtod(text.c_str(), nullptr);
    default:
        return static_cast<double>(AsInt64());
    }
}

bool GridValue::AsBool() const {
    if (kind == Kind::Text) return text == "True" || text == "TRUE" || text == "1";
    return AsInt64() != 0;
}

CPropertyGridProperty::CPropertyGridProperty(std::string name, std::string description, bool isGroup)
    : id_(g_nextId++), name_(std::move(name)), description_(std::move(description)), group_(isGroup) {}

CPropertyGridProperty::CPropertyGridProperty(std::string name, GridValue value, std::string description)
    : id_(g_nextId++), name_(std::move(name)), description_(std::move(description)),
      value_(std::move(value)) {}

CPropertyGridProperty::~CPropertyGridProperty() = default;

void CPropertyGridProperty::SetValue(const GridValue& value) {
    if (value_.kind == GridValue::Kind::Bool && value.kind == GridValue::Kind::Text) {
        value_.boolean = value.AsBool();
        return;
    }
    value_ = value;
}

bool CPropertyGridProperty::IsParentExpanded() const {
    for (auto* p = parent_; p; p = p->parent_)
        if (!p->expanded_) return false;
    return true;
}

void CPropertyGridProperty::EnableSpinControl(bool enable, int64_t min, int64_t max) {
    spin_ = enable;
    spinMin_ = min;
    spinMax_ = max;
}

CPropertyGridProperty* CPropertyGridProperty::AddSubItem(std::unique_ptr<CPropertyGridProperty> item) {
    item->parent_ = this;
    children_.push_back(std::move(item));
    return children_.back().get();
}

bool CPropertyGridProperty::RemoveSubItem(CPropertyGridProperty* item) {
    auto it = std::find_if(children_.begin(), children_.end(), [item](auto& c) { return c.get() == item; });
    if (it == children_.end()) return false;
    children_.erase(it);
    return true;
}

ReadOnlyPropertyGridProperty::ReadOnlyPropertyGridProperty(std::string name, std::string text,
                                                           std::string description)
    : CPropertyGridProperty(std::move(name), GridValue::Text(std::move(text)), std::move(description)) {
    textColour_ = 0xFF0000;
    AllowEdit(false);
}

ReadOnlySelectorPropertyGridProperty::ReadOnlySelectorPropertyGridProperty(std::string name, std::string text,
                                                                           std::string description)
    : CPropertyGridProperty(std::move(name), std::move(description), true) {
    CPropertyGridProperty::SetValue(GridValue::Text(std::move(text)));
    textColour_ = 0xFF0000;
    AllowEdit(false);
}

} // namespace qorcam::viewer
