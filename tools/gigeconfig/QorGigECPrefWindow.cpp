// The IP configuration tool's windows: the main dialog and its adapter and camera dialogs, over the logic
// classes.
#include "QorGigECPrefWindow.h"

#include "IpText.h"

#include <QApplication>
#include <QCheckBox>
#include <QDialogButtonBox>
#include <QEventLoop>
#include <QFileInfo>
#include <QFormLayout>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpression>
#include <QRegularExpressionValidator>
#include <QTimer>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace qorcam::gigeconfig {

namespace {

QString Dotted(std::uint32_t hostOrder) {
    return QString::fromStdString(FormatIpAddress(SwapBytes32(hostOrder)));
}

// A dotted address typed by the user (host order); 0 when it isn't one.
std::uint32_t ParseDotted(const QString& text) {
    const QStringList parts = text.trimmed().split('.');
    if (parts.size() != 4) return 0;
    std::uint32_t value = 0;
    for (const QString& p : parts) {
        bool ok = false;
        const unsigned octet = p.toUInt(&ok);
        if (!ok || octet > 255) return 0;
        value = value << 8 | octet;
    }
    return value;
}

QLineEdit* AddressEdit(QWidget* parent) {
    auto* edit = new QLineEdit(parent);
    static const QRegularExpression dotted(R"((\d{1,3}\.){0,3}\d{0,3})");
    edit->setValidator(new QRegularExpressionValidator(dotted, edit));
    edit->setMinimumWidth(130);
    return edit;
}

// Lays out a form dialog above its OK and Cancel buttons; returns the button box.
QDialogButtonBox* FinishFormDialog(QDialog* dialog, QFormLayout* form) {
    auto* box = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, dialog);
    auto* layout = new QVBoxLayout(dialog);
    layout->addLayout(form);
    layout->addWidget(box);
    QObject::connect(box, &QDialogButtonBox::accepted, dialog, &QDialog::accept);
    QObject::connect(box, &QDialogButtonBox::rejected, dialog, &QDialog::reject);
    return box;
}

} // namespace

CQorGigECPrefWindow::CQorGigECPrefWindow(CGigeServiceControl* service, MessageSink sink, QWidget* parent)
    : QDialog(parent), sink_(std::move(sink)) {
    if (!sink_)
        sink_ = [](QWidget* p, const std::string& text) {
            QMessageBox::information(p, "QorGigECPref", QString::fromStdString(text));
        };
    PrefDlgContext context;
    context.message = [this](const std::string& text) { sink_(this, text); };
    context.service = service;
    logic_ = std::make_unique<CQorGigECPrefDlg>(context);

    setWindowTitle("QorCam GigE Preferences");
    nicList_ = new QTreeWidget(this);
    nicList_->setRootIsDecorated(false);
    nicList_->setHeaderLabels({"NIC Name", "IP Addr"});
    nicList_->setColumnWidth(0, 560);
    nicList_->setMinimumHeight(110);
    cameraList_ = new QTreeWidget(this);
    cameraList_->setRootIsDecorated(false);
    cameraList_->setHeaderLabels(
        {"Vendor Name", "Model Name", "User Name", "IP", "IP Address", "Status", "XML File Name"});
    const int widths[] = {180, 180, 130, 40, 100, 120};
    for (int i = 0; i < 6; ++i)
        cameraList_->setColumnWidth(i, widths[i]);
    cameraList_->setMinimumSize(900, 220);

    search_ = new QPushButton("Search Camera", this);
    readXml_ = new QPushButton("Read XML File", this);
    exit_ = new QPushButton("Exit", this);
    nicConfig_ = new QPushButton("NIC Config", this);
    cameraConfig_ = new QPushButton("Camera Config", this);

    auto* nicRow = new QHBoxLayout;
    nicRow->addWidget(nicList_, 1);
    auto* nicButtons = new QVBoxLayout;
    nicButtons->addWidget(nicConfig_);
    nicButtons->addStretch();
    nicRow->addLayout(nicButtons);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(search_);
    buttons->addWidget(readXml_);
    buttons->addWidget(cameraConfig_);
    buttons->addStretch();
    buttons->addWidget(exit_);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(new QLabel("NIC List:", this));
    layout->addLayout(nicRow);
    layout->addWidget(new QLabel("Camera List:", this));
    layout->addWidget(cameraList_, 1);
    layout->addLayout(buttons);

    timer_ = new QTimer(this);
    timer_->setInterval(500);
    connect(timer_, &QTimer::timeout, this, &CQorGigECPrefWindow::OnTick);
    connect(search_, &QPushButton::clicked, this, &CQorGigECPrefWindow::OnSearchCamera);
    connect(readXml_, &QPushButton::clicked, this, &CQorGigECPrefWindow::OnReadXmlFile);
    connect(exit_, &QPushButton::clicked, this, &QDialog::reject);
    connect(nicConfig_, &QPushButton::clicked, this, [this] {
        if (auto* item = nicList_->currentItem()) OnNicConfig(nicList_->indexOfTopLevelItem(item));
    });
    connect(cameraConfig_, &QPushButton::clicked, this, [this] {
        if (auto* item = cameraList_->currentItem()) OnCameraConfig(cameraList_->indexOfTopLevelItem(item));
    });
    connect(nicList_, &QTreeWidget::itemActivated, this,
            [this](QTreeWidgetItem* item) { OnNicConfig(nicList_->indexOfTopLevelItem(item)); });
    connect(cameraList_, &QTreeWidget::itemActivated, this,
            [this](QTreeWidgetItem* item) { OnCameraConfig(cameraList_->indexOfTopLevelItem(item)); });
    connect(nicList_, &QTreeWidget::itemSelectionChanged, this, [this] {
        auto* item = nicList_->currentItem();
        const int row = item && item->isSelected() ? nicList_->indexOfTopLevelItem(item) : -1;
        if (row < 0) {
            nicConfig_->setEnabled(false);
        } else if (logic_->DhcpFlag()) {
            nicConfig_->setEnabled(!logic_->Nics()[row].windowsIp);
            cameraConfig_->setEnabled(false);
        }
    });
    connect(cameraList_, &QTreeWidget::itemSelectionChanged, this, [this] {
        nicConfig_->setEnabled(false);
        cameraConfig_->setEnabled(!cameraList_->selectedItems().isEmpty());
    });
    nicConfig_->setEnabled(false);
    cameraConfig_->setEnabled(false);
}

CQorGigECPrefWindow::~CQorGigECPrefWindow() = default;

bool CQorGigECPrefWindow::Initialize() {
    QApplication::setOverrideCursor(Qt::WaitCursor);
    const bool ok = logic_->OnInitDialog();
    QApplication::restoreOverrideCursor();
    FillNicRows();
    FillCameraRows();
    nicConfig_->setEnabled(false);
    cameraConfig_->setEnabled(false);
    return ok;
}

int CQorGigECPrefWindow::Run() {
    // Not the dialog's own modal loop: hiding a dialog ends that loop, and
    // the dialog hides while its adapter or camera dialog runs. Hidden, it is
    // also the last window when a child closes, which must not end the program.
    const bool quitOnLast = QApplication::quitOnLastWindowClosed();
    QApplication::setQuitOnLastWindowClosed(false);
    QEventLoop loop;
    int result = QDialog::Rejected;
    const QMetaObject::Connection finished = connect(this, &QDialog::finished, &loop, [&](int r) {
        result = r;
        loop.exit();
    });
    show();
    loop.exec();
    disconnect(finished);
    QApplication::setQuitOnLastWindowClosed(quitOnLast);
    return result;
}

bool CQorGigECPrefWindow::ExecChild(QDialog& child) {
    hide();
    const bool ok = child.exec() == QDialog::Accepted;
    show();
    return ok;
}

void CQorGigECPrefWindow::FillNicRows() {
    nicList_->clear();
    for (const auto& n : logic_->Nics())
        new QTreeWidgetItem(
            nicList_, {QString::fromStdString(n.displayName), QString::fromStdString(FormatIpAddress(n.ip))});
}

void CQorGigECPrefWindow::FillCameraRows() {
    cameraList_->clear();
    const QString folder = QString::fromStdString(CProfileFile::ProfileFolder());
    for (const auto& c : logic_->Cameras()) {
        auto* item = new QTreeWidgetItem(
            cameraList_, {QString::fromStdString(c.vendorName), QString::fromStdString(c.modelName),
                          QString::fromStdString(c.userName), IpModeText(c.ipConfigCurrent),
                          QString::fromStdString(FormatIpAddress(c.ip)), CameraStatusText(c.status),
                          QString::fromStdString(c.xmlFileName)});
        item->setCheckState(0, Qt::Unchecked);
        if (c.status == kStatusInitializing)
            item->setForeground(5, QColor(0, 255, 0));
        else if (c.status != kStatusOk)
            item->setForeground(5, QColor(255, 0, 0));
        if (!c.xmlFileName.empty() && QFileInfo::exists(folder + "/" + QString::fromStdString(c.xmlFileName)))
            item->setForeground(6, QColor(0, 0, 255));
    }
}

void CQorGigECPrefWindow::OnSearchCamera() {
    QApplication::setOverrideCursor(Qt::WaitCursor);
    nicConfig_->setEnabled(false);
    cameraConfig_->setEnabled(false);
    logic_->OnSearchCamera();
    FillCameraRows();
    QApplication::restoreOverrideCursor();
}

void CQorGigECPrefWindow::OnReadXmlFile() {
    std::vector<bool> checked;
    for (int i = 0; i < cameraList_->topLevelItemCount(); ++i)
        checked.push_back(cameraList_->topLevelItem(i)->checkState(0) == Qt::Checked);
    QApplication::setOverrideCursor(Qt::WaitCursor);
    logic_->OnReadXmlFile(checked);
    QApplication::restoreOverrideCursor();
    FillCameraRows(); // the names of the files now present turn blue
    for (int i = 0; i < cameraList_->topLevelItemCount() && i < static_cast<int>(checked.size()); ++i)
        cameraList_->topLevelItem(i)->setCheckState(0, checked[i] ? Qt::Checked : Qt::Unchecked);
}

void CQorGigECPrefWindow::OnNicConfig(int row) {
    if (row >= 0 && logic_->CanConfigureNic(static_cast<std::size_t>(row))) {
        std::vector<std::uint32_t> ips;
        for (const auto& n : logic_->Nics())
            ips.push_back(n.ip);
        CIPAddrSetupDialog dialog(logic_->Nics()[row], ips, sink_, this);
        const bool ok = ExecChild(dialog);
        if (ok) {
            QApplication::setOverrideCursor(Qt::WaitCursor);
            logic_->ApplyNicConfig(static_cast<std::size_t>(row), dialog.Automatic(), dialog.Ip(),
                                   dialog.Mask());
            FillNicRows();
            FillCameraRows();
            QApplication::restoreOverrideCursor();
            UpdateButtons();
        }
    }
    nicConfig_->setEnabled(false);
}

void CQorGigECPrefWindow::OnCameraConfig(int row) {
    auto setup = row >= 0 ? logic_->CameraSetup(static_cast<std::size_t>(row)) : nullptr;
    if (setup) {
        CCameraIPSetupDialog dialog(*setup, logic_->Cameras(), logic_->Cameras()[row], this);
        const bool ok = ExecChild(dialog);
        if (ok) {
            QApplication::setOverrideCursor(Qt::WaitCursor);
            logic_->AfterCameraConfig(*setup);
            FillCameraRows();
            QApplication::restoreOverrideCursor();
            UpdateButtons();
        }
    }
    cameraConfig_->setEnabled(false);
}

void CQorGigECPrefWindow::UpdateButtons() {
    const bool waiting = logic_->Waiting();
    search_->setEnabled(!waiting);
    exit_->setEnabled(!waiting);
    if (waiting && !timer_->isActive()) {
        QApplication::setOverrideCursor(Qt::WaitCursor);
        timer_->start();
    }
}

void CQorGigECPrefWindow::OnTick() {
    if (logic_->OnTimer()) {
        timer_->stop();
        FillCameraRows();
        QApplication::restoreOverrideCursor();
        UpdateButtons();
    }
}

CIPAddrSetupDialog::CIPAddrSetupDialog(const NicEntry& nic, std::vector<std::uint32_t> adapterIps,
                                       MessageSink sink, QWidget* parent)
    : QDialog(parent), adapterIps_(std::move(adapterIps)), startIp_(SwapBytes32(nic.ip)),
      sink_(std::move(sink)) {
    setWindowTitle("IP Address Setup");
    auto_ = new QCheckBox("Auto", this);
    auto_->setChecked(nic.autoAddress != 0);
    ip_ = AddressEdit(this);
    ip_->setText(Dotted(SwapBytes32(nic.ip)));
    mask_ = AddressEdit(this);
    mask_->setText(Dotted(SwapBytes32(nic.mask)));
    auto* form = new QFormLayout;
    form->addRow("NIC Name:", new QLabel(QString::fromStdString(nic.displayName), this));
    form->addRow("", auto_);
    form->addRow("IP Address:", ip_);
    form->addRow("Subnet Mask:", mask_);
    ok_ = FinishFormDialog(this, form)->button(QDialogButtonBox::Ok);
    connect(auto_, &QCheckBox::toggled, this, &CIPAddrSetupDialog::OnAuto);
    connect(ip_, &QLineEdit::textEdited, this, [this] { ok_->setEnabled(true); });
    connect(mask_, &QLineEdit::textEdited, this, [this] { ok_->setEnabled(true); });
    ip_->setEnabled(!auto_->isChecked());
    mask_->setEnabled(!auto_->isChecked());
    ok_->setEnabled(false);
}

void CIPAddrSetupDialog::OnAuto() {
    ip_->setEnabled(!auto_->isChecked());
    mask_->setEnabled(!auto_->isChecked());
    ok_->setEnabled(true);
}

bool CIPAddrSetupDialog::Automatic() const {
    return auto_->isChecked();
}
std::uint32_t CIPAddrSetupDialog::Ip() const {
    return ParseDotted(ip_->text());
}
std::uint32_t CIPAddrSetupDialog::Mask() const {
    return ParseDotted(mask_->text());
}

void CIPAddrSetupDialog::accept() {
    const std::string error = CheckAdapterAddress(Automatic(), Ip(), Mask(), startIp_, adapterIps_);
    if (!error.empty()) {
        sink_(this, error);
        return;
    }
    QDialog::accept();
}

CCameraIPSetupDialog::CCameraIPSetupDialog(CCameraIPSetup& setup, std::vector<CameraEntry> cameras,
                                           const CameraEntry& camera, QWidget* parent)
    : QDialog(parent), setup_(setup), cameras_(std::move(cameras)) {
    setWindowTitle("Camera Setup");
    name_ = new QLineEdit(this);
    name_->setMaxLength(15);
    current_ = AddressEdit(this);
    ip_ = AddressEdit(this);
    mask_ = AddressEdit(this);
    gateway_ = AddressEdit(this);
    auto* form = new QFormLayout;
    form->addRow("Vendor Name:", new QLabel(QString::fromStdString(camera.vendorName), this));
    form->addRow("Model Name:", new QLabel(QString::fromStdString(camera.modelName), this));
    form->addRow("User Name:", name_);
    form->addRow("Current IP:", current_);
    auto* modes = new QHBoxLayout;
    for (int i = 0; i < 4; ++i) {
        modes_[i] = new QRadioButton(kCameraModeTexts[i], this);
        modes->addWidget(modes_[i]);
        connect(modes_[i], &QRadioButton::clicked, this, [this, i] {
            Read();
            setup_.OnModeChanged(static_cast<std::uint32_t>(i));
            Show();
        });
    }
    form->addRow("IP Mode:", modes);
    form->addRow("IP Address:", ip_);
    form->addRow("Subnet Mask:", mask_);
    form->addRow("Default Gateway:", gateway_);
    forceIp_ = new QPushButton("Force IP", this);
    QDialogButtonBox* box = FinishFormDialog(this, form);
    box->addButton(forceIp_, QDialogButtonBox::ActionRole);
    ok_ = box->button(QDialogButtonBox::Ok);
    connect(forceIp_, &QPushButton::clicked, this, [this] {
        setup_.OnForceIp(cameras_);
        QDialog::accept();
    });
    for (QLineEdit* e : {name_, ip_, mask_, gateway_})
        connect(e, &QLineEdit::textEdited, this, [this] { ok_->setEnabled(true); });
    setup_.OnInitDialog();
    Show();
}

void CCameraIPSetupDialog::Show() {
    name_->setText(QString::fromStdString(setup_.userName));
    name_->setEnabled(setup_.nameEnabled);
    current_->setText(Dotted(setup_.currentIp));
    current_->setEnabled(false);
    ip_->setText(Dotted(setup_.ip));
    mask_->setText(Dotted(setup_.mask));
    gateway_->setText(Dotted(setup_.gateway));
    ip_->setEnabled(setup_.ipEnabled);
    mask_->setEnabled(setup_.maskEnabled);
    gateway_->setEnabled(setup_.gatewayEnabled);
    for (int i = 0; i < 4; ++i) {
        modes_[i]->setEnabled(setup_.radioEnabled[i]);
        modes_[i]->setChecked(setup_.selectedMode == static_cast<std::uint32_t>(i));
    }
    forceIp_->setEnabled(setup_.forceIpEnabled);
    ok_->setEnabled(setup_.okEnabled);
}

void CCameraIPSetupDialog::Read() {
    setup_.userName = name_->text().toStdString();
    setup_.ip = ParseDotted(ip_->text());
    setup_.mask = ParseDotted(mask_->text());
    setup_.gateway = ParseDotted(gateway_->text());
}

void CCameraIPSetupDialog::accept() {
    Read();
    if (setup_.OnOK()) QDialog::accept();
}

} // namespace qorcam::gigeconfig
