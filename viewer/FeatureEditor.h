// FeatureEditor: the feature editor pane's logic: one feature's controls, its writes and its marks.
#pragma once

#include "ViewerHost.h"

#include "genapi/Interfaces.h"

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace qorcam::viewer {

/// What one control of the form shows; the window mirrors it.
struct EditorControl {
    bool visible = false;
    bool enabled = true;
    bool checked = false; ///< check boxes
};

struct SliderControl : EditorControl {
    int32_t rangeMin = 0, rangeMax = 0, tick = 1, position = 0;
};

struct ComboControl : EditorControl {
    std::vector<std::string> items;
    int selection = -1; ///< -1: none
};

/// The form "FeatureSet" without its window: its controls as the pane sets
/// them up, and the strings exchanged with the value edit and the three
/// range edits. The window copies what the user changed into it before it
/// reports an event, and shows it again afterwards.
struct CFormFeatureSet {
    EditorControl favorite{true, false};
    EditorControl refresh;
    EditorControl set{true, false};
    EditorControl valueEdit, minEdit, maxEdit, incEdit;
    SliderControl slider;
    ComboControl combo;
    EditorControl exec;
    std::string value, min, max, inc;
    /// The slider is to take the keyboard focus (the window clears it).
    bool sliderFocus = false;

    /// The value controls: value edit, range edits, slider, combo box, "Exec".
    std::array<EditorControl*, 7> ValueControls() {
        return {&valueEdit, &minEdit, &maxEdit, &incEdit, &slider, &combo, &exec};
    }
};

/// How an integer feature's range [min, max] (max > min) lies on the
/// slider, whose positions run from 0 to at most 2^31 - 1: one position per
/// value when the range fits, else one per increment step, else scaled.
/// Guarantees: no pair of 64-bit limits overflows, a zero increment counts
/// as 1, positions and values stay inside their ranges.
struct IntSliderMapping {
    enum class Mode { Direct, Steps, Scaled } mode = Mode::Direct;
    int64_t min = 0;
    uint64_t span = 0; ///< max - min
    uint64_t step = 1;
    uint64_t steps = 0;
    int32_t rangeMax = 0;
    int32_t tick = 1;

    static IntSliderMapping For(int64_t min, int64_t max, int64_t inc);
    int32_t Position(int64_t value) const;
    int64_t Value(int32_t position) const;
};

/// How a float feature's range lies on the slider: as many positions as
/// increment steps, at most 65535. Guarantees: an empty, reversed or
/// non-finite range gives position 0 and keeps values unchanged.
struct FloatSliderMapping {
    double min = 0, max = 0;
    int32_t rangeMax = 0;

    static FloatSliderMapping For(double min, double max, double inc);
    int32_t Position(double value) const;
    /// The value of a position; false when the range maps no values.
    bool Value(int32_t position, double& value) const;
};

/// What the feature editor asks of the main frame and the application.
class IFeatureEditorHost {
public:
    virtual ~IFeatureEditorHost() = default;
    /// CPropertiesWnd::RebuildPropertyList of the feature grid.
    virtual void RebuildPropertyList() = 0;
    /// The application's favourite and refresh marks by node name; entries
    /// are set true or false, never removed.
    virtual void SetFavourite(const std::string& name, bool marked) = 0;
    virtual void SetRefreshSelected(const std::string& name, bool marked) = 0;
    /// WM_CHILD_PIXELFORMAT_CHECK to the camera window, posted.
    virtual void PostPixelFormatCheck(CChildFrame* child) = 0;
};

/// The feature editor pane without its window: edits one feature of the
/// active camera window at a time through the form's controls. UI thread
/// only.
///
/// Guarantees: no node-map exception leaves it; values are read through the
/// guarded getters and written through the one-attempt setters, clamped to
/// the feature's limits and put on its increment grid, never refused; the
/// edited node is touched only while the camera window it came from is
/// still the active one with its camera open, so a camera that went away
/// leaves the editor harmless until the main frame clears it.
class CPaneFeatureSet {
public:
    CPaneFeatureSet(IViewerHost& viewer, IFeatureEditorHost& host);

    CFormFeatureSet& Form() { return form_; }
    genapi::INode* Node() const { return node_; }
    bool SliderChanged() const { return sliderChanged_ != 0; }

    /// WM_FEATURE_SELECT: the grid selected node through item.
    void OnFeatureSelect(genapi::INode* node, CPropertyGridProperty* item);
    /// "Set" (0x8029, wParam 1): writes the edited value.
    void OnSet();
    /// "Exec" (0x8029, wParam 0): executes the command.
    void OnExec();
    /// "Favorite" (0x802A) and "Refresh" (0x802B) were clicked.
    void OnFavorite();
    void OnRefresh();
    /// The slider moved (0x802C).
    void OnSlider();
    /// The combo box selection changed (0x802D).
    void OnComboChange();

    /// Forgets the node and item, disables "Favorite", hides and disables
    /// "Set" and hides the value controls.
    void ClearFeatureEditor();
    /// Enables the value edit and hides every value control.
    void HideValueControls();

private:
    bool Live() const;
    CChildFrame* LiveChild() const;
    void SetupInteger(genapi::EAccessMode access);
    void SetupFloat(genapi::EAccessMode access);
    std::string IntText(int64_t value) const;
    bool WriteInteger(genapi::EAccessMode access);
    bool WriteBoolean(genapi::EAccessMode access);
    bool WriteFloat(genapi::EAccessMode access);
    bool WriteString(genapi::EAccessMode access);
    bool WriteRegister(genapi::EAccessMode access);
    bool WriteEnumeration();
    bool WriteByType(genapi::EAccessMode access);
    void SliderInteger(int32_t position);
    void SliderFloat(int32_t position);
    void SetMark(bool favourite);

    IViewerHost& viewer_;
    IFeatureEditorHost& host_;
    CFormFeatureSet form_;
    genapi::INode* node_ = nullptr;
    genapi::INodeMap* map_ = nullptr; ///< the map the node came from
    CPropertyGridProperty* item_ = nullptr;
    std::string name_, displayName_;
    genapi::EInterfaceType type_ = genapi::intfIValue;
    uint32_t sliderPosition_ = 0;
    uint8_t sliderChanged_ = 0;
    // How the integer was shown when it was selected.
    genapi::ERepresentation representation_ = genapi::_UndefinedRepresentation;
    bool signed_ = false;
    IntSliderMapping intSlider_;
    FloatSliderMapping floatSlider_;
};

} // namespace qorcam::viewer
