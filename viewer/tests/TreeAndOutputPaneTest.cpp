// The camera tree and information output panes in the main frame on an offscreen display.
#include "FakeCameraLibrary.h"
#include "MemoryPort.h"

#include "CameraWindow.h"
#include "FeatureAccess.h"
#include "MainFrame.h"

#include "genapi/NodeMap.h"

#include <QApplication>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QMenu>

#include "QtTestApp.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

using namespace qorcam::viewer;
using qorcam::viewer::testing::ConvApi;

namespace {

using qorcam::viewer::testing::Application;
using qorcam::viewer::testing::Pump;
using qorcam::viewer::testing::PumpUntil;

constexpr const char* kTitle = "Model-7 0x000000000000AB12";

struct Viewer {
    QApplication& qapp = Application();
    ConvApi api;
    CQorViewerApp app{api};
    CMainFrame frame{app};
    Viewer() {
        frame.show();
        Pump();
    }
    QTreeWidget* Tree() { return frame.CameraTreePane()->Tree(); }
    QStringList Lines(COutputWnd::Tab tab) {
        QStringList out;
        QListWidget* list = frame.OutputPane()->List(tab);
        for (int i = 0; i < list->count(); ++i)
            out << list->item(i)->text();
        return out;
    }
    /// The camera list thread's way of opening the fake library's camera.
    CChildWindow* OpenCamera() {
        frame.OpenCamera(0xAB12, QORCAM_CTYPE_USB);
        Pump();
        return frame.WindowOf(app.activeChild);
    }
    QStringList MenuTexts(QMenu* menu) {
        QStringList out;
        for (QAction* a : menu->actions())
            out << a->text();
        return out;
    }
    QAction* Action(QMenu* menu, const char* text) {
        for (QAction* a : menu->actions())
            if (a->text() == text) return a;
        return nullptr;
    }
};

} // namespace

TEST(TreePane, ShowsOpenCamerasAndFollowsTheSelection) {
    Viewer v;
    CChildWindow* window = v.OpenCamera();
    ASSERT_NE(window, nullptr);
    v.app.cameraTable[0x5].known = 1;
    v.app.cameraTable[0x5].cameraType = QORCAM_CTYPE_GIGE;
    v.app.cameraTable[0x5].title = "Gige 0x0000000000000005";
    v.frame.RefreshCameraTree();
    EXPECT_EQ(v.frame.CameraTreePane()->windowTitle(), "Camera View");
    // The refresh is no selection: the open window stays the active one.
    Pump();
    EXPECT_EQ(v.app.activeChild.load(), &window->Frame());

    QTreeWidget* tree = v.Tree();
    ASSERT_EQ(tree->topLevelItemCount(), 2);
    QTreeWidgetItem* gige = tree->topLevelItem(0);
    QTreeWidgetItem* usb = tree->topLevelItem(1);
    EXPECT_EQ(gige->text(0), "GigE Camera");
    EXPECT_EQ(usb->text(0), "USB Camera");
    EXPECT_TRUE(usb->font(0).bold());
    EXPECT_TRUE(usb->isExpanded());
    ASSERT_EQ(usb->childCount(), 1);
    QTreeWidgetItem* camera = usb->child(0);
    EXPECT_EQ(camera->text(0), kTitle);
    EXPECT_FALSE(camera->icon(0).isNull());

    // Selecting a group shows no window; selecting the camera shows its window again.
    tree->setCurrentItem(usb);
    ASSERT_TRUE(PumpUntil([&] { return v.app.activeChild == nullptr; }));
    EXPECT_TRUE(v.Lines(COutputWnd::kCamera).isEmpty());
    tree->setCurrentItem(camera);
    ASSERT_TRUE(PumpUntil([&] { return v.app.activeChild == &window->Frame(); }));
    EXPECT_EQ(window->Frame().gridFlag.load(), 1);
    // Reselecting the active window's item rebuilds the panes all the same.
    v.frame.OutputPane()->List(COutputWnd::kCamera)->clear();
    emit tree->currentItemChanged(camera, camera);
    ASSERT_TRUE(PumpUntil([&] { return !v.Lines(COutputWnd::kCamera).isEmpty(); }));
    EXPECT_EQ(v.app.activeChild.load(), &window->Frame());

    // The camera's menu starts and stops its window.
    std::unique_ptr<QMenu> menu(v.frame.CameraTreePane()->MakeContextMenu(camera));
    ASSERT_TRUE(menu);
    EXPECT_EQ(v.MenuTexts(menu.get()), (QStringList{"&Open", "&BMP save", "&Start", "S&top"}));
    EXPECT_TRUE(v.Action(menu.get(), "&BMP save")->isEnabled());
    EXPECT_TRUE(v.Action(menu.get(), "&Start")->isEnabled());
    EXPECT_FALSE(v.Action(menu.get(), "&Start")->isChecked());
    v.Action(menu.get(), "&Start")->trigger();
    EXPECT_EQ(window->Frame().running.load(), 1u);
    menu.reset(v.frame.CameraTreePane()->MakeContextMenu(camera));
    EXPECT_TRUE(v.Action(menu.get(), "&Start")->isChecked());
    v.Action(menu.get(), "S&top")->trigger();
    EXPECT_EQ(window->Frame().running.load(), 0u);

    // A GigE camera offers recover, here without a window to act on.
    menu.reset(v.frame.CameraTreePane()->MakeContextMenu(gige->child(0)));
    EXPECT_EQ(v.MenuTexts(menu.get()), (QStringList{"&Open", "&BMP save", "&Start", "S&top", "&Recover"}));
    EXPECT_FALSE(v.Action(menu.get(), "&Recover")->isEnabled());
    EXPECT_EQ(v.frame.CameraTreePane()->MakeContextMenu(usb), nullptr);

    // The refresh button wakes the camera-list thread.
    v.app.ChangeEvent().Reset();
    v.frame.CameraTreePane()->RefreshAction()->trigger();
    EXPECT_TRUE(v.app.ChangeEvent().IsSet());
}

TEST(OutputPane, FollowsTheActiveWindowAndTheSelectedFeature) {
    Viewer v;
    CChildWindow* window = v.OpenCamera();
    ASSERT_NE(window, nullptr);
    const QStringList camera = v.Lines(COutputWnd::kCamera);
    ASSERT_EQ(camera.size(), 7);
    EXPECT_EQ(camera[0], QString("[ %1 ]").arg(kTitle));
    EXPECT_EQ(camera[2], "    ModelName : Model-7");
    EXPECT_EQ(v.Lines(COutputWnd::kImage),
              (QStringList{QString("[ %1 ]").arg(kTitle), "    Size : 4 * 2", "    Image Stoped"}));

    // The window's state changes reach the image lines.
    window->OnStartImage();
    ASSERT_TRUE(PumpUntil([&] { return v.Lines(COutputWnd::kImage).contains("    Image Started"); }));
    EXPECT_TRUE(v.Lines(COutputWnd::kImage).contains("    Recover OFF"));

    // The feature grid's selection.
    qorcam::genapi::testing::MemoryPort port(0x10);
    qorcam::genapi::CNodeMapRef map;
    map._LoadXMLFromString(qorcam::genapi::testing::Description(
                               "<Integer Name='Width'><DisplayName>Image width</DisplayName>"
                               "<Value>8</Value><Min>2</Min><Max>64</Max><Inc>2</Inc></Integer>")
                               .c_str());
    map._Connect(&port);
    SetFeatureGuard([] { return true; });
    v.frame.FeatureSelected(map.GetNode("Width"), &map);
    SetFeatureGuard(nullptr);
    EXPECT_EQ(v.Lines(COutputWnd::kFeature),
              (QStringList{"[ Image width ]", "    Name : Width", "    Description : ",
                           "    InterfaceType : IInteger interface   [ Min : 2  Max : 64  Inc : 2 ]",
                           "    AccessMode : Read and Write", "    Visibility : Beginner"}));

    if (const char* shot = std::getenv("QORCAM_VIEWER_PANES_SCREENSHOT")) {
        v.frame.RefreshCameraTree();
        v.frame.OutputPane()->raise();
        v.frame.OutputPane()->Tabs()->setCurrentIndex(COutputWnd::kFeature);
        Pump();
        v.frame.grab().save(shot);
    }

    // The last window gone: every list empties.
    window->close();
    ASSERT_TRUE(PumpUntil([&] { return v.app.activeChild == nullptr; }));
    EXPECT_TRUE(v.Lines(COutputWnd::kCamera).isEmpty());
    EXPECT_TRUE(v.Lines(COutputWnd::kFeature).isEmpty());
    EXPECT_TRUE(v.Lines(COutputWnd::kImage).isEmpty());
}

TEST(TreePane, FileViewOpensRecordsFromTheTreeAndTheDialog) {
    Viewer v;
    char name[] = "/tmp/qorcam-fileview-XXXXXX";
    const std::filesystem::path dir = ::mkdtemp(name);
    auto record = [&](const std::string& folder, const std::string& time) {
        std::filesystem::create_directories(dir / folder);
        const std::string path = (dir / folder / "QorCam_Viewer.ini").string();
        std::ofstream(path) << "[File Info]\nCamera Name=Cam 0x01\nRec Time=" << time
                            << "\n[Folder Info]\nSave num=2\n[BMP Size]\nWidth=4\nHeight=2\nImageSize=32\n";
        return path;
    };
    const std::string first = record("r1", "20260101-101010-001");
    AddFolderInfo(v.app.folders, "Cam 0x01").records.push_back(first);
    v.app.mode = 0;
    v.frame.RefreshCameraTree();
    EXPECT_EQ(v.frame.CameraTreePane()->windowTitle(), "File View");

    QTreeWidget* tree = v.Tree();
    ASSERT_EQ(tree->topLevelItemCount(), 1);
    QTreeWidgetItem* root = tree->topLevelItem(0);
    EXPECT_EQ(root->text(0), "File");
    EXPECT_TRUE(root->isExpanded());
    ASSERT_EQ(root->childCount(), 1);
    EXPECT_FALSE(root->child(0)->isExpanded());
    ASSERT_EQ(root->child(0)->childCount(), 1);
    QTreeWidgetItem* item = root->child(0)->child(0);
    EXPECT_EQ(item->text(0), "20260101-101010-001");

    // A record opens in a playback window titled by its time and camera.
    auto open = [&](const std::string& title) {
        std::lock_guard lock(v.app.TableLock());
        for (CChildFrame* c : v.app.openChildren)
            if (c->title == title && c->playback) return true;
        return false;
    };
    emit tree->itemDoubleClicked(item, 0);
    EXPECT_TRUE(open("20260101-101010-001 - Cam 0x01"));

    std::unique_ptr<QMenu> menu(v.frame.CameraTreePane()->MakeContextMenu(root));
    EXPECT_EQ(v.MenuTexts(menu.get()), (QStringList{"&Open"}));
    const std::string second = record("r2", "20260101-101010-002");
    v.frame.CameraTreePane()->chooseRecordFile = [&] { return second; };
    menu->actions().front()->trigger();
    EXPECT_TRUE(open("20260101-101010-002 - Cam 0x01"));
    EXPECT_EQ(v.app.openChildren.size(), 2u);
    root = tree->topLevelItem(0);
    ASSERT_EQ(root->child(0)->childCount(), 2);
    EXPECT_EQ(root->child(0)->child(1)->text(0), "20260101-101010-002");
    std::filesystem::remove_all(dir);
}
