// PropertyGridView: the feature grid shown as a two-column tree ("Property" / "Value").
#include "PropertyGridView.h"

#include <QBrush>
#include <QColor>
#include <QComboBox>
#include <QFont>
#include <QLineEdit>
#include <QSpinBox>

#include <limits>

namespace qorcam::viewer {

QColor ColourOf(uint32_t bgr) {
    return QColor(static_cast<int>(bgr & 0xFF), static_cast<int>((bgr >> 8) & 0xFF), static_cast<int>((bgr >> 16) & 0xFF));
}

PropertyGridModel::PropertyGridModel(CPropertiesWnd& pane, QObject* parent)
    : QAbstractItemModel(parent), pane_(pane) {}

void PropertyGridModel::Reset() {
    beginResetModel();
    endResetModel();
}

void PropertyGridModel::ItemChanged(CPropertyGridProperty* item) {
    QModelIndex i = IndexOf(item, 1);
    if (i.isValid()) emit dataChanged(i, i);
}

CPropertyGridProperty* PropertyGridModel::Item(const QModelIndex& index) const {
    return index.isValid() ? static_cast<CPropertyGridProperty*>(index.internalPointer()) : nullptr;
}

int PropertyGridModel::RowOf(CPropertyGridProperty* item) const {
    if (CPropertyGridProperty* parent = item->GetParent()) {
        for (size_t i = 0; i < parent->GetSubItemsCount(); ++i)
            if (parent->GetSubItem(i) == item) return static_cast<int>(i);
        return -1;
    }
    CCameraProperty& grid = pane_.Grid();
    for (size_t i = 0; i < grid.GetPropertyCount(); ++i)
        if (grid.GetProperty(i) == item) return static_cast<int>(i);
    return -1;
}

QModelIndex PropertyGridModel::IndexOf(CPropertyGridProperty* item, int column) const {
    if (!item) return {};
    int row = RowOf(item);
    return row < 0 ? QModelIndex() : createIndex(row, column, item);
}

QModelIndex PropertyGridModel::index(int row, int column, const QModelIndex& parent) const {
    if (row < 0 || column < 0 || column > 1) return {};
    if (!parent.isValid()) {
        CCameraProperty& grid = pane_.Grid();
        if (static_cast<size_t>(row) >= grid.GetPropertyCount()) return {};
        return createIndex(row, column, grid.GetProperty(static_cast<size_t>(row)));
    }
    CPropertyGridProperty* p = Item(parent);
    if (!p || static_cast<size_t>(row) >= p->GetSubItemsCount()) return {};
    return createIndex(row, column, p->GetSubItem(static_cast<size_t>(row)));
}

QModelIndex PropertyGridModel::parent(const QModelIndex& index) const {
    CPropertyGridProperty* item = Item(index);
    return item ? IndexOf(item->GetParent()) : QModelIndex();
}

int PropertyGridModel::rowCount(const QModelIndex& parent) const {
    if (!parent.isValid()) return static_cast<int>(pane_.Grid().GetPropertyCount());
    if (parent.column() > 0) return 0;
    CPropertyGridProperty* p = Item(parent);
    return p ? static_cast<int>(p->GetSubItemsCount()) : 0;
}

int PropertyGridModel::columnCount(const QModelIndex&) const {
    return 2;
}

QVariant PropertyGridModel::data(const QModelIndex& index, int role) const {
    CPropertyGridProperty* item = Item(index);
    if (!item) return {};
    switch (role) {
    case Qt::DisplayRole:
        if (index.column() == 0) return QString::fromStdString(item->GetName());
        if (item->IsGroup() && item->GetOptions().empty() && !item->IsReadOnlyItem()) return {};
        return QString::fromStdString(item->GetValue().ToText());
    case Qt::EditRole:
        if (index.column() == 1) {
            const GridValue& v = item->GetValue();
            if (v.kind == GridValue::Kind::Int || v.kind == GridValue::Kind::I4)
                return QVariant::fromValue<qlonglong>(v.integer);
            return QString::fromStdString(v.ToText());
        }
        return {};
    case Qt::ToolTipRole:
        return QString::fromStdString(item->GetDescription());
    case Qt::ForegroundRole:
        if (index.column() == 1 && item->TextColour()) return QBrush(ColourOf(item->TextColour()));
        if (!item->IsEnabled()) return QBrush(QColor(0x80, 0x80, 0x80));
        return {};
    case Qt::BackgroundRole:
        if (item->IsGroup() && !item->GetParent()) return QBrush(QColor(0xE4, 0xE4, 0xE4));
        return {};
    case Qt::FontRole:
        if (item->IsGroup() && !item->GetParent()) {
            QFont f;
            f.setBold(true);
            return f;
        }
        return {};
    default:
        return {};
    }
}

QVariant PropertyGridModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation == Qt::Horizontal && role == Qt::DisplayRole) return section == 0 ? "Property" : "Value";
    return {};
}

Qt::ItemFlags PropertyGridModel::flags(const QModelIndex& index) const {
    CPropertyGridProperty* item = Item(index);
    if (!item) return Qt::NoItemFlags;
    Qt::ItemFlags f = Qt::ItemIsSelectable;
    if (item->IsEnabled()) f |= Qt::ItemIsEnabled;
    if (index.column() == 1 && !item->IsReadOnlyItem() &&
        (item->IsAllowEdit() || !item->GetOptions().empty()))
        f |= Qt::ItemIsEditable;
    return f;
}

bool PropertyGridModel::setData(const QModelIndex& index, const QVariant& value, int role) {
    CPropertyGridProperty* item = Item(index);
    if (!item || role != Qt::EditRole || index.column() != 1) return false;
    const GridValue& old = item->GetValue();
    GridValue v;
    switch (old.kind) {
    case GridValue::Kind::Int:
        v = GridValue::Int(value.toLongLong());
        break;
    case GridValue::Kind::I4:
        v = GridValue::I4(value.toLongLong());
        break;
    case GridValue::Kind::R8:
        v = GridValue::R8(value.toString().toDouble());
        break;
    case GridValue::Kind::Bool:
        v = GridValue::Bool(value.toString() == "True");
        break;
    default:
        v = GridValue::Text(value.toString().toStdString());
        break;
    }
    {
        std::lock_guard lock(pane_.GridLock());
        item->SetValue(v);
    }
    emit dataChanged(index, index);
    emit ItemEdited(item->Id());
    return true;
}

QWidget* PropertyGridDelegate::createEditor(QWidget* parent, const QStyleOptionViewItem& option,
                                            const QModelIndex& index) const {
    CPropertyGridProperty* item = model_.Item(index);
    if (!item) return QStyledItemDelegate::createEditor(parent, option, index);
    if (!item->GetOptions().empty()) {
        auto* combo = new QComboBox(parent);
        for (const std::string& o : item->GetOptions())
            combo->addItem(QString::fromStdString(o));
        return combo;
    }
    const GridValue& v = item->GetValue();
    if (v.kind == GridValue::Kind::Int || v.kind == GridValue::Kind::I4) {
        auto* spin = new QSpinBox(parent);
        if (item->HasSpin())
            spin->setRange(static_cast<int>(item->SpinMin()), static_cast<int>(item->SpinMax()));
        else
            spin->setRange(std::numeric_limits<int>::min(), std::numeric_limits<int>::max());
        return spin;
    }
    return new QLineEdit(parent);
}

void PropertyGridDelegate::setEditorData(QWidget* editor, const QModelIndex& index) const {
    CPropertyGridProperty* item = model_.Item(index);
    if (!item) return;
    const QString text = QString::fromStdString(item->GetValue().ToText());
    if (auto* combo = qobject_cast<QComboBox*>(editor))
        combo->setCurrentText(text);
    else if (auto* spin = qobject_cast<QSpinBox*>(editor))
        spin->setValue(static_cast<int>(item->GetValue().integer));
    else if (auto* line = qobject_cast<QLineEdit*>(editor))
        line->setText(text);
}

void PropertyGridDelegate::setModelData(QWidget* editor, QAbstractItemModel* model,
                                        const QModelIndex& index) const {
    if (auto* combo = qobject_cast<QComboBox*>(editor))
        model->setData(index, combo->currentText(), Qt::EditRole);
    else if (auto* spin = qobject_cast<QSpinBox*>(editor))
        model->setData(index, static_cast<qlonglong>(spin->value()), Qt::EditRole);
    else if (auto* line = qobject_cast<QLineEdit*>(editor))
        model->setData(index, line->text(), Qt::EditRole);
}

} // namespace qorcam::viewer
