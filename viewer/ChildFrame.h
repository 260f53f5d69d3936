// ChildFrame: one camera window's camera, acquisition and live image statistics.
#pragma once

#include "QorCam.h"

#include "genapi/Interfaces.h"

#include <atomic>
#include <cstdint>
#include <map>
#include <string>
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
    std::vector<uint8_t> displayBuffer;
    std::vector<uint8_t> capturedRawImage;
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

    /// Opens the pending camera (type 1 through the GigE open), reads its
    /// texts, node map and bitmap info. False (with the message shown and
    /// the handle closed) when it can't be opened.
    bool ConnectCamera(uint64_t pendingId, uint32_t pendingType);
    /// WM_CHILD_START's camera part: false when the bitmap info can't be had.
    bool StartImage();
    void StopImage();
    void CloseCamera();
    /// After a format change: a new bitmap info; false (message shown) when
    /// the format can't be shown.
    bool RefreshBitmapInfo();

    /// QORCAM_IMAGECALLBACK; Context is the window.
    static void ImageReceivedCallBack(HCAMERA camera, uint8_t* buffer, uint32_t length, uint32_t width,
                                      uint32_t height, QORCAM_IMAGEDATAINFO* info, void* context);
    /// One delivered buffer at counter value now.
    void OnBuffer(HCAMERA camera, uint8_t* buffer, uint32_t length, const QORCAM_IMAGEDATAINFO* info, int64_t now);
    /// Timer 1 at counter value now.
    void OnWatchdog(int64_t now);

private:
    bool QueryBitmapInfo();
    void BitmapInfoFailure();

    ICameraApi* api_ = nullptr;
    IChildHost* host_ = nullptr;
};

/// The packet size a GigE camera is given when it opens below 1440 bytes:
/// the maximum when that is below 1440, else the largest value on the
/// increment grid not above 1440. Values at 1440 and above, and a zero
/// increment, are kept.
int64_t PacketSizeFor(int64_t value, int64_t min, int64_t max, int64_t inc);
/// "<name> 0x<id as 16 upper-case hex digits>".
std::string CameraTitle(const std::string& name, uint64_t id);

} // namespace qorcam::viewer
