// ChildFrame: one camera window's camera, acquisition and live image statistics.
#include "ChildFrame.h"

#include "CameraApi.h"

#include "genapi/Pointer.h"

#include <chrono>
#include <cstdio>
#include <cstring>

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

bool CChildFrame::StartImage() {
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
    if (cameraType == QORCAM_CTYPE_GIGE && !api_->TestStream(hCamera))
        host_->ChildMessageBox("Test packet error[" + std::to_string(static_cast<int>(api_->GetLastError())) + "]");
    int32_t w, h;
    DisplayedSize(w, h);
    if (w != oldW || h != oldH) host_->LayoutChanged(this);
    displayBuffer.assign(Header()->biSizeImage, 0);

    if (cameraType == QORCAM_CTYPE_GIGE) api_->ResourceAllocGigE(hCamera, nullptr, recover);
    else api_->ResourceAlloc(hCamera);
    payloadSize = 0;
    if (nodeMap) {
        genapi::CIntegerPtr payload(nodeMap->GetNode("PayloadSize"));
        if (payload.IsValid()) payloadSize = static_cast<uint32_t>(Read([&] { return payload->GetValue(); }));
    }
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
    // The callback is gone before the last buffer is copied, so it can't move.
    api_->SetImageCallBack(hCamera, nullptr, nullptr, 0, 0);
    capturedRawImage.clear();
    if (payloadSize && lastRawBuffer) {
        const uint32_t n = lastRawLength < payloadSize ? lastRawLength : payloadSize;
        capturedRawImage.assign(lastRawBuffer, lastRawBuffer + n);
    }
    api_->ResourceRelease(hCamera);
    running = 0;
    lastRawBuffer = nullptr;
    lastRawLength = 0;
    host_->PostRepaint(this);
}

void CChildFrame::CloseCamera() {
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

void CChildFrame::ImageReceivedCallBack(HCAMERA camera, uint8_t* buffer, uint32_t length, uint32_t, uint32_t,
                                        QORCAM_IMAGEDATAINFO* info, void* context) {
    auto* self = static_cast<CChildFrame*>(context);
    if (!self || !self->host_ || !self->host_->IsChild(self)) return;
    self->OnBuffer(camera, buffer, length, info, CounterNow());
}

void CChildFrame::OnBuffer(HCAMERA camera, uint8_t* buffer, uint32_t length, const QORCAM_IMAGEDATAINFO* info,
                           int64_t now) {
    // The failure percentage of the last 100 buffers.
    if (errorFlags[errorIndex]) {
        errorFlags[errorIndex] = 0;
        --errorCount;
    }
    if (info && (info->CType == QORCAM_CTYPE_GIGE || info->CType == QORCAM_CTYPE_USB)) {
        uint32_t payloadFlag;
        std::memcpy(&payloadFlag, &info->Info, sizeof payloadFlag);
        if (payloadFlag == 0) {
            errorFlags[errorIndex] = 1;
            ++errorCount;
        }
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

    if (nextDisplayTime <= now) {
        const int64_t interval = counterFrequency / (displayRate ? displayRate : 1);
        nextDisplayTime += interval;
        while (nextDisplayTime < now && interval > 0) nextDisplayTime += interval;
        // A failed buffer (no data) keeps the last good image.
        const BITMAPINFOHEADER* hd = Header();
        if (buffer && length && hd && displayBuffer.size() >= hd->biSizeImage) {
            lastRawBuffer = buffer;
            lastRawLength = length;
            if (api_->BufferConvExec(camera, buffer, displayBuffer.data())) ++conversions;
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

} // namespace qorcam::viewer
