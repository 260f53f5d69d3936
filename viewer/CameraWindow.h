// CameraWindow: a camera window in the main frame's window area and its image view.
#pragma once

#include "ChildFrame.h"

#include <QImage>
#include <QMdiSubWindow>
#include <QScrollBar>
#include <QTimer>
#include <QWidget>

namespace qorcam::viewer {

class CMainFrame;

/// The image view: paints the window's display buffer, zoomed and scrolled
/// in zoom mode, fitted to the view otherwise, without erasing first.
class CChildView : public QWidget {
    Q_OBJECT
public:
    explicit CChildView(CChildFrame& frame, QWidget* parent = nullptr);
    /// The display buffer as an image the right way up; null when there is
    /// no image or the buffer is too short for the bitmap info.
    static QImage ImageOf(const CChildFrame& frame);

protected:
    void paintEvent(QPaintEvent*) override;

private:
    CChildFrame& frame_;
};

/// One camera window: the camera's CChildFrame, its view, scroll bars and
/// watchdog timer, living in the main frame's window area.
class CChildWindow : public QMdiSubWindow, public IChildHost {
    Q_OBJECT
public:
    CChildWindow(CMainFrame& main, ICameraApi& api, uint32_t displayRate, uint8_t zoomMode);
    ~CChildWindow() override;

    CChildFrame& Frame() { return frame_; }
    CChildView* View() { return view_; }
    /// WM_CHILD_START and WM_CHILD_STOP: acquisition in camera mode, the
    /// playback timer in a playback window.
    void OnStartImage(CChildFrame::StartReason reason = CChildFrame::StartReason::Asked);
    void OnStopImage();
    /// Playback window creation from a record INI; false when it can't be read.
    bool OpenRecordFolder(const std::string& iniPath);
    bool IsPlayback() const { return frame_.playback != 0; }
    /// A new display rate; a playing window steps at it from now on.
    void SetDisplayRate(uint32_t rate);
    /// A playing window steps every ms milliseconds from now on.
    void RestartPlayback(unsigned ms);
    /// WM_CHILD_CAPTURE_IMAGE (capture or drop the copies).
    void CaptureImage(bool capture) { frame_.CaptureImage(capture); }
    /// WM_CHILD_SAVE_IMAGE with wParam 1: "<folder>/<title>.<extension>".
    void SaveImageInto(const std::string& folder, const std::string& extension);
    /// WM_CHILD_SAVE_IMAGE with wParam 0: the chosen path.
    void SaveImageAs(const std::string& path);
    /// The window's client area takes the displayed size (fit) or stays.
    void UpdateLayout(bool fit);

    // IChildHost
    void ChildMessageBox(const std::string& text) override;
    bool IsChild(CChildFrame* child) override;
    void PostInfoUpdate(CChildFrame* child) override;
    void PostRepaint(CChildFrame* child) override;
    void SetWatchdog(CChildFrame* child, unsigned ms) override;
    void LayoutChanged(CChildFrame*) override { UpdateLayout(true); }
    void PostFormatChange(CChildFrame* child) override;
    void PostRecordProgress(CChildFrame* child) override;
    void PostRecordDone(CChildFrame* child) override;
    void PostFrameBusy(CChildFrame* child, bool busy) override;
    void RecordWritten(CChildFrame* child, const std::string& title, const std::string& recordTime,
                       const std::string& iniPath) override;

protected:
    void resizeEvent(QResizeEvent* event) override;
    /// The window leaves the tables and closes its camera at once; the
    /// widget itself goes later.
    void closeEvent(QCloseEvent* event) override;

private:
    void ResetScrollBars();

    CMainFrame& main_;
    CChildFrame frame_;
    CChildView* view_;
    QScrollBar* hBar_;
    QScrollBar* vBar_;
    QTimer watchdog_;
    QTimer playbackTimer_;
};

/// JPEG, PNG and TIFF snapshots through the display toolkit's image writers.
bool EncodeImage(const Bgrx& image, ImageFileType type, const std::string& name);

} // namespace qorcam::viewer
