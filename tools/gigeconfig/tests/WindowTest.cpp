// The IP configuration tool's windows open and follow the logic (offscreen; no display needed).
#include "QorGigECPrefWindow.h"
#include "ScriptedCamera.h"
#include "TempRoot.h"

#include <QApplication>
#include <QCheckBox>
#include <QHeaderView>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTimer>
#include <QTreeWidget>
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <unistd.h>

namespace qorcam::gigeconfig {
namespace {

namespace fs = std::filesystem;

QApplication& App() {
    if (!std::getenv("DISPLAY") || !std::getenv("QORCAM_SCREENSHOT"))
        setenv("QT_QPA_PLATFORM", "offscreen", 0);
    static int argc = 1;
    static char name[] = "gigeconfig_window_tests";
    static char* argv[] = {name, nullptr};
    static QApplication app(argc, argv);
    return app;
}

class WindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        App();
        service_ = CGigeServiceControl::System();
        sink_ = [this](QWidget*, const std::string& text) { messages_.push_back(text); };
    }
    void TearDown() override { service_->Stop(); }
    test::TempRoot temp_{"gcwin"};
    std::unique_ptr<CGigeServiceControl> service_;
    MessageSink sink_;
    std::vector<std::string> messages_;
};

TEST_F(WindowTest, MainDialogOpensWithItsListsAndButtons) {
    {
        CQorGigECPrefWindow closed(service_.get(), sink_);
        EXPECT_FALSE(closed.Initialize());
        EXPECT_EQ(messages_, std::vector<std::string>{"GigE Driver Open Error"});
    }
    messages_.clear();
    ASSERT_TRUE(service_->Start());
    CQorGigECPrefWindow window(service_.get(), sink_);
    ASSERT_TRUE(window.Initialize());
    window.show();
    QApplication::processEvents();
    EXPECT_TRUE(window.isVisible());
    EXPECT_EQ(window.windowTitle(), "QorCam GigE Preferences");
    EXPECT_EQ(window.NicList()->headerItem()->text(1), "IP Addr");
    EXPECT_EQ(window.CameraList()->columnCount(), 7);
    EXPECT_EQ(window.CameraList()->headerItem()->text(6), "XML File Name");
    QStringList buttons;
    for (auto* b : window.findChildren<QPushButton*>())
        buttons << b->text() + (b->isEnabled() ? "" : " (off)");
    buttons.sort();
    EXPECT_EQ(buttons.join(", ").toStdString(),
              "Camera Config (off), Exit, NIC Config (off), Read XML File, Search Camera");
    if (const char* shot = std::getenv("QORCAM_SCREENSHOT")) window.grab().save(shot);
    EXPECT_TRUE(messages_.empty());
}

// The main dialog hides while a child dialog runs; the child closing, with OK
// or Cancel, must not end the program: what follows the child (restart wait,
// new lists) needs the dialog still running.
TEST_F(WindowTest, MainDialogKeepsRunningWhenAChildDialogCloses) {
    ASSERT_TRUE(service_->Start());
    CQorGigECPrefWindow window(service_.get(), sink_);
    ASSERT_TRUE(window.Initialize());
    std::vector<std::string> seen;
    QTimer::singleShot(0, &window, [&] {
        for (bool accept : {true, false}) {
            QDialog child(&window);
            QTimer::singleShot(0, &child, [&child, accept] { accept ? child.accept() : child.reject(); });
            seen.push_back(window.ExecChild(child) == accept ? "child ended" : "child result wrong");
            // Back in the main dialog's loop: it is shown again and still runs.
            seen.push_back(window.isVisible() ? "main shown" : "main hidden");
        }
        QTimer::singleShot(50, &window, [&] {
            seen.push_back("main still running");
            window.reject();
        });
    });
    EXPECT_EQ(window.Run(), QDialog::Rejected);
    EXPECT_EQ(seen, (std::vector<std::string>{"child ended", "main shown", "child ended", "main shown",
                                              "main still running"}));
    EXPECT_FALSE(window.isVisible());
}

TEST_F(WindowTest, AdapterAddressDialogRefusesWhatTheRulesRefuse) {
    NicEntry nic;
    nic.displayName = "veth0";
    nic.ip = 0x0105A8C0; // 192.168.5.1
    nic.mask = 0x00FFFFFF;
    CIPAddrSetupDialog dialog(nic, {nic.ip, 0x0107A8C0}, sink_);
    auto edits = dialog.findChildren<QLineEdit*>();
    ASSERT_EQ(edits.size(), 2);
    EXPECT_EQ(edits[0]->text(), "192.168.5.1");
    EXPECT_EQ(dialog.Ip(), 0xC0A80501u);
    edits[0]->setText("192.168.7.1");
    dialog.accept();
    EXPECT_EQ(messages_, std::vector<std::string>{"IP Address Overlap Error"});
    EXPECT_EQ(dialog.result(), 0);
    edits[0]->setText("192.168.6.2");
    dialog.accept();
    EXPECT_EQ(messages_.back(), "IP Address Error");
    dialog.findChild<QCheckBox*>()->setChecked(true); // Auto: anything passes
    dialog.accept();
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    EXPECT_TRUE(dialog.Automatic());
    if (const char* shot = std::getenv("QORCAM_SCREENSHOT_ADDRESS")) dialog.grab().save(shot);
}

TEST_F(WindowTest, CameraSetupDialogShowsTheModesTheLogicOffers) {
    test::ScriptedCamera cam;
    cam.registers[0x064C] = 0x0A000014; // 10.0.0.20
    cam.registers[0x065C] = 0xFFFFFF00;
    CRequestIds ids;
    NicEntry nic;
    nic.windowsIp = 1;
    nic.ip = 0x0500000A; // 10.0.0.5
    nic.mask = 0x00FFFFFF;
    CameraEntry camera;
    camera.vendorName = "Aravis";
    camera.modelName = "Fake";
    camera.userName = "line-1";
    camera.ipConfigOptions = 7;
    camera.ipConfigCurrent = 2 | 4; // DHCP
    camera.ip = 0x0900000A;
    camera.mask = 0x00FFFFFF;
    CameraSetupContext context;
    context.openDevice = [&cam]() -> std::unique_ptr<CGvcpSender> {
        struct Handle : CGvcpSender {
            test::ScriptedCamera& c;
            explicit Handle(test::ScriptedCamera& s) : c(s) {}
            std::uint32_t SendNicCmd(GvcpCommandBlock& b, bool n) override { return c.SendNicCmd(b, n); }
            std::uint32_t SetCameraIp(const std::uint8_t m[6], std::uint32_t ip) override {
                return c.SetCameraIp(m, ip);
            }
        };
        return std::make_unique<Handle>(cam);
    };
    context.ids = &ids;
    context.profilePath = CProfileFile::ProfilePath(true);
    CCameraIPSetup setup(camera, nic, context);
    CCameraIPSetupDialog dialog(setup, {camera}, camera);
    dialog.show();
    QApplication::processEvents();
    auto radios = dialog.findChildren<QRadioButton*>();
    ASSERT_EQ(radios.size(), 4);
    EXPECT_TRUE(radios[1]->isChecked());  // DHCP
    EXPECT_FALSE(radios[2]->isEnabled()); // DHCP Static only behind the service's own adapters
    auto edits = dialog.findChildren<QLineEdit*>();
    ASSERT_EQ(edits.size(), 5); // name, current, IP, mask, gateway
    EXPECT_EQ(edits[0]->text(), "line-1");
    EXPECT_FALSE(edits[2]->isEnabled());
    radios[3]->click(); // Static: the persistent address is read into the fields
    EXPECT_EQ(edits[2]->text(), "10.0.0.20");
    EXPECT_TRUE(edits[2]->isEnabled());
    if (const char* shot = std::getenv("QORCAM_SCREENSHOT_CAMERA")) dialog.grab().save(shot);
}

} // namespace
} // namespace qorcam::gigeconfig
