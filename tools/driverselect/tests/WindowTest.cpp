// The selection dialog's windows over the in-memory network configuration (offscreen; no display needed).
#include "FakeNetwork.h"
#include "ProfileFile.h"
#include "QorGigEPrefWindow.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPushButton>
#include <QTableWidget>
#include <QTimer>

#include <cstdlib>
#include <cstring>

namespace qorcam::driverselect {
namespace {

using namespace test;
using gigeconfig::CProfileFile;

QApplication& App() {
    if (!std::getenv("DISPLAY") || !std::getenv("QORCAM_SCREENSHOT"))
        setenv("QT_QPA_PLATFORM", "offscreen", 0);
    static int argc = 1;
    static char name[] = "driverselect_window_tests";
    static char* argv[] = {name, nullptr};
    // Never destroyed: at exit it would outlive the toolkit's own input devices.
    static QApplication* app = new QApplication(argc, argv);
    return *app;
}

QPushButton* Button(QWidget& window, const QString& text) {
    for (auto* b : window.findChildren<QPushButton*>())
        if (b->text() == text) return b;
    ADD_FAILURE() << "no button " << text.toStdString();
    return nullptr;
}

// What the mode dialog showed when it was answered.
struct ModeDialogSeen {
    bool shown = false;
    QString title, name;
    QStringList texts;
    int preselected = -1;
};

// Answers the next mode dialog once its event loop runs: picks a mode with its OK button, or none with
// Cancel.
void AnswerModeDialog(std::optional<int> pick, ModeDialogSeen* seen) {
    QTimer::singleShot(0, [pick, seen] {
        for (QWidget* w : QApplication::topLevelWidgets()) {
            auto* dialog = qobject_cast<CIPModeSel*>(w);
            if (!dialog || !dialog->isVisible()) continue;
            seen->shown = true;
            seen->title = dialog->windowTitle();
            if (auto* name = dialog->findChild<QLineEdit*>()) seen->name = name->text();
            for (int i = 0; i < dialog->ModeBox()->count(); ++i)
                seen->texts << dialog->ModeBox()->itemText(i);
            seen->preselected = dialog->ModeBox()->currentIndex();
            if (const char* shot = std::getenv("QORCAM_SCREENSHOT_MODE")) dialog->grab().save(shot);
            auto* box = dialog->findChild<QDialogButtonBox*>();
            if (pick) {
                dialog->ModeBox()->setCurrentIndex(*pick);
                box->button(QDialogButtonBox::Ok)->click();
            } else {
                box->button(QDialogButtonBox::Cancel)->click();
            }
            return;
        }
    });
}

class PrefWindowTest : public PrefDialogTest {
protected:
    void SetUp() override { App(); }
};

TEST_F(PrefWindowTest, CheckedRowsAndModesReachTheBindingsAsTheTerminalFormDoes) {
    const NetState initial = net_;
    CQorGigEPrefWindow window(Environment());
    window.Initialize();
    window.show();
    QApplication::processEvents();
    EXPECT_EQ(service_.stops, 1);
    EXPECT_EQ(window.windowTitle(), "QorCam GigE Filter Driver Select");
    QTableWidget* list = window.NicList();
    ASSERT_EQ(list->rowCount(), 2);
    EXPECT_EQ(list->horizontalHeaderItem(0)->text(), "NIC Name");
    EXPECT_EQ(list->horizontalHeaderItem(1)->text(), "IP Driver");
    EXPECT_EQ(list->item(0, 0)->text(), "Adapter eth1");
    EXPECT_EQ(list->item(0, 0)->checkState(), Qt::Unchecked);
    EXPECT_EQ(list->item(0, 1)->text(), "");
    EXPECT_EQ(window.DhcpBox()->text(), "Active");
    EXPECT_TRUE(window.DhcpBox()->isChecked()); // no settings key yet
    EXPECT_FALSE(window.ConfigButton()->isEnabled());
    EXPECT_EQ(window.ConfigButton()->text(), "Confing");

    // Checking a row shows the mode its flags give; "Confing" follows the selected row's box.
    list->selectRow(0);
    EXPECT_FALSE(window.ConfigButton()->isEnabled());
    list->item(0, 0)->setCheckState(Qt::Checked);
    EXPECT_EQ(list->item(0, 1)->text(), "Windows default");
    EXPECT_TRUE(window.ConfigButton()->isEnabled());

    ModeDialogSeen seen;
    AnswerModeDialog(1, &seen);
    window.ConfigButton()->click();
    EXPECT_TRUE(seen.shown);
    EXPECT_EQ(seen.title, "IP Driver Mode");
    EXPECT_EQ(seen.name, "Adapter eth1");
    EXPECT_EQ(seen.texts, QStringList({"Original", "Windows IPv4 Only", "Windows default"}));
    EXPECT_EQ(seen.preselected, 2);
    EXPECT_EQ(list->item(0, 1)->text(), "Windows IPv4 only");
    EXPECT_FALSE(window.ConfigButton()->isEnabled());

    // The mode dialog's Cancel leaves the mode; activating an unchecked row opens no dialog.
    ModeDialogSeen cancelled;
    AnswerModeDialog(std::nullopt, &cancelled);
    emit list->itemActivated(list->item(0, 0));
    EXPECT_TRUE(cancelled.shown);
    EXPECT_EQ(list->item(0, 1)->text(), "Windows IPv4 only");
    ModeDialogSeen unchecked;
    AnswerModeDialog(std::nullopt, &unchecked); // answers a dialog that wrongly opens
    emit list->itemActivated(list->item(1, 1));
    QApplication::processEvents();
    EXPECT_FALSE(unchecked.shown);

    list->item(1, 0)->setCheckState(Qt::Checked);
    ModeDialogSeen original;
    AnswerModeDialog(0, &original);
    emit list->itemActivated(list->item(1, 0));
    EXPECT_EQ(original.name, "Adapter eth2");
    EXPECT_EQ(list->item(1, 1)->text(), "Original");
    window.DhcpBox()->setChecked(false);
    if (const char* shot = std::getenv("QORCAM_SCREENSHOT")) window.grab().save(shot);
    Button(window, "OK")->click();
    EXPECT_EQ(window.result(), QDialog::Accepted);
    EXPECT_FALSE(window.isVisible());
    EXPECT_EQ(service_.starts, 1);

    // IPv4 only: the filter and ms_tcpip bound, everything else unbound; Original: the filter alone.
    EXPECT_TRUE(net_.Bound(kFilterComponent, "eth1"));
    EXPECT_TRUE(net_.Bound("ms_tcpip", "eth1"));
    EXPECT_FALSE(net_.Bound("ms_tcpip6", "eth1"));
    EXPECT_FALSE(net_.Bound("ms_msclient", "eth1"));
    for (const char* s : kOtherServices)
        EXPECT_FALSE(net_.Bound(s, "eth1")) << s;
    EXPECT_TRUE(net_.Bound(kFilterComponent, "eth2"));
    EXPECT_FALSE(net_.Bound("ms_tcpip", "eth2"));
    const std::string profile = window.Logic().ProfilePath();
    EXPECT_EQ(Settings().GetString(gigeconfig::kGigeParametersKey, "PATH").value_or(""), profile);
    EXPECT_EQ(Settings().GetDword(gigeconfig::kGigeParametersKey, "DHCP").value_or(9), 0u);
    auto records = CProfileFile(profile).Read();
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(std::memcmp(records[0].adapterMac, kMac2.data(), 6), 0);

    // The same choices made through the logic alone (the terminal form) bind the same way.
    const NetState afterWindow = net_;
    net_ = initial;
    CQorGigEPrefDlg terminal(Environment());
    terminal.OnInitDialog();
    terminal.SetRowChecked(0, true);
    terminal.SelectNicMode(0,
                           [](const std::string&, std::uint32_t) { return std::optional<std::uint32_t>(1); });
    terminal.SetRowChecked(1, true);
    terminal.SelectNicMode(1,
                           [](const std::string&, std::uint32_t) { return std::optional<std::uint32_t>(0); });
    terminal.SetDhcpChecked(false);
    terminal.OnOK();
    EXPECT_EQ(net_.bound, afterWindow.bound);
}

TEST_F(PrefWindowTest, EveryCloseButOkChangesNothingAndStartsTheService) {
    const struct {
        const char* how;
        std::function<void(CQorGigEPrefWindow&)> close;
    } ways[] = {
        {"Cancel", [](CQorGigEPrefWindow& w) { Button(w, "Cancel")->click(); }},
        {"Esc",
         [](CQorGigEPrefWindow& w) {
             QKeyEvent esc(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
             QApplication::sendEvent(&w, &esc);
         }},
        {"close box", [](CQorGigEPrefWindow& w) { w.close(); }},
        {"window destroyed", [](CQorGigEPrefWindow&) {}},
    };
    for (const auto& way : ways) {
        SCOPED_TRACE(way.how);
        const int starts = service_.starts;
        std::map<std::pair<std::string, std::string>, bool> before;
        int changes = 0;
        {
            CQorGigEPrefWindow window(Environment());
            window.Initialize();
            window.show();
            QApplication::processEvents();
            EXPECT_FALSE(service_.running);
            before = net_.bound;
            changes = net_.changes;
            window.NicList()->item(0, 0)->setCheckState(Qt::Checked);
            window.NicList()->selectRow(0);
            ModeDialogSeen seen;
            AnswerModeDialog(0, &seen);
            window.ConfigButton()->click();
            EXPECT_EQ(window.NicList()->item(0, 1)->text(), "Original");
            window.DhcpBox()->setChecked(false);
            way.close(window);
            QApplication::processEvents();
            if (std::strcmp(way.how, "window destroyed") != 0) {
                EXPECT_FALSE(window.isVisible());
                EXPECT_EQ(window.result(), QDialog::Rejected);
            }
        }
        EXPECT_TRUE(service_.running);
        EXPECT_EQ(service_.starts, starts + 1);
        EXPECT_EQ(net_.bound, before);
        EXPECT_EQ(net_.changes, changes);
        EXPECT_FALSE(Settings().GetString(gigeconfig::kGigeParametersKey, "PATH"));
        EXPECT_FALSE(Settings().GetDword(gigeconfig::kGigeParametersKey, "DHCP"));
        EXPECT_FALSE(fs::exists(CProfileFile::ProfilePath(false)));
    }
}

TEST_F(PrefWindowTest, ModeDialogPreselectsAndReturnsTheIndex) {
    for (std::uint32_t mode : {0u, 1u, 2u, 7u}) {
        CIPModeSel dialog("Adapter eth9", mode, nullptr);
        EXPECT_EQ(dialog.ModeBox()->currentIndex(), mode < 3 ? static_cast<int>(mode) : 0) << mode;
        EXPECT_EQ(dialog.Mode(), mode < 3 ? mode : 0u) << mode;
    }
}

} // namespace
} // namespace qorcam::driverselect
