// ChildFrame: one camera window's camera, acquisition and live image statistics.
#include "ChildFrame.h"

#include "CameraApi.h"

#include "genapi/Pointer.h"

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <new>

namespace qorcam::viewer {

int64_t CounterNow() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

int64_t PacketSizeFor(int64_t value, int64_t min, int64_t max, int64_t inc) {
    if (inc == 0 || value >= 1440) return value;
    if (max < 1440) return max;
    return min + ((1440 - min) / inc) * inc;
}

std::string CameraTitle(const std::string& name, uint64_t id) {
    char text[40];
    std::snprintf(text, sizeof text, " 0x%016llX", static_cast<unsigned long long>(id));
    return name + text;
}

namespace {
// Fixed-size text fields of the library's records need not end in a zero.
template <size_t N> std::string Field(const char (&text)[N], size_t cut = N) {
    return std::string(text, strnlen(text, cut < N ? cut : N));
}
// The window's own camera is open while it reads these, so the reads don't
// go through the active window's guard (it isn't the active one yet when
// it opens); a failing read answers 0.
template <class F> int64_t Read(F&& f) {
    try {
        return f();
    } catch (...) {
        return 0;
    }
}
} // namespace

CChildFrame::~CChildFrame() {
    StopWorkers();
    if (api_) CloseCamera();
}

void CChildFrame::DisplayedSize(int32_t& w, int32_t& h) const {
    w = h = 0;
    if (const BITMAPINFOHEADER* hd = Header()) {
        w = hd->biWidth;
        h = hd->biHeight < 0 ? -hd->biHeight : hd->biHeight;
        if (zoomMode) {
            w = static_cast<int32_t>(int64_t{w} * zoom / 100);
            h = static_cast<int32_t>(int64_t{h} * zoom / 100);
        }
    }
}

bool CChildFrame::ConnectCamera(uint64_t pendingId, uint32_t pendingType) {
    BOOL opened;
    if (pendingType == QORCAM_CTYPE_GIGE) {
        QORCAM_OPENREQUEST request{};
        request.UID = pendingId;
        request.URLIdx = 0xFFFFFFFF;
        opened = api_->OpenGigE(&request, &hCamera);
    } else {
        opened = api_->Open(pendingId, &hCamera);
    }
    if (!opened) {
        const int error = static_cast<int>(api_->GetLastError());
        hCamera = nullptr;
        running = 0;
        host_->ChildMessageBox("Camera Not found[" + std::to_string(error) + "]");
        return false;
    }
    QORCAM_CAMERAINFO info{};
    api_->CameraInfo(hCamera, &info);
    cameraId = info.UID;
    cameraType = info.CameraType;
    modelName = Field(info.ModelName);
    vendorName = Field(info.VendorName);
    void* map = nullptr;
    api_->GetNodeMap(hCamera, &map);
    nodeMap = static_cast<genapi::INodeMap*>(map);

    if (cameraType == QORCAM_CTYPE_GIGE && nodeMap) {
        genapi::CIntegerPtr packet(nodeMap->GetNode("DeviceStreamChannelPacketSize"));
        if (packet.IsValid()) {
            const int64_t inc = Read([&] { return packet->GetInc(); });
            const int64_t value = Read([&] { return packet->GetValue(); });
            const int64_t wanted = PacketSizeFor(value, Read([&] { return packet->GetMin(); }),
                                                 Read([&] { return packet->GetMax(); }), inc);
            if (wanted != value) {
                try {
                    packet->SetValue(wanted);
                } catch (...) {
                }
            }
        }
    }

    QORCAM_GIGECAMERAINFO gige{};
    QORCAM_USBCAMERAINFO usb{};
    const bool haveGigE = api_->CameraInfoGigE(hCamera, &gige) == TRUE;
    const bool haveUsb = !haveGigE || gige.UserName[0] == 0 ? api_->CameraInfoUSB(hCamera, &usb) == TRUE : false;
    std::string name = modelName;
    if (haveGigE && gige.UserName[0]) name = Field(gige.UserName, 16);
    else if (haveUsb && usb.UserName[0]) name = Field(usb.UserName, 64);
    title = CameraTitle(name, cameraId);

    char id[24];
    std::snprintf(id, sizeof id, "0x%016llX", static_cast<unsigned long long>(cameraId));
    uniqueId = id;
    if (cameraType == QORCAM_CTYPE_GIGE) {
        userName = Field(gige.UserName);
        deviceVersion = Field(gige.Dev_Ver);
        serialNumber = Field(gige.SerialNumber);
    } else if (cameraType == QORCAM_CTYPE_USB) {
        userName = Field(usb.UserName);
        deviceVersion = Field(usb.Dev_Version);
        serialNumber = Field(usb.SerialNumber);
    }

    api_->ResourceAlloc(hCamera);
    if (!QueryBitmapInfo()) bitmapInfo.clear();
    api_->ResourceRelease(hCamera);
    return true;
}

bool CChildFrame::QueryBitmapInfo() {
    uint32_t size = 0;
    if (!api_->GetBMPINFO(hCamera, nullptr, &size, FALSE) || size < sizeof(BITMAPINFOHEADER)) return false;
    std::vector<uint8_t> info(size);
    if (!api_->GetBMPINFO(hCamera, reinterpret_cast<BITMAPINFO*>(info.data()), &size, FALSE)) return false;
    bitmapInfo = std::move(info);
    return true;
}

void CChildFrame::BitmapInfoFailure() {
    host_->ChildMessageBox(api_->GetLastError() == STATUSQORCAM_NO_SUPPORT_PIXELFORMAT ? "Not Support PixelFormat"
                                                                                      : "Get BMPINFO Error");
}

bool CChildFrame::StartImage(StartReason reason) {
    api_->ResourceAlloc(hCamera);
    int32_t oldW, oldH;
    DisplayedSize(oldW, oldH);
    bitmapInfo.clear();
    if (!QueryBitmapInfo()) {
        BitmapInfoFailure();
        api_->ResourceRelease(hCamera);
        bitmapInfo.clear();
        return false;
    }
    api_->ResourceRelease(hCamera);
    if (cameraType == QORCAM_CTYPE_GIGE && !api_->TestStream(hCamera) && reason == StartReason::Asked)
        host_->ChildMessageBox("Test packet error[" + std::to_string(static_cast<int>(api_->GetLastError())) + "]");
    int32_t w, h;
    DisplayedSize(w, h);
    if (w != oldW || h != oldH) host_->LayoutChanged(this);
    if (!recordMode) displayBuffer.assign(Header()->biSizeImage, 0);

    if (cameraType == QORCAM_CTYPE_GIGE) api_->ResourceAllocGigE(hCamera, nullptr, recover);
    else api_->ResourceAlloc(hCamera);
    payloadSize = 0;
    if (nodeMap) {
        genapi::CIntegerPtr payload(nodeMap->GetNode("PayloadSize"));
        if (payload.IsValid()) payloadSize = static_cast<uint32_t>(Read([&] { return payload->GetValue(); }));
    }
    // The first frame fixes the shape the others must have: the bitmap info
    // was just made for the camera's size and format.
    frameShapeKnown_ = 0;
    formatChanged_ = 0;
    framesInWindow = 0;
    frameRate = 0.0;
    std::memset(errorFlags, 0, sizeof errorFlags);
    errorIndex = 0;
    errorCount = 0;
    nextDisplayTime = rateWindowStart = CounterNow();
    api_->SetImageCallBack(hCamera, this, &CChildFrame::ImageReceivedCallBack, 5, TRUE);
    api_->ImageStart(hCamera);
    running = 1;
    host_->SetWatchdog(this, 1500);
    return true;
}

void CChildFrame::StopImage() {
    host_->SetWatchdog(this, 0);
    api_->ImageStop(hCamera);
    // The last buffer is copied while the callback is still registered: its
    // memory belongs to the delivery, which ends when the callback is removed.
    capturedRawImage.clear();
    if (payloadSize && lastRawBuffer) {
        const uint32_t n = lastRawLength < payloadSize ? lastRawLength : payloadSize;
        capturedRawImage.assign(lastRawBuffer, lastRawBuffer + n);
    }
    api_->SetImageCallBack(hCamera, nullptr, nullptr, 0, 0);
    api_->ResourceRelease(hCamera);
    running = 0;
    lastRawBuffer = nullptr;
    lastRawLength = 0;
    host_->PostRepaint(this);
}

void CChildFrame::CloseCamera() {
    // The workers read the ring, the frames and the window's fields: they end first.
    StopWorkers();
    if (hCamera) {
        api_->SetImageCallBack(hCamera, nullptr, nullptr, 0, 0);
        api_->ImageStop(hCamera);
        running = 0;
        api_->ResourceRelease(hCamera);
        api_->Close(hCamera);
        hCamera = nullptr;
        nodeMap = nullptr;
    }
    lastRawBuffer = nullptr;
    Show(nullptr, 0);
    ringBlock_.reset();
    ringCount = 0;
    ringSlotSize = 0;
    recordMode = 0;
    {
        std::lock_guard lock(framesLock_);
        recInfo.frames.clear();
    }
    recInfo.loaded = 0;
    recInfo.frameCount = 0;
    bitmapInfo.clear();
}

bool CChildFrame::RefreshBitmapInfo() {
    const bool release = api_->ResourceAlloc(hCamera) || api_->GetLastError() != STATUSQORCAM_RESOURCE_ERROR;
    bitmapInfo.clear();
    const bool ok = QueryBitmapInfo();
    if (!ok) {
        BitmapInfoFailure();
        bitmapInfo.clear();
    }
    if (release) api_->ResourceRelease(hCamera);
    return ok;
}

void CChildFrame::RestartForFormat() {
    if (!running || playback || !formatChanged_) return;
    StopImage();
    StartImage(StartReason::Restart);
}

namespace {

/// The image part of a frame's stream information; null for other payloads,
/// failed frames or without the information.
const QORCAM_STREAMINFO_IMAGE* ImageInfo(const QORCAM_IMAGEDATAINFO* info) {
    if (!info) return nullptr;
    if (info->CType == QORCAM_CTYPE_GIGE && info->Info.CGigE.Payload_Flag &&
        (info->Info.CGigE.StreamInfo.SType & 0x7FFF) == 1)
        return &info->Info.CGigE.StreamInfo.Data.Image;
    if (info->CType == QORCAM_CTYPE_USB && info->Info.CUsb.Payload_Flag && info->Info.CUsb.StreamInfo.SType == 1)
        return &info->Info.CUsb.StreamInfo.Data.Image;
    return nullptr;
}

/// The size and pixel format an image frame's stream information carries;
/// false for other payloads or without the information.
bool FrameShape(const QORCAM_IMAGEDATAINFO* info, uint32_t& width, uint32_t& height, uint32_t& pixelType) {
    const QORCAM_STREAMINFO_IMAGE* image = ImageInfo(info);
    if (!image || image->Width == 0 || image->Height == 0) return false;
    width = image->Width;
    height = image->Height;
    pixelType = image->Pixel_Type;
    return true;
}

/// An image frame whose stream information gives it no size: a camera that
/// can't send the size it was given sends such frames, and the buffer then
/// holds no picture of this frame.
bool EmptyImageFrame(const QORCAM_IMAGEDATAINFO* info) {
    const QORCAM_STREAMINFO_IMAGE* image = ImageInfo(info);
    return image && (image->Width == 0 || image->Height == 0);
}

} // namespace

void CChildFrame::ImageReceivedCallBack(HCAMERA camera, uint8_t* buffer, uint32_t length, uint32_t, uint32_t,
                                        QORCAM_IMAGEDATAINFO* info, void* context) {
    auto* self = static_cast<CChildFrame*>(context);
    if (!self || !self->host_ || !self->host_->IsChild(self)) return;
    self->OnBuffer(camera, buffer, length, info, CounterNow());
}

void CChildFrame::OnBuffer(HCAMERA camera, uint8_t* buffer, uint32_t length, const QORCAM_IMAGEDATAINFO* info,
                           int64_t now) {
    // The failure percentage of the last 100 buffers: a buffer the library
    // marks as failed, and one without data or an image frame of no size (a
    // camera that can't send its new size sends such frames), which has no
    // picture to show: it is not converted, and the last good image stays.
    if (errorFlags[errorIndex]) {
        errorFlags[errorIndex] = 0;
        --errorCount;
    }
    const bool empty = buffer == nullptr || length == 0 || EmptyImageFrame(info);
    bool failed = empty;
    if (info && (info->CType == QORCAM_CTYPE_GIGE || info->CType == QORCAM_CTYPE_USB)) {
        uint32_t payloadFlag;
        std::memcpy(&payloadFlag, &info->Info, sizeof payloadFlag);
        if (payloadFlag == 0) failed = true;
    }
    if (failed) {
        errorFlags[errorIndex] = 1;
        ++errorCount;
    }
    if (++errorIndex == 100) errorIndex = 0;

    ++framesInWindow;
    const int64_t elapsed = now - rateWindowStart;
    if (elapsed >= counterFrequency) {
        rateWindowStart = now;
        frameRate = static_cast<double>(counterFrequency) * framesInWindow / static_cast<double>(elapsed);
        framesInWindow = 0;
        host_->PostInfoUpdate(this);
    }

    // A frame of another size or format than the bitmap info would be
    // converted as the old one (a garbled picture): the window restarts its
    // image for it, and nothing is converted until then.
    uint32_t w = 0, h = 0, type = 0;
    if (!formatChanged_ && FrameShape(info, w, h, type)) {
        if (!frameShapeKnown_) {
            frameWidth_ = w;
            frameHeight_ = h;
            framePixelType_ = type;
            frameShapeKnown_ = 1;
        } else if (w != frameWidth_ || h != frameHeight_ || type != framePixelType_) {
            formatChanged_ = 1;
            host_->PostFormatChange(this);
        }
    }
    if (nextDisplayTime <= now && !formatChanged_) {
        const int64_t interval = counterFrequency / (displayRate ? displayRate : 1);
        nextDisplayTime += interval;
        // While frames after a trigger are collected, late buffers are
        // converted one by one to catch up with the schedule.
        if (!counting)
            while (nextDisplayTime < now && interval > 0)
                nextDisplayTime += interval;
        // An empty buffer keeps the last good image.
        const BITMAPINFOHEADER* hd = Header();
        if (!empty && hd) {
            if (recordMode) {
                // A slot too small for the current format is never written.
                uint8_t* slot = nullptr;
                if (ringCount && ringSlotSize >= hd->biSizeImage)
                    slot = ringBlock_.get() + uint64_t{frozen ? ringCount : writeIndex % ringCount} * ringSlotSize;
                if (slot) {
                    lastRawBuffer = buffer;
                    lastRawLength = length;
                    Show(slot, ringSlotSize);
                    if (api_->BufferConvExec(camera, buffer, slot)) ++conversions;
                    RecordBookkeeping();
                }
            } else if (displayBuffer.size() >= hd->biSizeImage) {
                lastRawBuffer = buffer;
                lastRawLength = length;
                if (api_->BufferConvExec(camera, buffer, displayBuffer.data())) ++conversions;
            }
        }
    }
    if (host_->IsChild(this)) host_->PostRepaint(this);
}

void CChildFrame::OnWatchdog(int64_t now) {
    double rate = frameRate;
    if (rate <= 0.0) return;
    // The shown rate stays; only the wait is at least two seconds.
    if (rate > 1.0) rate = 1.0;
    if (now - rateWindowStart >= static_cast<int64_t>(2.0 * static_cast<double>(counterFrequency) / rate)) {
        frameRate = -1.0;
        host_->PostInfoUpdate(this);
    }
}

const uint8_t* CChildFrame::DisplayBits(size_t& size) const {
    if (uint8_t* bits = shown_.load()) {
        size = shownSize_;
        return bits;
    }
    size = displayBuffer.size();
    return displayBuffer.empty() ? nullptr : displayBuffer.data();
}

void CChildFrame::Show(uint8_t* bits, uint32_t size) {
    // The size first: a reader that sees the new bits sees at least their size.
    if (bits) shownSize_ = std::min<uint32_t>(shownSize_, size);
    shown_ = bits;
    shownSize_ = size;
}

bool CChildFrame::AppRunning() const {
    return !recordSettings || !recordSettings->running || *recordSettings->running != 0;
}

bool CChildFrame::WorkerMayGoOn() {
    return !stopWorkers_ && host_ && host_->IsChild(this);
}

void CChildFrame::StopWorkers() {
    stopWorkers_ = 1;
    if (writer_.joinable()) writer_.join();
    if (loader_.joinable()) loader_.join();
    writerBusy_ = 0;
    stopWorkers_ = 0;
}

// --- Record ring -----------------------------------------------------------

void CChildFrame::AllocRecordBuffers(uint32_t count) {
    const bool wasRunning = running != 0;
    if (wasRunning) StopImage();
    StopWorkers();
    Show(nullptr, 0);
    displayBuffer.clear();
    displayBuffer.shrink_to_fit();
    written = 0;
    ringFull = 0;
    collected = 0;
    writeIndex = 0;
    frozen = 0;
    counting = 0;
    pendingWrite = 0;
    windowStart = windowEnd = kNoSlot;
    ringBlock_.reset();
    ringCount = 0;
    const BITMAPINFOHEADER* hd = Header();
    ringSlotSize = hd ? hd->biSizeImage : 0;
    // One block for all slots and the spare; with less memory than asked
    // for the ring gets shorter.
    uint64_t slots = ringSlotSize ? count : 0;
    while (slots > 0) {
        const uint64_t bytes = (slots + 1) * ringSlotSize;
        if (bytes <= SIZE_MAX) ringBlock_.reset(new (std::nothrow) uint8_t[bytes]);
        if (ringBlock_) break;
        slots = slots > 16 ? slots / 16 * 13 : slots - 1;
    }
    ringCount = ringBlock_ ? static_cast<uint32_t>(slots) : 0;
    recordMode = 1;
    if (ringCount) {
        // The view shows slot 0 before the first frame comes: it starts blank.
        std::memset(Slot(0), 0, ringSlotSize);
        Show(Slot(0), ringSlotSize);
    }
    if (wasRunning) StartImage(StartReason::Restart);
}

void CChildFrame::FreeRecordBuffers() {
    const bool wasRunning = running != 0;
    if (wasRunning) StopImage();
    StopWorkers();
    Show(nullptr, 0);
    ringBlock_.reset();
    ringCount = 0;
    ringSlotSize = 0;
    recordMode = 0;
    counting = 0;
    frozen = 0;
    const BITMAPINFOHEADER* hd = Header();
    displayBuffer.assign(hd ? hd->biSizeImage : 0, 0);
    if (wasRunning) StartImage(StartReason::Restart);
}

uint32_t CChildFrame::RecordSetCount() const {
    // A window longer than the ring would overwrite its own first frames.
    const uint32_t r = ringCount;
    uint32_t n = recordSettings ? recordSettings->setCount.load() : 0;
    if (n == 0) n = 1;
    return std::min(n, r);
}

void CChildFrame::RecordBookkeeping() {
    const uint32_t r = ringCount;
    if (!frozen) {
        const uint32_t next = writeIndex + 1;
        writeIndex = next >= r ? 0 : next;
    }
    if (!ringFull && ++written >= r) ringFull = 1;
    if (counting && ++collected >= recordCount) {
        counting = 0;
        pendingWrite = 1;
        if (recordSettings) recordSettings->saving = 1;
        host_->PostRecordDone(this);
    }
    host_->PostRecordProgress(this);
}

void CChildFrame::TriggerRecordStart() {
    if (!recordMode || !ringCount) return;
    recordCount = RecordSetCount();
    windowStart = writeIndex.load();
    windowEnd = kNoSlot;
    collected = 0;
    counting = 1;
}

void CChildFrame::TriggerRecordCenter() {
    if (!recordMode || !ringCount) return;
    const uint32_t r = ringCount, n = RecordSetCount(), w = writeIndex;
    const uint32_t half = n / 2;
    recordCount = n;
    collected = half;
    windowStart = w >= half ? w - half : w + r - half;
    windowEnd = kNoSlot;
    counting = 1;
}

void CChildFrame::TriggerRecord() {
    if (!recordMode || !ringCount) return;
    const uint32_t r = ringCount, n = RecordSetCount(), w = writeIndex;
    const uint32_t last = w == 0 ? r - 1 : w - 1;
    recordCount = n;
    windowEnd = last;
    windowStart = last >= n - 1 ? last - (n - 1) : r - (n - 1) + last;
    frozen = 1;
    counting = 0;
    collected = n;
    host_->PostRecordDone(this);
}

struct CChildFrame::WriterJob {
    std::string folder, title, recordTime;
    std::vector<uint8_t> bitmapInfo;
    uint32_t start = 0, count = 0, setCount = 0;
};

void CChildFrame::StartRecordWriter() {
    if (!recordMode) return;
    host_->PostRecordProgress(this);
    // One writer at a time: a second start while one writes would write the same files.
    if (writerBusy_) return;
    if (writer_.joinable()) writer_.join();
    frozen = 1;
    counting = 0;
    const uint32_t r = ringCount;
    if (collected == 0 || windowStart == kNoSlot || windowStart >= r) {
        windowStart = kNoSlot;
    } else if (windowEnd == kNoSlot) {
        const uint32_t w = writeIndex;
        windowEnd = w == 0 ? r - 1 : w - 1;
    }
    if (windowStart == kNoSlot) {
        frozen = 0;
        return;
    }
    WriterJob job;
    const std::string root = recordSettings ? recordSettings->folderPath : std::string();
    job.folder = (root.empty() ? std::string(".") : root) + "/" + PathSafeName(title);
    job.title = title;
    job.recordTime = recordSettings ? recordSettings->folderName : std::string();
    job.bitmapInfo = bitmapInfo;
    job.start = windowStart;
    job.count = std::min<uint32_t>(collected, r);
    job.setCount = recordSettings ? recordSettings->setCount.load() : 0;
    pendingWrite = 1;
    writerBusy_ = 1;
    writer_ = std::thread([this, job = std::move(job)] {
        SaveRecordThread(job);
        writerBusy_ = 0;
    });
}

void CChildFrame::SaveRecordThread(const WriterJob& job) {
    if (!WorkerMayGoOn()) return;
    const uint32_t r = ringCount;
    saved = 0;
    toSave = job.count;
    pendingWrite = 1;
    if (recordSettings) recordSettings->saving = 1;
    bool canceled = false;
    if (AppRunning()) {
        host_->PostRecordProgress(this);
        std::error_code error;
        std::filesystem::create_directories(job.folder, error);
        for (uint32_t k = 1; k <= job.count; ++k) {
            const uint32_t slot = static_cast<uint32_t>((uint64_t{job.start} + k - 1) % r);
            char number[16];
            std::snprintf(number, sizeof number, "%04u", k);
            const std::string name = job.folder + "/" + kRecordPrefix + number + ".bmp";
            if (!WorkerMayGoOn()) {
                canceled = true;
                break;
            }
            if (!Slot(slot)) break;
            Bgrx image;
            if (ToBgrx(job.bitmapInfo, Slot(slot), ringSlotSize, image) && WriteBmpFile(name, image))
                ++saved;
            if (!AppRunning()) break;
            host_->PostRecordProgress(this);
        }
    }
    // The record INI, with what was saved.
    RecordIni ini;
    ini.cameraName = job.title;
    ini.recordTime = job.recordTime;
    ini.savedCount = saved;
    ini.setCount = job.setCount;
    ini.result = RecordResult(saved, job.count, job.setCount, canceled);
    if (job.bitmapInfo.size() >= sizeof(BITMAPINFOHEADER)) {
        BITMAPINFOHEADER hd;
        std::memcpy(&hd, job.bitmapInfo.data(), sizeof hd);
        ini.width = hd.biWidth;
        ini.height = static_cast<int32_t>(std::min<int64_t>(std::abs(int64_t{hd.biHeight}), INT32_MAX));
        // The frames are written with 32 bits a pixel whatever the camera's format.
        ini.imageSize = Bgrx32Size(ini.width, ini.height);
    }
    const std::string iniPath = job.folder + "/" + kRecordIniName;
    WriteRecordIni(iniPath, ini);
    const bool alive = WorkerMayGoOn();
    if (alive) host_->RecordWritten(this, job.title, job.recordTime, iniPath);
    // The done notice starts the next writer: this one counts as ended before.
    writerBusy_ = 0;
    if (AppRunning()) {
        if (alive) {
            pendingWrite = 0;
            windowStart = kNoSlot;
        }
        host_->PostRecordDone(alive ? this : nullptr);
    }
}

// --- Playback --------------------------------------------------------------

bool CChildFrame::OpenRecordFolder(const std::string& iniPath) {
    if (!recInfo.ReadRecordInfo(iniPath)) return false;
    title = recInfo.MakeRecordPath();
    playback = 1;
    bitmapInfo.assign(reinterpret_cast<const uint8_t*>(&recInfo.header),
                      reinterpret_cast<const uint8_t*>(&recInfo.header) + sizeof recInfo.header);
    host_->PostFrameBusy(this, true);
    StartLoad();
    return true;
}

void CChildFrame::StartLoad() {
    StopWorkers();
    recInfo.loading = 1;
    Show(nullptr, 0);
    {
        std::lock_guard lock(framesLock_);
        recInfo.frames.clear();
    }
    recInfo.loaded = 0;
    recInfo.currentFrame = 0;
    const uint32_t size = recInfo.header.biSizeImage;
    const uint64_t budget = recordSettings ? RecordMemoryBudget(*recordSettings) : RecordMemoryBudget();
    const uint64_t fit = size ? budget / size : 0;
    recInfo.frameCount = static_cast<uint32_t>(std::min<uint64_t>(recInfo.savedCount, fit));
    host_->PostRecordProgress(this);
    loader_ = std::thread([this] { LoadRecordThread(); });
}

void CChildFrame::LoadRecordThread() {
    const uint32_t count = recInfo.frameCount, size = recInfo.header.biSizeImage;
    const int32_t w = recInfo.header.biWidth, h = recInfo.header.biHeight;
    for (uint32_t i = 0; i < count; ++i) {
        if (!WorkerMayGoOn()) break;
        std::unique_ptr<uint8_t[]> frame(new (std::nothrow) uint8_t[size]);
        if (!frame || !ReadBmpFile(recInfo.FramePath(i + 1), frame.get(), size, w, h)) break;
        uint8_t* bits = frame.get();
        {
            std::lock_guard lock(framesLock_);
            recInfo.frames.push_back(std::move(frame));
        }
        recInfo.loaded = i + 1;
        recInfo.currentFrame = i;
        host_->PostRecordProgress(this);
        host_->PostInfoUpdate(this);
        Show(bits, size);
        host_->PostRepaint(this);
    }
    const bool alive = WorkerMayGoOn();
    if (alive) {
        recInfo.frameCount = recInfo.loaded.load();
        recInfo.currentFrame = 0;
        {
            std::lock_guard lock(framesLock_);
            Show(recInfo.frames.empty() ? nullptr : recInfo.frames[0].get(), size);
        }
        host_->PostRepaint(this);
        recInfo.loading = 0;
    }
    host_->PostRecordProgress(alive ? this : nullptr);
    host_->PostFrameBusy(alive ? this : nullptr, false);
    host_->PostInfoUpdate(alive ? this : nullptr);
}

bool CChildFrame::ShowFrame(uint32_t index) {
    std::lock_guard lock(framesLock_);
    if (index >= recInfo.loaded || index >= recInfo.frames.size()) return false;
    recInfo.currentFrame = index;
    Show(recInfo.frames[index].get(), recInfo.header.biSizeImage);
    host_->PostRepaint(this);
    return true;
}

void CChildFrame::PlaybackStep() {
    {
        std::lock_guard lock(framesLock_);
        // Only loaded frames are played; with none there is nothing to step through.
        const uint32_t n = std::min<uint32_t>(recInfo.loaded, static_cast<uint32_t>(recInfo.frames.size()));
        if (n == 0) return;
        uint32_t index = recInfo.currentFrame;
        if (index >= n) index = 0;
        Show(recInfo.frames[index].get(), recInfo.header.biSizeImage);
        const uint32_t count = std::min<uint32_t>(recInfo.frameCount, n);
        recInfo.currentFrame = index + 1 >= count ? 0 : index + 1;
    }
    host_->PostRepaint(this);
    host_->PostRecordProgress(this);
    host_->PostInfoUpdate(this);
}

// --- Snapshots -------------------------------------------------------------

void CChildFrame::CaptureImage(bool capture) {
    if (!capture) {
        capturedImage.clear();
        capturedRawImage.clear();
        return;
    }
    size_t size;
    const uint8_t* bits = DisplayBits(size);
    if (!bits) return;
    // The library's buffer holds length bytes: the payload copy takes no more.
    if (payloadSize && lastRawBuffer) {
        const uint32_t n = std::min(lastRawLength, payloadSize);
        capturedRawImage.assign(lastRawBuffer, lastRawBuffer + n);
    }
    const BITMAPINFOHEADER* hd = Header();
    if (hd && hd->biSizeImage) capturedImage.assign(bits, bits + std::min<size_t>(size, hd->biSizeImage));
}

void CChildFrame::SaveImage(const std::string& path) {
    if (!HasDisplay() || capturedImage.empty()) return;
    SaveImageFile(path);
}

void CChildFrame::SaveImageFile(const std::string& path) {
    const ImageFileType type = ImageFileTypeFor(ExtensionOf(path));
    const BITMAPINFOHEADER* hd = Header();
    if (type == ImageFileType::Raw) {
        if (!capturedRawImage.empty() && hd)
            SaveRawFile(path, capturedRawImage.data(), static_cast<uint32_t>(capturedRawImage.size()),
                        hd->biWidth, hd->biHeight);
        capturedImage.clear();
        return;
    }
    capturedRawImage.clear();
    Bgrx image;
    if (type != ImageFileType::None &&
        ToBgrx(bitmapInfo, capturedImage.data(), capturedImage.size(), image)) {
        if (type == ImageFileType::Bmp)
            WriteBmpFile(path, image);
        else if (type == ImageFileType::Gif)
            WriteGifFile(path, image);
        else if (imageEncoder)
            imageEncoder(image, type, path);
    }
    capturedImage.clear();
}

} // namespace qorcam::viewer
