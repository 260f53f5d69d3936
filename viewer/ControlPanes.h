// ControlPanes: the docking panes "Display", "Mode Set" and "Record" with the windows of their forms.
#pragma once

#include "ControlForms.h"

#include <QDockWidget>
#include <QWidget>

#include <map>

namespace qorcam::viewer {

/// The window of a form: copies the form's control states onto the widgets
/// bound to their ids, and hands what the user does back to the form.
class FormView : public QWidget {
public:
    FormView(FormControls& controls, QWidget* parent = nullptr);
    /// The widget that shows control id.
    void Bind(int id, QWidget* widget);
    QWidget* Control(int id) const;
    /// Every bound widget takes its control's state (without signalling the form).
    void Sync();

private:
    FormControls& controls_;
    std::map<int, QWidget*> widgets_;
};

/// The "Display" pane and its form.
class CPaneDisplay : public QDockWidget {
public:
    CPaneDisplay(IFormHost& host, QWidget* parent);
    CFormDisplay& Form() { return form_; }
    FormView* View() { return view_; }

private:
    CFormDisplay form_;
    FormView* view_;
};

/// The "Mode Set" pane and its form.
class CPaneModeSet : public QDockWidget {
public:
    CPaneModeSet(IFormHost& host, QWidget* parent);
    CFormModeSet& Form() { return form_; }
    FormView* View() { return view_; }

private:
    CFormModeSet form_;
    FormView* view_;
};

/// The "Record" pane ("Play Back" in playback mode) and its form.
class CPaneRecordSet : public QDockWidget {
public:
    CPaneRecordSet(IFormHost& host, QWidget* parent);
    CFormRecordSet& Form() { return form_; }
    FormView* View() { return view_; }

private:
    CFormRecordSet form_;
    FormView* view_;
};

} // namespace qorcam::viewer
