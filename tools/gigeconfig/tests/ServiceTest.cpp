// The IP configuration tool against the GigE service program: start-up, lists, search and restart.
#include "ProfileFile.h"
#include "QorGigECPrefDlg.h"
#include "TempRoot.h"

#include "os/SettingsStore.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <unistd.h>

namespace qorcam::gigeconfig {
namespace {

namespace fs = std::filesystem;

class ServiceTest : public ::testing::Test {
protected:
    void SetUp() override {
        service_ = CGigeServiceControl::System();
        context_.message = [this](const std::string& m) { messages_.push_back(m); };
        context_.timings = {300, 100};
        context_.service = service_.get();
    }
    void TearDown() override { service_->Stop(); }

    test::TempRoot temp_{"gcsvc"};
    std::unique_ptr<CGigeServiceControl> service_;
    PrefDlgContext context_;
    std::vector<std::string> messages_;
};

TEST_F(ServiceTest, WithoutTheServiceTheDialogEnds) {
    CQorGigECPrefDlg dlg(context_);
    EXPECT_FALSE(dlg.OnInitDialog());
    EXPECT_EQ(messages_, std::vector<std::string>{"GigE Driver Open Error"});
}

TEST_F(ServiceTest, StartsSearchesRestartsAndWaits) {
    os::SettingsStore(os::SettingsStore::Hive::Machine).SetDword(kGigeParametersKey, "INITWAIT", 1000);
    ASSERT_TRUE(service_->Start()) << "QorGigEFilter did not start without adapters";
    CQorGigECPrefDlg dlg(context_);
    ASSERT_TRUE(dlg.OnInitDialog()) << (messages_.empty() ? "" : messages_[0]);
    EXPECT_TRUE(dlg.Nics().empty()); // no adapter is bound under this root
    EXPECT_TRUE(dlg.Cameras().empty());
    EXPECT_TRUE(messages_.empty());
    EXPECT_EQ(dlg.TickLimit(), 32u); // (INITWAIT + 15000) / 500

    dlg.RestartDriverService();
    EXPECT_TRUE(messages_.empty()) << messages_[0];
    EXPECT_TRUE(dlg.DeviceOpen());
    EXPECT_TRUE(service_->IsRunning());

    // The wait: the search runs at the tick after the limit was passed.
    dlg.StartWait();
    int ticks = 0;
    while (!dlg.OnTimer() && ticks < 100)
        ++ticks;
    EXPECT_EQ(ticks, 33);
    EXPECT_FALSE(dlg.Waiting());

    // A service gone for good leaves the device closed; searches then do nothing.
    service_->Stop();
    dlg.RestartDriverService(); // starts it again
    EXPECT_TRUE(dlg.DeviceOpen());
}

} // namespace
} // namespace qorcam::gigeconfig
