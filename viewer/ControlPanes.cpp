// ControlPanes: the docking panes "Display", "Mode Set" and "Record" with the windows of their forms.
#include "ControlPanes.h"

#include <QComboBox>
#include <QFileDialog>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollArea>
#include <QSlider>
#include <QVBoxLayout>

namespace qorcam::viewer {

FormView::FormView(FormControls& controls, QWidget* parent) : QWidget(parent), controls_(controls) {
    controls_.onChanged = [this] { Sync(); };
}

void FormView::Bind(int id, QWidget* widget) {
    widgets_[id] = widget;
}

QWidget* FormView::Control(int id) const {
    auto it = widgets_.find(id);
    return it == widgets_.end() ? nullptr : it->second;
}

void FormView::Sync() {
    for (auto& [id, widget] : widgets_) {
        const FormControl& c = controls_[id];
        const QSignalBlocker block(widget);
        widget->setEnabled(c.enabled);
        if (auto* button = qobject_cast<QAbstractButton*>(widget)) {
            if (button->isCheckable()) button->setChecked(c.checked);
            if (!c.text.empty()) button->setText(QString::fromStdString(c.text));
        } else if (auto* slider = qobject_cast<QSlider*>(widget)) {
            slider->setRange(c.min, std::max(c.min, c.max));
            slider->setValue(c.pos);
            if (c.tick > 0) {
                slider->setTickInterval(c.tick);
                slider->setTickPosition(QSlider::TicksBelow);
            }
        } else if (auto* bar = qobject_cast<QProgressBar*>(widget)) {
            bar->setRange(c.min, std::max(c.min, c.max));
            bar->setValue(c.pos);
        } else if (auto* combo = qobject_cast<QComboBox*>(widget)) {
            QStringList items;
            for (const std::string& item : c.items)
                items << QString::fromStdString(item);
            QStringList shown;
            for (int i = 0; i < combo->count(); ++i)
                shown << combo->itemText(i);
            if (shown != items) {
                combo->clear();
                combo->addItems(items);
            }
            combo->setCurrentIndex(c.selection < combo->count() ? c.selection : -1);
        } else if (auto* edit = qobject_cast<QLineEdit*>(widget)) {
            if (edit->text().toStdString() != c.text) edit->setText(QString::fromStdString(c.text));
        } else if (auto* label = qobject_cast<QLabel*>(widget)) {
            label->setText(QString::fromStdString(c.text));
        }
        if (c.x >= 0 && c.y >= 0) widget->move(c.x, c.y);
        // Visibility is the form's own: a hidden pane keeps its controls' states.
        if (widget->isHidden() == c.visible) widget->setVisible(c.visible);
    }
}

namespace {

/// A radio button whose checks the form decides (never exclusive on its own).
QRadioButton* Radio(FormView* view, FormControls& controls, int id, QWidget* parent = nullptr) {
    auto* radio = new QRadioButton(QString::fromStdString(controls[id].text), parent);
    radio->setAutoExclusive(false);
    view->Bind(id, radio);
    return radio;
}

QPushButton* Button(FormView* view, FormControls& controls, int id, bool checkable,
                    QWidget* parent = nullptr) {
    auto* button = new QPushButton(QString::fromStdString(controls[id].text), parent);
    button->setCheckable(checkable);
    view->Bind(id, button);
    return button;
}

/// A button whose click sets the control's check state first, then tells the form.
template <class F> void OnClick(QAbstractButton* button, FormControls& controls, int id, F&& f) {
    QObject::connect(button, &QAbstractButton::clicked, button, [&controls, id, f](bool checked) {
        controls[id].checked = checked;
        f();
    });
}

template <class F> void OnMove(QSlider* slider, FormControls& controls, int id, F&& f) {
    QObject::connect(slider, &QSlider::valueChanged, slider, [&controls, id, f](int v) {
        controls[id].pos = v;
        f(v);
    });
}

/// The form scrolls inside its pane when the pane is smaller than it.
QWidget* Scrolled(FormView* view) {
    auto* area = new QScrollArea;
    area->setWidget(view);
    area->setWidgetResizable(true);
    area->setFrameShape(QFrame::NoFrame);
    return area;
}

} // namespace

CPaneDisplay::CPaneDisplay(IFormHost& host, QWidget* parent)
    : QDockWidget("Display", parent), form_(host), view_(new FormView(form_.controls)) {
    setObjectName("Display");
    FormControls& c = form_.controls;
    using F = CFormDisplay;
    auto* zoomBox = new QGroupBox;
    auto* zoomLayout = new QGridLayout(zoomBox);
    QRadioButton* zoom = Radio(view_, c, F::kZoom);
    QRadioButton* fit = Radio(view_, c, F::kFit);
    auto* zoomSlider = new QSlider(Qt::Horizontal);
    view_->Bind(F::kZoomSlider, zoomSlider);
    auto* percent = new QLineEdit;
    percent->setReadOnly(true);
    percent->setMaximumWidth(50);
    view_->Bind(F::kZoomPercent, percent);
    QPushButton* hundred = Button(view_, c, F::kZoom100, false);
    zoomLayout->addWidget(zoom, 0, 0);
    zoomLayout->addWidget(fit, 0, 1);
    zoomLayout->addWidget(zoomSlider, 1, 0, 1, 2);
    zoomLayout->addWidget(percent, 1, 2);
    zoomLayout->addWidget(hundred, 1, 3);

    auto* arrangeBox = new QGroupBox;
    auto* arrangeLayout = new QHBoxLayout(arrangeBox);
    QRadioButton* cascade = Radio(view_, c, F::kCascade);
    QRadioButton* tile = Radio(view_, c, F::kTile);
    arrangeLayout->addWidget(cascade);
    arrangeLayout->addWidget(tile);

    auto* rateBox = new QGroupBox("FPS");
    auto* rateLayout = new QHBoxLayout(rateBox);
    auto* rateSlider = new QSlider(Qt::Horizontal);
    view_->Bind(F::kRateSlider, rateSlider);
    auto* rateText = new QLineEdit;
    rateText->setReadOnly(true);
    rateText->setMaximumWidth(50);
    view_->Bind(F::kRateText, rateText);
    rateLayout->addWidget(rateSlider);
    rateLayout->addWidget(rateText);

    auto* refreshBox = new QGroupBox("Property refresh");
    auto* refreshLayout = new QHBoxLayout(refreshBox);
    auto* refresh = new QComboBox;
    view_->Bind(F::kRefreshList, refresh);
    refreshLayout->addWidget(refresh);

    auto* layout = new QHBoxLayout(view_);
    for (QWidget* w : {static_cast<QWidget*>(zoomBox), static_cast<QWidget*>(arrangeBox),
                       static_cast<QWidget*>(rateBox), static_cast<QWidget*>(refreshBox)})
        layout->addWidget(w);
    layout->addStretch();

    CFormDisplay& f = form_;
    OnClick(zoom, c, F::kZoom, [&f] { f.OnZoomMode(1); });
    OnClick(fit, c, F::kFit, [&f] { f.OnZoomMode(0); });
    OnClick(cascade, c, F::kCascade, [&f] { f.OnCascade(1); });
    OnClick(tile, c, F::kTile, [&f] { f.OnCascade(0); });
    OnClick(hundred, c, F::kZoom100, [&f] { f.OnZoom100(); });
    OnMove(zoomSlider, c, F::kZoomSlider, [&f](int v) { f.OnZoomMoved(v); });
    OnMove(rateSlider, c, F::kRateSlider, [&f](int v) { f.OnRateMoved(v); });
    connect(refresh, &QComboBox::activated, this, [&f, &c](int index) {
        c[F::kRefreshList].selection = index;
        f.OnRefreshSelected(index);
    });
    setWidget(Scrolled(view_));
    view_->Sync();
}

CPaneModeSet::CPaneModeSet(IFormHost& host, QWidget* parent)
    : QDockWidget("Mode Set", parent), form_(host), view_(new FormView(form_.controls)) {
    setObjectName("ModeSet");
    FormControls& c = form_.controls;
    using F = CFormModeSet;
    CFormModeSet& f = form_;

    auto* modeBox = new QGroupBox("Mode change");
    auto* modeLayout = new QVBoxLayout(modeBox);
    QRadioButton* camImage = Radio(view_, c, F::kCamImage);
    QRadioButton* playBack = Radio(view_, c, F::kPlayBack);
    modeLayout->addWidget(camImage);
    modeLayout->addWidget(playBack);
    OnClick(camImage, c, F::kCamImage, [&f] { f.OnCamImage(); });
    OnClick(playBack, c, F::kPlayBack, [&f] { f.OnPlayBack(); });

    auto* playBox = new QGroupBox("Image Play");
    auto* playLayout = new QGridLayout(playBox);
    const std::pair<int, void (CFormModeSet::*)()> play[] = {{F::kStart, &CFormModeSet::OnStart},
                                                             {F::kStop, &CFormModeSet::OnStop},
                                                             {F::kAllStart, &CFormModeSet::OnAllStart},
                                                             {F::kAllStop, &CFormModeSet::OnAllStop}};
    for (int i = 0; i < 4; ++i) {
        QPushButton* b = Button(view_, c, play[i].first, false);
        playLayout->addWidget(b, i / 2, i % 2);
        connect(b, &QPushButton::clicked, this, [&f, m = play[i].second] { (f.*m)(); });
    }

    auto* paneBox = new QGroupBox("Pane select");
    auto* paneLayout = new QGridLayout(paneBox);
    const int panes[] = {F::kCamera, F::kProperty, F::kFeature, F::kDisplay, F::kInfo, F::kRecord};
    for (int i = 0; i < 6; ++i) {
        QPushButton* b = Button(view_, c, panes[i], true);
        paneLayout->addWidget(b, i / 2, i % 2);
        OnClick(b, c, panes[i], [&f, id = panes[i]] { f.OnPaneButton(id); });
    }

    auto* execBox = new QGroupBox("Exec");
    auto* execLayout = new QGridLayout(execBox);
    const std::pair<int, void (CFormModeSet::*)()> exec[] = {{F::kBmpSave, &CFormModeSet::OnBmpSave},
                                                             {F::kConfig, &CFormModeSet::OnConfig},
                                                             {F::kHelp, &CFormModeSet::OnHelp}};
    for (int i = 0; i < 3; ++i) {
        QPushButton* b = Button(view_, c, exec[i].first, false);
        execLayout->addWidget(b, i / 2, i % 2);
        connect(b, &QPushButton::clicked, this, [&f, m = exec[i].second] { (f.*m)(); });
    }

    // Stacked and narrow: the pane sits in a column beside the windows.
    auto* layout = new QVBoxLayout(view_);
    for (QWidget* w : {static_cast<QWidget*>(modeBox), static_cast<QWidget*>(playBox),
                       static_cast<QWidget*>(paneBox), static_cast<QWidget*>(execBox)})
        layout->addWidget(w);
    for (QPushButton* b : view_->findChildren<QPushButton*>())
        b->setMinimumWidth(40);
    layout->addStretch();
    setWidget(Scrolled(view_));
    view_->Sync();
}

CPaneRecordSet::CPaneRecordSet(IFormHost& host, QWidget* parent)
    : QDockWidget("Record", parent), form_(host), view_(new FormView(form_.controls)) {
    setObjectName("Record");
    FormControls& c = form_.controls;
    using F = CFormRecordSet;
    CFormRecordSet& f = form_;
    // The form keeps the places a dialog template would give its controls.
    auto place = [this](QWidget* w, int id, int x, int y, int width, int height) {
        w->setParent(view_);
        w->setGeometry(x, y, width, height);
        view_->Bind(id, w);
    };
    const std::pair<int, uint32_t> triggers[] = {{F::kBefore, 1}, {F::kBeforeAfter, 2}, {F::kAfter, 3}};
    int y = 5;
    for (auto& [id, mode] : triggers) {
        QRadioButton* r = Radio(view_, c, id, view_);
        place(r, id, 7, y, 120, 20);
        y += 22;
        OnClick(r, c, id, [&f, mode = mode] { f.OnTrigger(mode); });
    }
    QPushButton* start = Button(view_, c, F::kStart, true, view_);
    place(start, F::kStart, 130, 5, 90, 32);
    OnClick(start, c, F::kStart, [&f] { f.OnStart(); });
    auto* frames = new QLineEdit;
    place(frames, F::kFrames, 130, 42, 90, 24);
    connect(frames, &QLineEdit::textEdited, this,
            [&c](const QString& text) { c[F::kFrames].text = text.toStdString(); });
    auto* windows = new QComboBox;
    place(windows, F::kWindows, 7, 80, 213, 26);
    connect(windows, &QComboBox::activated, this, [&f, &c](int index) {
        c[F::kWindows].selection = index;
        f.OnWindowSelected(index);
    });
    place(new QLabel, F::kCounterLabel, 7, 120, 140, 20);
    place(new QLabel, F::kCounter, 150, 120, 80, 20);
    auto* progress = new QProgressBar;
    progress->setTextVisible(false);
    place(progress, F::kProgress, 7, 150, 213, 18);
    auto* slider = new QSlider(Qt::Horizontal);
    place(slider, F::kFrameSlider, 7, 50, 213, 24);
    OnMove(slider, c, F::kFrameSlider, [&f](int v) { f.OnFrameMoved(v); });
    QPushButton* folderSet = Button(view_, c, F::kFolderSet, false, view_);
    place(folderSet, F::kFolderSet, 7, 178, 80, 26);
    auto* folder = new QLineEdit;
    folder->setReadOnly(true);
    place(folder, F::kFolder, 90, 180, 130, 24);
    connect(folderSet, &QPushButton::clicked, this, [this, &f] {
        f.OnFolderChosen(QFileDialog::getExistingDirectory(this, "Select save folder", QString(),
                                                           QFileDialog::ShowDirsOnly)
                             .toStdString());
    });
    view_->setMinimumSize(225, 210);
    setWidget(Scrolled(view_));
    view_->Sync();
}

} // namespace qorcam::viewer
