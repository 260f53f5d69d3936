// MainFrame: the viewer's main window with its docking panes and menus.
#include "MainFrame.h"

#include "CameraWindow.h"
#include "FramePaths.h"
#include "RecordControl.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QDateTime>
#include <QDesktopServices>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QLabel>
#include <QMenuBar>
#include <QMessageBox>
#include <QPointer>
#include <QThread>
#include <QUrl>
#include <QVBoxLayout>

#include <algorithm>

namespace qorcam::viewer {

CMainFrame::CMainFrame(CQorViewerApp& app)
    : app_(app), recordControl_(std::make_unique<CRecordControl>(*this)) {
    recordSettings.running = &app_.running;
    records = recordControl_.get();
    setWindowTitle("QorCamViewer");
    setDockNestingEnabled(true);
    mdi_ = new QMdiArea(this);
    mdi_->setBackground(QBrush(QColor(0xAB, 0xAB, 0xAB)));
    setCentralWidget(mdi_);
    connect(mdi_, &QMdiArea::subWindowActivated, this, [this](QMdiSubWindow* w) {
        if (auto* window = qobject_cast<CChildWindow*>(w)) OnChildChanged(&window->Frame());
    });

    cameraTree_ = new CameraViewPane(*this, app_, this);
    cameraTree_->onSaveImage = [this](CChildFrame* child) { OnSaveImage(WindowOf(child)); };

    modeSet_ = new CPaneModeSet(*this, this);
    output_ = new InformationOutputPane(app_, this);
    properties_ = new PropertiesPane(*this, this);
    properties_->onPropertyRefresh = [this] { GridReset(1); };
    display_ = new CPaneDisplay(*this, this);
    featureEditor_ = new FeatureSetPane(*this, *this, this);
    featureSet_ = featureEditor_;
    // A new level rebuilds the grid: the editor forgets its node.
    connect(properties_->Combo(), &QComboBox::activated, featureEditor_,
            [this] { featureEditor_->ClearFeatureEditor(); });
    record_ = new CPaneRecordSet(*this, this);

    addDockWidget(Qt::RightDockWidgetArea, properties_);
    addDockWidget(Qt::LeftDockWidgetArea, modeSet_);
    addDockWidget(Qt::LeftDockWidgetArea, cameraTree_);
    splitDockWidget(modeSet_, cameraTree_, Qt::Vertical);
    addDockWidget(Qt::BottomDockWidgetArea, display_);
    addDockWidget(Qt::BottomDockWidgetArea, output_);
    tabifyDockWidget(display_, output_);
    addDockWidget(Qt::RightDockWidgetArea, featureSet_);
    splitDockWidget(properties_, featureSet_, Qt::Vertical);
    addDockWidget(Qt::RightDockWidgetArea, record_);
    splitDockWidget(properties_, record_, Qt::Vertical);
    record_->hide();
    // The mode-set form is never scrolled (its buttons would move under the mouse).
    const int modeHeight = modeSet_->View()->sizeHint().height() + 4;
    modeSet_->widget()->setMinimumHeight(modeHeight);
    resizeDocks({modeSet_, cameraTree_}, {modeHeight, 200}, Qt::Vertical);
    resizeDocks({properties_, featureSet_}, {420, 100}, Qt::Vertical);
    resizeDocks({properties_}, {360}, Qt::Horizontal);
    resizeDocks({cameraTree_}, {200}, Qt::Horizontal);
    resizeDocks({output_}, {130}, Qt::Vertical);

    BuildMenus();
    resize(1280, 800);

    // A pane shown or hidden sets the mode-set form's pane buttons; the
    // record pane also switches record mode with it.
    for (QDockWidget* pane : std::initializer_list<QDockWidget*>{cameraTree_, output_, display_, featureSet_,
                                                                 modeSet_, properties_})
        connect(pane, &QDockWidget::visibilityChanged, this, [this] { PostModeSetRefresh(0); });
    connect(record_, &QDockWidget::visibilityChanged, this, [this] { record_->Form().OnPaneShown(); });
    display_->Form().OnInitialUpdate();
    modeSet_->Form().OnInitialUpdate();
    record_->Form().OnInitialUpdate();
}

CMainFrame::~CMainFrame() {
    // Panes hidden while the frame goes notify no one.
    for (QDockWidget* pane : findChildren<QDockWidget*>())
        disconnect(pane, nullptr, this, nullptr);
    // Camera windows close their cameras while the frame and its panes still exist.
    while (!windows_.empty()) delete windows_.begin()->second;
    // Windows already closed but not yet deleted (their deletion waits for
    // the event loop) go now too: as the frame's children they would be
    // deleted after this frame is gone and call it on the way.
    for (QPointer<CChildWindow> window : findChildren<CChildWindow*>())
        delete window.data();
}

namespace {
const std::string kWindowKey = std::string(kViewerKey) + "\\Window";
std::vector<uint8_t> Bytes(const QByteArray& a) {
    return std::vector<uint8_t>(a.begin(), a.end());
}
} // namespace

void CMainFrame::SaveWindowState(os::SettingsStore& store) const {
    store.SetBinary(kWindowKey, "Geometry", Bytes(saveGeometry()));
    // "Max view" hides the panes for a while only: the layout kept is the one it hides.
    if (!maxView_) store.SetBinary(kWindowKey, "Panes", Bytes(saveState()));
}

void CMainFrame::RestoreWindowState(const os::SettingsStore& store) {
    if (auto geometry = store.GetBinary(kWindowKey, "Geometry"))
        restoreGeometry(QByteArray(reinterpret_cast<const char*>(geometry->data()),
                                   static_cast<qsizetype>(geometry->size())));
    if (auto panes = store.GetBinary(kWindowKey, "Panes")) {
        restoreState(QByteArray(reinterpret_cast<const char*>(panes->data()), static_cast<qsizetype>(panes->size())));
        // The record pane is record mode, not layout: a run starts without it.
        record_->hide();
    }
}

QDockWidget* CMainFrame::MakePane(const char* caption, const char* name, QWidget* body) {
    auto* pane = new QDockWidget(caption, this);
    pane->setObjectName(name);
    pane->setWidget(body);
    return pane;
}

QDockWidget* CMainFrame::Pane(const char* name) const {
    return findChild<QDockWidget*>(name);
}

void CMainFrame::ShowPane(QDockWidget* pane) {
    pane->show();
    pane->raise();
}

void CMainFrame::BuildMenus() {
    QMenu* file = menuBar()->addMenu("&File");
    maxViewAction_ = file->addAction("&Max view", this, [this] { ToggleMaxView(); });
    maxViewAction_->setCheckable(true);
    QMenu* panes = file->addMenu("&Pane view");
    struct Entry {
        const char* text;
        QDockWidget* pane;
        int mode; // -1 any, 1 camera, 0 playback
    };
    auto addPaneEntries = [this](QMenu* menu, std::initializer_list<Entry> entries) {
        for (const Entry& e : entries) {
            QDockWidget* pane = e.pane;
            QAction* a = menu->addAction(e.text, this, [this, pane, e] {
                ShowPane(pane);
                if (pane == properties_) GridReset(1);
            });
            const int mode = e.mode;
            connect(menu, &QMenu::aboutToShow, a, [this, a, pane, mode] {
                a->setEnabled(!pane->isVisible() && (mode < 0 || app_.mode == mode));
            });
        }
    };
    addPaneEntries(panes, {{"&Mode set view", modeSet_, -1},
                           {"&Display view", display_, -1},
                           {"&InformationOutput view", output_, -1}});
    panes->addSeparator();
    addPaneEntries(panes->addMenu("&Camera Image Mode"), {{"&Camera view", cameraTree_, 1},
                                                          {"&Property view", properties_, 1},
                                                          {"&Feature Set view", featureSet_, 1},
                                                          {"&Record view", record_, 1}});
    addPaneEntries(panes->addMenu("&Playback Mode"),
                   {{"&File view", cameraTree_, 0}, {"&Play Back view", record_, 0}});
    QMenu* propertyFile = file->addMenu("Property &file");
    QAction* save = propertyFile->addAction("Save", this, [this] { OnPropertyFileCommand(true); });
    QAction* read = propertyFile->addAction("Read", this, [this] { OnPropertyFileCommand(false); });
    connect(propertyFile, &QMenu::aboutToShow, this, [this, save, read] {
        save->setEnabled(app_.mode == 1);
        read->setEnabled(app_.mode == 1);
    });
    QAction* bmp = file->addAction("&BMP save", this, [this] { OnSaveAllImages(); });
    connect(file, &QMenu::aboutToShow, bmp, [this, bmp] { bmp->setEnabled(app_.mode == 1); });
    file->addSeparator();
    file->addAction("E&xit", this, &QWidget::close);
    // Ctrl+N asks for a window for the pending camera, as it stands.
    auto* fileNew = new QAction(this);
    fileNew->setShortcut(QKeySequence::New);
    connect(fileNew, &QAction::triggered, this, [this] { OnFileNew(); });
    addAction(fileNew);

    QMenu* help = menuBar()->addMenu("&Help");
    help->addAction("&Help", this, [this] { OnHelp(); });
    help->addAction("&About Viewer...", this, [this] {
        QMessageBox::about(this, "About QorCamViewer",
                           "QorCamViewer Ver.1.01.06\nCopyright (C) Korvash. All rights reserved.");
    });
}

template <class F> void CMainFrame::OnUiThread(F&& f) {
    if (QThread::currentThread() == thread())
        f();
    else
        QMetaObject::invokeMethod(this, std::forward<F>(f), Qt::BlockingQueuedConnection);
}

bool CMainFrame::IsChildOfFrame(CChildFrame* child) {
    if (!child) return false;
    std::lock_guard lock(app_.TableLock());
    return std::find(app_.openChildren.begin(), app_.openChildren.end(), child) != app_.openChildren.end();
}

void CMainFrame::SendCameraCheck(CChildFrame* child, int wParam, int lParam) {
    OnUiThread([&] {
        if (!IsChildOfFrame(child)) return;
        if (wParam != 0) {
            BOOL connected = FALSE;
            if (lParam == 1 || !app_.Api().Camera(child->hCamera, &connected)) connected = FALSE;
            child->connected = connected;
            if (!connected && child->hCamera) {
                std::lock_guard grid(properties_->Logic().GridLock());
                app_.Api().SetImageCallBack(child->hCamera, nullptr, nullptr, 0, 0);
                app_.Api().Close(child->hCamera);
                child->hCamera = nullptr;
                child->nodeMap = nullptr;
            }
            return;
        }
        if (lParam == 1) child->connected = 0;
        if (child->connected) return;
        // The camera is gone: remember it for reopening and let the window go.
        {
            std::lock_guard lock(app_.TableLock());
            CCameraIDInfo& entry = app_.cameraTable[child->cameraId];
            entry.known = 0;
            entry.reopen = 1;
            entry.wasRunning = child->running;
            entry.recover = child->recover;
            entry.cameraType = child->cameraType;
            entry.title = child->title;
        }
        // Outside the table lock: closing takes the grid's lock, which the
        // refresh worker holds while it asks the tables.
        if (CChildWindow* window = WindowOf(child)) {
            window->close(); // leaves the tables through ChildClosing
            return;
        }
        std::lock_guard lock(app_.TableLock());
        auto& children = app_.openChildren;
        children.erase(std::remove(children.begin(), children.end(), child), children.end());
        if (app_.activeChild == child) OnChildChanged(children.empty() ? nullptr : children.front());
    });
}

CChildWindow* CMainFrame::WindowOf(CChildFrame* child) {
    auto it = windows_.find(child);
    return it == windows_.end() ? nullptr : it->second;
}

void CMainFrame::ChildClosing(CChildWindow* window) {
    CChildFrame* child = &window->Frame();
    if (!windows_.erase(child)) return;
    std::lock_guard grid(properties_->Logic().GridLock());
    bool wasActive;
    {
        std::lock_guard lock(app_.TableLock());
        auto& children = app_.openChildren;
        children.erase(std::remove(children.begin(), children.end(), child), children.end());
        wasActive = app_.activeChild == child;
    }
    if (wasActive) {
        std::vector<CChildFrame*> rest;
        {
            std::lock_guard lock(app_.TableLock());
            rest = app_.openChildren;
        }
        OnChildChanged(rest.empty() ? nullptr : rest.front());
    }
    child->gridFlag = 0;
    child->CloseCamera();
}

void CMainFrame::MessageBox(const std::string& text) {
    if (onMessage) {
        onMessage(text);
        return;
    }
    QMessageBox::warning(this, "QorCamViewer", QString::fromStdString(text));
}

void CMainFrame::PostGridReset(int wParam) {
    QMetaObject::invokeMethod(
        this, [this, wParam] { GridReset(wParam); }, Qt::QueuedConnection);
}

void CMainFrame::FeatureSelected(genapi::INode* node, genapi::INodeMap* map) {
    // WM_FEATURE_SELECT is posted: the editor may rebuild the grid, which
    // must not happen inside the grid's own selection change. By then the
    // node must still belong to the active window's map.
    CPropertyGridProperty* item = properties_->Logic().Grid().GetCurSel();
    QMetaObject::invokeMethod(
        featureEditor_,
        [this, node, map, item] {
            CChildFrame* active = app_.activeChild;
            if (active && IsChildOfFrame(active) && active->nodeMap == map)
                featureEditor_->OnFeatureSelect(node, item);
        },
        Qt::QueuedConnection);
    output_->ShowNodeInfo(node);
}

void CMainFrame::InfoUpdate(CChildFrame* child) {
    if (child && child == app_.activeChild) output_->ShowImageInfo();
}

void CMainFrame::OnChildChanged(CChildFrame* child) {
    if (switching_ || child == app_.activeChild) return;
    if (child && !IsChildOfFrame(child)) child = nullptr;
    CChildFrame* previous = app_.activeChild;
    if (previous && IsChildOfFrame(previous)) previous->gridFlag = 0;
    if (recordMode_) {
        // No window feeds the feature grid while recording.
        app_.activeChild = child;
    } else {
        std::lock_guard lock(properties_->Logic().GridLock());
        app_.activeChild = child;
        if (app_.mode == 1 && child) {
            child->gridFlag = 1;
            properties_->Logic().SetExpansionMap(&child->expansionStates);
        } else {
            properties_->Logic().SetExpansionMap(nullptr);
            properties_->Logic().ClearGrid();
        }
    }
    if (!recordMode_) properties_->RebuildPropertyList();
    output_->ShowCameraInfo();
    output_->ShowImageInfo();
    RefreshForms();
    featureEditor_->ClearFeatureEditor();
    if (child && !child->title.empty())
        setWindowTitle(QString("QorCamViewer - %1").arg(QString::fromStdString(child->title)));
}

void CMainFrame::GridReset(int wParam) {
    if (wParam == 2 || wParam == 3 || wParam == 4) {
        std::lock_guard lock(properties_->Logic().GridLock());
        properties_->Logic().ClearGrid();
    }
    properties_->RebuildPropertyList();
    featureEditor_->ClearFeatureEditor();
}

void CMainFrame::ToggleMaxView() {
    std::vector<QDockWidget*> panes = {modeSet_, display_, output_};
    if (app_.mode == 1)
        panes.insert(panes.end(), {cameraTree_, properties_, featureSet_});
    else
        panes.push_back(cameraTree_);
    panes.push_back(record_);
    if (!maxView_) {
        paneVisibility_.clear();
        for (QDockWidget* p : panes) {
            paneVisibility_[p] = p->isVisible();
            p->hide();
        }
        maxView_ = true;
    } else {
        for (QDockWidget* p : panes) {
            auto it = paneVisibility_.find(p);
            if (it != paneVisibility_.end()) p->setVisible(it->second);
        }
        maxView_ = false;
    }
    maxViewAction_->setChecked(maxView_);
    BroadcastLayout(true);
}

void CMainFrame::CheckChildren(int wParam) {
    std::vector<CChildFrame*> children;
    {
        std::lock_guard lock(app_.TableLock());
        children = app_.openChildren;
    }
    for (auto it = children.rbegin(); it != children.rend(); ++it)
        if (*it && IsChildOfFrame(*it)) SendCameraCheck(*it, wParam, 0);
}

void CMainFrame::OpenCamera(uint64_t cameraId, uint32_t cameraType) {
    OnUiThread([&] {
        pendingCameraType = cameraType;
        pendingCameraId = cameraId;
        OnFileNew();
    });
}

void CMainFrame::ClearPendingCamera() {
    OnUiThread([this] { pendingCameraId = 0xFFFFFFFFFFFFFFFFULL; });
}

void CMainFrame::OpenRecord(const std::string& iniPath) {
    recordIniPath = iniPath;
    OnFileNew();
}

void CMainFrame::OpenPlaybackWindow() {
    const std::string path = recordIniPath;
    recordIniPath.clear();
    auto* window = new CChildWindow(*this, app_.Api(), app_.displayRate, app_.zoom);
    CChildFrame* child = &window->Frame();
    // The window belongs to the frame before its loader asks.
    windows_[child] = window;
    {
        std::lock_guard lock(app_.TableLock());
        app_.openChildren.push_back(child);
    }
    if (!window->OpenRecordFolder(path)) {
        delete window; // leaves the tables through ChildClosing
        return;
    }
    mdi_->addSubWindow(window);
    window->show();
    window->UpdateLayout(true);
    OnChildChanged(child);
}

CFolderInfo& CMainFrame::FolderFor(const std::string& title) {
    std::lock_guard lock(app_.TableLock());
    CFolderInfo* folder = FindFolderInfo(app_.folders, title);
    if (!folder) folder = &AddFolderInfo(app_.folders, title);
    folder->inUse = 1;
    return *folder;
}

void CMainFrame::AddRecord(const std::string& title, const std::string& recordTime,
                           const std::string& iniPath) {
    CFolderInfo& folder = FolderFor(title);
    std::lock_guard lock(app_.TableLock());
    if (std::find(folder.records.begin(), folder.records.end(), iniPath) == folder.records.end())
        folder.records.push_back(iniPath);
    folder.timeMap[recordTime] = iniPath;
}

void CMainFrame::UpdateRecordableCount() {
    std::vector<uint32_t> sizes;
    for (auto& [c, w] : windows_)
        if (const BITMAPINFOHEADER* hd = c->Header()) sizes.push_back(hd->biSizeImage);
    recordSettings.recordableCount = viewer::RecordableCount(RecordMemoryBudget(recordSettings), sizes);
    recordSettings.setCount = recordSettings.recordableCount.load();
}

void CMainFrame::OnSaveAllImages() {
    std::vector<CChildWindow*> all;
    for (auto& [c, w] : windows_)
        all.push_back(w);
    for (CChildWindow* w : all)
        w->CaptureImage(true);
    const QDateTime now = QDateTime::currentDateTime();
    const QString chosen =
        QFileDialog::getExistingDirectory(this, "Select save folder", QString::fromStdString(snapshotFolder));
    // Windows may have closed while the dialog was up.
    all.clear();
    for (auto& [c, w] : windows_)
        all.push_back(w);
    if (chosen.isEmpty()) {
        for (CChildWindow* w : all)
            w->CaptureImage(false);
        return;
    }
    snapshotFolder = chosen.toStdString();
    snapshotPath = snapshotFolder + "/" + now.toString("yyyyMMdd-HHmmss").toStdString();
    QDir().mkpath(QString::fromStdString(snapshotPath));
    for (CChildWindow* w : all)
        w->SaveImageInto(snapshotPath, snapshotExtension);
}

void CMainFrame::OnSaveImage(CChildWindow* window) {
    if (!window) return;
    CChildFrame* child = &window->Frame();
    window->CaptureImage(true);
    const QString ext = QString::fromStdString(snapshotExtension).toLower();
    QString filter;
    if (ext == "jpg" || ext == "jpe" || ext == "jpeg")
        filter = "JPEG File (*.jpeg);;BMP File (*.bmp);;PNG File (*.png);;TIFF File (*.tif);;GIF File "
                 "(*.gif);;RAW File (*.raw)";
    else if (ext == "png")
        filter = "PNG File (*.png);;BMP File (*.bmp);;JPEG File (*.jpeg);;TIFF File (*.tif);;GIF File "
                 "(*.gif);;RAW File (*.raw)";
    else if (ext == "tif")
        filter = "TIFF File (*.tif);;BMP File (*.bmp);;JPEG File (*.jpeg);;PNG File (*.png);;GIF File "
                 "(*.gif);;RAW File (*.raw)";
    else if (ext == "gif")
        filter = "GIF File (*.gif);;BMP File (*.bmp);;JPEG File (*.jpeg);;PNG File (*.png);;TIFF File "
                 "(*.tif);;RAW File (*.raw)";
    else if (ext == "raw")
        filter = "RAW File (*.raw);;BMP File (*.bmp);;JPEG File (*.jpeg);;PNG File (*.png);;TIFF File "
                 "(*.tif);;GIF File (*.gif)";
    else {
        filter = "BMP File (*.bmp);;JPEG File (*.jpeg);;PNG File (*.png);;TIFF File (*.tif);;GIF File "
                 "(*.gif);;RAW File (*.raw)";
        snapshotExtension = "bmp";
    }
    QFileDialog dialog(this);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setNameFilter(filter);
    dialog.setDefaultSuffix(QString::fromStdString(snapshotExtension));
    dialog.selectFile(QString("QorCam_Viewer.%1").arg(QString::fromStdString(snapshotExtension)));
    const bool ok = dialog.exec() == QDialog::Accepted && !dialog.selectedFiles().isEmpty();
    if (!windows_.count(child)) return; // closed while the dialog was up
    if (!ok) {
        window->CaptureImage(false);
        return;
    }
    snapshotPath = dialog.selectedFiles().front().toStdString();
    snapshotExtension = QFileInfo(dialog.selectedFiles().front()).suffix().toStdString();
    window->SaveImageAs(snapshotPath);
}

void CMainFrame::OnFileNew() {
    if (app_.mode == 0) {
        OpenPlaybackWindow();
        return;
    }
    if (app_.mode != 1 || pendingCameraId == 0xFFFFFFFFFFFFFFFFULL) return;
    {
        std::lock_guard grid(properties_->Logic().GridLock());
        properties_->Logic().ClearGrid();
    }
    auto* window = new CChildWindow(*this, app_.Api(), app_.displayRate, app_.zoom);
    CChildFrame* child = &window->Frame();
    const uint64_t pending = pendingCameraId;
    if (!child->ConnectCamera(pending, pendingCameraType)) {
        {
            std::lock_guard lock(app_.TableLock());
            app_.cameraTable.erase(pending);
        }
        pendingCameraId = 0xFFFFFFFFFFFFFFFFULL;
        delete window;
        return;
    }
    pendingCameraId = 0xFFFFFFFFFFFFFFFFULL;
    FolderFor(child->title);
    window->setWindowTitle(QString::fromStdString(child->title));
    mdi_->addSubWindow(window);
    windows_[child] = window;
    bool resume = false;
    {
        std::lock_guard lock(app_.TableLock());
        app_.openChildren.push_back(child);
        CCameraIDInfo& entry = app_.cameraTable[child->cameraId];
        // A camera lost while running resumes with its recover value.
        if (entry.reopen && entry.wasRunning) {
            child->recover = entry.recover;
            resume = true;
        }
        entry.known = 1;
        entry.reopen = 0;
        entry.cameraType = child->cameraType;
        entry.title = child->title;
    }
    window->show();
    window->UpdateLayout(true);
    // In record mode the new window gets its ring like every other.
    if (recordMode_) {
        SetRecordMode(false);
        SetRecordMode(true);
    }
    if (resume) window->OnStartImage(CChildFrame::StartReason::Restart);
    OnChildChanged(child);
    // The window may have been active before it started: the buttons follow its state now.
    if (resume) RefreshForms();
}

void CMainFrame::RefreshCameraTree() {
    OnUiThread([this] { cameraTree_->Refresh(); });
}

void CMainFrame::PostCameraList() {
    QMetaObject::invokeMethod(
        this,
        [this] {
            if (cameraTree_->isVisible()) ShowPane(cameraTree_);
        },
        Qt::QueuedConnection);
}

void CMainFrame::SetFavourite(const std::string& name, bool marked) {
    std::lock_guard lock(app_.TableLock());
    app_.favourites[name] = marked;
}

void CMainFrame::SetRefreshSelected(const std::string& name, bool marked) {
    std::lock_guard lock(app_.TableLock());
    app_.refreshNames[name] = marked;
}

void CMainFrame::PostPixelFormatCheck(CChildFrame* child) {
    QMetaObject::invokeMethod(
        this,
        [this, child] {
            if (!IsChildOfFrame(child) || !child->hCamera) return;
            const std::string failure = CheckPixelFormat(app_.Api(), child->hCamera);
            if (!failure.empty()) MessageBox(failure);
        },
        Qt::QueuedConnection);
}

std::string CMainFrame::AskPropertyFilePath(bool save, const std::string& defaultName) {
    QFileDialog dialog(this);
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setNameFilter("INI File (*.ini)");
    dialog.setDefaultSuffix("ini");
    dialog.setAcceptMode(save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
    dialog.setFileMode(save ? QFileDialog::AnyFile : QFileDialog::ExistingFile);
    dialog.selectFile(QString::fromStdString(defaultName));
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return {};
    return dialog.selectedFiles().front().toStdString();
}

void CMainFrame::OnPropertyFileCommand(bool save) {
    CChildFrame* child = app_.activeChild;
    if (app_.mode != 1 || !child || !IsChildOfFrame(child)) return;
    const std::optional<PropertyFileResult> result = OnPropertyFile(*child, save, *this);
    if (result && !result->ok)
        MessageBox(save ? "Failed in saving Property File" : "Failed in reading Property File");
}

void CMainFrame::closeEvent(QCloseEvent* event) {
    recordSettings.saving = 0;
    app_.running = 0;
    // The list thread and the refresh worker end first: both may be waiting
    // for this thread.
    app_.Stop([] { QCoreApplication::processEvents(QEventLoop::AllEvents, 5); });
    properties_->StopRefresh();
    if (onClose) onClose();
    QMainWindow::closeEvent(event);
}

} // namespace qorcam::viewer
