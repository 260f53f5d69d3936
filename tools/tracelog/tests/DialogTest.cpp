// DialogTest: the dialog under an off-screen display: start-up, settings, enabling rules, Start and Stop.
#include "AppInstance.h"
#include "QorCamLogDlg.h"
#include "TracelogTestSupport.h"

#include "QorCamShared.h"
#include "UsbDeviceControl.h"
#include "devio/DeviceName.h"
#include "os/Process.h"
#include "os/SharedMemory.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QToolButton>

#include <gtest/gtest.h>

#include <fstream>
#include <sys/stat.h>

// The font configuration library keeps caches to the end of the process on
// purpose; they are not ours to free.
extern "C" const char* __lsan_default_suppressions() {
    return "leak:libfontconfig.so\n";
}

namespace qorcam::tracelog {
namespace {

QApplication& App() {
    static int argc = 1;
    static char name[] = "tracelog_dialog_tests";
    static char* argv[] = {name, nullptr};
    if (std::getenv("QT_QPA_PLATFORM") == nullptr) setenv("QT_QPA_PLATFORM", "offscreen", 1);
    // Kept to the end of the process: a display connection torn down by static
    // destructors after main has returned is not safe on every platform.
    static QApplication* app = new QApplication(argc, argv);
    return *app;
}

class DialogTest : public ::testing::Test {
protected:
    void SetUp() override { App(); }

    std::unique_ptr<CQorCamLogDlg> Open() {
        auto dialog = std::make_unique<CQorCamLogDlg>();
        dialog->SetMessageSink([this](const QString& m) { messages_.push_back(m.toStdString()); });
        EXPECT_TRUE(dialog->OnInitDialog());
        return dialog;
    }
    template <class W> W* Control(CQorCamLogDlg& d, const char* name) {
        W* w = d.findChild<W*>(name);
        EXPECT_NE(w, nullptr) << name;
        return w;
    }
    // Chooses a combo entry as the user would.
    void Choose(CQorCamLogDlg& d, const char* combo, int index) {
        auto* c = Control<QComboBox>(d, combo);
        c->setCurrentIndex(index);
        emit c->activated(index);
    }
    os::SettingsStore Store() const { return os::SettingsStore(os::SettingsStore::Hive::User); }

    test::ScopedRoot root_;
    std::vector<std::string> messages_;
};

TEST_F(DialogTest, OpensWithStoredSettingsAndApplyWritesOnlyWhatChanged) {
    auto store = Store();
    store.SetDword(kSettingKey, "DllLevel", 2);
    store.SetDword(kSettingKey, "MaxSize", 20);
    store.SetDword(kSettingKey, "CreateMode", 1);
    auto d = Open();
    EXPECT_EQ(d->windowTitle(), "QorCamLog");
    EXPECT_EQ(Control<QComboBox>(*d, "SysLevel")->currentText(), "OFF");
    EXPECT_EQ(Control<QComboBox>(*d, "DllLevel")->currentText(), "Detail");
    EXPECT_EQ(Control<QComboBox>(*d, "CreateMode")->currentText(), "Fixation");
    EXPECT_EQ(Control<QLineEdit>(*d, "MaxSize")->text(), "20");
    EXPECT_TRUE(Control<QRadioButton>(*d, "File")->isChecked());
    EXPECT_FALSE(Control<QPushButton>(*d, "Apply")->isEnabled());
    EXPECT_TRUE(Control<QToolButton>(*d, "Help")->isHidden());
    EXPECT_EQ(Control<QLineEdit>(*d, "Folder")->text(), d->DefaultFolder());
    EXPECT_TRUE(std::filesystem::is_directory(d->DefaultFolder().toStdString()));
    EXPECT_EQ(d->DefaultFolder().toStdString(), (root_.Path() / "documents" / "QorCam" / "Log").string());

    Choose(*d, "SysLevel", 1);
    EXPECT_TRUE(Control<QPushButton>(*d, "Apply")->isEnabled());
    Control<QLineEdit>(*d, "MaxSize")->setText("30");
    Control<QCheckBox>(*d, "AccCache")->setChecked(true);
    ASSERT_TRUE(d->OnApply());
    EXPECT_FALSE(Control<QPushButton>(*d, "Apply")->isEnabled());
    EXPECT_EQ(d->RingLimit(), 30u * 1024);
    EXPECT_EQ(store.EnumValues(kSettingKey),
              (std::vector<std::string>{"DllLevel", "MaxSize", "CreateMode", "SysLevel", "AccCache"}));
    const LogSettings saved = LogSettings::Load(store);
    EXPECT_EQ(saved.sysLevel, 1u);
    EXPECT_EQ(saved.maxSize, 30u);
    EXPECT_TRUE(saved.accCache);

    // A new dialog shows what was applied.
    d.reset();
    auto again = Open();
    EXPECT_EQ(Control<QComboBox>(*again, "SysLevel")->currentText(), "Std");
    EXPECT_TRUE(Control<QCheckBox>(*again, "AccCache")->isChecked());
}

TEST_F(DialogTest, EnablingFollowsTheLevelsOutputAndFolderChoice) {
    auto d = Open();
    auto* start = Control<QPushButton>(*d, "Start");
    EXPECT_FALSE(start->isEnabled());
    EXPECT_FALSE(Control<QRadioButton>(*d, "File")->isEnabled());
    Choose(*d, "DllLevel", 1);
    EXPECT_TRUE(start->isEnabled());
    EXPECT_TRUE(Control<QLineEdit>(*d, "MaxSize")->isEnabled());
    EXPECT_FALSE(Control<QPushButton>(*d, "Browse")->isEnabled());
    Control<QRadioButton>(*d, "PathCustom")->click();
    EXPECT_TRUE(Control<QPushButton>(*d, "Browse")->isEnabled());
    Control<QRadioButton>(*d, "Streaming")->click();
    EXPECT_TRUE(Control<QLineEdit>(*d, "URL")->isEnabled());
    EXPECT_FALSE(Control<QLineEdit>(*d, "MaxSize")->isEnabled());
    EXPECT_FALSE(Control<QPushButton>(*d, "Browse")->isEnabled());
    Choose(*d, "DllLevel", 0);
    EXPECT_FALSE(start->isEnabled());
}

TEST_F(DialogTest, ASizeOutOfRangeStoresNothingAndDoesNotStart) {
    auto d = Open();
    Choose(*d, "DllLevel", 1);
    for (const char* bad : {"5", "100001", "abc", ""}) {
        messages_.clear();
        Control<QLineEdit>(*d, "MaxSize")->setText(bad);
        EXPECT_FALSE(d->OnApply()) << bad;
        d->OnStartStop();
        EXPECT_FALSE(d->IsLogging()) << bad;
        EXPECT_EQ(messages_, std::vector<std::string>(2, "Please enter an integer between 10 and 100000."))
            << bad;
    }
    EXPECT_TRUE(Store().EnumValues(kSettingKey).empty());
}

TEST_F(DialogTest, CustomFolderNeverChosenLeavesStartIdle) {
    auto d = Open();
    Choose(*d, "DllLevel", 1);
    Control<QRadioButton>(*d, "PathCustom")->click();
    d->OnStartStop();
    EXPECT_FALSE(d->IsLogging());
    EXPECT_EQ(Control<QPushButton>(*d, "Start")->text(), "Start");
    EXPECT_TRUE(messages_.empty());
}

TEST_F(DialogTest, StartLocksTheControlsAndStopRestoresTheRules) {
    auto d = Open();
    Choose(*d, "DllLevel", 1);
    d->OnStartStop();
    ASSERT_TRUE(d->IsLogging());
    EXPECT_EQ(Control<QPushButton>(*d, "Start")->text(), "Stop");
    for (const char* name : {"SysLevel", "DllLevel", "CreateMode"})
        EXPECT_FALSE(Control<QComboBox>(*d, name)->isEnabled()) << name;
    for (const char* name : {"Streaming", "File", "PathDefault", "PathCustom"})
        EXPECT_FALSE(Control<QRadioButton>(*d, name)->isEnabled()) << name;
    EXPECT_FALSE(Control<QLineEdit>(*d, "MaxSize")->isEnabled());
    EXPECT_FALSE(Control<QPushButton>(*d, "Apply")->isEnabled());
    EXPECT_EQ(LogSettings::Load(Store()).dllLevel, 1u); // Start applied the settings
    EXPECT_EQ(d->Session().FilePath(LogSource::Library).rfind(d->DefaultFolder().toStdString(), 0), 0u);

    d->OnStartStop();
    EXPECT_FALSE(d->IsLogging());
    EXPECT_EQ(Control<QPushButton>(*d, "Start")->text(), "Start");
    EXPECT_TRUE(Control<QComboBox>(*d, "SysLevel")->isEnabled());
    EXPECT_TRUE(Control<QComboBox>(*d, "DllLevel")->isEnabled());
    EXPECT_TRUE(Control<QLineEdit>(*d, "MaxSize")->isEnabled());
    EXPECT_FALSE(Control<QPushButton>(*d, "Browse")->isEnabled());

    // The session ends while logging: everything stops before the answer.
    d->OnStartStop();
    ASSERT_TRUE(d->Session().IsLogging());
    EXPECT_TRUE(d->OnQueryEndSession());
    EXPECT_FALSE(d->Session().IsLogging());
}

TEST_F(DialogTest, BrowseAcceptsOnlyLocalWritableFolders) {
    auto d = Open();
    Choose(*d, "DllLevel", 1);
    Control<QRadioButton>(*d, "PathCustom")->click();
    d->OnApply();

    d->SelectFolder("relative/folder");
    const auto locked = root_.Path() / "locked";
    std::filesystem::create_directory(locked);
    ::chmod(locked.c_str(), 0500);
    const bool rootUser = ::geteuid() == 0; // root writes anywhere
    d->SelectFolder(QString::fromStdString(locked.string()));
    std::vector<std::string> expected{"Select Error Not Local Disk"};
    if (!rootUser) expected.push_back("Error Select Folder Used Administrator");
    EXPECT_EQ(messages_, expected);
    if (!rootUser) {
        EXPECT_FALSE(Control<QPushButton>(*d, "Apply")->isEnabled());
    }

    const auto good = root_.Path() / "good";
    std::filesystem::create_directory(good);
    d->SelectFolder(QString::fromStdString(good.string()));
    EXPECT_EQ(Control<QLineEdit>(*d, "Folder")->text().toStdString(), good.string());
    EXPECT_TRUE(Control<QPushButton>(*d, "Apply")->isEnabled());
    EXPECT_FALSE(std::filesystem::exists(good / "TestLog.log"));
    d->OnStartStop();
    ASSERT_TRUE(d->IsLogging());
    EXPECT_EQ(std::filesystem::path(d->Session().FilePath(LogSource::Library)).parent_path(), good);
    d->OnStartStop();
    EXPECT_EQ(LogSettings::Load(Store()).path, good.string());
}

TEST_F(DialogTest, ALibraryThatCannotBeLoadedEndsTheDialog) {
    CQorCamLogDlg d("libNoSuchQorCam.so");
    d.SetMessageSink([this](const QString& m) { messages_.push_back(m.toStdString()); });
    EXPECT_FALSE(d.OnInitDialog());
    EXPECT_EQ(messages_, std::vector<std::string>{"QorCam.DLL Load Error"});
}

TEST_F(DialogTest, ATraceAreaThatCannotBeMappedEndsTheDialog) {
    // Another user made an area too small to be the trace area.
    os::SharedMemory wrong(shared::kLogFileName, 100);
    ASSERT_TRUE(wrong.IsValid());
    CQorCamLogDlg d;
    d.SetMessageSink([this](const QString& m) { messages_.push_back(m.toStdString()); });
    EXPECT_FALSE(d.OnInitDialog());
    EXPECT_EQ(messages_, std::vector<std::string>{"Log ShareMemory Load Error"});
}

TEST_F(DialogTest, AUsbDeviceArrivingWhileLoggingGetsACollector) {
    auto d = Open();
    Choose(*d, "SysLevel", 2);
    d->OnStartStop();
    ASSERT_TRUE(d->IsLogging());
    EXPECT_EQ(d->Session().UsbDeviceCount(), 0u);

    test::MessageDevice camera({usbdrv::IOCTL_USB_GetVersion, usbdrv::IOCTL_USB_SetMessageEnable,
                                usbdrv::IOCTL_USB_GetMessage, usbdrv::kUsbMessageBufferSize},
                               usbdrv::kUsbInterfaceVersion);
    ASSERT_TRUE(camera.Start(devio::DeviceInterfaceDirectory(shared::kUsbDeviceClass) / "cam0"));
    auto arrived = [&] {
        QApplication::processEvents();
        return d->Session().UsbDeviceCount() == 1 && camera.Pending() == 10;
    };
    ASSERT_TRUE(test::Eventually(arrived));
    EXPECT_EQ(camera.EnableLevels(), std::vector<std::uint32_t>{2});
    camera.Stop();
    auto left = [&] {
        QApplication::processEvents();
        return d->Session().UsbDeviceCount() == 0;
    };
    EXPECT_TRUE(test::Eventually(left));
    d->OnStartStop();
}

// Saves the dialog as it is drawn, for a look at its layout:
//   QORCAM_TRACELOG_SCREENSHOT=<file.png> xvfb-run tracelog_dialog_tests
TEST_F(DialogTest, Screenshot) {
    const char* file = std::getenv("QORCAM_TRACELOG_SCREENSHOT");
    if (file == nullptr) GTEST_SKIP() << "QORCAM_TRACELOG_SCREENSHOT names no file";
    auto d = Open();
    Choose(*d, "DllLevel", 1);
    d->show();
    QApplication::processEvents();
    EXPECT_TRUE(d->grab().save(file));
}

// The program itself: one instance, the log guard, and the end of the session.
class ProgramTest : public ::testing::Test {
protected:
    std::optional<os::Process> Run() {
        return os::Process::Spawn(QORCAMLOG_PROGRAM, {}, {{"QT_QPA_PLATFORM", "offscreen"}});
    }
    test::ScopedRoot root_;
};

TEST_F(ProgramTest, ASecondCopyEndsAtOnce) {
    CAppInstance first;
    ASSERT_TRUE(first.Acquire());
    auto second = Run();
    ASSERT_TRUE(second.has_value());
    EXPECT_EQ(second->Wait(10000), 0);
}

TEST_F(ProgramTest, StartsTheLogGuardHoldsTheInstanceAndStopsOnSigterm) {
    const auto marker = root_.Path() / "guard-ran";
    const auto guard = root_.Path() / "guard.sh";
    {
        std::ofstream script(guard);
        script << "#!/bin/sh\ntouch '" << marker.string() << "'\n";
    }
    ::chmod(guard.c_str(), 0755);
    os::SettingsStore(os::SettingsStore::Hive::User).SetString(kToolKey, kLogGuardPathValue, guard.string());

    auto tool = Run();
    ASSERT_TRUE(tool.has_value());
    ASSERT_TRUE(test::Eventually([&] { return std::filesystem::exists(marker); }));
    CAppInstance other;
    EXPECT_FALSE(other.Acquire());
    ASSERT_TRUE(test::Eventually(
        [&] { return std::filesystem::exists(root_.Path() / "documents" / "QorCam" / "Log"); }));
    EXPECT_TRUE(tool->Kill(SIGTERM));
    EXPECT_EQ(tool->Wait(10000), 0);
    EXPECT_TRUE(other.Acquire());
}

} // namespace
} // namespace qorcam::tracelog
