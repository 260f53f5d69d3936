// InformationOutputPane: the docking pane "InformationOutput" with its "Camera", "Feature" and "Image" tabs.
#include "InformationOutputPane.h"

#include <QAction>
#include <QApplication>
#include <QMessageBox>

namespace qorcam::viewer {

InformationOutputPane::InformationOutputPane(CQorViewerApp& app, QWidget* parent)
    : QDockWidget("InformationOutput", parent), logic_(app) {
    setObjectName("InformationOutput");
    tabs_ = new QTabWidget;
    tabs_->setTabPosition(QTabWidget::South);
    const char* names[3] = {"Camera", "Feature", "Image"};
    for (int i = 0; i < 3; ++i) {
        auto* list = new QListWidget;
        list->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
        list->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
        list->setUniformItemSizes(true);
        // The lists have no menu of their own: a right click only focuses them.
        list->setContextMenuPolicy(Qt::CustomContextMenu);
        connect(list, &QWidget::customContextMenuRequested, list, [list] { list->setFocus(); });
        auto* copy = new QAction(list);
        copy->setShortcut(QKeySequence::Copy);
        copy->setShortcutContext(Qt::WidgetShortcut);
        connect(copy, &QAction::triggered, this,
                [this] { QMessageBox::information(this, "QorCamViewer", "Copy output"); });
        list->addAction(copy);
        lists_[i] = list;
        tabs_->addTab(list, names[i]);
    }
    // The lists keep no font of their own, so they follow the application's
    // font when the system settings change.
    setWidget(tabs_);
}

void InformationOutputPane::Sync(COutputWnd::Tab tab) {
    QListWidget* list = lists_[tab];
    list->clear();
    for (const std::string& line : logic_.Lines(tab))
        list->addItem(QString::fromStdString(line));
}

void InformationOutputPane::ShowCameraInfo() {
    logic_.ShowCameraInfo();
    for (auto tab : {COutputWnd::kCamera, COutputWnd::kFeature, COutputWnd::kImage})
        Sync(tab);
}

void InformationOutputPane::ShowImageInfo() {
    logic_.ShowImageInfo();
    Sync(COutputWnd::kImage);
}

void InformationOutputPane::ShowNodeInfo(genapi::INode* node) {
    logic_.ShowNodeInfo(node);
    Sync(COutputWnd::kFeature);
}

void InformationOutputPane::UpdateFonts() {
    for (QListWidget* list : lists_)
        list->setFont(QApplication::font());
}

} // namespace qorcam::viewer
