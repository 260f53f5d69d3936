// CameraViewPane: the docking pane "Camera View" / "File View" with its refresh button and item tree.
#include "CameraViewPane.h"

#include "CameraWindow.h"
#include "MainFrame.h"

#include <QFileDialog>
#include <QHeaderView>
#include <QMenu>
#include <QSignalBlocker>
#include <QStyle>
#include <QVBoxLayout>

namespace qorcam::viewer {

CameraViewPane::CameraViewPane(CMainFrame& main, CQorViewerApp& app, QWidget* parent)
    : QDockWidget(parent), main_(main), app_(app), logic_(app, *this) {
    setObjectName("CameraView");
    setWindowTitle(QString::fromStdString(logic_.Caption()));
    icons_[0] = style()->standardIcon(QStyle::SP_DirIcon);
    icons_[1] = style()->standardIcon(QStyle::SP_ComputerIcon);
    icons_[2] = style()->standardIcon(QStyle::SP_FileIcon);

    auto* body = new QWidget;
    auto* layout = new QVBoxLayout(body);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    toolbar_ = new QToolBar;
    toolbar_->setMovable(false);
    toolbar_->setIconSize(QSize(16, 16));
    refresh_ = toolbar_->addAction(style()->standardIcon(QStyle::SP_BrowserReload), "Refresh");
    refresh_->setToolTip("Refresh");
    connect(refresh_, &QAction::triggered, this, [this] { logic_.OnRefreshButton(); });
    tree_ = new QTreeWidget;
    tree_->setHeaderHidden(true);
    tree_->setRootIsDecorated(true);
    // Long titles scroll sideways rather than being cut short.
    tree_->header()->setStretchLastSection(false);
    tree_->header()->setSectionResizeMode(0, QHeaderView::ResizeToContents);
    tree_->setContextMenuPolicy(Qt::CustomContextMenu);
    layout->addWidget(toolbar_);
    layout->addWidget(tree_);
    body->setFocusProxy(tree_);
    setWidget(body);

    connect(tree_, &QTreeWidget::currentItemChanged, this,
            [this](QTreeWidgetItem* current, QTreeWidgetItem*) {
                if (current) logic_.OnSelectionChanged(RefOf(current));
            });
    connect(tree_, &QTreeWidget::itemDoubleClicked, this,
            [this](QTreeWidgetItem* item, int) { logic_.OnSelectItem(RefOf(item)); });
    connect(tree_, &QWidget::customContextMenuRequested, this, [this](const QPoint& pos) {
        QTreeWidgetItem* item = tree_->itemAt(pos);
        if (item)
            tree_->setCurrentItem(item);
        else
            item = tree_->currentItem();
        tree_->setFocus();
        if (!item) return;
        if (QMenu* menu = MakeContextMenu(item)) {
            menu->exec(tree_->viewport()->mapToGlobal(pos));
            delete menu;
        }
    });
    logic_.onItemsChanged = [this] {
        // Emptying the tree is no selection by the user: the panes keep their window.
        const QSignalBlocker block(tree_);
        tree_->clear();
        AddItems(nullptr, logic_.Items());
    };
    logic_.Refresh();
}

TreeItemRef CameraViewPane::RefOf(const QTreeWidgetItem* item) {
    TreeItemRef ref;
    if (!item) return ref;
    ref.text = item->text(0).toStdString();
    if (item->parent()) ref.parent = item->parent()->text(0).toStdString();
    return ref;
}

void CameraViewPane::AddItems(QTreeWidgetItem* parent, const std::vector<TreeItem>& items) {
    for (const TreeItem& t : items) {
        auto* item = parent ? new QTreeWidgetItem(parent) : new QTreeWidgetItem(tree_);
        item->setText(0, QString::fromStdString(t.text));
        item->setIcon(0, icons_[t.image >= 0 && t.image < 3 ? t.image : 0]);
        if (t.bold) {
            QFont font = item->font(0);
            font.setBold(true);
            item->setFont(0, font);
        }
        AddItems(item, t.children);
        item->setExpanded(t.expanded);
    }
}

void CameraViewPane::Refresh() {
    setWindowTitle(QString::fromStdString(logic_.Caption()));
    logic_.Refresh();
}

QMenu* CameraViewPane::MakeContextMenu(QTreeWidgetItem* item) {
    const TreeItemRef ref = RefOf(item);
    const CCameraFileView::Menu kind = logic_.ContextMenuFor(ref);
    if (kind == CCameraFileView::Menu::None) return nullptr;
    auto* menu = new QMenu(this);
    menu->addAction("&Open", this, [this, ref] { logic_.OpenSelectedItem(ref); });
    if (kind == CCameraFileView::Menu::File) return menu;
    if (kind != CCameraFileView::Menu::PlayBack) {
        QAction* save = menu->addAction("&BMP save", this, [this, ref] { logic_.OnBmpSave(ref); });
        save->setEnabled(static_cast<bool>(onSaveImage));
    }
    auto addState = [&](const char* text, CCameraFileView::CommandState state, auto handler) {
        QAction* a = menu->addAction(text, this, [this, ref, handler] { (logic_.*handler)(ref); });
        a->setCheckable(true);
        a->setChecked(state.checked);
        a->setEnabled(state.enabled);
    };
    addState("&Start", logic_.StartState(ref), &CCameraFileView::OnStart);
    addState("S&top", logic_.StopState(ref), &CCameraFileView::OnStop);
    if (kind == CCameraFileView::Menu::CameraGigE)
        addState("&Recover", logic_.RecoverState(ref), &CCameraFileView::OnRecover);
    return menu;
}

void CameraViewPane::ActivateChild(CChildFrame* child, int, bool reselect) {
    QMetaObject::invokeMethod(
        &main_,
        [this, child, reselect] {
            if (reselect && child && child == app_.activeChild) {
                // Cleared first, so the frame takes the same window as a change.
                std::lock_guard grid(main_.Properties()->Logic().GridLock());
                app_.activeChild = nullptr;
            }
            main_.OnChildChanged(child);
        },
        Qt::QueuedConnection);
}

void CameraViewPane::OpenCamera(uint64_t cameraId, uint32_t cameraType) {
    main_.OpenCamera(cameraId, cameraType);
}

void CameraViewPane::OpenRecord(const std::string& iniPath) {
    main_.OpenRecord(iniPath);
}

void CameraViewPane::StartChild(CChildFrame* child, CChildFrame::StartReason reason) {
    main_.StartChild(child, reason);
}

void CameraViewPane::StopChild(CChildFrame* child) {
    main_.StopChild(child);
}

void CameraViewPane::SaveImage(CChildFrame* child) {
    if (onSaveImage) onSaveImage(child);
}

std::string CameraViewPane::ChooseRecordFile() {
    if (chooseRecordFile) return chooseRecordFile();
    QFileDialog dialog(this);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.setNameFilter("INI File (*.ini)");
    dialog.setDefaultSuffix("ini");
    dialog.selectFile("QorCam_Viewer.ini");
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return {};
    return dialog.selectedFiles().front().toStdString();
}

} // namespace qorcam::viewer
