// Persisted viewer state in the user's settings, and the camera-list thread's cycle.
#include "ViewerFixture.h"

#include "QorViewerApp.h"
#include "ViewerSettings.h"

#include "TempFolder.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <unistd.h>

using namespace qorcam::viewer;
using namespace qorcam::viewer::testing;
namespace fs = std::filesystem;

namespace {

struct RecordFolder : qorcam::viewer::testing::TempFolder {
    /// A record description naming its camera (or none).
    std::string Record(const std::string& name, const char* camera) {
        fs::path file = path / (name + ".ini");
        std::ofstream(file) << "[File Info]\n" << (camera ? std::string("Camera Name=") + camera + "\n" : "");
        return file.string();
    }
};

struct State {
    RecordFolder temp;
    qorcam::os::SettingsStore store{(temp.path / "user.ini").string()};
    std::map<std::string, bool> favourites;
    std::list<std::unique_ptr<CFolderInfo>> folders;
    uint32_t propertyType = 0;
    ViewerSettings settings{store, favourites, folders, propertyType};
    const std::string fav = std::string(kViewerKey) + "\\FavoriteNode";
    const std::string fold = std::string(kViewerKey) + "\\FolderName";
};

} // namespace

TEST(ViewerSettings, FavouritesAndLevelRoundTrip) {
    State s;
    s.settings.LoadCustomState(); // first run: defaults
    EXPECT_EQ(s.propertyType, 0u);
    EXPECT_TRUE(s.favourites.empty());

    s.favourites = {{"Gain", true}, {"Width", false}, {"Flip", true}};
    s.propertyType = 3;
    s.settings.SaveFavoriteNodes();
    EXPECT_EQ(s.store.GetDword(s.fav, "ItemNum"), 2u);
    EXPECT_FALSE(s.store.GetString(s.fav, "Entry0002")); // a cleared flag is not written

    State again;
    again.store = qorcam::os::SettingsStore(s.store.FilePath());
    again.settings.LoadFavoriteNodes(false);
    EXPECT_EQ(again.propertyType, 3u);
    EXPECT_EQ(again.favourites, (std::map<std::string, bool>{{"Flip", true}, {"Gain", true}}));

    for (uint32_t stored : {7u, 0xFFFFFFFFu}) {
        s.store.SetDword(s.fav, "PropertyType", stored);
        s.settings.LoadFavoriteNodes(false);
        EXPECT_EQ(s.propertyType, 0u) << stored;
    }
    // A damaged count does not make the load run away.
    s.store.SetDword(s.fav, "ItemNum", 0x7FFFFFFF);
    s.settings.LoadFavoriteNodes(false);
}

TEST(ViewerSettings, FolderListKeepsTenCamerasInUseFirstAndTenRecordsEach) {
    State s;
    std::string goodRecord = s.temp.Record("good", "Cam");
    for (int i = 0; i < 12; ++i) {
        auto folder = std::make_unique<CFolderInfo>("Cam" + std::to_string(i));
        folder->inUse = i >= 10; // the two added last were used in this run
        for (int r = 0; r < 12; ++r)
            folder->records.push_back(
                s.temp.Record("c" + std::to_string(i) + "r" + std::to_string(r), "Cam"));
        s.folders.push_back(std::move(folder));
    }
    s.settings.SaveFolderList();
    EXPECT_TRUE(s.folders.empty()); // saving consumes the list
    EXPECT_EQ(s.store.GetDword(s.fold, "ItemNum"), 10u);
    EXPECT_EQ(s.store.GetString(s.fold, "Entry00"), "Cam10");
    EXPECT_EQ(s.store.GetString(s.fold, "Entry01"), "Cam11");
    EXPECT_EQ(s.store.GetString(s.fold, "Entry02"), "Cam0");
    EXPECT_EQ(s.store.GetDword(s.fold + "\\Cam10", "ItemNum"), 10u);
    EXPECT_EQ(s.store.GetString(s.fold + "\\Cam10", "Entry09"), s.temp.Record("c10r9", "Cam"));

    // Records that vanished or name no camera are dropped; so is a camera
    // left without records.
    fs::remove(s.temp.path / "c0r0.ini");
    s.temp.Record("c0r1", nullptr);
    for (int r = 0; r < 12; ++r)
        fs::remove(s.temp.path / ("c1r" + std::to_string(r) + ".ini"));
    s.settings.LoadFolderList(false);
    ASSERT_EQ(s.folders.size(), 9u);
    EXPECT_EQ(s.folders.front()->name, "Cam10");
    auto cam0 = std::find_if(s.folders.begin(), s.folders.end(), [](auto& f) { return f->name == "Cam0"; });
    ASSERT_NE(cam0, s.folders.end());
    EXPECT_EQ((*cam0)->records.size(), 8u);
    EXPECT_EQ((*cam0)->records.front(), s.temp.Record("c0r2", "Cam"));

    // Saving twice in one run writes an empty list the second time.
    s.settings.SaveFolderList();
    s.settings.SaveFolderList();
    EXPECT_EQ(s.store.GetDword(s.fold, "ItemNum"), 0u);
    EXPECT_FALSE(s.store.GetString(s.fold, "Entry00"));
}

namespace {

class ListHost : public ICameraListHost {
public:
    explicit ListHost(CQorViewerApp& app) : app_(app) {}
    void CheckChildren(int wParam) override { checks.push_back(wParam); }
    void OpenCamera(uint64_t id, uint32_t type) override {
        opened.emplace_back(id, type);
        // The window that opens records itself, as a camera window does.
        auto child = std::make_unique<CChildFrame>();
        child->cameraId = id;
        app_.openChildren.push_back(child.get());
        windows.push_back(std::move(child));
    }
    void ClearPendingCamera() override { ++pendingCleared; }
    void RefreshCameraTree() override { ++treeRefreshes; }
    void PostCameraList() override { ++listPosts; }

    std::vector<int> checks;
    std::vector<std::pair<uint64_t, uint32_t>> opened;
    std::vector<std::unique_ptr<CChildFrame>> windows;
    int pendingCleared = 0, treeRefreshes = 0;
    std::atomic<int> listPosts{0};

private:
    CQorViewerApp& app_;
};

} // namespace

TEST(CameraList, OpensNewCamerasOnceAndReopensLostOnes) {
    FakeApi api;
    CQorViewerApp app(api);
    ListHost host(app);
    api.AddCamera(0x11, QORCAM_CTYPE_GIGE);
    api.AddCamera(0x22, QORCAM_CTYPE_USB);
    api.AddCamera(0, QORCAM_CTYPE_USB);
    api.AddCamera(0xCDCDCDCDCDCDCDCDULL, QORCAM_CTYPE_USB);
    app.CameraListCycle(host);
    EXPECT_EQ(host.checks, (std::vector<int>{1, 0}));
    EXPECT_EQ(host.opened, (std::vector<std::pair<uint64_t, uint32_t>>{{0x11, 1}, {0x22, 2}}));
    EXPECT_EQ(host.pendingCleared, 2);
    EXPECT_EQ(host.treeRefreshes, 1);
    EXPECT_EQ(host.listPosts, 1);
    EXPECT_EQ(app.cameraTable.at(0x11).known, 1);

    // The user closes 0x11; 0x22 is lost (its window records it); 0x33 is new.
    app.openChildren.clear();
    app.cameraTable[0x22].reopen = 1;
    api.AddCamera(0x33, QORCAM_CTYPE_GIGE);
    host.opened.clear();
    app.CameraListCycle(host);
    EXPECT_EQ(host.opened, (std::vector<std::pair<uint64_t, uint32_t>>{{0x22, 2}, {0x33, 1}}));

    // A camera no longer listed is no longer known; a failing list opens nothing.
    api.cameras.erase(api.cameras.begin());
    app.CameraListCycle(host);
    EXPECT_EQ(app.cameraTable.at(0x11).known, 0);
    api.listFails = true;
    host.opened.clear();
    app.CameraListCycle(host);
    EXPECT_TRUE(host.opened.empty());
    EXPECT_EQ(app.cameraTable.at(0x22).known, 0);
}

TEST(CameraList, APollFindsACameraThatCameBackWithoutABusReset) {
    FakeApi api;
    CQorViewerApp app(api);
    ListHost host(app);
    api.AddCamera(0x11, QORCAM_CTYPE_GIGE);
    app.CameraListCycle(host);
    ASSERT_EQ(host.opened.size(), 1u);
    // Nothing changed: a poll asks for the number only and runs no cycle.
    const int calls = api.listCalls;
    EXPECT_FALSE(app.PollCameraList(host));
    EXPECT_EQ(api.listCalls, calls + 1);
    EXPECT_EQ(host.treeRefreshes, 1);

    // The camera goes (its window closes as lost) and the next poll sees it gone.
    app.openChildren.clear();
    app.cameraTable[0x11].reopen = 1;
    api.cameras.clear();
    EXPECT_TRUE(app.PollCameraList(host));
    EXPECT_EQ(app.cameraTable.at(0x11).known, 0);
    EXPECT_FALSE(app.PollCameraList(host));
    // A list that can't be had changes nothing.
    api.listFails = true;
    api.AddCamera(0x11, QORCAM_CTYPE_GIGE);
    EXPECT_FALSE(app.PollCameraList(host));
    // Back again: the poll reopens its window, with no bus reset and no refresh button.
    api.listFails = false;
    host.opened.clear();
    EXPECT_TRUE(app.PollCameraList(host));
    EXPECT_EQ(host.opened, (std::vector<std::pair<uint64_t, uint32_t>>{{0x11, QORCAM_CTYPE_GIGE}}));
    EXPECT_FALSE(app.PollCameraList(host));
}

TEST(CameraList, OnlyABusResetWakesTheThread) {
    FakeApi api;
    CQorViewerApp app(api);
    app.RegisterWithLibrary();
    ASSERT_NE(api.callback, nullptr);
    app.ChangeEvent().Reset();
    api.callback(STATUSQORCAM_POWERUP, api.callbackContext);
    EXPECT_FALSE(app.ChangeEvent().IsSet());
    api.callback(STATUSQORCAM_BUSRESET, api.callbackContext);
    EXPECT_TRUE(app.ChangeEvent().IsSet());

    // The thread runs one cycle at start (the event starts set) and one per wake-up.
    ListHost host(app);
    CQorViewerApp started(api);
    started.StartCameraListThread(host);
    for (int i = 0; i < 200 && host.listPosts < 1; ++i)
        usleep(5000);
    started.RequestCameraList();
    for (int i = 0; i < 200 && host.listPosts < 2; ++i)
        usleep(5000);
    started.Stop();
    EXPECT_EQ(host.listPosts, 2);
}

#include "FramePaths.h"

TEST(FramePaths, HelpAndToolSitBesideTheApiFolder) {
    struct Case {
        const char* apiLib;
        const char* help;
    } cases[] = {
        {"/opt/qorcam/API", "/opt/qorcam/Help/QorCamViewer.chm"},
        {"/opt/qorcam/", "/opt/qorcam/Help/QorCamViewer.chm"},
        {"/opt/qorcam/PIPA", "/opt/qorcam/Help/QorCamViewer.chm"}, // any run of A, P, I is cut
        {"/opt/qorcamX", "/opt/qorcamXHelp/QorCamViewer.chm"},     // no separator is added
        {"", "Help/QorCamViewer.chm"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(ApiLibSibling(c.apiLib, "Help/QorCamViewer.chm"), c.help) << c.apiLib;
    EXPECT_EQ(ApiLibSibling(std::string(300, 'x'), "").size(), 260u);
}

TEST(FramePaths, HelpAndConfigOpenWhatIsThereOrSayWhatIsNot) {
    TempFolder t;
    namespace fs = std::filesystem;
    const std::string chm = t.File("Help/QorCamViewer.chm");
    const std::string page = InstalledHelpPage(t.File("usr/bin"));
    EXPECT_EQ(page, t.File("usr/share/qorcam/help/QorCamViewer.html"));

    // Neither exists: nothing to open, and both places are named.
    HelpTarget help = FindHelp(chm, page);
    EXPECT_EQ(help.kind, HelpTarget::None);
    EXPECT_EQ(help.looked, (std::vector<std::string>{chm, page}));
    // The installed page; the help file beside the API folder comes first; a folder is no file.
    fs::create_directories(fs::path(page).parent_path());
    t.Write("usr/share/qorcam/help/QorCamViewer.html", "<html></html>");
    help = FindHelp(chm, page);
    EXPECT_EQ(help.kind, HelpTarget::InstalledPage);
    EXPECT_EQ(help.path, page);
    fs::create_directories(chm);
    EXPECT_EQ(FindHelp(chm, page).kind, HelpTarget::InstalledPage);
    fs::remove(chm);
    t.Write("Help/QorCamViewer.chm", "x");
    help = FindHelp(chm, page);
    EXPECT_EQ(help.kind, HelpTarget::ApiLibFile);
    EXPECT_EQ(help.path, chm);

    // Only executable files are offered, in the order given.
    const std::string runs = t.Write("QorGigECPref", "#!/bin/sh\n");
    const std::string plain = t.Write("QorGigEPref", "text");
    fs::permissions(runs, fs::perms::owner_all);
    const std::vector<ConfigTool> candidates = {
        {t.File("Tool/QorCamPrefMain"), "main"}, {runs, "cameras"}, {plain, "service"}, {t.File("Help"), "folder"}};
    const std::vector<ConfigTool> found = ExistingTools(candidates);
    ASSERT_EQ(found.size(), 1u);
    EXPECT_EQ(found[0].label, "cameras");
    const std::string text = NoConfigToolText(candidates);
    EXPECT_EQ(text.rfind("No configuration tool is installed.", 0), 0u);
    for (const ConfigTool& c : candidates) EXPECT_NE(text.find(c.path), std::string::npos) << c.path;

    // The viewer's own candidates name our GigE tools.
    const std::vector<ConfigTool> ours = ConfigToolCandidates();
    ASSERT_EQ(ours.size(), 3u);
    EXPECT_EQ(fs::path(ours[1].path).filename(), "QorGigECPref");
    EXPECT_EQ(fs::path(ours[2].path).filename(), "QorGigEPref");
}
