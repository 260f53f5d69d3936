// CameraWindow: a camera window in the main frame's window area and its image view.
#include "CameraWindow.h"

#include "MainFrame.h"

#include <QGridLayout>
#include <QImageWriter>
#include <QMessageBox>
#include <QPainter>

namespace qorcam::viewer {

CChildView::CChildView(CChildFrame& frame, QWidget* parent) : QWidget(parent), frame_(frame) {
    setAttribute(Qt::WA_OpaquePaintEvent); // repaints never erase
    setAutoFillBackground(false);
}

QImage CChildView::ImageOf(const CChildFrame& frame) {
    const BITMAPINFOHEADER* hd = frame.Header();
    size_t size = 0;
    const uint8_t* bits = frame.DisplayBits(size);
    if (!hd || !bits) return {};
    const int w = hd->biWidth, h = hd->biHeight < 0 ? -hd->biHeight : hd->biHeight;
    if (w <= 0 || h <= 0) return {};
    QImage::Format format;
    switch (hd->biBitCount) {
    case 8: format = QImage::Format_Indexed8; break;
    case 24: format = QImage::Format_BGR888; break;
    case 32: format = QImage::Format_RGB32; break;
    default: return {};
    }
    const qsizetype stride = ((qsizetype{w} * hd->biBitCount + 31) / 32) * 4;
    if (static_cast<qsizetype>(size) < stride * h) return {};
    QImage image(bits, w, h, stride, format);
    if (format == QImage::Format_Indexed8) {
        // The colour table follows the header, as many entries as it says.
        const size_t used = hd->biClrUsed ? hd->biClrUsed : 256;
        const size_t room = (frame.bitmapInfo.size() - hd->biSize) / sizeof(RGBQUAD);
        const auto* colours = reinterpret_cast<const RGBQUAD*>(frame.bitmapInfo.data() + hd->biSize);
        QList<QRgb> table;
        for (size_t i = 0; i < 256; ++i)
            table.push_back(i < used && i < room && hd->biSize <= frame.bitmapInfo.size()
                                ? qRgb(colours[i].rgbRed, colours[i].rgbGreen, colours[i].rgbBlue)
                                : qRgb(int(i), int(i), int(i)));
        image.setColorTable(table);
    }
    // A camera's rows run top-down whatever its header says (the picture is
    // drawn mirrored against a bottom-up DIB); a played-back BMP frame is
    // bottom-up as its positive height says.
    return frame.playback && hd->biHeight > 0 ? image.mirrored(false, true) : image.copy();
}

void CChildView::paintEvent(QPaintEvent*) {
    const QImage image = ImageOf(frame_);
    QPainter painter(this);
    const QColor background = palette().color(QPalette::Window);
    if (image.isNull()) {
        painter.fillRect(rect(), background);
        return;
    }
    const int w = image.width(), h = image.height();
    QRect dest;
    if (frame_.zoomMode) {
        dest = QRect(2 - frame_.hScroll, 1 - frame_.vScroll, static_cast<int>(int64_t{w} * frame_.zoom / 100),
                     static_cast<int>(int64_t{h} * frame_.zoom / 100));
    } else {
        const double rx = double(width()) / w, ry = double(height()) / h;
        dest = rx > ry ? QRect(2, 1, int(w * ry), height()) : QRect(2, 1, width(), int(h * rx));
    }
    // Only what the image leaves free is filled: the image itself is never erased first.
    QRegion free(rect());
    free -= dest;
    for (const QRect& r : free) painter.fillRect(r, background);
    painter.drawImage(dest, image);
}

CChildWindow::CChildWindow(CMainFrame& main, ICameraApi& api, uint32_t displayRate, uint8_t zoomMode)
    : main_(main), frame_(&api, this) {
    frame_.displayRate = displayRate;
    frame_.zoomMode = zoomMode;
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowFlags(Qt::SubWindow | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint);
    auto* body = new QWidget;
    auto* grid = new QGridLayout(body);
    grid->setContentsMargins(0, 0, 0, 0);
    grid->setSpacing(0);
    view_ = new CChildView(frame_);
    hBar_ = new QScrollBar(Qt::Horizontal);
    vBar_ = new QScrollBar(Qt::Vertical);
    grid->addWidget(view_, 0, 0);
    grid->addWidget(vBar_, 0, 1);
    grid->addWidget(hBar_, 1, 0);
    setWidget(body);
    // Steps and pages move by one pixel; dragging follows the thumb.
    for (QScrollBar* bar : {hBar_, vBar_}) {
        bar->setSingleStep(1);
        bar->setPageStep(1);
        connect(bar, &QScrollBar::valueChanged, this, [this, bar](int v) {
            if (!frame_.zoomMode) return;
            (bar == hBar_ ? frame_.hScroll : frame_.vScroll) = v;
            if (!frame_.running) view_->update();
        });
    }
    connect(&watchdog_, &QTimer::timeout, this, [this] { frame_.OnWatchdog(CounterNow()); });
    connect(&playbackTimer_, &QTimer::timeout, this, [this] { frame_.PlaybackStep(); });
    frame_.recordSettings = &main_.recordSettings;
    frame_.imageEncoder = &EncodeImage;
}

CChildWindow::~CChildWindow() {
    watchdog_.stop();
    playbackTimer_.stop();
    main_.ChildClosing(this);
}

void CChildWindow::closeEvent(QCloseEvent* event) {
    watchdog_.stop();
    playbackTimer_.stop();
    main_.ChildClosing(this);
    QMdiSubWindow::closeEvent(event);
}

void CChildWindow::OnStartImage(CChildFrame::StartReason reason) {
    PostInfoUpdate(&frame_);
    if (frame_.running) return;
    if (frame_.playback) {
        playbackTimer_.start(static_cast<int>(1000 / std::max<uint32_t>(frame_.displayRate, 1)));
        frame_.running = 1;
        return;
    }
    if (frame_.StartImage(reason) && main_.ActiveChild() == &frame_) main_.PostGridReset(2);
}

void CChildWindow::OnStopImage() {
    if (!frame_.running) return;
    if (frame_.playback) {
        playbackTimer_.stop();
        frame_.running = 0;
    } else {
        frame_.StopImage();
        if (main_.ActiveChild() == &frame_) main_.PostGridReset(3);
    }
    PostInfoUpdate(&frame_);
}

bool CChildWindow::OpenRecordFolder(const std::string& iniPath) {
    if (!frame_.OpenRecordFolder(iniPath)) return false;
    setWindowTitle(QString::fromStdString(frame_.title));
    return true;
}

void CChildWindow::SetDisplayRate(uint32_t rate) {
    frame_.displayRate = rate;
    RestartPlayback(1000 / std::max<uint32_t>(rate, 1));
}

void CChildWindow::RestartPlayback(unsigned ms) {
    if (frame_.playback && frame_.running) playbackTimer_.start(static_cast<int>(std::max(ms, 1u)));
}

void CChildWindow::SaveImageInto(const std::string& folder, const std::string& extension) {
    frame_.SaveImage(folder + "/" + PathSafeName(frame_.title) + "." + extension);
}

void CChildWindow::SaveImageAs(const std::string& path) {
    frame_.SaveImage(path.substr(0, 260));
}

bool EncodeImage(const Bgrx& image, ImageFileType type, const std::string& name) {
    const char* format = type == ImageFileType::Jpeg   ? "jpeg"
                         : type == ImageFileType::Png  ? "png"
                         : type == ImageFileType::Tiff ? "tiff"
                                                       : nullptr;
    if (!format || image.pixels.size() != Bgrx32Size(image.width, image.height) || image.pixels.empty())
        return false;
    // Bgrx rows run bottom-up.
    const QImage rows(image.pixels.data(), image.width, image.height, qsizetype{image.width} * 4,
                      QImage::Format_RGB32);
    QImageWriter writer(QString::fromStdString(name), format);
    return writer.write(rows.mirrored(false, true));
}

void CChildWindow::UpdateLayout(bool fit) {
    int32_t w, h;
    frame_.DisplayedSize(w, h);
    if (fit && w > 0 && h > 0) {
        // The view (the client area) takes the displayed size exactly.
        const QSize extra = size() - view_->size();
        resize(QSize(w, h) + extra);
    }
    ResetScrollBars();
}

void CChildWindow::ResetScrollBars() {
    int32_t w, h;
    frame_.DisplayedSize(w, h);
    hBar_->setRange(0, frame_.zoomMode ? std::max(0, w - view_->width()) : 0);
    vBar_->setRange(0, frame_.zoomMode ? std::max(0, h - view_->height()) : 0);
    hBar_->setValue(0);
    vBar_->setValue(0);
    frame_.hScroll = frame_.vScroll = 0;
}

void CChildWindow::resizeEvent(QResizeEvent* event) {
    QMdiSubWindow::resizeEvent(event);
    if (!frame_.zoomMode || isMinimized()) return;
    int32_t w, h;
    frame_.DisplayedSize(w, h);
    if (view_->width() >= w && view_->height() >= h) {
        ResetScrollBars();
        return;
    }
    // Each axis keeps its position, clamped to what is left to scroll.
    hBar_->setMaximum(std::max(0, w - view_->width()));
    vBar_->setMaximum(std::max(0, h - view_->height()));
    frame_.hScroll = hBar_->value();
    frame_.vScroll = vBar_->value();
}

void CChildWindow::ChildMessageBox(const std::string& text) {
    main_.MessageBox(text);
}

bool CChildWindow::IsChild(CChildFrame* child) {
    return main_.IsChildOfFrame(child);
}

void CChildWindow::PostInfoUpdate(CChildFrame* child) {
    QMetaObject::invokeMethod(
        &main_, [m = &main_, child] { m->InfoUpdate(child); }, Qt::QueuedConnection);
}

void CChildWindow::PostRepaint(CChildFrame*) {
    QMetaObject::invokeMethod(view_, qOverload<>(&QWidget::update), Qt::QueuedConnection);
}

void CChildWindow::PostFormatChange(CChildFrame*) {
    QMetaObject::invokeMethod(
        this,
        [this] {
            if (!frame_.FormatChanged()) return;
            frame_.RestartForFormat();
            view_->update();
            PostInfoUpdate(&frame_);
        },
        Qt::QueuedConnection);
}

void CChildWindow::PostRecordProgress(CChildFrame* child) {
    main_.PostRecordProgress(child);
}

void CChildWindow::PostRecordDone(CChildFrame* child) {
    main_.PostRecordDone(child);
}

void CChildWindow::PostFrameBusy(CChildFrame*, bool busy) {
    QMetaObject::invokeMethod(
        &main_, [m = &main_, busy] { m->FrameBusy(busy); }, Qt::QueuedConnection);
}

void CChildWindow::RecordWritten(CChildFrame*, const std::string& title, const std::string& recordTime,
                                 const std::string& iniPath) {
    QMetaObject::invokeMethod(
        &main_, [m = &main_, title, recordTime, iniPath] { m->AddRecord(title, recordTime, iniPath); },
        Qt::QueuedConnection);
}

void CChildWindow::SetWatchdog(CChildFrame*, unsigned ms) {
    watchdog_.stop();
    if (ms) watchdog_.start(static_cast<int>(ms));
}

} // namespace qorcam::viewer
