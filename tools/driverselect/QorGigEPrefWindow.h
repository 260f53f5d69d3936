// The driver select tool's windows: the per-adapter selection dialog and its mode dialog, over
// CQorGigEPrefDlg.
#pragma once

#include "QorGigEPrefDlg.h"

#include <QDialog>
#include <functional>
#include <memory>
#include <optional>

class QApplication;
class QCheckBox;
class QComboBox;
class QPushButton;
class QTableWidget;

namespace qorcam::driverselect {

/// Runs the mode dialog for an adapter: its name and the mode preselected; the chosen mode, or none for
/// Cancel.
using ModeDialogRunner =
    std::function<std::optional<std::uint32_t>(QWidget* parent, const std::string& name, std::uint32_t mode)>;

/// "QorCam GigE Filter Driver Select": the adapter list (check box: the GigE service serves the adapter;
/// second column: the system's stack beside it), the DHCP server switch, "Confing", OK and Cancel.
///
/// Guarantees: every way of closing the window other than OK (Cancel, Esc, the close box) is the logic's
/// Cancel; OK hands the list's and the switch's state to the logic's OK.
class CQorGigEPrefWindow : public QDialog {
    Q_OBJECT
public:
    /// runMode: the mode dialog; by default a CIPModeSel run modally over this window.
    explicit CQorGigEPrefWindow(PrefEnvironment environment, ModeDialogRunner runMode = {},
                                QWidget* parent = nullptr);
    ~CQorGigEPrefWindow() override;

    /// The dialog's start-up: reads the adapters (stopping the service) and fills the list.
    void Initialize();
    void accept() override;
    void reject() override;

    CQorGigEPrefDlg& Logic() { return *logic_; }
    QTableWidget* NicList() const { return nicList_; }
    QCheckBox* DhcpBox() const { return dhcp_; }
    QPushButton* ConfigButton() const { return config_; }

private:
    void FillRows();
    void ShowModeText(int row);
    void OnItemChanged(int row, int column);
    void SelectNicMode(int row);
    int SelectedRow() const;
    void UpdateConfigButton();

    std::unique_ptr<CQorGigEPrefDlg> logic_;
    ModeDialogRunner runMode_;
    QTableWidget* nicList_ = nullptr;
    QCheckBox* dhcp_ = nullptr;
    QPushButton* config_ = nullptr;
    bool initialising_ = false;
    bool initialised_ = false;
    bool done_ = false; ///< OK or Cancel has been handed to the logic
};

/// "IP Driver Mode": the adapter's name and the combo box of the three modes.
class CIPModeSel : public QDialog {
    Q_OBJECT
public:
    CIPModeSel(const std::string& nicName, std::uint32_t mode, QWidget* parent = nullptr);
    std::uint32_t Mode() const;
    QComboBox* ModeBox() const { return mode_; }

private:
    QComboBox* mode_ = nullptr;
};

/// Opens the display for the windows. Null, with nothing started, when there is none: no display named
/// in the environment, an offscreen or minimal platform asked for, or a display that can't be reached.
std::unique_ptr<QApplication> OpenPrefDisplay(int& argc, char** argv);

} // namespace qorcam::driverselect
