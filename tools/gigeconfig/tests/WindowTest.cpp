// The IP configuration tool's windows open and follow the logic (offscreen; no display needed).
#include "QorGigECPrefWindow.h"
#include "TempRoot.h"

#include <QApplication>
#include <QCheckBox>
#include <QHeaderView>
#include <QLineEdit>
#include <QPushButton>
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
}

} // namespace
} // namespace qorcam::gigeconfig
