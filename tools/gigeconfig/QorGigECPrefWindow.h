// The IP configuration tool's windows: the main dialog and its adapter and camera dialogs, over the logic
// classes.
#pragma once

#include "QorGigECPrefDlg.h"

#include <QDialog>
#include <functional>
#include <memory>

class QCheckBox;
class QLineEdit;
class QPushButton;
class QRadioButton;
class QTimer;
class QTreeWidget;

namespace qorcam::gigeconfig {

/// Shows a message; the windows use a message box unless told otherwise (tests).
using MessageSink = std::function<void(QWidget* parent, const std::string&)>;

/// "QorCam GigE Preferences": the adapter list, the camera list and the buttons.
class CQorGigECPrefWindow : public QDialog {
    Q_OBJECT
public:
    CQorGigECPrefWindow(CGigeServiceControl* service, MessageSink sink = {}, QWidget* parent = nullptr);
    ~CQorGigECPrefWindow() override;

    /// Runs the dialog's start-up; false: the dialog ends with result 3.
    bool Initialize();
    /// Shows the dialog and runs it until it is closed (OK, Exit or the
    /// window's close); its result. The dialog hides itself while a child
    /// dialog runs, which does not end it.
    int Run();
    /// Runs a child dialog with this dialog hidden meanwhile; whether it was accepted.
    bool ExecChild(QDialog& child);
    CQorGigECPrefDlg& Logic() { return *logic_; }
    QTreeWidget* NicList() const { return nicList_; }
    QTreeWidget* CameraList() const { return cameraList_; }

private:
    void FillNicRows();
    void FillCameraRows();
    void OnSearchCamera();
    void OnReadXmlFile();
    void OnNicConfig(int row);
    void OnCameraConfig(int row);
    void OnTick();
    void UpdateButtons();

    MessageSink sink_;
    std::unique_ptr<CQorGigECPrefDlg> logic_;
    QTreeWidget* nicList_ = nullptr;
    QTreeWidget* cameraList_ = nullptr;
    QPushButton *search_ = nullptr, *readXml_ = nullptr, *exit_ = nullptr, *nicConfig_ = nullptr,
                *cameraConfig_ = nullptr;
    QTimer* timer_ = nullptr;
};

/// "IP Address Setup" of one adapter.
class CIPAddrSetupDialog : public QDialog {
    Q_OBJECT
public:
    CIPAddrSetupDialog(const NicEntry& nic, std::vector<std::uint32_t> adapterIps, MessageSink sink,
                       QWidget* parent = nullptr);
    bool Automatic() const;
    std::uint32_t Ip() const;   ///< host order
    std::uint32_t Mask() const; ///< host order
    void accept() override;

private:
    void OnAuto();
    std::vector<std::uint32_t> adapterIps_;
    std::uint32_t startIp_;
    MessageSink sink_;
    QCheckBox* auto_ = nullptr;
    QLineEdit *ip_ = nullptr, *mask_ = nullptr;
    QPushButton* ok_ = nullptr;
};

/// "Camera Setup" of one camera.
class CCameraIPSetupDialog : public QDialog {
    Q_OBJECT
public:
    CCameraIPSetupDialog(CCameraIPSetup& setup, std::vector<CameraEntry> cameras, const CameraEntry& camera,
                         QWidget* parent = nullptr);
    void accept() override;

private:
    void Show();
    void Read();
    CCameraIPSetup& setup_;
    std::vector<CameraEntry> cameras_;
    QLineEdit *name_ = nullptr, *current_ = nullptr, *ip_ = nullptr, *mask_ = nullptr, *gateway_ = nullptr;
    QRadioButton* modes_[4] = {};
    QPushButton *forceIp_ = nullptr, *ok_ = nullptr;
};

} // namespace qorcam::gigeconfig
