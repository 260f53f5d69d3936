// The feature editor pane and the property file commands in the main frame, on an offscreen display.
#include "ViewerFixture.h"

#include "IniDocument.h"
#include "MainFrame.h"

#include <QApplication>
#include <QBrush>
#include <QColor>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QMenuBar>

#include "QtTestApp.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <unistd.h>

using namespace qorcam::viewer;
using namespace qorcam::viewer::testing;
using namespace qorcam::genapi;
namespace fs = std::filesystem;

namespace {

template <class W> W* Control(CMainFrame& frame, const char* name) {
    return frame.FeatureEditor()->findChild<W*>(name);
}

/// The main frame with its file dialog answered by the test: an empty
/// answer is a cancelled dialog.
struct AnsweredFrame : CMainFrame {
    using CMainFrame::CMainFrame;
    std::string answer;
    std::vector<std::string> asked;
    std::string AskPropertyFilePath(bool save, const std::string& defaultName) override {
        asked.push_back(std::string(save ? "save " : "open ") + defaultName);
        return answer;
    }
};

struct Frame {
    QApplication& qapp = Application();
    FakeHost camera;
    CQorViewerApp app{camera.api};
    AnsweredFrame frame{app};
    fs::path folder;
    Frame() {
        char pattern[] = "/tmp/qorcam-feature-set-XXXXXX";
        folder = ::mkdtemp(pattern);
        app.openChildren.push_back(&camera.child);
        camera.child.gridFlag = 0;
        camera.child.modelName = "Model-7";
        camera.child.title = "Fixture 0x0000000000000011";
        frame.show();
        Pump();
        frame.OnChildChanged(&camera.child);
        Pump();
    }
    ~Frame() { fs::remove_all(folder); }
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
    /// Selects a feature of a group in the grid, as a click does.
    void SelectInGrid(const QString& group, const QString& feature) {
        QTreeView* view = frame.Properties()->View();
        view->expand(Row(group));
        Pump();
        QModelIndex row = Row(feature, Row(group));
        ASSERT_TRUE(row.isValid());
        view->setCurrentIndex(row);
        Pump();
    }
    bool Shown(const char* name) {
        QWidget* w = frame.FeatureEditor()->findChild<QWidget*>(name);
        return w && !w->isHidden();
    }
    QAction* MenuAction(const QString& text) {
        for (QAction* a : frame.menuBar()->findChildren<QAction*>())
            if (a->text() == text) return a;
        return nullptr;
    }
};

} // namespace

TEST(FeatureSetPane, EditsTheFeatureSelectedInTheGrid) {
    Frame f;
    EXPECT_FALSE(Control<QCheckBox>(f.frame, "Favorite")->isEnabled());
    EXPECT_FALSE(f.Shown("Set"));

    // A read-only value is painted blue; an entry shows its symbolic name.
    const QModelIndex fixed = f.Row("Fixed", f.Row("Device Control")).siblingAtColumn(1);
    EXPECT_EQ(f.Model()->data(fixed, Qt::ForegroundRole).value<QBrush>().color(), QColor(0, 0, 0xFF));
    EXPECT_EQ(f.Model()->data(f.Row("PixelFormat", f.Row("Image Format")).siblingAtColumn(1), Qt::DisplayRole)
                  .toString(),
              "Mono8");

    f.SelectInGrid("Image Format", "Width");
    EXPECT_TRUE(Control<QCheckBox>(f.frame, "Favorite")->isEnabled());
    EXPECT_TRUE(f.Shown("Set") && f.Shown("Value") && f.Shown("Min") && f.Shown("Slider"));
    EXPECT_FALSE(f.Shown("Combo") || f.Shown("Exec") || f.Shown("Refresh"));
    auto* value = Control<QLineEdit>(f.frame, "Value");
    EXPECT_EQ(value->text(), "22");
    EXPECT_EQ(Control<QLineEdit>(f.frame, "Max")->text(), "Max : 100");
    EXPECT_EQ(Control<QSlider>(f.frame, "Slider")->value(), 12);

    // A typed value is corrected and written, and the grid shows it.
    value->setText("57");
    Control<QPushButton>(f.frame, "Set")->click();
    Pump();
    EXPECT_EQ(f.camera.port.Get32LE(0x00), 54u);
    EXPECT_EQ(value->text(), "54");
    EXPECT_EQ(
        f.Model()->data(f.Row("Width", f.Row("Image Format")).siblingAtColumn(1), Qt::DisplayRole).toString(),
        "54");

    // Moving the slider writes as it goes.
    Control<QSlider>(f.frame, "Slider")->setValue(20);
    Pump();
    EXPECT_EQ(f.camera.port.Get32LE(0x00), 30u);
    EXPECT_EQ(value->text(), "30");

    // The favourite mark goes into the application's table.
    Control<QCheckBox>(f.frame, "Favorite")->click();
    EXPECT_TRUE(f.app.IsFavourite("Width"));
    Control<QCheckBox>(f.frame, "Favorite")->click();
    EXPECT_EQ(f.app.favourites.count("Width"), 1u);
    EXPECT_FALSE(f.app.favourites["Width"]);

    // An enumeration is chosen from the combo box.
    f.SelectInGrid("Image Format", "PixelFormat");
    auto* combo = Control<QComboBox>(f.frame, "Combo");
    ASSERT_TRUE(f.Shown("Combo"));
    EXPECT_EQ(combo->count(), 2);
    combo->setCurrentIndex(1);
    emit combo->activated(1);
    Pump();
    EXPECT_EQ(CEnumerationPtr(f.camera.map._GetNode("PixelFormat"))->GetIntValue(), 1);
    const auto& calls = f.camera.api.calls; // the new pixel format was checked with the library
    EXPECT_NE(std::find(calls.begin(), calls.end(), "GetBMPINFO"), calls.end());

    // Another window, or none, clears the editor.
    f.frame.OnChildChanged(nullptr);
    Pump();
    EXPECT_FALSE(Control<QCheckBox>(f.frame, "Favorite")->isEnabled());
    EXPECT_FALSE(f.Shown("Combo"));
}

TEST(FeatureSetPane, PropertyFilesAreSavedAndReadThroughTheFileMenu) {
    Frame f;
    QAction* save = f.MenuAction("Save");
    QAction* read = f.MenuAction("Read");
    ASSERT_TRUE(save && read);
    const std::string path = (f.folder / "camera.ini").string();

    save->trigger(); // cancelled: nothing is written
    Pump();
    EXPECT_EQ(f.frame.asked, std::vector<std::string>{"save CameraProperty.Model-7.ini"});
    EXPECT_EQ(std::distance(fs::directory_iterator(f.folder), fs::directory_iterator()), 0);

    f.frame.answer = path;
    save->trigger();
    Pump();
    IniDocument file;
    ASSERT_TRUE(file.Load(path));
    EXPECT_EQ(file.Get("CameraProperty : File Info", "Model Name"), "Model-7");
    EXPECT_EQ(file.Get("Image Format : Width", "Integer"), "22");

    CIntegerPtr(f.camera.map._GetNode("Width"))->SetValue(90);
    read->trigger();
    Pump(150);
    EXPECT_EQ(f.camera.port.Get32LE(0x00), 22u);
    EXPECT_EQ(f.frame.asked.back(), "open CameraProperty.Model-7.ini");
    EXPECT_EQ(
        f.Model()->data(f.Row("Width", f.Row("Image Format")).siblingAtColumn(1), Qt::DisplayRole).toString(),
        "22");
}
