// The main frame and its feature grid pane on an offscreen display, over the fixture's node map.
#include "ViewerFixture.h"

#include "MainFrame.h"

#include <QApplication>
#include <QComboBox>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QMenuBar>
#include <QPixmap>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QSlider>
#include <QTextBrowser>

#include "QtTestApp.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

using namespace qorcam::viewer;
using namespace qorcam::viewer::testing;
using namespace qorcam::genapi;

namespace {

struct Frame {
    QApplication& qapp = Application();
    FakeHost camera; // the node map, port and a camera window over them
    CQorViewerApp app{camera.api};
    CMainFrame frame{app};
    Frame() {
        app.openChildren.push_back(&camera.child);
        camera.child.gridFlag = 0;
        camera.child.title = "Fixture 0x0000000000000011";
        frame.show();
        Pump();
        frame.OnChildChanged(&camera.child);
        Pump();
    }
    PropertyGridModel* Model() {
        return static_cast<PropertyGridModel*>(frame.Properties()->View()->model());
    }
    QModelIndex Row(const QString& name, const QModelIndex& parent = {}) {
        for (int r = 0; r < Model()->rowCount(parent); ++r) {
            QModelIndex i = Model()->index(r, 0, parent);
            if (Model()->data(i, Qt::DisplayRole).toString() == name) return i;
        }
        return {};
    }
};

} // namespace

TEST(MainFrame, ShowsTheActiveWindowsFeaturesAndWritesEdits) {
    Frame f;
    QTreeView* view = f.frame.Properties()->View();
    ASSERT_EQ(f.Model()->rowCount(), 3);
    EXPECT_EQ(f.Model()->headerData(0, Qt::Horizontal, Qt::DisplayRole).toString(), "Property");
    EXPECT_TRUE(f.frame.Properties()->Combo()->isEnabled());
    EXPECT_EQ(f.camera.child.gridFlag.load(), 1);

    // Opening a group asks for a rebuild that fills it expanded.
    QModelIndex image = f.Row("Image Format");
    view->expand(image);
    Pump();
    image = f.Row("Image Format");
    EXPECT_TRUE(view->isExpanded(image));
    EXPECT_EQ(f.camera.child.expansionStates["Image Format"], 1u);
    QModelIndex width = f.Row("Width", image);
    ASSERT_TRUE(width.isValid());
    QModelIndex value = width.siblingAtColumn(1);
    EXPECT_EQ(f.Model()->data(value, Qt::DisplayRole).toString(), "22");
    EXPECT_TRUE(f.Model()->flags(value) & Qt::ItemIsEditable);

    // An edit is corrected to the node's increment and written.
    f.Model()->setData(value, 23, Qt::EditRole);
    Pump();
    EXPECT_EQ(
        f.Model()->data(f.Row("Width", f.Row("Image Format")).siblingAtColumn(1), Qt::DisplayRole).toString(),
        "22");
    EXPECT_EQ(f.camera.port.Get32LE(0x00), 22u);

    if (const char* shot = std::getenv("QORCAM_VIEWER_SCREENSHOT")) {
        view->expand(f.Row("Device Control"));
        Pump(200);
        view->expand(f.Row("Acquisition"));
        Pump(200);
        view->setCurrentIndex(f.Row("Width", f.Row("Image Format")));
        Pump(100);
        f.frame.grab().save(shot);
    }

    // No active window: the grid empties.
    f.frame.OnChildChanged(nullptr);
    Pump();
    EXPECT_EQ(f.Model()->rowCount(), 0);
    EXPECT_EQ(f.camera.child.gridFlag.load(), 0);
}

TEST(MainFrame, TheRefreshWorkerKeepsVolatileValuesCurrent) {
    Frame f;
    f.frame.Properties()->View()->expand(f.Row("Acquisition"));
    Pump();
    QModelIndex temperature = f.Row("Temperature", f.Row("Acquisition")).siblingAtColumn(1);
    ASSERT_TRUE(temperature.isValid());
    EXPECT_EQ(f.Model()->data(temperature, Qt::DisplayRole).toString(), "40");
    f.frame.Properties()->Logic().refreshMode = kRefreshAllItem;
    f.camera.port.Put32LE(0x08, 57);
    // Timer 10 starts the first cycle after a second; the worker hands the
    // value to this thread and waits for it.
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < 5000 && f.Model()->data(temperature, Qt::DisplayRole).toString() != "57")
        Pump(20);
    EXPECT_EQ(f.Model()->data(temperature, Qt::DisplayRole).toString(), "57");
    // Closing the frame ends a cycle that may be waiting for this thread.
    f.frame.close();
    EXPECT_FALSE(f.frame.Properties()->Logic().RefreshBusy());
}

// The frame's size and place and the panes' layout come back in the next run;
// the mode-set form fits its pane without scrolling.
TEST(MainFrame, WindowLayoutIsKeptWithTheSettings) {
    char pattern[] = "/tmp/qorcam-viewer-layout-XXXXXX";
    const std::filesystem::path folder = ::mkdtemp(pattern);
    qorcam::os::SettingsStore store((folder / "user.ini").string());
    QSize saved;
    {
        Frame f;
        auto* modeArea = qobject_cast<QScrollArea*>(f.frame.ModeSetPane()->widget());
        ASSERT_NE(modeArea, nullptr);
        EXPECT_EQ(modeArea->verticalScrollBar()->maximum(), 0) << "the mode-set form scrolls";
        f.frame.resize(1000, 640);
        f.frame.move(40, 30);
        f.frame.CameraTreePane()->hide();
        f.frame.Pane("Record")->show(); // record mode: not part of the layout
        Pump();
        saved = f.frame.size(); // the panes' least sizes may make it taller than asked
        f.frame.SaveWindowState(store);
    }
    Frame g;
    ASSERT_NE(g.frame.size(), saved);
    EXPECT_TRUE(g.frame.CameraTreePane()->isVisible());
    g.frame.RestoreWindowState(store);
    Pump();
    EXPECT_EQ(g.frame.size(), saved);
    EXPECT_FALSE(g.frame.CameraTreePane()->isVisible());
    EXPECT_TRUE(g.frame.Properties()->isVisible());
    EXPECT_FALSE(g.frame.Pane("Record")->isVisible());

    // Nothing kept, or a damaged record: the layout stays as built.
    Frame h;
    qorcam::os::SettingsStore empty((folder / "none.ini").string());
    h.frame.RestoreWindowState(empty);
    store.SetBinary(std::string(kViewerKey) + "\\Window", "Panes", {1, 2, 3});
    h.frame.RestoreWindowState(store);
    Pump();
    EXPECT_TRUE(h.frame.CameraTreePane()->isVisible());
    std::filesystem::remove_all(folder);
}

TEST(MainFrame, MenusAndMaxView) {
    Frame f;
    QStringList menus;
    for (QAction* a : f.frame.menuBar()->actions())
        menus << a->text();
    EXPECT_EQ(menus, (QStringList{"&File", "&Help"}));
    EXPECT_FALSE(f.frame.Pane("Record")->isVisible());
    f.frame.ToggleMaxView();
    Pump();
    EXPECT_FALSE(f.frame.Properties()->isVisible());
    EXPECT_FALSE(f.frame.CameraTreePane()->isVisible());
    f.frame.ToggleMaxView();
    Pump();
    EXPECT_TRUE(f.frame.Properties()->isVisible());
    EXPECT_TRUE(f.frame.OutputPane()->isVisible() ||
                !f.frame.OutputPane()->isVisible()); // tabbed: may be behind Display
    EXPECT_FALSE(f.frame.Pane("Record")->isVisible());
}

TEST(MainFrame, ALostCameraLeavesTheFrame) {
    Frame f;
    f.camera.api.connected = FALSE;
    f.frame.CheckChildren(1);
    f.frame.CheckChildren(0);
    Pump();
    EXPECT_TRUE(f.app.openChildren.empty());
    EXPECT_EQ(f.app.activeChild.load(), nullptr);
    EXPECT_EQ(f.app.cameraTable[0].reopen, 1);
    EXPECT_EQ(f.Model()->rowCount(), 0);
}

TEST(MainFrame, ModeSetButtonsShowPanesAndSwitchRecordMode) {
    Frame f;
    auto* record = qobject_cast<QPushButton*>(f.frame.ModeSetPane()->View()->Control(CFormModeSet::kRecord));
    auto* property =
        qobject_cast<QPushButton*>(f.frame.ModeSetPane()->View()->Control(CFormModeSet::kProperty));
    ASSERT_TRUE(record && property);
    EXPECT_FALSE(record->isChecked());
    EXPECT_TRUE(property->isChecked());

    record->click();
    Pump();
    EXPECT_TRUE(f.frame.RecordPane()->isVisible());
    EXPECT_TRUE(f.frame.RecordMode());
    EXPECT_FALSE(f.frame.Properties()->isVisible());
    EXPECT_FALSE(property->isEnabled());
    EXPECT_EQ(f.camera.child.gridFlag.load(), 0); // no window feeds the grid in record mode
    EXPECT_EQ(f.frame.RecordPane()->Form().controls[CFormRecordSet::kWindows].items,
              (std::vector<std::string>{"Fixture 0x0000000000000011"}));

    // "Max view" hides the record pane for a while: record mode stays, and
    // the grid panes stay hidden.
    f.frame.ToggleMaxView();
    Pump();
    EXPECT_TRUE(f.frame.RecordMode());
    EXPECT_FALSE(f.frame.Properties()->isVisible());
    f.frame.ToggleMaxView();
    Pump();
    EXPECT_TRUE(f.frame.RecordPane()->isVisible());
    EXPECT_TRUE(f.frame.RecordMode());
    EXPECT_TRUE(record->isChecked());

    // Closing the record pane by its own button ends record mode too.
    f.frame.RecordPane()->close();
    Pump();
    EXPECT_FALSE(f.frame.RecordMode());
    EXPECT_FALSE(record->isChecked());
    EXPECT_TRUE(f.frame.Properties()->isVisible());
    EXPECT_TRUE(property->isChecked());

    // A pane closed elsewhere releases its button.
    auto* camera = qobject_cast<QPushButton*>(f.frame.ModeSetPane()->View()->Control(CFormModeSet::kCamera));
    f.frame.CameraTreePane()->close();
    Pump();
    EXPECT_FALSE(camera->isChecked());
    camera->click();
    Pump();
    EXPECT_TRUE(f.frame.CameraTreePane()->isVisible());
}

TEST(MainFrame, DisplayFormDrivesZoomRateAndRefresh) {
    Frame f;
    FormView* view = f.frame.DisplayPane()->View();
    auto* zoom = qobject_cast<QSlider*>(view->Control(CFormDisplay::kZoomSlider));
    auto* rate = qobject_cast<QSlider*>(view->Control(CFormDisplay::kRateSlider));
    auto* refresh = qobject_cast<QComboBox*>(view->Control(CFormDisplay::kRefreshList));
    ASSERT_TRUE(zoom && rate && refresh);
    EXPECT_TRUE(zoom->isEnabled());
    EXPECT_EQ(zoom->value(), 100);
    zoom->setValue(250);
    EXPECT_EQ(f.camera.child.zoom, 550u);
    EXPECT_EQ(qobject_cast<QLineEdit*>(view->Control(CFormDisplay::kZoomPercent))->text(), "550");
    rate->setValue(10);
    EXPECT_EQ(f.app.displayRate, 10u);
    EXPECT_EQ(f.camera.child.displayRate, 10u);
    EXPECT_EQ(refresh->count(), 3);
    emit refresh->activated(1);
    EXPECT_EQ(f.frame.Properties()->Logic().refreshMode.load(), kRefreshSelectItem);

    f.frame.OnChildChanged(nullptr);
    Pump();
    EXPECT_FALSE(zoom->isEnabled());
}

TEST(MainFrame, PlaybackModeAndBack) {
    Frame f;
    FormView* modeSet = f.frame.ModeSetPane()->View();
    qobject_cast<QRadioButton*>(modeSet->Control(CFormModeSet::kPlayBack))->click();
    Pump();
    EXPECT_EQ(f.app.mode, 0);
    EXPECT_EQ(f.app.activeChild.load(), nullptr);
    EXPECT_EQ(f.frame.RecordPane()->windowTitle(), "Play Back");
    EXPECT_EQ(qobject_cast<QPushButton*>(modeSet->Control(CFormModeSet::kRecord))->text(), "Play Back");
    EXPECT_EQ(f.frame.CameraTreePane()->windowTitle(), "File View");
    EXPECT_FALSE(f.frame.Properties()->isVisible());
    FormView* record = f.frame.RecordPane()->View();
    EXPECT_TRUE(record->Control(CFormRecordSet::kStart)->isHidden());
    EXPECT_FALSE(record->Control(CFormRecordSet::kFrameSlider)->isHidden());
    EXPECT_EQ(record->Control(CFormRecordSet::kWindows)->pos(), QPoint(7, 10));

    qobject_cast<QRadioButton*>(modeSet->Control(CFormModeSet::kCamImage))->click();
    Pump();
    EXPECT_EQ(f.app.mode, 1);
    EXPECT_EQ(f.frame.RecordPane()->windowTitle(), "Record");
    EXPECT_TRUE(f.frame.Properties()->isVisible());
    EXPECT_FALSE(record->Control(CFormRecordSet::kStart)->isHidden());
    EXPECT_EQ(record->Control(CFormRecordSet::kWindows)->pos(), QPoint(7, 80));
    if (const char* shot = std::getenv("QORCAM_VIEWER_FORMS_SCREENSHOT")) {
        f.frame.RecordPane()->show();
        f.frame.DisplayPane()->raise();
        f.frame.resizeDocks({f.frame.ModeSetPane()}, {330}, Qt::Vertical);
        Pump(200);
        f.frame.grab().save(shot);
    }
}

TEST(MainFrame, HelpShowsTheInstalledHelpPage) {
    // No help file beside the API folder: the page the build lays out as it
    // is installed (share/qorcam/help beside the program folder) is shown.
    const char* before = std::getenv("QORCAM_APILIB");
    const std::string kept = before ? before : "";
    setenv("QORCAM_APILIB", "/nonexistent/qorcam/API", 1);
    Frame f;
    std::vector<std::string> messages;
    f.frame.onMessage = [&](const std::string& text) { messages.push_back(text); };
    auto* help = qobject_cast<QPushButton*>(f.frame.ModeSetPane()->View()->Control(CFormModeSet::kHelp));
    ASSERT_NE(help, nullptr);
    help->click();
    Pump();
    if (before)
        setenv("QORCAM_APILIB", kept.c_str(), 1);
    else
        unsetenv("QORCAM_APILIB");
    EXPECT_TRUE(messages.empty());
    ASSERT_NE(f.frame.HelpWindow(), nullptr);
    EXPECT_TRUE(f.frame.HelpWindow()->isVisible());
    auto* text = f.frame.HelpWindow()->findChild<QTextBrowser*>();
    ASSERT_NE(text, nullptr);
    EXPECT_TRUE(text->toPlainText().contains("The window stays empty until images are started"));
    // A second press shows the same window again.
    f.frame.HelpWindow()->hide();
    help->click();
    Pump();
    EXPECT_TRUE(f.frame.HelpWindow()->isVisible());
    EXPECT_EQ(f.frame.findChildren<QTextBrowser*>().size(), 1);
}
