// PropertiesPane: the docking pane "Properties" with the visibility combo and the feature grid.
#include "PropertiesPane.h"

#include <QCoreApplication>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QThread>
#include <QVBoxLayout>

namespace qorcam::viewer {

PropertiesPane::PropertiesPane(IViewerHost& host, QWidget* parent)
    : QDockWidget("Properties", parent), logic_(host) {
    setObjectName("Properties");
    auto* body = new QWidget(this);
    auto* layout = new QVBoxLayout(body);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    combo_ = new QComboBox(body);
    combo_->addItems({"Beginner", "Expert", "Guru", "Favorite"});
    combo_->setCurrentIndex(0);
    combo_->setEnabled(false);
    view_ = new QTreeView(body);
    model_ = new PropertyGridModel(logic_, this);
    view_->setModel(model_);
    view_->setItemDelegate(new PropertyGridDelegate(*model_, view_));
    view_->setEditTriggers(QAbstractItemView::SelectedClicked | QAbstractItemView::DoubleClicked |
                           QAbstractItemView::EditKeyPressed);
    view_->setAlternatingRowColors(true);
    view_->header()->setSectionResizeMode(0, QHeaderView::Interactive);
    view_->header()->setStretchLastSection(true);
    view_->header()->resizeSection(0, 170);
    view_->header()->setSectionsClickable(false);
    layout->addWidget(combo_);
    layout->addWidget(view_);
    setWidget(body);

    connect(combo_, &QComboBox::activated, this, [this](int index) {
        logic_.OnLevelChanged(static_cast<uint32_t>(index));
        SyncView();
    });
    // After the editor has closed: the change may rebuild the grid.
    connect(
        model_, &PropertyGridModel::ItemEdited, this,
        [this](quint64 id) {
            CPropertyGridProperty* item = logic_.Grid().FindItem(id);
            if (!item) return;
            logic_.Grid().OnPropertyChanged(item);
            if (CPropertyGridProperty* still = logic_.Grid().FindItem(id)) model_->ItemChanged(still);
        },
        Qt::QueuedConnection);
    connect(view_->selectionModel(), &QItemSelectionModel::currentChanged, this,
            [this](const QModelIndex& now, const QModelIndex& before) {
                if (syncing_) return;
                logic_.Grid().SetCurSel(model_->Item(now));
                logic_.Grid().OnChangeSelection(model_->Item(now), model_->Item(before));
            });
    auto expansion = [this](const QModelIndex& index, bool expanded) {
        if (syncing_) return;
        CPropertyGridProperty* item = model_->Item(index);
        if (!item) return;
        {
            std::lock_guard lock(logic_.GridLock());
            item->Expand(expanded);
        }
        logic_.Grid().OnDrawProperty(item);
    };
    connect(view_, &QTreeView::expanded, this, [expansion](const QModelIndex& i) { expansion(i, true); });
    connect(view_, &QTreeView::collapsed, this, [expansion](const QModelIndex& i) { expansion(i, false); });
    connect(this, &QDockWidget::visibilityChanged, this, [this](bool visible) {
        shown_ = visible;
        if (visible) RebuildPropertyList();
    });
    connect(&timer1_, &QTimer::timeout, this, [this] { logic_.StartPropertyRefresh(); });
    connect(&timer10_, &QTimer::timeout, this, [this] { logic_.StartPropertyRefresh(); });
}

PropertiesPane::~PropertiesPane() {
    StopRefresh();
}

void PropertiesPane::StopRefresh() {
    timer1_.stop();
    timer10_.stop();
    logic_.StopRefresh([] { QCoreApplication::processEvents(QEventLoop::AllEvents, 5); });
}

void PropertiesPane::RebuildPropertyList() {
    logic_.RebuildPropertyList();
    SyncView();
}

void PropertiesPane::SyncExpansion(const QModelIndex& parent) {
    for (int row = 0; row < model_->rowCount(parent); ++row) {
        QModelIndex i = model_->index(row, 0, parent);
        CPropertyGridProperty* item = model_->Item(i);
        if (!item) continue;
        view_->setRowHidden(row, parent, !item->IsVisible());
        if (item->GetSubItemsCount() > 0) {
            view_->setExpanded(i, item->IsExpanded());
            SyncExpansion(i);
        }
    }
}

void PropertiesPane::SyncView() {
    syncing_ = true;
    model_->Reset();
    SyncExpansion({});
    if (CPropertyGridProperty* current = logic_.Grid().GetCurSel()) {
        QModelIndex i = model_->IndexOf(current);
        view_->setCurrentIndex(i);
        view_->scrollTo(i);
    }
    syncing_ = false;
}

void PropertiesPane::SetTimer(unsigned id, unsigned ms) {
    QMetaObject::invokeMethod(
        this, [this, id, ms] { (id == 10 ? timer10_ : timer1_).start(static_cast<int>(ms)); },
        Qt::QueuedConnection);
}

void PropertiesPane::KillTimer(unsigned id) {
    if (QThread::currentThread() == thread()) {
        (id == 10 ? timer10_ : timer1_).stop();
        return;
    }
    QMetaObject::invokeMethod(
        this, [this, id] { (id == 10 ? timer10_ : timer1_).stop(); }, Qt::QueuedConnection);
}

void PropertiesPane::ShowLevel(uint32_t level) {
    combo_->setCurrentIndex(static_cast<int>(level));
    combo_->setEnabled(true);
}

void PropertiesPane::SendGridValue(uint64_t itemId, const GridValue& value) {
    auto apply = [this, itemId, value] {
        logic_.ApplyGridValue(itemId, value);
        model_->ItemChanged(logic_.Grid().FindItem(itemId));
    };
    if (QThread::currentThread() == thread())
        apply();
    else
        QMetaObject::invokeMethod(this, apply, Qt::BlockingQueuedConnection);
}

void PropertiesPane::PostPropertyRefresh() {
    QMetaObject::invokeMethod(
        this,
        [this] {
            if (onPropertyRefresh) onPropertyRefresh();
        },
        Qt::QueuedConnection);
}

} // namespace qorcam::viewer
