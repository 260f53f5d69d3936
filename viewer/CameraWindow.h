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
    /// WM_CHILD_START and WM_CHILD_STOP.
    void OnStartImage();
    void OnStopImage();
    /// The window's client area takes the displayed size (fit) or stays.
    void UpdateLayout(bool fit);

    // IChildHost
    void ChildMessageBox(const std::string& text) override;
    bool IsChild(CChildFrame* child) override;
    void PostInfoUpdate(CChildFrame* child) override;
    void PostRepaint(CChildFrame* child) override;
    void SetWatchdog(CChildFrame* child, unsigned ms) override;
    void LayoutChanged(CChildFrame*) override { UpdateLayout(true); }

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
};

} // namespace qorcam::viewer
