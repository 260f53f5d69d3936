// The driver select tool's windows: the per-adapter selection dialog and its mode dialog, over
// CQorGigEPrefDlg.
#include "QorGigEPrefWindow.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>

#include <cstdlib>

namespace qorcam::driverselect {

namespace {

std::optional<std::uint32_t> RunModeSel(QWidget* parent, const std::string& name, std::uint32_t mode) {
    CIPModeSel dialog(name, mode, parent);
    if (dialog.exec() != QDialog::Accepted) return std::nullopt;
    return dialog.Mode();
}

// Restores an environment variable as it was when the guard was made.
class EnvGuard {
public:
    explicit EnvGuard(const char* name) : name_(name) {
        if (const char* v = std::getenv(name)) value_ = v;
    }
    ~EnvGuard() {
        if (value_)
            setenv(name_, value_->c_str(), 1);
        else
            unsetenv(name_);
    }
    const std::optional<std::string>& Value() const { return value_; }

private:
    const char* name_;
    std::optional<std::string> value_;
};

bool EnvSet(const char* name) {
    const char* v = std::getenv(name);
    return v && *v;
}

} // namespace

CQorGigEPrefWindow::CQorGigEPrefWindow(PrefEnvironment environment, ModeDialogRunner runMode, QWidget* parent)
    : QDialog(parent), logic_(std::make_unique<CQorGigEPrefDlg>(std::move(environment))),
      runMode_(runMode ? std::move(runMode) : ModeDialogRunner(RunModeSel)) {
    setWindowTitle("QorCam GigE Filter Driver Select");

    nicList_ = new QTableWidget(0, 2, this);
    nicList_->setHorizontalHeaderLabels({"NIC Name", "IP Driver"});
    nicList_->setColumnWidth(0, 450);
    nicList_->horizontalHeader()->setStretchLastSection(true);
    nicList_->verticalHeader()->hide();
    nicList_->setShowGrid(true);
    nicList_->setSelectionBehavior(QAbstractItemView::SelectRows);
    nicList_->setSelectionMode(QAbstractItemView::SingleSelection);
    nicList_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    nicList_->setMinimumSize(620, 160);

    dhcp_ = new QCheckBox("Active", this);
    config_ = new QPushButton("Confing", this);
    auto* ok = new QPushButton("OK", this);
    auto* cancel = new QPushButton("Cancel", this);
    ok->setDefault(true);

    auto* dhcpRow = new QHBoxLayout;
    dhcpRow->addWidget(new QLabel("DHCP Server:", this));
    dhcpRow->addWidget(dhcp_);
    dhcpRow->addStretch();
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(config_);
    buttons->addStretch();
    buttons->addWidget(ok);
    buttons->addWidget(cancel);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(new QLabel("Select Install:", this));
    layout->addWidget(nicList_, 1);
    layout->addLayout(dhcpRow);
    layout->addLayout(buttons);

    connect(nicList_, &QTableWidget::cellChanged, this, &CQorGigEPrefWindow::OnItemChanged);
    connect(nicList_, &QTableWidget::itemSelectionChanged, this, [this] {
        if (!initialising_) UpdateConfigButton();
    });
    connect(nicList_, &QTableWidget::itemActivated, this,
            [this](QTableWidgetItem* item) { SelectNicMode(item->row()); });
    connect(config_, &QPushButton::clicked, this, [this] { SelectNicMode(SelectedRow()); });
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
    config_->setEnabled(false);
}

CQorGigEPrefWindow::~CQorGigEPrefWindow() {
    // A window that goes without OK or Cancel still gives the service back.
    if (initialised_ && !done_) logic_->OnCancel();
}

void CQorGigEPrefWindow::Initialize() {
    QApplication::setOverrideCursor(Qt::WaitCursor);
    initialising_ = true;
    logic_->OnInitDialog();
    FillRows();
    dhcp_->setChecked(logic_->DhcpChecked());
    config_->setEnabled(false);
    initialising_ = false;
    initialised_ = true;
    QApplication::restoreOverrideCursor();
}

void CQorGigEPrefWindow::FillRows() {
    const auto& rows = logic_->Rows();
    nicList_->setRowCount(static_cast<int>(rows.size()));
    for (int i = 0; i < static_cast<int>(rows.size()); ++i) {
        auto* name = new QTableWidgetItem(QString::fromStdString(rows[i].name));
        name->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsUserCheckable);
        name->setCheckState(rows[i].checked ? Qt::Checked : Qt::Unchecked);
        nicList_->setItem(i, 0, name);
        auto* mode = new QTableWidgetItem(QString::fromStdString(rows[i].modeText));
        mode->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable);
        nicList_->setItem(i, 1, mode);
    }
}

void CQorGigEPrefWindow::ShowModeText(int row) {
    if (auto* item = nicList_->item(row, 1))
        item->setText(QString::fromStdString(logic_->Rows()[static_cast<std::size_t>(row)].modeText));
}

void CQorGigEPrefWindow::OnItemChanged(int row, int column) {
    if (initialising_ || column != 0 || row < 0 || row >= static_cast<int>(logic_->Rows().size())) return;
    const bool checked = nicList_->item(row, 0)->checkState() == Qt::Checked;
    if (checked != logic_->Rows()[static_cast<std::size_t>(row)].checked) {
        logic_->SetRowChecked(static_cast<std::size_t>(row), checked);
        ShowModeText(row);
    }
    UpdateConfigButton();
}

void CQorGigEPrefWindow::SelectNicMode(int row) {
    if (row >= 0 && row < static_cast<int>(logic_->Rows().size())) {
        logic_->SelectNicMode(
            static_cast<std::size_t>(row),
            [this](const std::string& name, std::uint32_t mode) { return runMode_(this, name, mode); });
        ShowModeText(row);
    }
    config_->setEnabled(false);
}

int CQorGigEPrefWindow::SelectedRow() const {
    const auto rows = nicList_->selectionModel()->selectedRows();
    int first = -1;
    for (const auto& index : rows)
        if (first < 0 || index.row() < first) first = index.row();
    return first;
}

void CQorGigEPrefWindow::UpdateConfigButton() {
    const int row = SelectedRow();
    config_->setEnabled(row >= 0 && row < static_cast<int>(logic_->Rows().size()) &&
                        logic_->Rows()[static_cast<std::size_t>(row)].checked);
}

void CQorGigEPrefWindow::accept() {
    if (!done_) {
        done_ = true;
        QApplication::setOverrideCursor(Qt::WaitCursor);
        logic_->SetDhcpChecked(dhcp_->isChecked());
        if (initialised_) logic_->OnOK();
        QApplication::restoreOverrideCursor();
    }
    QDialog::accept();
}

void CQorGigEPrefWindow::reject() {
    if (!done_) {
        done_ = true;
        if (initialised_) logic_->OnCancel();
    }
    QDialog::reject();
}

CIPModeSel::CIPModeSel(const std::string& nicName, std::uint32_t mode, QWidget* parent) : QDialog(parent) {
    setWindowTitle("IP Driver Mode");
    auto* name = new QLineEdit(QString::fromStdString(nicName), this);
    name->setReadOnly(true);
    name->setMinimumWidth(360);
    mode_ = new QComboBox(this);
    for (std::uint32_t m = 0; m < 3; ++m)
        mode_->addItem(NicModeComboText(m));
    mode_->setCurrentIndex(mode < 3 ? static_cast<int>(mode) : 0);
    auto* form = new QFormLayout;
    form->addRow("NIC Name:", name);
    form->addRow("IP Drive Mode:", mode_);
    auto* box = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(box);
    connect(box, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(box, &QDialogButtonBox::rejected, this, &QDialog::reject);
}

std::uint32_t CIPModeSel::Mode() const {
    const int index = mode_->currentIndex();
    return index > 0 ? static_cast<std::uint32_t>(index) : 0;
}

std::unique_ptr<QApplication> OpenPrefDisplay(int& argc, char** argv) {
    EnvGuard platform("QT_QPA_PLATFORM");
    std::string platforms;
    if (platform.Value() && !platform.Value()->empty()) {
        // A platform asked for by name; one that shows nothing leaves the dialog to the terminal.
        const std::string& asked = *platform.Value();
        if (asked.rfind("offscreen", 0) == 0 || asked.rfind("minimal", 0) == 0) return nullptr;
        platforms = asked;
    } else if (EnvSet("WAYLAND_DISPLAY")) {
        platforms = "wayland;xcb";
    } else if (EnvSet("DISPLAY")) {
        platforms = "xcb";
    } else {
        return nullptr;
    }
    // The offscreen platform comes last: reached only when no display answers, which Qt would
    // otherwise end the process for.
    setenv("QT_QPA_PLATFORM", (platforms + ";offscreen").c_str(), 1);
    auto app = std::make_unique<QApplication>(argc, argv);
    if (QGuiApplication::platformName() == "offscreen") return nullptr;
    return app;
}

} // namespace qorcam::driverselect
