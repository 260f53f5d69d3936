// ChildFrame: one camera window's camera, acquisition and live image statistics.
#pragma once

#include "ImageFiles.h"
#include "QorCam.h"
#include "Recorder.h"

#include "genapi/Interfaces.h"

#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace qorcam::viewer {

class ICameraApi;
class CChildFrame;

/// What a camera window asks of the window layer around it. Calls marked
/// "any thread" come from the library's delivery thread too.
class IChildHost {
public:
    virtual ~IChildHost() = default;
    virtual void ChildMessageBox(const std::string& text) = 0;
    /// Whether the window still belongs to the main frame. Any thread.
    virtual bool IsChild(CChildFrame* child) = 0;
    /// WM_FRAME_INFO_UPDATE to the main frame, posted. Any thread.
    virtual void PostInfoUpdate(CChildFrame* child) = 0;
    /// WM_VIEW_REPAINT to the view, posted. Any thread.
    virtual void PostRepaint(CChildFrame* child) = 0;
    /// Timer 1, the frame-rate watchdog: on (every ms) or off.
    virtual void SetWatchdog(CChildFrame* child, unsigned ms) = 0;
    /// The displayed size changed: lay the window out to it.
    virtual void LayoutChanged(CChildFrame* child) = 0;
    /// A delivered frame has another size or pixel format than the window
    /// shows: the window is to restart its image (new bitmap info, new
    /// layout), posted. Any thread.
    virtual void PostFormatChange(CChildFrame*) {}
    /// WM_RECORD_PROGRESS to the record pane, posted; child is null when
    /// the window is gone. Any thread.
    virtual void PostRecordProgress(CChildFrame*) {}
    /// WM_RECORD_DONE to the record pane, posted: a record window is
    /// complete or written; child is null when the window is gone. Any thread.
    virtual void PostRecordDone(CChildFrame*) {}
    /// WM_FRAME_BUSY to the main frame, posted: a record folder is loading. Any thread.
    virtual void PostFrameBusy(CChildFrame*, bool) {}
    /// A record of the camera titled title was written: its INI joins the
    /// camera's folder entry under the record time. Any thread.
    virtual void RecordWritten(CChildFrame*, const std::string& /*title*/, const std::string& /*recordTime*/,
                               const std::string& /*iniPath*/) {}
};

/// The performance counter: nanoseconds of the steady clock.
int64_t CounterNow();
constexpr int64_t kCounterFrequency = 1000000000;

/// The state of one camera window that the feature grid, the main frame and
/// the camera-list thread share, with the camera's opening, acquisition and
/// the image callback. All calls but the callback run on the UI thread; the
/// callback writes the statistics and the display buffer without a lock, as
/// painting reads them, and stopping unregisters it before anything is freed.
/// Guarantees: the grid flag may be read from any thread.
///
/// Recording: in record mode the callback converts into a ring of buffers
/// and fixes a window of it on a trigger; a writer thread saves the window
/// as a record folder. In playback a loader thread reads a record folder
/// back. Both workers stop when the window leaves the main frame, and the
/// window waits for them before it frees what they read.
class CChildFrame {
public:
    CChildFrame() = default;
    CChildFrame(ICameraApi* api, IChildHost* host) : api_(api), host_(host) {}
    ~CChildFrame();
    CChildFrame(const CChildFrame&) = delete;
    CChildFrame& operator=(const CChildFrame&) = delete;

    HCAMERA hCamera = nullptr;
    uint64_t cameraId = 0;
    uint32_t cameraType = 0;
    std::string title;
    std::atomic<uint32_t> running{0};
    uint32_t recover = 0;
    uint32_t connected = 0;
    std::string vendorName, modelName, userName, uniqueId, deviceVersion, serialNumber;
    /// Owned by the library; valid while the camera is open.
    genapi::INodeMap* nodeMap = nullptr;
    /// 1 while the feature grid may read this window's features.
    std::atomic<uint8_t> gridFlag{0};
    /// Group name to 0 (collapsed) or non-zero (expanded), per window.
    std::map<std::string, uint32_t> expansionStates;

    // Live statistics.
    int64_t counterFrequency = kCounterFrequency;
    int64_t nextDisplayTime = 0;
    int64_t rateWindowStart = 0;
    uint32_t framesInWindow = 0;
    std::atomic<double> frameRate{0.0};
    uint32_t displayRate = 30;
    uint8_t errorFlags[100] = {};
    uint32_t errorIndex = 0;
    std::atomic<uint32_t> errorCount{0};
    uint8_t* lastRawBuffer = nullptr;
    uint32_t lastRawLength = 0;
    uint32_t payloadSize = 0;
    /// Conversions done (the painted image changes only then).
    std::atomic<uint64_t> conversions{0};

    // Display state of the view.
    std::vector<uint8_t> bitmapInfo; ///< BITMAPINFO with its colour table
    /// The window's own buffer (camera mode outside record mode).
    std::vector<uint8_t> displayBuffer;
    std::vector<uint8_t> capturedRawImage;
    std::vector<uint8_t> capturedImage;
    uint32_t zoom = 100;
    uint8_t zoomMode = 1;
    int32_t hScroll = 0, vScroll = 0;

    const BITMAPINFOHEADER* Header() const {
        return bitmapInfo.size() >= sizeof(BITMAPINFOHEADER)
                   ? reinterpret_cast<const BITMAPINFOHEADER*>(bitmapInfo.data())
                   : nullptr;
    }
    /// Width and height of the image as shown (zoomed in zoom mode).
    void DisplayedSize(int32_t& w, int32_t& h) const;
    /// The bits the view draws: a ring slot in record mode, the current
    /// frame in playback, else the display buffer; null when there are none.
    const uint8_t* DisplayBits(size_t& size) const;
    bool HasDisplay() const {
        size_t n;
        return DisplayBits(n) != nullptr;
    }

    // Record state of a camera window. The ring changes only while no image
    // callback is registered and no writer runs; the indices and flags are
    // shared by the callback, the UI thread and the writer.
    /// Slots in the ring and the bytes of each.
    uint32_t ringCount = 0;
    uint32_t ringSlotSize = 0;
    /// Ring slot i, null beyond the ring.
    uint8_t* Slot(uint32_t i) const {
        return i < ringCount ? ringBlock_.get() + uint64_t{i} * ringSlotSize : nullptr;
    }
    std::atomic<uint32_t> written{0};
    std::atomic<uint8_t> ringFull{0};
    std::atomic<uint32_t> collected{0};
    std::atomic<uint32_t> writeIndex{0};
    std::atomic<uint32_t> windowStart{kNoSlot};
    std::atomic<uint32_t> windowEnd{kNoSlot};
    std::atomic<uint8_t> recordMode{0};
    std::atomic<uint8_t> counting{0};
    std::atomic<uint8_t> frozen{0};
    std::atomic<uint8_t> pendingWrite{0};
    std::atomic<uint32_t> saved{0}, toSave{0};
    /// Frames of the current record window: the set count, at most the ring.
    std::atomic<uint32_t> recordCount{0};
    /// The main frame's record settings; recording needs them.
    CRecordSettings* recordSettings = nullptr;
    /// The record folder shown by a playback window.
    CRecInfo recInfo;
    /// 1 in a playback window (its frames are BMP rows, bottom-up).
    uint8_t playback = 0;
    /// Writes JPEG, PNG and TIFF snapshots (the windows provide it).
    ImageEncoder imageEncoder;

    /// Opens the pending camera (type 1 through the GigE open), reads its
    /// texts, node map and bitmap info. False (with the message shown and
    /// the handle closed) when it can't be opened.
    bool ConnectCamera(uint64_t pendingId, uint32_t pendingType);
    /// Why acquisition starts: the user asked for it (a Start button or
    /// menu), or the viewer starts it again by itself after stopping it for
    /// a change (record mode, a new size or pixel format, a property file,
    /// a returning camera).
    enum class StartReason { Asked, Restart };
    /// WM_CHILD_START's camera part: false when the bitmap info can't be had.
    /// A failed GigE stream test is shown only when the user asked for the
    /// start: restarts run the test again but don't repeat the message.
    bool StartImage(StartReason reason);
    void StopImage();
    void CloseCamera();
    /// After a format change: a new bitmap info; false (message shown) when
    /// the format can't be shown.
    bool RefreshBitmapInfo();
    /// A frame of another size or pixel format came since the last start;
    /// frames are not converted until the image is started again.
    bool FormatChanged() const { return formatChanged_ != 0; }
    /// The window's answer to that: stop and start again, which takes the
    /// camera's new size and format (and lays the window out to them).
    void RestartForFormat();

    /// QORCAM_IMAGECALLBACK; Context is the window.
    static void ImageReceivedCallBack(HCAMERA camera, uint8_t* buffer, uint32_t length, uint32_t width,
                                      uint32_t height, QORCAM_IMAGEDATAINFO* info, void* context);
    /// One delivered buffer at counter value now.
    void OnBuffer(HCAMERA camera, uint8_t* buffer, uint32_t length, const QORCAM_IMAGEDATAINFO* info, int64_t now);
    /// Timer 1 at counter value now.
    void OnWatchdog(int64_t now);

    /// Record mode on: a ring of count buffers of biSizeImage bytes (fewer
    /// when memory runs out); the view shows slot 0. A running window is
    /// stopped for the change and started again.
    void AllocRecordBuffers(uint32_t count);
    /// Record mode off: the ring goes, the window has its own buffer again.
    void FreeRecordBuffers();
    /// The three trigger positions of the set count in the ring: the next
    /// frames (start), half before and half after (center), or the frames
    /// up to now (end, which completes the window at once). Only in record
    /// mode with a ring.
    void TriggerRecordStart();
    void TriggerRecordCenter();
    void TriggerRecord();
    /// Saves the record window (if any) on a writer thread; the ring stays
    /// frozen until a start finds nothing to save.
    void StartRecordWriter();
    bool WriterBusy() const { return writerBusy_ != 0; }

    /// Playback window creation: reads the record INI, takes its title and
    /// bitmap info and starts loading the frames. False when the INI can't be read.
    bool OpenRecordFolder(const std::string& iniPath);
    /// Timer 2: shows the current frame and moves on, around at the end.
    void PlaybackStep();
    /// Shows a loaded frame (the playback slider); false beyond them.
    bool ShowFrame(uint32_t index);

    /// WM_CHILD_CAPTURE_IMAGE: capture copies the shown image and the last
    /// raw payload; otherwise both copies are dropped.
    void CaptureImage(bool capture);
    /// WM_CHILD_SAVE_IMAGE's file part: with a shown and a captured image,
    /// writes it to path in the type its extension names.
    void SaveImage(const std::string& path);
    void SaveImageFile(const std::string& path);

    /// Ends the writer and the loader (they stop before their next frame).
    void StopWorkers();

private:
    bool QueryBitmapInfo();
    void BitmapInfoFailure();
    void RecordBookkeeping();
    uint32_t RecordSetCount() const;
    bool WorkerMayGoOn();
    bool AppRunning() const;
    struct WriterJob;
    void SaveRecordThread(const WriterJob& job);
    void StartLoad();
    void LoadRecordThread();
    void Show(uint8_t* bits, uint32_t size);

    ICameraApi* api_ = nullptr;
    IChildHost* host_ = nullptr;
    /// Drawn instead of the display buffer when set.
    std::atomic<uint8_t*> shown_{nullptr};
    std::atomic<uint32_t> shownSize_{0};
    /// The ring's slots in one block, and one more slot behind them: a
    /// frozen ring's conversions land there, so a fixed window is never overwritten.
    std::unique_ptr<uint8_t[]> ringBlock_;
    std::mutex framesLock_;
    /// The size and pixel format of the first frame since the start (the
    /// delivery thread's alone while running); later frames must match.
    uint8_t frameShapeKnown_ = 0;
    uint32_t frameWidth_ = 0, frameHeight_ = 0, framePixelType_ = 0;
    std::atomic<uint8_t> formatChanged_{0};
    std::atomic<uint8_t> stopWorkers_{0};
    std::atomic<uint8_t> writerBusy_{0};
    std::thread writer_;
    std::thread loader_;
};

/// The packet size a GigE camera is given when it opens below 1440 bytes:
/// the maximum when that is below 1440, else the largest value on the
/// increment grid not above 1440. Values at 1440 and above, and a zero
/// increment, are kept.
int64_t PacketSizeFor(int64_t value, int64_t min, int64_t max, int64_t inc);
/// "<name> 0x<id as 16 upper-case hex digits>".
std::string CameraTitle(const std::string& name, uint64_t id);

} // namespace qorcam::viewer
