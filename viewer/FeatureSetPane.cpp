// FeatureSetPane: the docking pane "Feature Set" with the form that edits one feature.
#include "FeatureSetPane.h"

#include <QGridLayout>
#include <QSignalBlocker>

namespace qorcam::viewer {

namespace {

void Show(QWidget* w, const EditorControl& c) {
    w->setVisible(c.visible);
    w->setEnabled(c.enabled);
}

} // namespace

FeatureSetPane::FeatureSetPane(IViewerHost& viewer, IFeatureEditorHost& host, QWidget* parent)
    : QDockWidget("Feature Set", parent), logic_(viewer, host) {
    setObjectName("FeatureSet");
    auto* form = new QWidget(this);
    form->setWindowTitle("FeatureSet");
    auto* grid = new QGridLayout(form);
    favorite_ = new QCheckBox("Favorite", form);
    refresh_ = new QCheckBox("Refresh", form);
    set_ = new QPushButton("Set", form);
    set_->setDefault(true);
    value_ = new QLineEdit(form);
    min_ = new QLineEdit(form);
    max_ = new QLineEdit(form);
    inc_ = new QLineEdit(form);
    for (QLineEdit* range : {min_, max_, inc_})
        range->setReadOnly(true);
    slider_ = new QSlider(Qt::Horizontal, form);
    slider_->setTickPosition(QSlider::TicksBelow);
    combo_ = new QComboBox(form);
    exec_ = new QPushButton("Exec", form);
    favorite_->setObjectName("Favorite");
    refresh_->setObjectName("Refresh");
    set_->setObjectName("Set");
    value_->setObjectName("Value");
    min_->setObjectName("Min");
    max_->setObjectName("Max");
    inc_->setObjectName("Inc");
    slider_->setObjectName("Slider");
    combo_->setObjectName("Combo");
    exec_->setObjectName("Exec");
    grid->addWidget(favorite_, 0, 0);
    grid->addWidget(refresh_, 0, 1);
    grid->addWidget(set_, 0, 2);
    grid->addWidget(value_, 1, 0, 1, 3);
    grid->addWidget(min_, 2, 0);
    grid->addWidget(max_, 2, 1);
    grid->addWidget(inc_, 2, 2);
    grid->addWidget(slider_, 3, 0, 1, 3);
    grid->addWidget(combo_, 4, 0, 1, 2);
    grid->addWidget(exec_, 4, 2);
    grid->setRowStretch(5, 1);
    setWidget(form);

    connect(set_, &QPushButton::clicked, this, [this] { Handle([this] { logic_.OnSet(); }); });
    // Return in the value edit presses the default button.
    connect(value_, &QLineEdit::returnPressed, this, [this] {
        if (set_->isVisible() && set_->isEnabled()) Handle([this] { logic_.OnSet(); });
    });
    connect(exec_, &QPushButton::clicked, this, [this] { Handle([this] { logic_.OnExec(); }); });
    connect(favorite_, &QCheckBox::clicked, this, [this] { Handle([this] { logic_.OnFavorite(); }); });
    connect(refresh_, &QCheckBox::clicked, this, [this] { Handle([this] { logic_.OnRefresh(); }); });
    connect(slider_, &QSlider::valueChanged, this, [this] { Handle([this] { logic_.OnSlider(); }); });
    connect(combo_, &QComboBox::activated, this, [this] { Handle([this] { logic_.OnComboChange(); }); });
    Push();
}

void FeatureSetPane::OnFeatureSelect(genapi::INode* node, CPropertyGridProperty* item) {
    Handle([&] { logic_.OnFeatureSelect(node, item); });
}

void FeatureSetPane::ClearFeatureEditor() {
    Handle([this] { logic_.ClearFeatureEditor(); });
}

void FeatureSetPane::HideValueControls() {
    Handle([this] { logic_.HideValueControls(); });
}

void FeatureSetPane::Pull() {
    CFormFeatureSet& f = logic_.Form();
    f.value = value_->text().toStdString();
    f.favorite.checked = favorite_->isChecked();
    f.refresh.checked = refresh_->isChecked();
    f.slider.position = slider_->value();
    f.combo.selection = combo_->currentIndex();
}

void FeatureSetPane::Push() {
    CFormFeatureSet& f = logic_.Form();
    const QSignalBlocker blockSlider(slider_), blockCombo(combo_), blockFavorite(favorite_),
        blockRefresh(refresh_);
    Show(favorite_, f.favorite);
    favorite_->setChecked(f.favorite.checked);
    Show(refresh_, f.refresh);
    refresh_->setChecked(f.refresh.checked);
    Show(set_, f.set);
    Show(value_, f.valueEdit);
    Show(min_, f.minEdit);
    Show(max_, f.maxEdit);
    Show(inc_, f.incEdit);
    Show(exec_, f.exec);
    if (value_->text().toStdString() != f.value) value_->setText(QString::fromStdString(f.value));
    min_->setText(QString::fromStdString(f.min));
    max_->setText(QString::fromStdString(f.max));
    inc_->setText(QString::fromStdString(f.inc));

    Show(slider_, f.slider);
    slider_->setRange(f.slider.rangeMin, f.slider.rangeMax);
    slider_->setTickInterval(f.slider.tick);
    slider_->setPageStep(f.slider.tick);
    slider_->setValue(f.slider.position);

    Show(combo_, f.combo);
    QStringList items;
    for (const std::string& item : f.combo.items)
        items << QString::fromStdString(item);
    QStringList shown;
    for (int i = 0; i < combo_->count(); ++i)
        shown << combo_->itemText(i);
    if (shown != items) {
        combo_->clear();
        combo_->addItems(items);
    }
    combo_->setCurrentIndex(f.combo.selection);

    if (f.sliderFocus && f.slider.visible) slider_->setFocus();
    f.sliderFocus = false;
}

} // namespace qorcam::viewer
