// FeatureEditor: the feature editor pane's logic: one feature's controls, its writes and its marks.
#include "FeatureEditor.h"

#include "FeatureAccess.h"
#include "ValueLimits.h"
#include "ValueText.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <limits>

namespace qorcam::viewer {

using namespace genapi;

namespace {

constexpr int64_t kSliderLimit = 2147483647; // 2^31 - 1, the slider's largest position
constexpr int32_t kFloatSteps = 65535;
/// A register longer than this is neither shown nor written.
constexpr int64_t kMaxRegisterLength = 4 * 1024 * 1024;
const char* const kWriteOnly = "Write Only";

std::string CurrentEntryName(CEnumerationPtr e) {
    CEnumEntryPtr entry = SafeGetEnumCurrentEntry(e);
    INode* node = dynamic_cast<INode*>(static_cast<IEnumEntry*>(entry));
    return EnumEntryText(node);
}

std::string RegisterText(CRegisterPtr p) {
    const int64_t length = SafeGetRegisterLength(p);
    if (length <= 0 || length > kMaxRegisterLength) return {};
    std::vector<uint8_t> bytes(static_cast<size_t>(length));
    if (!TryGetRegister(p, bytes.data(), length)) return {};
    return FormatRegisterBytes(bytes.data(), bytes.size());
}

} // namespace

// ---- slider mappings ----

IntSliderMapping IntSliderMapping::For(int64_t min, int64_t max, int64_t inc) {
    IntSliderMapping m;
    m.min = min;
    m.span = max > min ? static_cast<uint64_t>(max) - static_cast<uint64_t>(min) : 0;
    // A zero increment (a node that reported none, or could not be read)
    // counts as 1 rather than dividing by it.
    m.step = inc > 0 ? static_cast<uint64_t>(inc) : inc < 0 ? 0 - static_cast<uint64_t>(inc) : 1;
    const bool direct = !((min <= 0 && max > kSliderLimit) || (max >= 0 && min < -kSliderLimit) ||
                          m.span > static_cast<uint64_t>(kSliderLimit));
    if (direct) {
        m.mode = Mode::Direct;
        m.steps = m.span;
        m.rangeMax = static_cast<int32_t>(m.span);
        m.tick = static_cast<int32_t>(std::min<uint64_t>(m.step, kSliderLimit));
        return m;
    }
    m.steps = m.span / m.step;
    m.tick = 1;
    if (m.steps > static_cast<uint64_t>(kSliderLimit)) {
        m.mode = Mode::Scaled;
        m.rangeMax = static_cast<int32_t>(kSliderLimit);
    } else {
        m.mode = Mode::Steps;
        m.rangeMax = static_cast<int32_t>(m.steps);
    }
    return m;
}

int32_t IntSliderMapping::Position(int64_t value) const {
    if (value <= min) return 0;
    const uint64_t offset = std::min(static_cast<uint64_t>(value) - static_cast<uint64_t>(min), span);
    uint64_t position;
    switch (mode) {
    case Mode::Direct:
        position = offset;
        break;
    case Mode::Steps:
        position = offset / step;
        break;
    default: {
        const float scaled = static_cast<float>(offset) * 2147483648.0f / static_cast<float>(steps);
        position =
            scaled < 2147483648.0f ? static_cast<uint64_t>(scaled) : static_cast<uint64_t>(kSliderLimit);
        break;
    }
    }
    return static_cast<int32_t>(std::min<uint64_t>(position, static_cast<uint64_t>(rangeMax)));
}

int64_t IntSliderMapping::Value(int32_t position) const {
    const uint64_t p = static_cast<uint64_t>(std::clamp<int32_t>(position, 0, rangeMax));
    uint64_t offset;
    switch (mode) {
    case Mode::Direct:
        offset = p;
        break;
    case Mode::Steps:
        offset = p * step;
        break;
    default: {
        const float scaled = static_cast<float>(p) * static_cast<float>(steps) / 2147483648.0f;
        offset = scaled < 18446744073709551616.0f ? static_cast<uint64_t>(scaled) : span;
        break;
    }
    }
    return static_cast<int64_t>(static_cast<uint64_t>(min) + std::min(offset, span));
}

FloatSliderMapping FloatSliderMapping::For(double min, double max, double inc) {
    FloatSliderMapping m;
    m.min = min;
    m.max = max;
    if (!(max > min) || !std::isfinite(max - min)) return m;
    double steps = kFloatSteps;
    if (inc > 0 && std::isfinite(inc)) steps = std::min(std::trunc((max - min) / inc), double{kFloatSteps});
    m.rangeMax = static_cast<int32_t>(std::max(steps, 0.0));
    return m;
}

int32_t FloatSliderMapping::Position(double value) const {
    if (rangeMax <= 0 || !std::isfinite(value)) return 0;
    const double p = std::trunc((value - min) * rangeMax / (max - min));
    return static_cast<int32_t>(std::clamp(p, 0.0, static_cast<double>(rangeMax)));
}

bool FloatSliderMapping::Value(int32_t position, double& value) const {
    if (rangeMax <= 0) return false;
    const double scale = rangeMax / (max - min);
    value = std::clamp(position, 0, rangeMax) / scale + min;
    return std::isfinite(value);
}

// ---- the pane ----

CPaneFeatureSet::CPaneFeatureSet(IViewerHost& viewer, IFeatureEditorHost& host)
    : viewer_(viewer), host_(host) {}

CChildFrame* CPaneFeatureSet::LiveChild() const {
    CChildFrame* active = viewer_.ActiveChild();
    if (!node_ || !map_ || !active || !viewer_.IsChildOfFrame(active) || !active->hCamera ||
        active->nodeMap != map_)
        return nullptr;
    return active;
}

bool CPaneFeatureSet::Live() const {
    return LiveChild() != nullptr;
}

void CPaneFeatureSet::HideValueControls() {
    form_.valueEdit.enabled = true;
    for (EditorControl* c : form_.ValueControls())
        c->visible = false;
    form_.sliderFocus = false;
}

void CPaneFeatureSet::ClearFeatureEditor() {
    node_ = nullptr;
    map_ = nullptr;
    item_ = nullptr;
    form_.favorite.enabled = false;
    form_.set.visible = false;
    form_.set.enabled = false;
    HideValueControls();
}

void CPaneFeatureSet::OnFeatureSelect(INode* node, CPropertyGridProperty* item) {
    if (sliderChanged_) {
        sliderChanged_ = 0;
        host_.RebuildPropertyList();
        ClearFeatureEditor();
    }
    CChildFrame* active = viewer_.ActiveChild();
    node_ = node;
    item_ = item;
    map_ = active ? active->nodeMap : nullptr;
    try {
        if (!node_ || !Live()) return ClearFeatureEditor();
        type_ = node->GetPrincipalInterfaceType();
        if (type_ == intfICategory) return ClearFeatureEditor();
        name_ = node->GetName();
        displayName_ = node->GetDisplayName();

        form_.favorite.enabled = true;
        form_.set.visible = false;
        form_.set.enabled = false;
        HideValueControls();
        form_.favorite.checked = viewer_.IsFavourite(name_);
        if (node->IsCachable() || type_ == intfICommand) {
            form_.refresh.visible = false;
        } else {
            form_.refresh.visible = true;
            form_.refresh.checked = viewer_.IsRefreshSelected(name_);
        }

        const EAccessMode access = SafeGetAccessMode(node);
        if (access != WO && access != RW) return;
        form_.set.visible = true;
        form_.set.enabled = true;
        switch (type_) {
        case intfIInteger:
            SetupInteger(access);
            break;
        case intfIBoolean:
            form_.set.visible = false;
            form_.combo.visible = true;
            form_.combo.items = {"False", "True"};
            form_.combo.selection = SafeGetBoolValue(CBooleanPtr(node)) ? 1 : 0;
            break;
        case intfICommand:
            form_.exec.visible = true;
            form_.set.visible = false;
            form_.set.enabled = false;
            break;
        case intfIFloat:
            SetupFloat(access);
            break;
        case intfIString:
            form_.valueEdit.visible = true;
            form_.value = access == WO ? kWriteOnly : SafeGetStringValue(CStringPtr(node));
            break;
        case intfIRegister:
            form_.valueEdit.visible = true;
            form_.value = access == WO ? kWriteOnly : RegisterText(CRegisterPtr(node));
            break;
        case intfIEnumeration: {
            form_.set.visible = false;
            form_.set.enabled = false;
            if (SafeIsSelector(node)) break;
            CEnumerationPtr e(node);
            form_.combo.visible = true;
            form_.combo.items.clear();
            NodeList_t entries;
            TryGetEnumEntries(e, entries);
            for (INode* entry : entries)
                if (entry && SafeIsAvailable(entry)) form_.combo.items.push_back(EnumEntryText(entry));
            const std::string current = CurrentEntryName(e);
            auto it = std::find(form_.combo.items.begin(), form_.combo.items.end(), current);
            form_.combo.selection = form_.combo.items.empty() ? -1
                                    : it == form_.combo.items.end()
                                        ? 0
                                        : static_cast<int>(it - form_.combo.items.begin());
            break;
        }
        default:
            break;
        }
    } catch (...) {
        ClearFeatureEditor();
    }
}

std::string CPaneFeatureSet::IntText(int64_t value) const {
    switch (representation_) {
    case IPV4Address:
        return FormatIPv4Value(value);
    case HexNumber:
        return FormatHexValue(value);
    default:
        return FormatIntValue(value, signed_);
    }
}

void CPaneFeatureSet::SetupInteger(EAccessMode access) {
    if (displayName_ == "TLParamsLocked") {
        // The transport layer's lock is shown, not edited: nothing to set.
        form_.set.visible = false;
        form_.set.enabled = false;
        return;
    }
    form_.valueEdit.visible = form_.minEdit.visible = form_.maxEdit.visible = form_.incEdit.visible = true;
    CIntegerPtr p(node_);
    const int64_t value = access == WO ? 0 : SafeGetIntValue(p);
    const int64_t min = SafeGetIntMin(p), max = SafeGetIntMax(p), inc = SafeGetIntInc(p);
    representation_ = SafeGetIntRepresentation(p);
    signed_ = min < max;
    form_.min = "Min : " + IntText(min);
    form_.max = "Max : " + IntText(max);
    form_.inc = "Inc : " + IntText(inc);
    form_.value = access == WO ? kWriteOnly : IntText(value);
    if (access != RW || representation_ == IPV4Address || max <= min) return;
    intSlider_ = IntSliderMapping::For(min, max, inc);
    form_.slider.visible = true;
    form_.slider.rangeMin = 0;
    form_.slider.rangeMax = intSlider_.rangeMax;
    form_.slider.tick = intSlider_.tick;
    form_.slider.position = intSlider_.Position(value);
    sliderPosition_ = static_cast<uint32_t>(form_.slider.position);
    form_.sliderFocus = true;
}

void CPaneFeatureSet::SetupFloat(EAccessMode access) {
    form_.valueEdit.visible = form_.minEdit.visible = form_.maxEdit.visible = form_.incEdit.visible = true;
    CFloatPtr p(node_);
    const double value = access == WO ? 0.0 : SafeGetFloatValue(p);
    const double inc = SafeFloatHasInc(p) ? SafeGetFloatInc(p) : 0.0;
    const double min = SafeGetFloatMin(p), max = SafeGetFloatMax(p);
    form_.min = "Min : " + FormatFloatValue(min);
    form_.max = "Max : " + FormatFloatValue(max);
    form_.inc = "Inc : " + FormatFloatValue(inc);
    form_.value = access == WO ? kWriteOnly : FormatFloatValue(value);
    if (access != RW) return;
    floatSlider_ = FloatSliderMapping::For(min, max, inc);
    form_.slider.visible = true;
    form_.slider.rangeMin = 0;
    form_.slider.rangeMax = floatSlider_.rangeMax;
    form_.slider.tick = 1;
    form_.slider.position = floatSlider_.Position(value);
    sliderPosition_ = static_cast<uint32_t>(form_.slider.position);
    form_.sliderFocus = true;
}

// ---- writes ----

bool CPaneFeatureSet::WriteInteger(EAccessMode access) {
    if (displayName_ == "TLParamsLocked") return false;
    // "Write Only" is what the edit shows, not a value the user typed.
    if (access == WO && form_.value == kWriteOnly) return false;
    CIntegerPtr p(node_);
    const int64_t min = SafeGetIntMin(p), max = SafeGetIntMax(p), inc = SafeGetIntInc(p);
    int64_t value;
    switch (representation_) {
    case IPV4Address:
        value = ParseIPv4Value(form_.value);
        break;
    case HexNumber:
        value = static_cast<int64_t>(ParseHexValue(form_.value));
        break;
    default:
        value = ParseDecimalValue(form_.value, signed_);
        break;
    }
    bool changed = false;
    if (access == RW && SafeGetIntValue(p) == value) {
        changed = sliderChanged_ != 0;
    } else {
        value = min <= max ? CorrectInt(value, min, max, inc) : SnapIntDown(value, min, inc);
        changed = TrySetIntValue(p, value);
        if (changed) {
            form_.value = IntText(value);
            if (form_.slider.visible) {
                form_.slider.position = intSlider_.Position(value);
                sliderPosition_ = static_cast<uint32_t>(form_.slider.position);
            }
        }
    }
    sliderChanged_ = 0;
    return changed;
}

bool CPaneFeatureSet::WriteBoolean(EAccessMode access) {
    if (form_.combo.selection < 0) return false;
    const bool value = form_.combo.selection != 0;
    CBooleanPtr p(node_);
    if (access == RW && SafeGetBoolValue(p) == value) return false;
    return TrySetBoolValue(p, value);
}

bool CPaneFeatureSet::WriteFloat(EAccessMode access) {
    if (access == WO && form_.value == kWriteOnly) return false;
    char* end = nullptr;
    double value = std::strtod(form_.value.c_str(), &end);
    // Text without a number, or without a finite one, writes nothing.
    if (end == form_.value.c_str() || !std::isfinite(value)) return false;
    CFloatPtr p(node_);
    if (access == RW && SafeGetFloatValue(p) == value) return false;
    const double inc = SafeFloatHasInc(p) ? SafeGetFloatInc(p) : 0.0;
    const double min = SafeGetFloatMin(p), max = SafeGetFloatMax(p);
    value = SnapFloatNearest(value, min, inc);
    if (max >= min) value = std::clamp(value, min, max);
    if (!TrySetFloatValue(p, value)) return false;
    form_.value = FormatFloatValue(value);
    if (form_.slider.visible) {
        form_.slider.position = floatSlider_.Position(value);
        sliderPosition_ = static_cast<uint32_t>(form_.slider.position);
    }
    return true;
}

bool CPaneFeatureSet::WriteString(EAccessMode access) {
    if (access == WO && form_.value == kWriteOnly) return false;
    CStringPtr p(node_);
    std::string text = form_.value;
    if (access == RW && SafeGetStringValue(p) == text) return false;
    const int64_t maxLength = SafeGetStringMaxLength(p);
    if (maxLength > 0 && static_cast<uint64_t>(text.size()) > static_cast<uint64_t>(maxLength))
        text.resize(static_cast<size_t>(maxLength));
    return TrySetStringValue(p, text);
}

bool CPaneFeatureSet::WriteRegister(EAccessMode access) {
    if (access == WO && form_.value == kWriteOnly) return false;
    CRegisterPtr p(node_);
    if (access == RW && RegisterText(p) == form_.value) return false;
    const int64_t length = SafeGetRegisterLength(p);
    if (length <= 0 || length > kMaxRegisterLength) return false;
    // Bytes the text does not give are written as zeros.
    std::vector<uint8_t> bytes(static_cast<size_t>(length), 0);
    ParseRegisterBytes(bytes.data(), bytes.size(), form_.value);
    return TrySetRegister(p, bytes.data(), length);
}

bool CPaneFeatureSet::WriteEnumeration() {
    const int selection = form_.combo.selection;
    if (selection < 0 || selection >= static_cast<int>(form_.combo.items.size())) return false;
    const std::string& wanted = form_.combo.items[static_cast<size_t>(selection)];
    CEnumerationPtr e(node_);
    if (CurrentEntryName(e) == wanted) return false;
    NodeList_t entries;
    TryGetEnumEntries(e, entries);
    for (INode* entry : entries) {
        if (!entry || !SafeIsAvailable(entry) || EnumEntryText(entry) != wanted) continue;
        const bool set = TrySetEnumValue(e, SafeGetEnumEntrySymbolic(CEnumEntryPtr(entry)));
        if (name_ == "PixelFormat") host_.PostPixelFormatCheck(LiveChild());
        return set;
    }
    return false;
}

bool CPaneFeatureSet::WriteByType(EAccessMode access) {
    switch (type_) {
    case intfIInteger:
        return WriteInteger(access);
    case intfIBoolean:
        return WriteBoolean(access);
    case intfIFloat:
        return WriteFloat(access);
    case intfIString:
        return WriteString(access);
    case intfIRegister:
        return WriteRegister(access);
    case intfIEnumeration:
        return WriteEnumeration();
    default:
        return false;
    }
}

void CPaneFeatureSet::OnSet() {
    if (!node_ || !item_ || !Live()) return;
    try {
        if (type_ == intfICommand) return OnExec();
        const EAccessMode access = SafeGetAccessMode(node_);
        if (access != WO && access != RW) return;
        if (WriteByType(access)) host_.RebuildPropertyList();
    } catch (...) {
    }
}

void CPaneFeatureSet::OnExec() {
    if (!node_ || !item_ || !Live() || type_ != intfICommand) return;
    // The camera goes away when a reset succeeds: it is asked once only.
    TryExecuteCommand(CCommandPtr(node_), !IsResetCommand(displayName_));
    host_.RebuildPropertyList();
}

void CPaneFeatureSet::SetMark(bool favourite) {
    if (!node_ || !item_) return;
    const bool checked = favourite ? form_.favorite.checked : form_.refresh.checked;
    const bool marked = favourite ? viewer_.IsFavourite(name_) : viewer_.IsRefreshSelected(name_);
    if (checked == marked) return;
    if (favourite)
        host_.SetFavourite(name_, checked);
    else
        host_.SetRefreshSelected(name_, checked);
}

void CPaneFeatureSet::OnFavorite() {
    SetMark(true);
}

void CPaneFeatureSet::OnRefresh() {
    SetMark(false);
}

void CPaneFeatureSet::OnComboChange() {
    if (!node_ || !item_ || !Live()) return;
    if (type_ != intfIBoolean && type_ != intfIEnumeration) return;
    try {
        if (WriteByType(SafeGetAccessMode(node_))) host_.RebuildPropertyList();
    } catch (...) {
    }
}

void CPaneFeatureSet::OnSlider() {
    const int32_t position = form_.slider.position;
    if (!node_ || position < 0 || static_cast<uint32_t>(position) == sliderPosition_) return;
    if (!Live()) return;
    try {
        if (type_ == intfIInteger)
            SliderInteger(position);
        else if (type_ == intfIFloat)
            SliderFloat(position);
    } catch (...) {
    }
}

void CPaneFeatureSet::SliderInteger(int32_t position) {
    CIntegerPtr p(node_);
    int64_t value = intSlider_.Value(position);
    if (value == SafeGetIntValue(p)) return;
    const int64_t min = SafeGetIntMin(p), max = SafeGetIntMax(p), inc = SafeGetIntInc(p);
    value = min <= max ? CorrectInt(value, min, max, inc) : SnapIntDown(value, min, inc);
    if (!TrySetIntValue(p, value)) {
        form_.slider.position = static_cast<int32_t>(sliderPosition_); // back to what the camera holds
        return;
    }
    form_.slider.position = intSlider_.Position(value);
    sliderPosition_ = static_cast<uint32_t>(form_.slider.position);
    sliderChanged_ = 1;
    form_.value = IntText(value);
    host_.RebuildPropertyList();
}

void CPaneFeatureSet::SliderFloat(int32_t position) {
    CFloatPtr p(node_);
    double value;
    if (!floatSlider_.Value(position, value) || value == SafeGetFloatValue(p)) return;
    const double inc = SafeFloatHasInc(p) ? SafeGetFloatInc(p) : 0.0;
    const double min = SafeGetFloatMin(p), max = SafeGetFloatMax(p);
    if (inc > 0) {
        value = SnapFloatNearest(value, min, inc);
    } else if (floatSlider_.Position(value) == static_cast<int32_t>(sliderPosition_)) {
        // The value falls back onto the old position: go one step toward the new one.
        const int32_t stepped = static_cast<int32_t>(sliderPosition_) +
                                (position > static_cast<int32_t>(sliderPosition_) ? 1 : -1);
        floatSlider_.Value(stepped, value);
        position = stepped;
    }
    if (max >= min) value = std::clamp(value, min, max);
    if (!TrySetFloatValue(p, value)) {
        form_.slider.position = static_cast<int32_t>(sliderPosition_);
        return;
    }
    form_.value = FormatFloatValue(value);
    form_.slider.position = position;
    sliderPosition_ = static_cast<uint32_t>(position);
    sliderChanged_ = 1;
    host_.RebuildPropertyList();
}

} // namespace qorcam::viewer
