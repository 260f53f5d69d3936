// QorCamLogDlg: the dialog's controls and commands.
#include "QorCamLogDlg.h"

#include "ControlState.h"
#include "LibraryIdentity.h"
#include "LogFolder.h"
#include "QorCamShared.h"
#include "devio/DeviceName.h"
#include "os/Paths.h"
#include "os/Process.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QFileDialog>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QStyle>
#include <QToolButton>
#include <QVBoxLayout>

#include <filesystem>

namespace qorcam::tracelog {

std::string CQorCamLogDlg::kLibraryNameDefault() {
    return kLibraryName;
}

CQorCamLogDlg::CQorCamLogDlg(std::string libraryName, QWidget* parent)
    : QDialog(parent), libraryName_(std::move(libraryName)),
      defaultFolder_(QString::fromStdString(DefaultLogFolder())),
      session_(area_, [this](const std::string& text) { ShowMessage(QString::fromStdString(text)); }) {
    setWindowTitle("QorCamLog");
    BuildControls();
    connect(&watcher_, &QFileSystemWatcher::directoryChanged, this, [this] {
        WatchDevices();
        OnDeviceChange(DBT_DEVNODES_CHANGED);
    });
}

CQorCamLogDlg::~CQorCamLogDlg() {
    StopLogging();
}

void CQorCamLogDlg::BuildControls() {
    const QStringList levels{"OFF", "Std", "Detail"};
    auto levelGroup = [&](const char* title, QComboBox*& combo, const char* name) {
        auto* box = new QGroupBox(title);
        auto* row = new QHBoxLayout(box);
        combo = new QComboBox;
        combo->setObjectName(name);
        combo->addItems(levels);
        row->addWidget(new QLabel("Level:"));
        row->addWidget(combo, 1);
        return box;
    };
    QGroupBox* sys = levelGroup("Sys Log Control", sysLevel_, "SysLevel");
    QGroupBox* dll = levelGroup("DLL Log Control", dllLevel_, "DllLevel");

    auto* output = new QGroupBox("Output Control");
    auto* grid = new QGridLayout(output);
    streaming_ = new QRadioButton("Streamiing");
    streaming_->setObjectName("Streaming");
    url_ = new QLineEdit;
    url_->setObjectName("URL");
    url_->setReadOnly(true);
    file_ = new QRadioButton("File");
    file_->setObjectName("File");
    createMode_ = new QComboBox;
    createMode_->setObjectName("CreateMode");
    createMode_->addItems({"Auto", "Fixation"});
    maxSize_ = new QLineEdit;
    maxSize_->setObjectName("MaxSize");
    cache_ = new QCheckBox("Cache");
    cache_->setObjectName("AccCache");
    auto* outputGroup = new QButtonGroup(this);
    outputGroup->addButton(streaming_);
    outputGroup->addButton(file_);
    grid->addWidget(streaming_, 0, 0);
    grid->addWidget(url_, 0, 1, 1, 3);
    grid->addWidget(file_, 1, 0);
    grid->addWidget(new QLabel("File Name Mode:"), 2, 0, Qt::AlignRight);
    grid->addWidget(createMode_, 2, 1);
    grid->addWidget(new QLabel("Max File Size:"), 3, 0, Qt::AlignRight);
    grid->addWidget(maxSize_, 3, 1);
    grid->addWidget(new QLabel("kbytes"), 3, 2);
    grid->addWidget(cache_, 3, 3);

    auto* folderBox = new QGroupBox("Folder Path Control");
    auto* folderGrid = new QGridLayout(folderBox);
    pathDefault_ = new QRadioButton("Default");
    pathDefault_->setObjectName("PathDefault");
    pathCustom_ = new QRadioButton("Custom");
    pathCustom_->setObjectName("PathCustom");
    browse_ = new QPushButton("Browse...");
    browse_->setObjectName("Browse");
    folder_ = new QLineEdit;
    folder_->setObjectName("Folder");
    folder_->setReadOnly(true);
    folder_->setMinimumWidth(320);
    auto* pathGroup = new QButtonGroup(this);
    pathGroup->addButton(pathDefault_);
    pathGroup->addButton(pathCustom_);
    folderGrid->addWidget(pathDefault_, 0, 0);
    folderGrid->addWidget(pathCustom_, 0, 1);
    folderGrid->addWidget(browse_, 0, 3);
    folderGrid->setColumnStretch(2, 1);
    folderGrid->addWidget(folder_, 1, 0, 1, 4);
    grid->addWidget(folderBox, 4, 0, 1, 4);

    start_ = new QPushButton("Start");
    start_->setObjectName("Start");
    apply_ = new QPushButton("Apply");
    apply_->setObjectName("Apply");
    quit_ = new QPushButton("Quit");
    quit_->setObjectName("Quit");
    quit_->setDefault(true);
    start_->setAutoDefault(false);
    apply_->setAutoDefault(false);
    browse_->setAutoDefault(false);
    help_ = new QToolButton;
    help_->setObjectName("Help");
    help_->setIcon(style()->standardIcon(QStyle::SP_MessageBoxInformation));

    auto* top = new QHBoxLayout;
    top->addWidget(sys, 1);
    top->addWidget(dll, 1);
    top->addWidget(help_, 0, Qt::AlignTop);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(start_);
    buttons->addWidget(apply_);
    buttons->addWidget(quit_);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(top);
    layout->addWidget(output);
    layout->addLayout(buttons);
    layout->setSizeConstraint(QLayout::SetFixedSize);
    setWindowIcon(style()->standardIcon(QStyle::SP_FileDialogDetailedView));

    for (QRadioButton* r : {streaming_, file_, pathDefault_, pathCustom_})
        connect(r, &QRadioButton::clicked, this, &CQorCamLogDlg::OnSettingChanged);
    for (QComboBox* c : {sysLevel_, dllLevel_})
        connect(c, &QComboBox::activated, this, &CQorCamLogDlg::OnSettingChanged);
    connect(createMode_, &QComboBox::activated, this, &CQorCamLogDlg::OnFileNameModeChanged);
    connect(apply_, &QPushButton::clicked, this, &CQorCamLogDlg::OnApply);
    connect(start_, &QPushButton::clicked, this, &CQorCamLogDlg::OnStartStop);
    connect(browse_, &QPushButton::clicked, this, &CQorCamLogDlg::OnBrowse);
    connect(quit_, &QPushButton::clicked, this, &CQorCamLogDlg::OnCancel);
}

void CQorCamLogDlg::ShowMessage(const QString& text) {
    if (messages_) {
        messages_(text);
    } else {
        QMessageBox::warning(this, "QorCamLog", text);
    }
}

bool CQorCamLogDlg::OnInitDialog() {
    auto identity = LoadLibraryIdentity(libraryName_, os::Process::CurrentId());
    if (!identity) {
        ShowMessage("QorCam.DLL Load Error");
        return false;
    }
    identity_ = *identity;
    if (!area_.Map()) {
        ShowMessage("Log ShareMemory Load Error");
        return false;
    }
    settings_ = LogSettings::Load(os::SettingsStore(os::SettingsStore::Hive::User));
    WriteControls();
    apply_->setEnabled(false);
    help_->hide();
    UpdateControlState();
    WatchDevices();
    return true;
}

bool CQorCamLogDlg::ReadControls(bool validate) {
    settings_.sysLevel = static_cast<std::uint32_t>(std::max(0, sysLevel_->currentIndex()));
    settings_.dllLevel = static_cast<std::uint32_t>(std::max(0, dllLevel_->currentIndex()));
    settings_.outPutMode = streaming_->isChecked() ? OutputMode::Streaming : OutputMode::File;
    settings_.url = url_->text().toStdString();
    settings_.createMode = createMode_->currentIndex() == 1 ? CreateMode::Fixation : CreateMode::Auto;
    settings_.accCache = cache_->isChecked();
    settings_.pathMode = pathCustom_->isChecked() ? PathMode::Custom : PathMode::Default;
    bool number = false;
    const qulonglong size = maxSize_->text().trimmed().toULongLong(&number);
    if (number && IsValidMaxSize(size)) {
        settings_.maxSize = static_cast<std::uint32_t>(size);
    } else if (validate) {
        ShowMessage(QString("Please enter an integer between %1 and %2.").arg(kMinMaxSize).arg(kMaxMaxSize));
        maxSize_->setFocus();
        return false;
    }
    return true;
}

void CQorCamLogDlg::WriteControls() {
    sysLevel_->setCurrentIndex(static_cast<int>(settings_.sysLevel));
    dllLevel_->setCurrentIndex(static_cast<int>(settings_.dllLevel));
    streaming_->setChecked(settings_.outPutMode == OutputMode::Streaming);
    file_->setChecked(settings_.outPutMode == OutputMode::File);
    url_->setText(QString::fromStdString(settings_.url));
    createMode_->setCurrentIndex(static_cast<int>(settings_.createMode));
    maxSize_->setText(QString::number(settings_.maxSize));
    cache_->setChecked(settings_.accCache);
    pathDefault_->setChecked(settings_.pathMode == PathMode::Default);
    pathCustom_->setChecked(settings_.pathMode == PathMode::Custom);
    folder_->setText(shownFolder_);
}

void CQorCamLogDlg::UpdateControlState() {
    const ControlState c = ControlState::For(settings_);
    streaming_->setEnabled(c.outputRadios);
    file_->setEnabled(c.outputRadios);
    url_->setEnabled(c.url);
    createMode_->setEnabled(c.fileNameMode);
    maxSize_->setEnabled(c.maxSize);
    cache_->setEnabled(c.cache);
    pathDefault_->setEnabled(c.pathRadios);
    pathCustom_->setEnabled(c.pathRadios);
    browse_->setEnabled(c.browse);
    start_->setEnabled(c.start);
    // The files go to this folder in either output mode.
    shownFolder_ = QString::fromStdString(FolderInUse(settings_, defaultFolder_.toStdString()));
    WriteControls();
}

void CQorCamLogDlg::LockControls() {
    for (QWidget* w :
         std::initializer_list<QWidget*>{sysLevel_, dllLevel_, streaming_, url_, file_, createMode_, maxSize_,
                                         cache_, pathDefault_, pathCustom_, browse_})
        w->setEnabled(false);
}

void CQorCamLogDlg::OnSettingChanged() {
    ReadControls(false);
    UpdateControlState();
    apply_->setEnabled(true);
}

void CQorCamLogDlg::OnFileNameModeChanged() {
    ReadControls(false);
    apply_->setEnabled(true);
}

bool CQorCamLogDlg::OnApply() {
    if (!ReadControls(true)) return false;
    os::SettingsStore store(os::SettingsStore::Hive::User);
    settings_.SaveChanged(store);
    ringLimit_ = settings_.maxSize * 1024;
    apply_->setEnabled(false);
    return true;
}

void CQorCamLogDlg::OnBrowse() {
    const QString folder = QFileDialog::getExistingDirectory(
        this, "Select Local Disk", QString::fromStdString(settings_.path), QFileDialog::ShowDirsOnly);
    if (!folder.isEmpty()) SelectFolder(folder);
}

void CQorCamLogDlg::SelectFolder(const QString& folder) {
    switch (CheckLogFolder(folder.toStdString())) {
    case FolderCheck::NotLocal:
        ShowMessage("Select Error Not Local Disk");
        return;
    case FolderCheck::NotWritable:
        ShowMessage("Error Select Folder Used Administrator");
        return;
    case FolderCheck::Ok:
        break;
    }
    settings_.path = folder.toStdString();
    shownFolder_ = folder;
    WriteControls();
    apply_->setEnabled(true);
}

void CQorCamLogDlg::OnStartStop() {
    if (!ReadControls(true)) return;
    if (logging_) {
        StopLogging();
        start_->setText("Start");
        sysLevel_->setEnabled(true);
        dllLevel_->setEnabled(true);
        UpdateControlState();
        return;
    }
    if (settings_.pathMode == PathMode::Custom && settings_.path.empty()) return;
    OnApply();
    LockControls();
    SessionOptions options;
    options.sysLevel = settings_.sysLevel;
    options.dllLevel = settings_.dllLevel;
    options.createMode = settings_.createMode;
    options.folder = FolderInUse(settings_, defaultFolder_.toStdString());
    options.ringLimit = ringLimit_;
    options.accCache = settings_.accCache;
    options.identity = identity_;
    session_.StartLogging(options);
    start_->setText("Stop");
    logging_ = true;
}

void CQorCamLogDlg::StopLogging() {
    session_.StopLogging();
    logging_ = false;
}

void CQorCamLogDlg::OnCancel() {
    StopLogging();
    area_.Unmap();
    QDialog::reject();
}

bool CQorCamLogDlg::OnQueryEndSession() {
    StopLogging();
    area_.Unmap();
    return true;
}

void CQorCamLogDlg::OnDeviceChange(std::uint32_t event) {
    session_.OnDeviceChange(event);
}

void CQorCamLogDlg::WatchDevices() {
    // Device sockets come and go in the class folder, which itself may
    // appear only with the first device.
    const QString run = QString::fromStdString(os::Paths::Run());
    const QString dev = QString::fromStdString(devio::DeviceDirectory().string());
    const QString cls =
        QString::fromStdString(devio::DeviceInterfaceDirectory(shared::kUsbDeviceClass).string());
    for (const QString& path : {run, dev, cls}) {
        if (!watcher_.directories().contains(path) && std::filesystem::is_directory(path.toStdString()))
            watcher_.addPath(path);
    }
}

} // namespace qorcam::tracelog
