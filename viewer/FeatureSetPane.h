// FeatureSetPane: the docking pane "Feature Set" with the form that edits one feature.
#pragma once

#include "FeatureEditor.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDockWidget>
#include <QLineEdit>
#include <QPushButton>
#include <QSlider>

namespace qorcam::viewer {

/// The window of the feature editor: shows the form that CPaneFeatureSet
/// sets up and hands every click, slider move and choice to it, with what
/// the user typed. Controls are named by their role ("Favorite", "Refresh",
/// "Set", "Value", "Min", "Max", "Inc", "Slider", "Combo", "Exec"). UI
/// thread only.
class FeatureSetPane : public QDockWidget {
    Q_OBJECT
public:
    FeatureSetPane(IViewerHost& viewer, IFeatureEditorHost& host, QWidget* parent);

    CPaneFeatureSet& Logic() { return logic_; }

    /// WM_FEATURE_SELECT.
    void OnFeatureSelect(genapi::INode* node, CPropertyGridProperty* item);
    void ClearFeatureEditor();
    void HideValueControls();

private:
    /// What the user changed in the controls into the form.
    void Pull();
    /// The form into the controls, without reporting it back as user changes.
    void Push();
    template <class F> void Handle(F&& handler) {
        Pull();
        handler();
        Push();
    }

    CPaneFeatureSet logic_;
    QCheckBox* favorite_;
    QCheckBox* refresh_;
    QPushButton* set_;
    QLineEdit* value_;
    QLineEdit* min_;
    QLineEdit* max_;
    QLineEdit* inc_;
    QSlider* slider_;
    QComboBox* combo_;
    QPushButton* exec_;
};

} // namespace qorcam::viewer
