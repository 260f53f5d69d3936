// MainFrame: what the main frame does for its control forms (modes, record mode, panes, windows).
#include "MainFrame.h"

#include "CameraWindow.h"
#include "FramePaths.h"

#include "os/Paths.h"

#include <QCoreApplication>
#include <QCursor>
#include <QDesktopServices>
#include <QDialog>
#include <QMenu>
#include <QProcess>
#include <QResizeEvent>
#include <QTextBrowser>
#include <QUrl>
#include <QVBoxLayout>

namespace qorcam::viewer {

void CMainFrame::RefreshForms() {
    modeSet_->Form().UpdateButtons();
    CFormDisplay& display = display_->Form();
    display.UpdateModeButtons();
    display.UpdateRateControls();
    display.UpdateRefreshCombo();
    display.UpdateZoomControls();
    if (!record_->isHidden()) record_->Form().UpdateRecordForm();
}

void CMainFrame::PostChildLayout(CChildFrame* child, int wParam) {
    QMetaObject::invokeMethod(
        this,
        [this, child, wParam] {
            CChildWindow* window = WindowOf(child);
            if (!window) return;
            window->UpdateLayout(wParam != 0);
            window->View()->update();
            if (wParam != 0) PostChildSize(child);
        },
        Qt::QueuedConnection);
}

void CMainFrame::PostChildSize(CChildFrame* child) {
    if (CChildWindow* window = WindowOf(child))
        QCoreApplication::postEvent(window, new QResizeEvent(window->size(), window->size()));
}

void CMainFrame::StartChild(CChildFrame* child, CChildFrame::StartReason reason) {
    if (CChildWindow* window = WindowOf(child)) window->OnStartImage(reason);
}

void CMainFrame::StopChild(CChildFrame* child) {
    if (CChildWindow* window = WindowOf(child)) window->OnStopImage();
}

void CMainFrame::BroadcastLayout(bool arrange) {
    if (!arrange) return;
    mdi_->cascadeSubWindows();
    if (!app_.cascade) {
        mdi_->tileSubWindows();
        return;
    }
    for (auto& [child, window] : windows_)
        PostChildLayout(child, 1);
}

void CMainFrame::SwitchMode(uint8_t mode) {
    switching_ = true;
    if (CChildFrame* previous = app_.activeChild) previous->gridFlag = 0;
    {
        std::lock_guard lock(properties_->Logic().GridLock());
        app_.activeChild = nullptr;
        properties_->Logic().SetExpansionMap(nullptr);
        properties_->Logic().ClearGrid();
    }
    std::vector<CChildWindow*> windows;
    for (auto& [child, window] : windows_)
        windows.push_back(window);
    for (CChildWindow* window : windows)
        window->close();
    switching_ = false;
    recordSettings.setCount = 0;
    record_->Form().UpdateLayout(mode == 1);
    RefreshForms();
    properties_->RebuildPropertyList();
    app_.mode = mode;
    featureEditor_->ClearFeatureEditor();
    RefreshCameraTree();
    output_->ShowCameraInfo();
    output_->ShowImageInfo();
}

void CMainFrame::SetRecordMode(bool on) {
    if (app_.mode != 1 || recordMode_ == on) return;
    recordMode_ = on;
    std::vector<CChildFrame*> children;
    {
        std::lock_guard lock(app_.TableLock());
        children = app_.openChildren;
    }
    std::vector<CChildFrame*> restart;
    for (CChildFrame* child : children) {
        if (!child) continue;
        child->gridFlag = on ? 0 : 1;
        if (child->running) {
            StopChild(child);
            restart.push_back(child);
        }
        if (child->hCamera && WindowOf(child)) child->RefreshBitmapInfo();
    }
    if (records) {
        if (on) recordSettings.recordableCount = recordSettings.setCount = records->UpdateRecordableCount();
        for (CChildFrame* child : children)
            if (child) records->SetRing(child, on);
    }
    for (CChildFrame* child : restart)
        if (IsChildOfFrame(child)) StartChild(child, CChildFrame::StartReason::Restart);
}

void CMainFrame::PostChildChanged(CChildFrame* child, int) {
    QMetaObject::invokeMethod(
        this, [this, child] { OnChildChanged(child); }, Qt::QueuedConnection);
}

QDockWidget* CMainFrame::PaneOf(FormPane pane) {
    switch (pane) {
    case FormPane::CameraTree:
        return cameraTree_;
    case FormPane::Properties:
        return properties_;
    case FormPane::FeatureSet:
        return featureSet_;
    case FormPane::Display:
        return display_;
    case FormPane::Output:
        return output_;
    case FormPane::Record:
        return record_;
    }
    return nullptr;
}

bool CMainFrame::PaneVisible(FormPane pane) {
    QDockWidget* p = PaneOf(pane);
    return p && !p->isHidden();
}

void CMainFrame::ShowPane(FormPane pane, bool show) {
    QDockWidget* p = PaneOf(pane);
    if (!p) return;
    if (show) {
        // A pane collapsed to nothing comes back with room to show itself.
        if (p->width() < 3) resizeDocks({p}, {p->width() + 80}, Qt::Horizontal);
        if (p->height() < 3) resizeDocks({p}, {p->height() + 80}, Qt::Vertical);
        ShowPane(p);
    } else {
        p->hide();
    }
}

void CMainFrame::SetRecordPaneCaption(const std::string& caption) {
    record_->setWindowTitle(QString::fromStdString(caption));
}

void CMainFrame::SaveAllImages() {
    OnSaveAllImages();
}

void CMainFrame::StartTool(const std::string& path) {
    if (!QProcess::startDetached(QString::fromStdString(path), {}))
        MessageBox(path + " could not be started.");
}

void CMainFrame::OnTool() {
    const std::vector<ConfigTool> candidates = ConfigToolCandidates();
    const std::vector<ConfigTool> tools = ExistingTools(candidates);
    if (tools.empty()) {
        MessageBox(NoConfigToolText(candidates));
        return;
    }
    if (tools.size() == 1) {
        StartTool(tools.front().path);
        return;
    }
    // Several tools: the user picks one from a menu under the Config button.
    QMenu menu(this);
    for (const ConfigTool& tool : tools) {
        const std::string path = tool.path;
        menu.addAction(QString::fromStdString(tool.label), this, [this, path] { StartTool(path); });
    }
    QWidget* button = modeSet_->View()->Control(CFormModeSet::kConfig);
    const QPoint at =
        button && button->isVisible() ? button->mapToGlobal(QPoint(0, button->height())) : QCursor::pos();
    menu.exec(at);
}

void CMainFrame::ShowHelpPage(const std::string& path) {
    if (!helpWindow_) {
        auto* window = new QDialog(this);
        window->setWindowTitle("QorCamViewer Help");
        auto* layout = new QVBoxLayout(window);
        auto* text = new QTextBrowser(window);
        text->setObjectName("helpText");
        text->setOpenExternalLinks(true);
        layout->addWidget(text);
        window->resize(640, 560);
        helpWindow_ = window;
    }
    auto* text = helpWindow_->findChild<QTextBrowser*>("helpText");
    text->setSource(QUrl::fromLocalFile(QString::fromStdString(path)));
    helpWindow_->show();
    helpWindow_->raise();
    helpWindow_->activateWindow();
}

void CMainFrame::OnHelp() {
    const HelpTarget help = FindHelp(HelpFilePath(), InstalledHelpPage(os::Paths::ProgramFiles()));
    switch (help.kind) {
    case HelpTarget::ApiLibFile:
        if (!QDesktopServices::openUrl(QUrl::fromLocalFile(QString::fromStdString(help.path))))
            MessageBox("The help file " + help.path + " could not be opened: no program here opens it.");
        return;
    case HelpTarget::InstalledPage:
        ShowHelpPage(help.path);
        return;
    case HelpTarget::None:
        break;
    }
    std::string text = "No help is installed. Looked for:";
    for (const std::string& place : help.looked)
        text += "\n" + place;
    MessageBox(text);
}

void CMainFrame::SetRecordFolder(const std::string& name, const std::string& path) {
    recordSettings.folderName = name;
    recordSettings.folderPath = path;
}

void CMainFrame::PostModeSetRefresh(int wParam) {
    QMetaObject::invokeMethod(
        this,
        [this, wParam] {
            // "Max view" hides the panes only for a while: record mode and the
            // grid panes stay as they are until the panes come back.
            if (!maxView_) modeSet_->Form().UpdatePaneChecks(wParam != 0);
            // A record pane just shown fills its form for the windows as they
            // are now (record mode, set above, gives them their rings).
            if (wParam != 0 && !record_->isHidden()) record_->Form().UpdateRecordForm();
        },
        Qt::QueuedConnection);
}

void CMainFrame::PostRecordProgress(CChildFrame* child) {
    QMetaObject::invokeMethod(
        this, [this, child] { record_->Form().OnRecordProgress(child); }, Qt::QueuedConnection);
}

void CMainFrame::PostRecordDone(CChildFrame* child) {
    QMetaObject::invokeMethod(
        this, [this, child] { record_->Form().OnRecordDone(child); }, Qt::QueuedConnection);
}

void CMainFrame::FrameBusy(bool busy) {
    if (busy_ == busy) return;
    if (!busy && records) {
        std::lock_guard lock(app_.TableLock());
        for (CChildFrame* child : app_.openChildren)
            if (child && records->Status(child).loading) return;
    }
    busy_ = busy;
    modeSet_->Form().busy = busy ? 1 : 0;
    modeSet_->Form().UpdateButtons();
    record_->Form().SetBusy(busy);
    cameraTree_->SetBusy(busy);
    if (onBusy) onBusy(busy);
}

} // namespace qorcam::viewer
