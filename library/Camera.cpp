// Camera: CCamera, an opened camera with its GenTL handles, its node map and its state flags.
#include "Camera.h"

#include "CConv.h"
#include "CameraRecord.h"
#include "ClassifyPixelFormat.h"
#include "ErrorText.h"
#include "GenTLCustom.h"
#include "GenTLInterface.h"
#include "GenTLProducer.h"
#include "ImageBuffer.h"
#include "LibraryProcess.h"
#include "QorCamDLL.h"
#include "TraceLog.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <stdexcept>
#include <thread>
#include <utility>

namespace qorcam::library {

namespace {

constexpr std::size_t kStreamIdSize = 2048;
// Texts an open reports are kept to its 128-byte error text.
constexpr std::size_t kErrorTextMax = 127;

std::string Cut(std::string text) {
    if (text.size() > kErrorTextMax) text.resize(kErrorTextMax);
    return text;
}

} // namespace

std::uint64_t CameraNumberOf(const std::string& id) {
    return CInterface::CameraNumber(id);
}

CCamera::CCamera(CGenTL& producer, CInterface& iface, std::string id, DEV_HANDLE device,
                 std::uint32_t urlIndex, bool watch)
    : producer_(producer), interface_(iface), id_(std::move(id)), device_(device), urlIndex_(urlIndex),
      watch_(watch) {
    try {
        OpenStreams();
        LoadNodeMap();
    } catch (const CErrorText&) {
        ReleaseNodeMap();
        CloseStreams();
        throw;
    } catch (...) {
        ReleaseNodeMap();
        CloseStreams();
        throw CErrorText("Other Error");
    }
}

void CCamera::OpenStreams() {
    auto failed = [this] { throw CErrorText(Cut(producer_.LastErrorText())); };
    if (producer_.fn.DevGetPort(device_, &port_) != GC_ERR_SUCCESS) failed();
    std::uint32_t count = 0;
    if (producer_.fn.DevGetNumDataStreams(device_, &count) != GC_ERR_SUCCESS) failed();
    if (count < 2) throw CErrorText("DataStreams Error");
    for (std::uint32_t index = 0; index < 2; ++index) {
        char id[kStreamIdSize] = {};
        std::size_t size = sizeof id;
        if (producer_.fn.DevGetDataStreamID(device_, index, id, &size) != GC_ERR_SUCCESS) failed();
        id[sizeof id - 1] = '\0';
        if (producer_.fn.DevOpenDataStream(device_, id, &stream_[index]) != GC_ERR_SUCCESS) {
            stream_[index] = nullptr;
            failed();
        }
    }
}

void CCamera::LoadNodeMap() {
    const std::string folder = description::DescriptionFolder();
    try {
        if (!description::LoadNodeMap(*this, urlIndex_, watch_, folder, binding_)) {
            // No installed copy: the description comes from the device.
            urlIndex_ = 0;
            description::LoadNodeMap(*this, urlIndex_, watch_, folder, binding_);
        }
    } catch (const description::DescriptionError& error) {
        throw CErrorText(Cut(error.what()));
    }
}

void CCamera::ReleaseNodeMap() {
    binding_.nodeMap.reset(); // the node map goes before its port
    binding_ = {};
}

void CCamera::CloseStreams() {
    for (int index = 1; index >= 0; --index) {
        if (stream_[index] == nullptr) continue;
        producer_.fn.DSFlushQueue(stream_[index], ACQ_QUEUE_INPUT_TO_OUTPUT);
        producer_.fn.DSFlushQueue(stream_[index], ACQ_QUEUE_OUTPUT_DISCARD);
        producer_.fn.DSClose(stream_[index]);
        stream_[index] = nullptr;
    }
}

CCamera::~CCamera() {
    // Off the interface's list first, so that its bus-reset thread no longer asks a closing device.
    interface_.RemoveCamera(this);
    StopAndRelease();
    if (OnStreamThread()) {
        // Closed from inside the image callback: the streaming thread dropped
        // the last reference on its way out and can't wait for itself; it
        // ends on its own with nothing of the camera left to touch.
        streamThread_.release()->ReleaseToThread();
    }
    // No streaming thread uses the image-callback buffers any more.
    RevokeCallbackBuffers();
    CloseStreams();
    ReleaseNodeMap();
    producer_.fn.DevClose(device_);
    {
        std::lock_guard<std::mutex> guard(convLock_);
        conv_.reset();
    }
    // Last: the interface (and its producer) may go once its cameras have.
    interface_.CameraDestroyed(this);
}

void CCamera::Shutdown() {
    std::lock_guard<std::recursive_mutex> guard(lock_);
    closed_ = true;
    StopAndRelease();
    requestFiled_.notify_all();
}

bool CCamera::CheckState(std::uint32_t mask) {
    struct Condition {
        std::uint32_t bit;
        bool holds;
        std::uint32_t code;
    };
    const Condition conditions[] = {
        {kPresent, present_.load(), STATUSQORCAM_CANNOT_FOUND},
        {kWatch, watch_, STATUSQORCAM_NO_OPEN},
        {kNormal, !watch_, STATUSQORCAM_NO_OPEN},
        {kResources, HasResources(), STATUSQORCAM_NOTRESOURCE_ERROR},
        {kNoResources, !HasResources(), STATUSQORCAM_RESOURCE_ERROR},
        {kStarted, started_, STATUSQORCAM_NOTSTART_ERROR},
        {kNotStarted, !started_, STATUSQORCAM_STARTED_ERROR},
        {kMulticast, multicast_, STATUSQORCAM_NOTSTART_ERROR},
    };
    for (const Condition& c : conditions) {
        if ((mask & c.bit) != 0 && !c.holds) {
            producer_.Library().SetLastErrorCode(c.code);
            return false;
        }
    }
    return true;
}

void CCamera::SetVisibleFlag() {
    bool8_t visible = 0;
    std::size_t size = sizeof visible;
    INFO_DATATYPE type = INFO_DATATYPE_UNKNOWN;
    if (producer_.fn.DevGetInfo(device_, DEVICE_INFO_CUSTOM_VISIBLE, &type, &visible, &size) !=
        GC_ERR_SUCCESS) {
        InfoFailed("CCamera::SetVisibleFlag");
        present_ = false;
        return;
    }
    present_ = visible != 0;
}

bool CCamera::RefreshPresence() {
    SetVisibleFlag();
    return present_.load();
}

bool CCamera::DeviceInfo(std::int32_t command, void* buffer, std::size_t size) {
    std::memset(buffer, 0, size);
    INFO_DATATYPE type = INFO_DATATYPE_UNKNOWN;
    return producer_.fn.DevGetInfo(device_, command, &type, buffer, &size) == GC_ERR_SUCCESS;
}

bool CCamera::TextInfo(std::int32_t command, char* field, std::size_t size) {
    char text[1024];
    if (!DeviceInfo(command, text, sizeof text)) return false;
    std::memcpy(field, text, std::min(size, sizeof text));
    return true;
}

void CCamera::InfoFailed(const char* name) {
    TraceClass(1, name, LastErrorText().c_str());
    producer_.Library().SetLastErrorCode(STATUSQORCAM_UNDEF_ERROR);
}

bool CCamera::CameraInfo(QORCAM_CAMERAINFO* info) {
    return FillCameraRecord(producer_, device_, info, "CCamera::CameraInfo");
}

namespace {

// Pixel format values of older cameras (below 0x1000000) and the standard codes they stand for.
std::uint32_t StandardPixelFormat(std::int64_t value) {
    static const std::pair<std::int64_t, std::uint32_t> kOld[] = {
        {1, 0x01080001},  {5, 0x01100005},  {6, 0x010C0006},  {10, 0x01080008},
        {11, 0x01080009}, {12, 0x0108000A}, {13, 0x0108000B}, {18, 0x01100010},
        {19, 0x010C002A}, {20, 0x01100011}, {21, 0x010C002B}, {22, 0x01100012},
        {23, 0x010C002C}, {24, 0x01100013}, {25, 0x010C002D}, {44, 0x02100032}};
    for (const auto& [old, standard] : kOld) {
        if (value == old) return standard;
    }
    return static_cast<std::uint32_t>(value);
}

constexpr std::uint64_t kAcquireEndless = 0xFFFFFFFF;

} // namespace

bool CCamera::WriteStreamRegister(int index, std::uint64_t address, std::uint32_t value) {
    std::size_t size = sizeof value;
    return producer_.fn.GCWritePort(stream_[index], address, &value, &size) >= 0;
}

bool CCamera::ProducerFailed(const char* name) {
    TraceClass(1, name, LastErrorText().c_str());
    producer_.Library().SetLastErrorCode(STATUSQORCAM_UNDEF_ERROR);
    return false;
}

bool CCamera::ReadPayloadSize() {
    try {
        if (binding_.PayloadSize == nullptr) throw std::runtime_error("PayloadSize");
        const std::int64_t value = binding_.PayloadSize->GetValue(false, true);
        // A payload beyond 32 bits (or negative) can't be a buffer's size.
        if (value < 0 || value > 0x7FFFFFFF) throw std::range_error("PayloadSize");
        payloadSize_ = static_cast<std::uint32_t>(value);
        return true;
    } catch (...) {
        producer_.Library().SetLastErrorCode(STATUSQORCAM_COMMUNICATE_ERROR);
        return false;
    }
}

void CCamera::UndoAllocation() {
    for (int index = 1; index >= 0; --index) {
        if (stream_[index] != nullptr) producer_.fn.DSStopAcquisition(stream_[index], ACQ_STOP_FLAGS_KILL);
    }
    for (int index = 1; index >= 0; --index) {
        if (newBufferEvent_[index] == nullptr) continue;
        producer_.fn.GCUnregisterEvent(stream_[index], EVENT_NEW_BUFFER);
        newBufferEvent_[index] = nullptr;
    }
    if (!watch_) {
        try {
            binding_.TLParamsLocked->SetValue(0);
        } catch (...) {
        }
    }
}

bool CCamera::AllocResources() {
    static constexpr char kName[] = "CCamera::AllocResources";
    if (!watch_) {
        try {
            binding_.TLParamsLocked->SetValue(1);
        } catch (...) {
            producer_.Library().SetLastErrorCode(STATUSQORCAM_COMMUNICATE_ERROR);
            return false;
        }
    }
    bool ok = true;
    for (int index = 0; index < 2 && ok; ++index) {
        if (producer_.fn.GCRegisterEvent(stream_[index], EVENT_NEW_BUFFER, &newBufferEvent_[index]) !=
            GC_ERR_SUCCESS) {
            newBufferEvent_[index] = nullptr;
            ok = ProducerFailed(kName);
        }
    }
    if (ok && producer_.fn.DSStartAcquisition(stream_[0], ACQ_START_FLAGS_DEFAULT, kAcquireEndless) !=
                  GC_ERR_SUCCESS)
        ok = ProducerFailed(kName);
    if (ok && (producer_.Type() == kProducerGigE || producer_.Type() == kProducerUSB)) {
        // Stream 1 shares stream 0's host port.
        std::uint32_t port = 0;
        std::size_t size = sizeof port;
        if (producer_.fn.GCReadPort(stream_[0], DS_REG_PORT, &port, &size) < 0 ||
            !WriteStreamRegister(1, DS_REG_PORT, port) ||
            producer_.fn.DSStartAcquisition(stream_[1], ACQ_START_FLAGS_DEFAULT, kAcquireEndless) !=
                GC_ERR_SUCCESS)
            ok = ProducerFailed(kName);
    }
    if (ok) {
        try {
            const std::uint32_t format = StandardPixelFormat(binding_.PixelFormat->GetIntValue());
            formatId_ = conversion::ClassifyPixelFormat(format, &bayerPhase_, &formatBits_);
            const std::int64_t width = binding_.Width->GetValue();
            const std::int64_t height = binding_.Height->GetValue();
            if (width < 0 || height < 0 || width > UINT32_MAX || height > UINT32_MAX)
                throw std::range_error("image size");
            width_ = static_cast<std::uint32_t>(width);
            height_ = static_cast<std::uint32_t>(height);
        } catch (...) {
            producer_.Library().SetLastErrorCode(STATUSQORCAM_COMMUNICATE_ERROR);
            ok = false;
        }
    }
    if (!ok) UndoAllocation();
    return ok;
}

bool CCamera::ReleaseResources() {
    // The streaming thread ends first: it waits on the stream's event and may
    // be handing one of its buffers to the callback. Asked from inside the
    // callback, it ends once the callback returns and revokes its buffers
    // itself.
    const bool inCallback = OnStreamThread();
    EndStreamThread();
    if (!watch_) {
        try {
            binding_.TLParamsLocked->SetValue(0);
        } catch (...) {
        }
    }
    for (int index = 1; index >= 0; --index) {
        if (stream_[index] == nullptr) continue;
        if (newBufferEvent_[index] != nullptr) producer_.fn.EventKill(newBufferEvent_[index]);
        producer_.fn.DSStopAcquisition(stream_[index], ACQ_STOP_FLAGS_KILL);
        if (newBufferEvent_[index] != nullptr) {
            producer_.fn.GCUnregisterEvent(stream_[index], EVENT_NEW_BUFFER);
            newBufferEvent_[index] = nullptr;
        }
        producer_.fn.DSFlushQueue(stream_[index], ACQ_QUEUE_INPUT_TO_OUTPUT);
        producer_.fn.DSFlushQueue(stream_[index], ACQ_QUEUE_OUTPUT_DISCARD);
    }
    RevokeAllBuffers();
    if (inCallback) {
        releaseAsked_ = true;
    } else {
        RevokeCallbackBuffers();
    }
    return true;
}

void CCamera::RevokeCallbackBuffers() {
    for (BUFFER_HANDLE handle : callbackBuffers_)
        producer_.fn.DSRevokeBuffer(stream_[0], handle, nullptr, nullptr);
    callbackBuffers_.clear();
}

void CCamera::RevokeAllBuffers() {
    for (auto* map : {&idle_, &queued_, &done_}) {
        for (const auto& [address, handle] : *map)
            producer_.fn.DSRevokeBuffer(stream_[0], handle, nullptr, nullptr);
        map->clear();
    }
    for (auto* list : {&vsyncIdle_, &vsyncQueued_, &vsyncDone_}) {
        for (BUFFER_HANDLE handle : *list)
            producer_.fn.DSRevokeBuffer(stream_[1], handle, nullptr, nullptr);
        list->clear();
    }
    // Waiters for images look again: their requests are gone.
    requestFiled_.notify_all();
}

void CCamera::ImageReqAbortAll() {
    for (int index = 1; index >= 0; --index) {
        if (stream_[index] == nullptr) continue;
        if (newBufferEvent_[index] != nullptr) producer_.fn.EventKill(newBufferEvent_[index]);
        producer_.fn.DSFlushQueue(stream_[index], ACQ_QUEUE_INPUT_TO_OUTPUT);
        producer_.fn.DSFlushQueue(stream_[index], ACQ_QUEUE_OUTPUT_DISCARD);
    }
    RevokeAllBuffers();
    if (transferError_ && producer_.Type() == kProducerUSB) {
        std::uint32_t reset = 1;
        std::size_t size = sizeof reset;
        producer_.fn.GCWritePort(device_, DEV_REG_RESET_STREAM_PIPE, &reset, &size);
    }
    transferError_ = false;
}

bool CCamera::ImageAlloc(QORCAM_IMAGE** out) {
    QORCAM_IMAGE record{};
    try {
        const std::int64_t format = binding_.PixelFormat->GetIntValue();
        const std::int64_t height = binding_.Height->GetValue();
        const std::int64_t width = binding_.Width->GetValue();
        if (width < 0 || height < 0 || width > UINT32_MAX || height > UINT32_MAX)
            throw std::range_error("size");
        record.Width = static_cast<std::uint32_t>(width);
        record.Height = static_cast<std::uint32_t>(height);
        record.PixelFormatID = static_cast<std::uint32_t>(format);
    } catch (...) {
        producer_.Library().SetLastErrorCode(STATUSQORCAM_COMMUNICATE_ERROR);
        return false;
    }
    record.Length = payloadSize_;
    record.EndianMode = EndianMode();
    record.Status = STATUSQORCAM_COMPLETE;
    try {
        images_.push_back(std::make_unique<Image_Buffer>(record, bufferSize_, infoOffset_));
    } catch (...) {
        producer_.Library().SetLastErrorCode(STATUSQORCAM_UNDEF_ERROR);
        return false;
    }
    *out = &images_.back()->image;
    return true;
}

namespace {

template <class List> auto FindImage(List& images, const Image_Buffer& image) {
    return std::find_if(images.begin(), images.end(), [&](const auto& held) { return held.get() == &image; });
}

} // namespace

bool CCamera::ImageFree(Image_Buffer& image) {
    const auto it = FindImage(images_, image);
    if (it == images_.end()) {
        producer_.Library().SetLastErrorCode(STATUSQORCAM_REQUEST_NOTALLOC);
        return false;
    }
    std::uint8_t* address = image.image.pBuffer;
    if (idle_.count(address) != 0 || queued_.count(address) != 0 || done_.count(address) != 0) {
        producer_.Library().SetLastErrorCode(STATUSQORCAM_REQUEST_EXEC);
        return false;
    }
    images_.erase(it);
    return true;
}

bool CCamera::ImageFreeAll() {
    if (started_) {
        producer_.Library().SetLastErrorCode(STATUSQORCAM_STARTED_ERROR);
        return false;
    }
    ImageReqAbortAll();
    images_.clear();
    return true;
}

bool CCamera::ImageReq(Image_Buffer& image) {
    static constexpr char kName[] = "CCamera::ImageReq";
    if (image.bufferSize != bufferSize_) {
        producer_.Library().SetLastErrorCode(STATUSQORCAM_PARAMETER_ERROR);
        return false;
    }
    if (FindImage(images_, image) == images_.end()) {
        producer_.Library().SetLastErrorCode(STATUSQORCAM_REQUEST_NOTALLOC);
        return false;
    }
    std::uint8_t* address = image.image.pBuffer;
    if (queued_.count(address) != 0) {
        producer_.Library().SetLastErrorCode(STATUSQORCAM_REQUEST_EXEC);
        return false;
    }
    BUFFER_HANDLE handle = nullptr;
    if (const auto it = idle_.find(address); it != idle_.end()) {
        handle = it->second;
        idle_.erase(it);
    }
    if (handle == nullptr) BeforeAnnounce(image);
    if (handle == nullptr && producer_.fn.DSAnnounceBuffer(stream_[0], address, image.bufferSize, nullptr,
                                                           &handle) != GC_ERR_SUCCESS)
        return ProducerFailed(kName);
    if (producer_.fn.DSQueueBuffer(stream_[0], handle) != GC_ERR_SUCCESS) {
        idle_[address] = handle; // announced: revoked with the others
        return ProducerFailed(kName);
    }
    image.image.Status = STATUSQORCAM_REQUEST_PENDING;
    queued_[address] = handle;
    return true;
}

bool CCamera::ImageComplete(Image_Buffer& image, std::uint32_t timeout, QORCAM_IMAGEDATAINFO* info) {
    static constexpr char kName[] = "CCamera::ImageComplete";
    CQorCamDLL& library = producer_.Library();
    if (FindImage(images_, image) == images_.end()) {
        library.SetLastErrorCode(STATUSQORCAM_REQUEST_NOTALLOC);
        return false;
    }
    std::uint8_t* address = image.image.pBuffer;
    const auto begin = std::chrono::steady_clock::now();
    bool found = false;
    for (;;) {
        if (closed_) break;
        if (done_.count(address) != 0) {
            found = true;
            break;
        }
        if (queued_.count(address) == 0) {
            library.SetLastErrorCode(STATUSQORCAM_PARAMETER_ERROR);
            return false;
        }
        if (newBufferEvent_[0] == nullptr) break;
        if (reading_) {
            // Another waiter takes the completions; it files ours too.
            if (!WaitForReader(timeout, begin)) break;
            continue;
        }
        std::uint64_t remaining = 0;
        BUFFER_HANDLE buffer = nullptr;
        reading_ = true;
        const GC_ERROR result = WaitNewBuffer(0, timeout, begin, remaining, buffer);
        reading_ = false;
        // The other waiters look again once the lock is free: for their image in the done map, or to
        // take over the reading.
        requestFiled_.notify_all();
        // Resources released or the camera closed meanwhile: the wait's result no longer counts.
        if (closed_ || newBufferEvent_[0] == nullptr) break;
        if (result == GC_ERR_TIMEOUT) break;
        if (result != GC_ERR_SUCCESS) return ProducerFailed(kName);
        if (queued_.empty() && done_.empty()) {
            library.SetLastErrorCode(STATUSQORCAM_REQUEST_ERROR);
            return false;
        }
        for (auto it = queued_.begin(); it != queued_.end(); ++it) {
            if (it->second == buffer) {
                done_.insert(*it);
                queued_.erase(it);
                break;
            }
        }
        if (remaining == 0) {
            found = done_.count(address) != 0;
            break;
        }
    }
    if (!found) {
        library.SetLastErrorCode(STATUSQORCAM_REQUEST_TIMEOUT);
        return false;
    }
    const auto it = done_.find(address);
    BUFFER_HANDLE handle = it->second;
    done_.erase(it);
    idle_[address] = handle;

    std::uint32_t status = 0, bytes = 0;
    INFO_DATATYPE type = INFO_DATATYPE_UNKNOWN;
    std::size_t size = sizeof status;
    if (producer_.fn.DSGetBufferInfo(stream_[0], handle, BUFFER_INFO_CUSTOM_STATUS, &type, &status, &size) !=
        GC_ERR_SUCCESS)
        return ProducerFailed(kName);
    size = sizeof bytes;
    if (producer_.fn.DSGetBufferInfo(stream_[0], handle, BUFFER_INFO_CUSTOM_BYTES, &type, &bytes, &size) !=
        GC_ERR_SUCCESS)
        return ProducerFailed(kName);
    if (status != 0 && (status & 0xF0000000u) != 0x40000000u) {
        TraceDump(2, kName, "IO ERROR", reinterpret_cast<const void*>(static_cast<std::uintptr_t>(status)));
        if (status == 0xC0000001u) transferError_ = true;
    }
    const BufferView view{image.image.pBuffer, image.bufferSize, image.infoOffset, image.image.Length};
    // A transfer that ended with data missing is a failed request, whatever its completion status.
    const bool whole = status == 0 && WholeImage(view, status, bytes);
    image.image.Status = whole ? STATUSQORCAM_COMPLETE : STATUSQORCAM_REQUEST_ERROR;
    library.SetLastErrorCode(static_cast<std::uint32_t>(image.image.Status));
    if (info != nullptr) DecodeImageDataInfo(view, status, bytes, info);
    return whole;
}

GC_ERROR CCamera::WaitNewBuffer(int index, std::uint32_t timeout, std::chrono::steady_clock::time_point begin,
                                std::uint64_t& remaining, BUFFER_HANDLE& buffer) {
    remaining = 0xFFFFFFFF;
    if (timeout != 0xFFFFFFFF) {
        const auto elapsed =
            std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - begin)
                .count();
        remaining = elapsed >= timeout ? 0 : timeout - static_cast<std::uint64_t>(elapsed);
    }
    EVENT_NEW_BUFFER_DATA data{};
    std::size_t size = sizeof data;
    EVENT_HANDLE event = newBufferEvent_[index];
    lock_.unlock();
    const GC_ERROR result = producer_.fn.EventGetData(event, &data, &size, remaining);
    lock_.lock();
    buffer = data.BufferHandle;
    return result;
}

bool CCamera::WaitForReader(std::uint32_t timeout, std::chrono::steady_clock::time_point begin) {
    if (timeout == 0xFFFFFFFF) {
        requestFiled_.wait(lock_);
        return true;
    }
    const auto deadline = begin + std::chrono::milliseconds(timeout);
    if (std::chrono::steady_clock::now() >= deadline) return false;
    requestFiled_.wait_until(lock_, deadline);
    return true;
}

bool CCamera::OnStreamThread() const {
    return streamThread_ && streamThread_->Id() == os::Thread::CurrentId();
}

bool CCamera::SetImageCallBack(void* context, QORCAM_IMAGECALLBACK callback, std::uint32_t count, bool info) {
    // A callback removed from inside itself went with its thread's end.
    if (callback_ != nullptr && removedInCallback_ && !OnStreamThread()) StopImageCallBack();
    if (callback_ != nullptr) {
        producer_.Library().SetLastErrorCode(STATUSQORCAM_REQUEST_EXEC);
        return false;
    }
    callback_ = callback;
    callbackContext_ = context;
    bufferCount_ = count;
    infoFlag_ = info;
    bool running = false;
    // The streaming thread keeps the camera: a close from inside the callback
    // leaves it to the thread's end.
    AddReference();
    try {
        streamThread_ = std::make_unique<os::Thread>("QorCamStream");
        running = streamThread_->Start([this] { Stream_Thread(); }, os::ThreadPriority::TimeCritical);
    } catch (...) {
    }
    if (!running) {
        DropReference(); // the caller holds another
        // No registration stays behind for a stop to wait on.
        streamThread_.reset();
        callback_ = nullptr;
        producer_.Library().SetLastErrorCode(STATUSQORCAM_UNDEF_ERROR);
        return false;
    }
    streamStarted_.Wait(os::kInfinite);
    return true;
}

void CCamera::StopImageCallBack() {
    if (callback_ == nullptr) return;
    if (OnStreamThread()) {
        // From inside the callback: the thread can't wait for itself; it ends
        // once the callback returns, and the registration goes with it.
        removedInCallback_ = true;
        streamStopping_.store(true);
        streamStop_.Set();
        return;
    }
    EndStreamThread();
    callback_ = nullptr;
    removedInCallback_ = false;
    streamEnded_.Reset();
    streamStarted_.Reset();
    streamStop_.Reset();
    streamStopping_.store(false);
}

void CCamera::EndStreamThread() {
    if (!streamThread_) return;
    streamStopping_.store(true);
    streamStop_.Set();
    if (OnStreamThread()) return;
    if (newBufferEvent_[0] != nullptr) producer_.fn.EventKill(newBufferEvent_[0]);
    switch (CLibraryProcess::WaitThreadEnd(streamEnded_, *streamThread_)) {
    case CLibraryProcess::ThreadEnd::Ended:
        break;
    case CLibraryProcess::ThreadEnd::Gone:
        // Ended by the process's runtime inside the callback (an interpreter
        // shutting down): its reference to the camera is dropped for it.
        DropReference();
        break;
    case CLibraryProcess::ThreadEnd::Abandoned:
        // The process ends while the callback still runs: the thread, and
        // the camera it holds, are left to the process's end.
        (void)streamThread_.release();
        return;
    }
    streamThread_->Join();
    streamThread_.reset();
}

void CCamera::Stream_Thread() {
    static constexpr char kName[] = "CCamera::Stream_Thread";
    TraceClass(1, kName, "Start");
    TraceDump(1, kName, "Stream BufCount",
              reinterpret_cast<const void*>(static_cast<std::uintptr_t>(bufferCount_)));
    if (transferError_ && producer_.Type() == kProducerUSB) {
        std::uint32_t reset = 1;
        std::size_t size = sizeof reset;
        producer_.fn.GCWritePort(device_, DEV_REG_RESET_STREAM_PIPE, &reset, &size);
    }
    transferError_ = false;
    DS_HANDLE stream = stream_[0];
    EVENT_HANDLE event = newBufferEvent_[0];
    // The buffers of the session before, kept for its last image until now.
    RevokeCallbackBuffers();
    releaseAsked_ = false;
    std::uint32_t width = 0, height = 0;
    bool ready = true;
    try {
        width = static_cast<std::uint32_t>(binding_.Width->GetValue());
        height = static_cast<std::uint32_t>(binding_.Height->GetValue());
    } catch (...) {
        TraceClass(1, kName, "Width Height Read Error");
        ready = false;
    }
    for (std::uint32_t i = 0; ready && i < bufferCount_; ++i) {
        BUFFER_HANDLE handle = nullptr;
        if (producer_.fn.DSAnnounceBuffer(stream, nullptr, bufferSize_, nullptr, &handle) != GC_ERR_SUCCESS) {
            TraceClass(1, kName, LastErrorText().c_str());
            ready = false;
            break;
        }
        callbackBuffers_.push_back(handle);
        if (producer_.fn.DSQueueBuffer(stream, handle) != GC_ERR_SUCCESS) {
            TraceClass(1, kName, LastErrorText().c_str());
            ready = false;
        }
    }
    if (ready) {
        streamStarted_.Set();
        QORCAM_IMAGEDATAINFO record{};
        std::uint32_t failedInARow = 0;
        for (;;) {
            EVENT_NEW_BUFFER_DATA data{};
            std::size_t size = sizeof data;
            const GC_ERROR result = producer_.fn.EventGetData(event, &data, &size, 1000);
            if (streamStopping_.load()) break;
            if (result == GC_ERR_TIMEOUT) continue;
            if (result != GC_ERR_SUCCESS) {
                TraceClass(1, kName, LastErrorText().c_str());
                break;
            }
            std::uint32_t status = 0, bytes = 0;
            void* base = nullptr;
            INFO_DATATYPE type = INFO_DATATYPE_UNKNOWN;
            std::size_t infoSize = sizeof status;
            bool ok = producer_.fn.DSGetBufferInfo(stream, data.BufferHandle, BUFFER_INFO_CUSTOM_STATUS, &type,
                                                   &status, &infoSize) == GC_ERR_SUCCESS;
            infoSize = sizeof bytes;
            ok = ok && producer_.fn.DSGetBufferInfo(stream, data.BufferHandle, BUFFER_INFO_CUSTOM_BYTES, &type,
                                                    &bytes, &infoSize) == GC_ERR_SUCCESS;
            infoSize = sizeof base;
            ok = ok && producer_.fn.DSGetBufferInfo(stream, data.BufferHandle, BUFFER_INFO_BASE, &type, &base,
                                                    &infoSize) == GC_ERR_SUCCESS;
            if (!ok) {
                TraceClass(1, kName, LastErrorText().c_str());
                break;
            }
            const bool transferred = status == 0 || (status & 0xF0000000u) == 0x40000000u;
            if (!transferred) {
                if (status == 0xC0000001u) {
                    transferError_ = true;
                    std::this_thread::sleep_for(std::chrono::milliseconds(10));
                }
                TraceDump(2, kName, "IO ERROR",
                          reinterpret_cast<const void*>(static_cast<std::uintptr_t>(status)));
            }
            auto* memory = static_cast<std::uint8_t*>(base);
            const BufferView view{memory, bufferSize_, infoOffset_, payloadSize_};
            // An image with data missing goes to the callback in its failed form (length 0).
            const bool good = transferred && WholeImage(view, status, bytes);
            if (infoFlag_ && memory != nullptr) DecodeImageDataInfo(view, status, bytes, &record);
            // Nothing is called back once the process or the library ends.
            if (!CLibraryProcess::Ending()) {
                const CLibraryProcess::CallbackScope scope;
                TraceClass(2, kName, "Stream UserCallback Start");
                callback_(Handle(), memory, good ? payloadSize_ : 0, width, height,
                          infoFlag_ ? &record : nullptr, callbackContext_);
                TraceClass(2, kName, "Stream UserCallback End  ");
            }
            // Stopped meanwhile (perhaps by the callback itself): the image
            // just delivered is not queued again, so it stays as it was.
            if (streamStopping_.load()) break;
            // Transfers that keep failing (the service or the camera gone) are queued again ever more
            // slowly, up to once a second, instead of spinning; one that succeeds resets the pace.
            if (transferred) {
                failedInARow = 0;
            } else if (++failedInARow > 1) {
                const std::uint32_t pause = std::min<std::uint32_t>(1000, 1u << std::min(failedInARow, 11u));
                if (streamStop_.Wait(pause)) break;
            }
            if (producer_.fn.DSQueueBuffer(stream, data.BufferHandle) != GC_ERR_SUCCESS) {
                TraceClass(1, kName, LastErrorText().c_str());
                break;
            }
        }
        // A stop killed the wait already; the event may be gone with the resources.
        if (!streamStop_.IsSet()) producer_.fn.EventKill(event);
    }
    producer_.fn.DSFlushQueue(stream, ACQ_QUEUE_INPUT_TO_OUTPUT);
    producer_.fn.DSFlushQueue(stream, ACQ_QUEUE_OUTPUT_DISCARD);
    // The buffers stay announced, and the last image valid, until the
    // resources are released, the camera is closed or the next session starts.
    if (!ready || releaseAsked_) RevokeCallbackBuffers();
    streamStarted_.Set();
    streamEnded_.Set();
    TraceClass(1, kName, "End  ");
    // Last: this may be the camera's last reference (closed from inside the
    // callback). The camera then goes under the library lock, as a close
    // takes it away; with the handle gone nobody else can take it meanwhile,
    // and nobody waits for this thread.
    if (OnlyReference()) {
        std::lock_guard<std::recursive_mutex> libraryLock(producer_.Library().LibraryLock());
        DropReference();
    } else {
        DropReference();
    }
}

bool CCamera::VSyncReq(void** out) {
    static constexpr char kName[] = "CCamera::VSyncReq";
    BUFFER_HANDLE handle = nullptr;
    if (!vsyncIdle_.empty()) {
        handle = vsyncIdle_.front();
        vsyncIdle_.erase(vsyncIdle_.begin());
    }
    // An empty buffer: its completion only marks a frame start.
    if (handle == nullptr && producer_.fn.DSAnnounceBuffer(stream_[1], reinterpret_cast<void*>(1), 0, nullptr,
                                                           &handle) != GC_ERR_SUCCESS)
        return ProducerFailed(kName);
    if (producer_.fn.DSQueueBuffer(stream_[1], handle) != GC_ERR_SUCCESS) {
        vsyncIdle_.push_back(handle);
        return ProducerFailed(kName);
    }
    vsyncQueued_.push_back(handle);
    *out = handle;
    return true;
}

bool CCamera::VSyncComplete(void* handle, std::uint32_t timeout) {
    static constexpr char kName[] = "CCamera::VSyncComplete";
    CQorCamDLL& library = producer_.Library();
    auto contains = [](const std::vector<BUFFER_HANDLE>& list, void* h) {
        return std::find(list.begin(), list.end(), h) != list.end();
    };
    const auto begin = std::chrono::steady_clock::now();
    bool found = false;
    for (;;) {
        if (closed_) break;
        if (contains(vsyncDone_, handle)) {
            found = true;
            break;
        }
        if (!contains(vsyncQueued_, handle)) {
            library.SetLastErrorCode(STATUSQORCAM_PARAMETER_ERROR);
            return false;
        }
        if (newBufferEvent_[1] == nullptr) break;
        std::uint64_t remaining = 0;
        BUFFER_HANDLE buffer = nullptr;
        const GC_ERROR result = WaitNewBuffer(1, timeout, begin, remaining, buffer);
        // Resources released or the camera closed meanwhile: the wait's result no longer counts.
        if (closed_ || newBufferEvent_[1] == nullptr) break;
        if (result == GC_ERR_TIMEOUT) break;
        if (result != GC_ERR_SUCCESS) return ProducerFailed(kName);
        if (vsyncQueued_.empty() && vsyncDone_.empty()) {
            library.SetLastErrorCode(STATUSQORCAM_REQUEST_ERROR);
            return false;
        }
        // Any frame start completes the request waited for.
        const auto it = std::find(vsyncQueued_.begin(), vsyncQueued_.end(), handle);
        if (it != vsyncQueued_.end()) {
            vsyncQueued_.erase(it);
            vsyncDone_.push_back(handle);
        }
        if (remaining == 0 || newBufferEvent_[0] == nullptr) {
            found = contains(vsyncDone_, handle);
            break;
        }
    }
    if (!found) {
        library.SetLastErrorCode(STATUSQORCAM_REQUEST_TIMEOUT);
        return false;
    }
    vsyncDone_.erase(std::find(vsyncDone_.begin(), vsyncDone_.end(), handle));
    vsyncIdle_.push_back(handle);
    return true;
}

void CCamera::DecodeImageDataInfo(const BufferView&, std::uint32_t status, std::uint32_t bytes,
                                  QORCAM_IMAGEDATAINFO* info) {
    // IEEE 1394: the speed and the cycle times the status word and byte count carry.
    info->CType = 0;
    auto& part = info->Info.C1394;
    part.Speed = (status >> 5) & 0x7;
    if ((bytes >> 16) < 0xFFFF) {
        part.CycleTime_S = (bytes >> 29) & 0x7;
        part.CycleCount_S = (bytes >> 16) & 0x1FFF;
    } else {
        part.CycleTime_S = part.CycleCount_S = 0xFFFFFFFF;
    }
    part.CycleTime_E = (bytes >> 13) & 0x7;
    part.CycleCount_E = bytes & 0x1FFF;
}

bool CCamera::WholeImage(const BufferView&, std::uint32_t, std::uint32_t) const {
    return true;
}

bool CCamera::ImageStart() {
    if (started_) {
        producer_.Library().SetLastErrorCode(STATUSQORCAM_STARTED_ERROR);
        return false;
    }
    {
        std::lock_guard<std::mutex> guard(convLock_);
        if (!conv_) {
            const QORCAM_COLORCONVMODE mode = {QORCAM_MEMmode, QORCAM_SFTAUTO, QORCAM_DIB32, 0, 0};
            const QORCAM_COLORVALUE value = {1.402, 0.711, 0.343, 1.772};
            try {
                conv_ = std::make_unique<conversion::CConv>(mode, value);
            } catch (...) {
                producer_.Library().SetLastErrorCode(STATUSQORCAM_UNDEF_ERROR);
                return false;
            }
        }
        // The shift that brings 16-bit samples to 8 bits.
        const std::uint32_t bits = formatBits_ < 8 ? 8 : formatBits_;
        if (conv_->ShiftID != QORCAM_SFTAUTO) {
            conv_->EffectiveShift = static_cast<std::uint32_t>(conv_->ShiftID);
        } else if (formatId_ == 5 || formatId_ == 7 || formatId_ == 10) {
            conv_->EffectiveShift = bits - 8;
        } else if (formatId_ == 6 || formatId_ == 8 || formatId_ == 16) {
            conv_->EffectiveShift = bits / 3 < 8 ? 0 : bits / 3 - 8;
        }
    }
    WriteStreamRegister(0, DS_REG_STREAM_ENABLE, 1);
    started_ = true;
    if (watch_) return true;
    try {
        binding_.AcquisitionStart->Execute();
    } catch (...) {
        WriteStreamRegister(0, DS_REG_STREAM_ENABLE, 0);
        started_ = false;
        producer_.Library().SetLastErrorCode(STATUSQORCAM_COMMUNICATE_ERROR);
        return false;
    }
    return true;
}

bool CCamera::ImageStop() {
    if (!watch_) {
        try {
            binding_.AcquisitionStop->Execute();
        } catch (...) {
        }
    }
    if (!started_) {
        producer_.Library().SetLastErrorCode(STATUSQORCAM_NOTSTART_ERROR);
        return false;
    }
    WriteStreamRegister(0, DS_REG_STREAM_ENABLE, 0);
    started_ = false;
    return true;
}

bool CCamera::QueryMulticast(bool& multicast) {
    multicast = false;
    return false;
}

bool CCamera::SetCmdTimeOut(std::uint32_t timeout) {
    std::size_t size = sizeof timeout;
    if (producer_.fn.GCWritePort(device_, DEV_REG_CMD_TIMEOUT, &timeout, &size) < 0)
        return ProducerFailed("CCamera::SetCmdTimeOut");
    return true;
}

void CCamera::StopAndRelease() {
    if (started_) ImageStop();
    StopImageCallBack();
    if (HasResources()) ReleaseResources();
}

bool CCamera::ConvMode(const QORCAM_COLORCONVMODE& mode, const QORCAM_COLORVALUE& value) {
    std::lock_guard<std::mutex> guard(convLock_);
    conv_.reset();
    try {
        conv_ = std::make_unique<conversion::CConv>(mode, value);
    } catch (...) {
        return false;
    }
    return true;
}

std::uint32_t CCamera::Convert(const std::uint8_t* src, std::uint8_t* dst, std::uint32_t width,
                               std::uint32_t height, std::uint32_t endianMode) {
    std::lock_guard<std::mutex> guard(convLock_);
    if (!conv_) return STATUSQORCAM_UNDEF_ERROR;
    if (formatId_ < 0) return 0;
    conversion::ConvRequest request;
    request.Width = width;
    request.Height = height;
    request.ConvFormatId = static_cast<std::uint32_t>(formatId_);
    request.BayerPhase = bayerPhase_;
    request.Bits = formatBits_;
    request.EndianMode = endianMode;
    request.Src = src;
    request.Dst = dst;
    try {
        std::uint32_t error = STATUSQORCAM_UNDEF_ERROR;
        return conv_->ConvExec(request, &error) ? 0 : error;
    } catch (...) {
        return STATUSQORCAM_UNDEF_ERROR;
    }
}

std::uint32_t CCamera::EndianMode() const {
    return producer_.Type() == kProducerIIDC ? QORCAM_BIGENDIAN : QORCAM_LITTLEENDIAN;
}

std::int32_t CCamera::GetNumPortURLs(std::uint32_t& count) {
    return producer_.fn.GCGetNumPortURLs(port_, &count);
}

std::int32_t CCamera::GetPortURLInfo(std::uint32_t index, std::int32_t infoCommand, void* buffer,
                                     std::size_t& size) {
    INFO_DATATYPE type = INFO_DATATYPE_UNKNOWN;
    return producer_.fn.GCGetPortURLInfo(port_, index, infoCommand, &type, buffer, &size);
}

std::int32_t CCamera::ReadPort(std::uint64_t address, void* buffer, std::size_t& size) {
    return producer_.fn.GCReadPort(port_, address, buffer, &size);
}

std::int32_t CCamera::WritePort(std::uint64_t address, const void* buffer, std::size_t& size) {
    return producer_.fn.GCWritePort(port_, address, buffer, &size);
}

std::string CCamera::LastErrorText() {
    return producer_.LastErrorText();
}

} // namespace qorcam::library
