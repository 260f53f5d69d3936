// The camera tree's logic: the camera view, the file view of record folders and the commands on their items.
#include "ViewerFixture.h"

#include "CameraFileView.h"
#include "QorViewerApp.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

using namespace qorcam::viewer;
using namespace qorcam::viewer::testing;

namespace {

struct Call {
    std::string what = {};
    CChildFrame* child = nullptr;
    uint64_t id = 0;
    uint32_t type = 0;
    std::string path = {};
    int reason = 0;
    bool reselect = false;
};

class RecordingTreeHost : public ICameraTreeHost {
public:
    void ActivateChild(CChildFrame* child, int reason, bool reselect) override {
        calls.push_back({.what = "activate", .child = child, .reason = reason, .reselect = reselect});
    }
    void OpenCamera(uint64_t id, uint32_t type) override {
        calls.push_back({.what = "open", .id = id, .type = type});
    }
    void OpenRecord(const std::string& path) override { calls.push_back({.what = "record", .path = path}); }
    void StartChild(CChildFrame* child, CChildFrame::StartReason reason) override {
        calls.push_back({.what = reason == CChildFrame::StartReason::Asked ? "start" : "restart", .child = child});
    }
    void StopChild(CChildFrame* child) override { calls.push_back({.what = "stop", .child = child}); }
    void SaveImage(CChildFrame* child) override { calls.push_back({.what = "save", .child = child}); }
    std::string ChooseRecordFile() override {
        ++dialogs;
        return chosen;
    }
    std::vector<Call> calls;
    std::string chosen;
    int dialogs = 0;
};

struct Tree : ::testing::Test {
    FakeApi api;
    CQorViewerApp app{api};
    RecordingTreeHost host;
    CCameraFileView view{app, host};
    std::filesystem::path dir;

    Tree() {
        char name[] = "/tmp/qorcam-tree-XXXXXX";
        dir = ::mkdtemp(name);
    }
    ~Tree() override { std::filesystem::remove_all(dir); }

    void Camera(uint64_t id, uint32_t type, const std::string& title, uint8_t known = 1) {
        CCameraIDInfo& e = app.cameraTable[id];
        e.known = known;
        e.cameraType = type;
        e.title = title;
    }
    /// A record INI; values left out of the text are missing.
    std::string Record(const std::string& folder, const std::string& text) {
        std::filesystem::create_directories(dir / folder);
        const std::string path = (dir / folder / "QorCam_Viewer.ini").string();
        std::ofstream(path) << text;
        return path;
    }
    std::string FullRecord(const std::string& folder, const std::string& camera, const std::string& time) {
        return Record(folder, "[File Info]\nCamera Name=" + camera + "\nRec Time=" + time +
                                  "\n[Folder Info]\nResult=Success\nSave num=3\nSet num=3\n"
                                  "[BMP Size]\nWidth=4\nHeight=2\nImageSize=32\n");
    }
    CFolderInfo& Folder(const std::string& name) { return AddFolderInfo(app.folders, name); }
};

std::vector<std::string> Texts(const std::vector<TreeItem>& items) {
    std::vector<std::string> out;
    for (const TreeItem& i : items)
        out.push_back(i.text);
    return out;
}

} // namespace

TEST_F(Tree, CameraViewGroupsListedCamerasWithATitleByType) {
    Camera(1, QORCAM_CTYPE_USB, "Cam-A 0x0000000000000001");
    Camera(2, QORCAM_CTYPE_GIGE, "Cam-B 0x0000000000000002");
    Camera(3, 7, "Odd 0x0000000000000003");
    Camera(4, QORCAM_CTYPE_USB, "");                            // never had a window
    Camera(5, QORCAM_CTYPE_GIGE, "Gone 0x0000000000000005", 0); // not in the latest list
    Camera(6, QORCAM_CTYPE_USB, "Cam-C 0x0000000000000006");
    Camera(7, QORCAM_CTYPE_GIGE, "Cam-A 0x0000000000000001"); // the same title as camera 1
    view.Refresh();
    EXPECT_EQ(view.Caption(), "Camera View");

    const auto& items = view.Items();
    // Groups come in the order the table walk first needs them.
    ASSERT_EQ(Texts(items), (std::vector<std::string>{"USB Camera", "GigE Camera", "Unknown Camera"}));
    EXPECT_EQ(Texts(items[0].children),
              (std::vector<std::string>{"Cam-A 0x0000000000000001", "Cam-C 0x0000000000000006"}));
    EXPECT_EQ(Texts(items[1].children),
              (std::vector<std::string>{"Cam-B 0x0000000000000002", "Cam-A 0x0000000000000001"}));
    EXPECT_EQ(Texts(items[2].children), (std::vector<std::string>{"Odd 0x0000000000000003"}));
    for (const TreeItem& group : items) {
        EXPECT_TRUE(group.bold);
        EXPECT_EQ(group.image, 0);
        EXPECT_EQ(group.expanded, group.text != "Unknown Camera") << group.text;
        for (const TreeItem& camera : group.children)
            EXPECT_EQ(camera.image, 1);
    }
    // One title, one entry: both items open the camera seen last.
    EXPECT_EQ(view.nameToId.at("Cam-A 0x0000000000000001"), 7u);
    EXPECT_EQ(view.nameToType.at("Cam-A 0x0000000000000001"), 1);
    EXPECT_EQ(view.nameToType.at("Odd 0x0000000000000003"), 3);

    // A camera that left the list leaves the view at the next refresh.
    app.cameraTable[2].known = 0;
    app.cameraTable[7].known = 0;
    view.Refresh();
    EXPECT_EQ(Texts(view.Items()), (std::vector<std::string>{"USB Camera", "Unknown Camera"}));
    EXPECT_EQ(view.nameToId.count("Cam-B 0x0000000000000002"), 0u);
}

TEST_F(Tree, OpeningACameraItemOpensItOrActivatesItsWindow) {
    Camera(9, QORCAM_CTYPE_GIGE, "Cam 0x0000000000000009");
    view.Refresh();
    const TreeItemRef cam{"Cam 0x0000000000000009", "GigE Camera"};

    view.OnSelectItem({"GigE Camera", ""}); // a group opens nothing
    EXPECT_TRUE(host.calls.empty());

    view.OnSelectItem(cam);
    ASSERT_EQ(host.calls.size(), 1u);
    EXPECT_EQ(host.calls[0].what, "open");
    EXPECT_EQ(host.calls[0].id, 9u);
    EXPECT_EQ(host.calls[0].type, 1u);

    view.OpenSelectedItem({"Not listed", "USB Camera"});
    EXPECT_EQ(host.calls.back().id, 0xFFFFFFFFFFFFFFFFULL);
    EXPECT_EQ(host.calls.back().type, 3u);

    // With its window open the item only brings that window forward.
    CChildFrame window;
    window.title = cam.text;
    app.openChildren.push_back(&window);
    host.calls.clear();
    view.OnSelectItem(cam);
    ASSERT_EQ(host.calls.size(), 1u);
    EXPECT_EQ(host.calls[0].what, "activate");
    EXPECT_EQ(host.calls[0].child, &window);
    EXPECT_EQ(host.calls[0].reason, 5);

    // Selecting follows the item's window, or none.
    host.calls.clear();
    view.OnSelectionChanged(cam);
    view.OnSelectionChanged({"GigE Camera", ""});
    ASSERT_EQ(host.calls.size(), 2u);
    EXPECT_EQ(host.calls[0].child, &window);
    EXPECT_TRUE(host.calls[0].reselect);
    EXPECT_EQ(host.calls[1].child, nullptr);
    EXPECT_EQ(host.calls[1].reason, 4);
}

TEST_F(Tree, ContextMenusFollowTheItemAndTheMode) {
    struct Case {
        uint8_t mode;
        TreeItemRef item;
        CCameraFileView::Menu menu;
    } cases[] = {
        {1, {"USB Camera", ""}, CCameraFileView::Menu::None},
        {1, {"Cam 0x01", "GigE Camera"}, CCameraFileView::Menu::CameraGigE},
        {1, {"Cam 0x01", "USB Camera"}, CCameraFileView::Menu::Camera},
        {1, {"Cam 0x01", "1394 Camera"}, CCameraFileView::Menu::Camera},
        {0, {"File", ""}, CCameraFileView::Menu::File},
        {0, {"Cam 0x01", "File"}, CCameraFileView::Menu::None},
        {0, {"20260101-101010-001", "Cam 0x01"}, CCameraFileView::Menu::PlayBack},
    };
    for (const Case& c : cases) {
        app.mode = c.mode;
        EXPECT_EQ(view.ContextMenuFor(c.item), c.menu) << c.item.text << " under " << c.item.parent;
    }
}

TEST_F(Tree, StartStopAndRecoverActOnTheItemsWindow) {
    const TreeItemRef cam{"Cam 0x0000000000000009", "GigE Camera"};
    auto state = [](CCameraFileView::CommandState s) { return std::make_pair(s.enabled, s.checked); };
    // No window: nothing is offered, and nothing happens.
    EXPECT_EQ(state(view.StartState(cam)), std::make_pair(false, false));
    EXPECT_EQ(state(view.RecoverState(cam)), std::make_pair(false, false));
    view.OnStart(cam);
    view.OnRecover(cam);
    view.OnBmpSave(cam);
    EXPECT_TRUE(host.calls.empty());

    CChildFrame window;
    window.title = cam.text;
    app.openChildren.push_back(&window);
    // Camera mode wants an open camera.
    EXPECT_FALSE(view.StartState(cam).enabled);
    window.hCamera = reinterpret_cast<HCAMERA>(0x20);
    EXPECT_EQ(state(view.StartState(cam)), std::make_pair(true, false));
    EXPECT_EQ(state(view.StopState(cam)), std::make_pair(true, true));
    window.running = 1;
    EXPECT_EQ(state(view.StartState(cam)), std::make_pair(true, true));
    EXPECT_EQ(state(view.StopState(cam)), std::make_pair(true, false));
    view.busy = 1;
    EXPECT_FALSE(view.StartState(cam).enabled);
    EXPECT_FALSE(view.StopState(cam).enabled);
    view.OnStop(cam);
    EXPECT_TRUE(host.calls.empty());
    view.busy = 0;
    view.OnStop(cam);
    ASSERT_EQ(host.calls.size(), 1u);
    EXPECT_EQ(host.calls[0].what, "stop");
    window.running = 0;
    host.calls.clear();
    view.OnStart(cam); // the user's own start
    ASSERT_EQ(host.calls.size(), 1u);
    EXPECT_EQ(host.calls[0].what, "start");
    window.running = 1;

    // Recover on a running window restarts it with the new value (a
    // restart the user didn't ask for as a start).
    host.calls.clear();
    view.OnRecover(cam);
    EXPECT_EQ(window.recover, 1u);
    EXPECT_EQ(state(view.RecoverState(cam)), std::make_pair(true, true));
    ASSERT_EQ(host.calls.size(), 2u);
    EXPECT_EQ(host.calls[0].what, "stop");
    EXPECT_EQ(host.calls[1].what, "restart");
    window.running = 0;
    host.calls.clear();
    view.OnRecover(cam);
    EXPECT_EQ(window.recover, 0u);
    EXPECT_TRUE(host.calls.empty());

    view.OnBmpSave(cam);
    ASSERT_EQ(host.calls.size(), 1u);
    EXPECT_EQ(host.calls[0].what, "save");

    // A playback window needs no camera.
    app.mode = 0;
    const TreeItemRef record{"20260101-101010-001", "Cam 0x0000000000000009"};
    CChildFrame playback;
    playback.title = "20260101-101010-001 - Cam 0x0000000000000009";
    app.openChildren.push_back(&playback);
    EXPECT_EQ(view.FindChildForItem(record), &playback);
    EXPECT_TRUE(view.StartState(record).enabled);
}

TEST_F(Tree, FileViewListsRecordsAndDropsThoseThatVanished) {
    app.mode = 0;
    const std::string kept = FullRecord("a", "Cam 0x01", "20260101-101010-001");
    const std::string noTime = Record("b", "[File Info]\nCamera Name=Cam 0x01\n");
    const std::string vanished = (dir / "c" / "QorCam_Viewer.ini").string();
    CFolderInfo& cam1 = Folder("Cam 0x01");
    cam1.records = {noTime, kept, vanished};
    cam1.timeMap["old"] = vanished;
    Folder("Cam 0x02"); // no records: still shown, at the head
    view.Refresh();
    EXPECT_EQ(view.Caption(), "File View");

    const auto& items = view.Items();
    ASSERT_EQ(items.size(), 1u);
    EXPECT_EQ(items[0].text, "File");
    EXPECT_TRUE(items[0].bold);
    EXPECT_TRUE(items[0].expanded);
    ASSERT_EQ(Texts(items[0].children), (std::vector<std::string>{"Cam 0x02", "Cam 0x01"}));
    const TreeItem& camera = items[0].children[1];
    EXPECT_FALSE(camera.expanded);
    EXPECT_EQ(camera.image, 1);
    ASSERT_EQ(Texts(camera.children), (std::vector<std::string>{"20260101-101010-001"}));
    EXPECT_EQ(camera.children[0].image, 2);
    EXPECT_EQ(cam1.records, (std::list<std::string>{kept}));
    EXPECT_EQ(cam1.timeMap, (std::map<std::string, std::string>{{"20260101-101010-001", kept}}));

    const TreeItemRef record{"20260101-101010-001", "Cam 0x01"};
    EXPECT_EQ(view.RecordPathForItem(record), kept);
    EXPECT_EQ(view.RecordPathForItem({"20260101-101010-001", "Cam 0x02"}), "");

    view.OnSelectItem({"Cam 0x01", "File"}); // a camera folder opens nothing
    EXPECT_TRUE(host.calls.empty());
    view.OnSelectItem(record);
    ASSERT_EQ(host.calls.size(), 1u);
    EXPECT_EQ(host.calls[0].what, "record");
    EXPECT_EQ(host.calls[0].path, kept);
    EXPECT_EQ(view.recordIniPath, kept);

    // A record already shown is not opened twice.
    CChildFrame playback;
    playback.title = "20260101-101010-001 - Cam 0x01";
    app.openChildren.push_back(&playback);
    host.calls.clear();
    view.OpenSelectedItem(record);
    EXPECT_TRUE(host.calls.empty());
}

TEST_F(Tree, TheRootOpensARecordChosenInTheDialog) {
    app.mode = 0;
    Folder("Other 0x02");
    view.Refresh();
    const TreeItemRef root{"File", ""};

    // Cancelled, unreadable or incomplete records change nothing.
    view.OpenSelectedItem(root);
    host.chosen = (dir / "none.ini").string();
    view.OpenSelectedItem(root);
    host.chosen =
        Record("bad", "[File Info]\nCamera Name=Cam 0x01\nRec Time=T1\n[Folder Info]\nSave num=3\n");
    view.OpenSelectedItem(root);
    EXPECT_EQ(host.dialogs, 3);
    EXPECT_TRUE(host.calls.empty());
    EXPECT_EQ(app.folders.size(), 1u);

    // A new camera's folder comes first, in use, and the tree shows it.
    const std::string path = FullRecord("good", "Cam 0x01", "T1");
    host.chosen = path;
    view.OpenSelectedItem(root);
    ASSERT_EQ(app.folders.size(), 2u);
    CFolderInfo& folder = *app.folders.front();
    EXPECT_EQ(folder.name, "Cam 0x01");
    EXPECT_EQ(folder.inUse, 1);
    EXPECT_EQ(folder.records, (std::list<std::string>{path}));
    EXPECT_EQ(folder.timeMap.at("T1"), path);
    ASSERT_EQ(Texts(view.Items()[0].children), (std::vector<std::string>{"Cam 0x01", "Other 0x02"}));
    EXPECT_EQ(Texts(view.Items()[0].children[0].children), (std::vector<std::string>{"T1"}));
    ASSERT_EQ(host.calls.size(), 1u);
    EXPECT_EQ(host.calls[0].what, "record");
    EXPECT_EQ(host.calls[0].path, path);

    // Chosen again: listed once, opened again, but not beside its own window.
    folder.inUse = 0;
    view.OpenSelectedItem(root);
    EXPECT_EQ(folder.records.size(), 1u);
    EXPECT_EQ(folder.inUse, 1);
    EXPECT_EQ(host.calls.size(), 2u);
    CChildFrame playback;
    playback.title = "T1 - Cam 0x01";
    app.openChildren.push_back(&playback);
    view.OpenSelectedItem(root);
    EXPECT_EQ(host.calls.size(), 2u);
}
