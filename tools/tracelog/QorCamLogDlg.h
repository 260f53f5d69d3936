// QorCamLogDlg: the log tool's one dialog: the settings, Apply, Browse and Start/Stop.
#pragma once

#include "LogSession.h"
#include "LogSettings.h"
#include "RingLogFile.h"
#include "TraceArea.h"

#include <QDialog>
#include <QFileSystemWatcher>
#include <QString>

#include <functional>
#include <optional>

class QButtonGroup;
class QCheckBox;
class QComboBox;
class QLineEdit;
class QPushButton;
class QRadioButton;
class QToolButton;

namespace qorcam::tracelog {

/// The dialog "QorCamLog". Settings reach the settings store only through
/// Apply (which Start runs itself); Start opens the log files and starts the
/// collectors, Stop ends them, and Quit stops before the dialog ends.
///
/// Guarantees: while logging every setting control is disabled and Apply
/// stays disabled; after Stop the controls follow the enabling rules again.
/// Failures are shown through the message sink (a message box unless a test
/// sets another one) with the tool's fixed texts.
class CQorCamLogDlg : public QDialog {
    Q_OBJECT

public:
    using MessageSink = std::function<void(const QString&)>;

    /// libraryName: the camera library loaded at dialog start.
    explicit CQorCamLogDlg(std::string libraryName = kLibraryNameDefault(), QWidget* parent = nullptr);
    ~CQorCamLogDlg() override;

    void SetMessageSink(MessageSink sink) { messages_ = std::move(sink); }

    /// Loads the library's identity, maps the trace area and fills the
    /// controls from the settings. False (after its message) when the dialog
    /// can't run.
    bool OnInitDialog();

    bool OnApply();
    void OnStartStop();
    void OnBrowse();
    /// The second half of Browse: the folder chosen in the picker.
    void SelectFolder(const QString& folder);
    void OnSettingChanged();
    void OnFileNameModeChanged();
    /// Quit and Escape: stop, close the mapping, end the dialog.
    void OnCancel();
    /// The session ends (log-off, shutdown, SIGTERM): stop before answering.
    bool OnQueryEndSession();
    void OnDeviceChange(std::uint32_t event);

    bool IsLogging() const { return logging_; }
    const QString& DefaultFolder() const { return defaultFolder_; }
    std::uint32_t RingLimit() const { return ringLimit_; }
    CLogSession& Session() { return session_; }

    void reject() override { OnCancel(); }

private:
    static std::string kLibraryNameDefault();
    void BuildControls();
    void ShowMessage(const QString& text);
    /// Controls to values; false (after the range message) for a bad size.
    bool ReadControls(bool validate);
    void WriteControls();
    void UpdateControlState();
    void LockControls();
    void StopLogging();
    void WatchDevices();

    std::string libraryName_;
    MessageSink messages_;
    LogSettings settings_;
    std::uint32_t ringLimit_ = 10000 * 1024;
    QString defaultFolder_;
    QString shownFolder_;
    LibraryIdentity identity_;
    CTraceArea area_;
    CLogSession session_;
    bool logging_ = false;
    QFileSystemWatcher watcher_;

    QComboBox* sysLevel_ = nullptr;       // 1004
    QComboBox* dllLevel_ = nullptr;       // 1005
    QRadioButton* streaming_ = nullptr;   // 1007
    QLineEdit* url_ = nullptr;            // 1011
    QRadioButton* file_ = nullptr;        // 1008
    QComboBox* createMode_ = nullptr;     // 1006
    QLineEdit* maxSize_ = nullptr;        // 1012
    QCheckBox* cache_ = nullptr;          // 1014
    QRadioButton* pathDefault_ = nullptr; // 1009
    QRadioButton* pathCustom_ = nullptr;  // 1010
    QPushButton* browse_ = nullptr;       // 1002
    QLineEdit* folder_ = nullptr;         // 1013
    QPushButton* start_ = nullptr;        // 1001
    QPushButton* apply_ = nullptr;        // 1000
    QPushButton* quit_ = nullptr;         // 2
    QToolButton* help_ = nullptr;         // 1003
};

} // namespace qorcam::tracelog
