// PropertyGridView: the feature grid shown as a two-column tree ("Property" / "Value").
#pragma once

#include "PropertiesWnd.h"

#include <QAbstractItemModel>
#include <QColor>
#include <QStyledItemDelegate>
#include <QTreeView>

namespace qorcam::viewer {

/// The grid's items as a Qt model. It only reads the grid; an edit sets the
/// item's value and emits ItemEdited, and the pane does the rest.
/// A colour stored as the grid stores it, 0x00BBGGRR (red in the low byte):
/// 0xFF0000 is blue.
QColor ColourOf(uint32_t bgr);

class PropertyGridModel : public QAbstractItemModel {
    Q_OBJECT
public:
    explicit PropertyGridModel(CPropertiesWnd& pane, QObject* parent = nullptr);

    /// After the grid's structure changed.
    void Reset();
    void ItemChanged(CPropertyGridProperty* item);
    CPropertyGridProperty* Item(const QModelIndex& index) const;
    QModelIndex IndexOf(CPropertyGridProperty* item, int column = 0) const;

    QModelIndex index(int row, int column, const QModelIndex& parent = {}) const override;
    QModelIndex parent(const QModelIndex& index) const override;
    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;
    bool setData(const QModelIndex& index, const QVariant& value, int role) override;

signals:
    /// By id: the slot may run after a rebuild freed the item.
    void ItemEdited(quint64 itemId);

private:
    int RowOf(CPropertyGridProperty* item) const;
    CPropertiesWnd& pane_;
};

/// Editors by item: a list for items with options, a spin box over the
/// item's range for numbers, a line for everything else.
class PropertyGridDelegate : public QStyledItemDelegate {
    Q_OBJECT
public:
    explicit PropertyGridDelegate(PropertyGridModel& model, QObject* parent = nullptr)
        : QStyledItemDelegate(parent), model_(model) {}
    QWidget* createEditor(QWidget* parent, const QStyleOptionViewItem& option,
                          const QModelIndex& index) const override;
    void setEditorData(QWidget* editor, const QModelIndex& index) const override;
    void setModelData(QWidget* editor, QAbstractItemModel* model, const QModelIndex& index) const override;

private:
    PropertyGridModel& model_;
};

} // namespace qorcam::viewer
