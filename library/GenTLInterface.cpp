// GenTLInterface: CInterface, one opened GenTL interface with its device list, its bus-event threads and
// the cameras opened through it.
#include "GenTLInterface.h"

#include "Base.h"
#include "BasePort.h"
#include "CameraGigE.h"
#include "CameraIIDC.h"
#include "CameraPort.h"
#include "CameraUSB.h"
#include "ErrorText.h"
#include "GenTLCustom.h"
#include "GenTLProducer.h"
#include "LibraryProcess.h"
#include "QorCam.h"
#include "QorCamDLL.h"
#include "QorCamShared.h"
#include "TraceLog.h"
#include "os/NamedEvent.h"
#include "os/Process.h"
#include "os/WaitAny.h"

#include <algorithm>
#include <cstring>

namespace qorcam::library {

namespace {

constexpr std::uint64_t kListTimeoutMs = 1000;
constexpr std::uint64_t kBusEventWaitMs = 1000;
constexpr std::size_t kInfoSize = 1024;

// Text of a producer answer: up to the returned size (which counts the NUL)
// and never past the buffer.
std::string AnswerText(const char* buffer, std::size_t capacity, std::size_t returned) {
    return std::string(buffer, strnlen(buffer, std::min(returned, capacity)));
}

const char* CountText(std::uint32_t type) {
    switch (type) {
    case kProducerIIDC:
        return "IIDC Camera Count";
    case kProducerGigE:
        return "GigE Camera Count";
    case kProducerUSB:
        return "USB Camera Count";
    default:
        return "Camera Count";
    }
}

// The device monitor's event for this process: named for USB3 Vision and
// IEEE 1394 producers, a private one (never set) for the others.
std::unique_ptr<os::Waitable> MonitorEvent(std::uint32_t type) {
    const char* prefix = type == kProducerUSB    ? shared::kUsbEventPrefix
                         : type == kProducerIIDC ? shared::kIidcEventPrefix
                                                 : nullptr;
    if (prefix == nullptr) {
        auto local = std::make_unique<os::Event>(os::ResetMode::Auto);
        if (!local->IsValid()) return nullptr;
        return local;
    }
    auto named = std::make_unique<os::NamedEvent>(
        std::string(prefix) + std::to_string(os::Process::CurrentId()), os::ResetMode::Auto);
    if (!named->IsValid()) return nullptr;
    return named;
}

} // namespace

CInterface::CInterface(CGenTL& producer, IF_HANDLE handle, std::string id)
    : producer_(producer), id_(std::move(id)), handle_(handle) {
    static constexpr char kName[] = "CInterface::CInterface";
    if (!threadStarted_.IsValid() || !stop_.IsValid()) throw CErrorText("CreateEvent Error");
    if (!busResetRequest_.IsValid()) {
        TraceClass(1, kName, "CreateEvent Error");
        throw CErrorText("CreateEvent Error");
    }
    monitor_ = MonitorEvent(producer_.Type());
    if (!monitor_) {
        TraceClass(1, kName, "CreateEvent Error");
        throw CErrorText("CreateEvent Error");
    }
    if (producer_.fn.GCRegisterEvent(handle_, EVENT_CUSTOM_BUS, &busEvent_) != GC_ERR_SUCCESS) {
        busEvent_ = nullptr;
        throw CErrorText("RegisterEvent Error");
    }

    resetThread_ = std::make_unique<os::Thread>("QorCamIfReset");
    if (!resetThread_->Start([this] { BusReset_Thread(); }, os::ThreadPriority::TimeCritical)) {
        resetThread_.reset();
        producer_.fn.GCUnregisterEvent(handle_, EVENT_CUSTOM_BUS);
        throw CErrorText("CreateThread Error");
    }
    threadStarted_.Wait(os::kInfinite);
    threadStarted_.Reset();

    bool started = false;
    try {
        eventThread_ = std::make_unique<os::Thread>("QorCamIfEvent");
        started = eventThread_->Start([this] { BusEventGet_Thread(); }, os::ThreadPriority::TimeCritical);
    } catch (...) {
    }
    if (!started) {
        // The first thread ends before the object is gone.
        eventThread_.reset();
        stop_.Set();
        resetThread_->Join();
        producer_.fn.GCUnregisterEvent(handle_, EVENT_CUSTOM_BUS);
        throw CErrorText("CreateThread Error");
    }
    threadStarted_.Wait(os::kInfinite);
    threadStarted_.Reset();

    UpdateDeviceList();
}

CInterface::~CInterface() {
    StopThreads();
    CloseCameras();
    {
        // A camera whose streaming thread still runs its callback goes at
        // that thread's end. While the process ends that thread may be the
        // caller itself (exit() from inside the callback) or gone: the wait
        // is bounded then, and what is left goes with the process.
        std::unique_lock<std::recursive_mutex> held(lock_);
        CLibraryProcess::WaitUntil(
            [this] { return cameraObjects_.empty(); },
            [&](std::uint32_t ms) { camerasGone_.wait_for(held, std::chrono::milliseconds(ms)); });
    }
    while (!ports_.empty()) {
        CBasePort* first = ports_.front();
        delete first; // a port leaves the list itself; make sure it has
        if (!ports_.empty() && ports_.front() == first) ports_.erase(ports_.begin());
    }
    producer_.fn.IFClose(handle_);
}

void CInterface::StopThreads() {
    stop_.Set();
    producer_.fn.GCUnregisterEvent(handle_, EVENT_CUSTOM_BUS);
    // Ends the event thread's pending read at once.
    if (busEvent_ != nullptr) producer_.fn.EventKill(busEvent_);
    if (eventThread_) eventThread_->Join();
    if (resetThread_) resetThread_->Join();
}

void CInterface::BusReset_Thread() {
    static constexpr char kName[] = "CInterface::BusReset_Thread";
    TraceClass(1, kName, "Start");
    threadStarted_.Set();
    for (;;) {
        const int which = os::WaitAny({&stop_, &busResetRequest_, monitor_.get()}, os::kInfinite);
        if (which <= 0) break;
        TraceClass(1, kName, "BusReset");
        {
            std::lock_guard<std::recursive_mutex> guard(lock_);
            if (UpdateDeviceList()) {
                for (const CameraEntry& camera : cameras_) {
                    if (camera.refreshPresence) camera.refreshPresence();
                }
            }
        }
        producer_.Library().UserBusEvent();
    }
    TraceClass(1, kName, "End  ");
}

void CInterface::BusEventGet_Thread() {
    static constexpr char kName[] = "CInterface::BusEventGet_Thread";
    TraceClass(1, kName, "Start");
    threadStarted_.Set();
    for (;;) {
        std::uint32_t code = 0;
        std::size_t size = sizeof code;
        const GC_ERROR result = producer_.fn.EventGetData(busEvent_, &code, &size, kBusEventWaitMs);
        if (stop_.IsSet()) break;
        if (result != GC_ERR_SUCCESS) continue;
        if (code == BUS_EVENT_RESET) {
            TraceClass(1, kName, "BusReset Event");
            busResetRequest_.Set();
            producer_.Library().UserBusEvent();
        } else if (code == BUS_EVENT_POWER_UP) {
            TraceClass(1, kName, "PowerUP Event");
            busResetRequest_.Set();
            producer_.Library().PowerUpEvent(&producer_);
        }
    }
    TraceClass(1, kName, "End  ");
}

bool CInterface::UpdateDeviceList() {
    bool8_t changed = 0;
    if (producer_.fn.IFUpdateDeviceList(handle_, &changed, kListTimeoutMs) != GC_ERR_SUCCESS) return false;
    listRefreshed_.store(std::chrono::steady_clock::now());
    return changed != 0;
}

bool CInterface::ListIsRecent() const {
    const auto refreshed = listRefreshed_.load();
    return refreshed != std::chrono::steady_clock::time_point{} &&
           std::chrono::steady_clock::now() - refreshed <= kRecentList;
}

std::uint32_t CInterface::GetDevCount() {
    std::uint32_t count = 0;
    if (producer_.fn.IFGetNumDevices(handle_, &count) != GC_ERR_SUCCESS) count = 0;
    TraceDump(1, "CInterface::GetDevCount", CountText(producer_.Type()),
              reinterpret_cast<const void*>(static_cast<std::uintptr_t>(count)));
    return count;
}

bool CInterface::GetFirstDevID(std::string& id) {
    id.clear();
    std::uint32_t count = 0;
    if (producer_.fn.IFGetNumDevices(handle_, &count) != GC_ERR_SUCCESS || count == 0) return false;
    return GetDevID(0, id);
}

bool CInterface::GetDevID(std::uint32_t index, std::string& id) {
    char buffer[kInfoSize] = {};
    std::size_t size = sizeof buffer;
    id.clear();
    if (producer_.fn.IFGetDeviceID(handle_, index, buffer, &size) != GC_ERR_SUCCESS) return false;
    id = AnswerText(buffer, sizeof buffer, size);
    return true;
}

bool CInterface::GetDevInfo(const std::string& id, DeviceListing& info) {
    char buffer[kInfoSize];
    // One info command into the 1024-byte buffer; false when it fails.
    auto ask = [&](DEVICE_INFO_CMD command, std::size_t& size) {
        std::memset(buffer, 0, sizeof buffer);
        size = sizeof buffer;
        INFO_DATATYPE type = INFO_DATATYPE_UNKNOWN;
        return producer_.fn.IFGetDeviceInfo(handle_, id.c_str(), command, &type, buffer, &size) ==
               GC_ERR_SUCCESS;
    };
    auto text = [&](DEVICE_INFO_CMD command, std::string& out) {
        std::size_t size = 0;
        if (!ask(command, size)) return false;
        out = AnswerText(buffer, sizeof buffer, size);
        return true;
    };
    auto number = [&](DEVICE_INFO_CMD command, std::uint32_t& out) {
        std::size_t size = 0;
        if (!ask(command, size)) return false;
        std::memcpy(&out, buffer, sizeof out); // the rest of the zeroed buffer pads a short answer
        return true;
    };

    std::string answeredId;
    std::uint32_t speed = 0;
    const bool ok = text(DEVICE_INFO_ID, answeredId) && (info.number = CameraNumber(answeredId), true) &&
                    text(DEVICE_INFO_VENDOR, info.vendor) && text(DEVICE_INFO_MODEL, info.model) &&
                    text(DEVICE_INFO_CUSTOM_USER_NAME, info.userName) &&
                    number(DEVICE_INFO_CUSTOM_BUS_NUMBER, info.busNumber) &&
                    number(DEVICE_INFO_CUSTOM_SPEED, speed);
    if (!ok) {
        TraceClass(1, "CInterface::GetDevInfo", producer_.LastErrorText().c_str());
        return false;
    }
    info.speed = SpeedFor(producer_.Type(), speed);
    return true;
}

std::uint32_t CInterface::SpeedFor(std::uint32_t type, std::uint32_t value) {
    switch (type) {
    case kProducerGigE:
        return value == 100 ? QORCAM_S100M : QORCAM_S1000M;
    case kProducerUSB:
        return value == 512 ? QORCAM_SUSB2 : QORCAM_SUSB3;
    case kProducerIIDC:
        return value;
    default:
        return 0;
    }
}

std::uint64_t CInterface::CameraNumber(const std::string& id) {
    const std::size_t marker = id.find("::");
    std::size_t pos = marker != std::string::npos ? marker + 2 : 1;
    std::uint64_t value = 0;
    for (; pos < id.size() && id[pos] >= '0' && id[pos] <= '9'; ++pos) {
        const std::uint64_t digit = static_cast<std::uint64_t>(id[pos] - '0');
        if (value > (UINT64_MAX - digit) / 10) break;
        value = value * 10 + digit;
    }
    return value;
}

void CInterface::AddCamera(CBase* camera, std::function<void()> refreshPresence) {
    std::lock_guard<std::recursive_mutex> guard(lock_);
    cameras_.push_back({camera, std::move(refreshPresence)});
    try {
        cameraObjects_.push_back(camera);
    } catch (...) {
        cameras_.pop_back();
        throw;
    }
}

void CInterface::CameraDestroyed(CBase* camera) {
    std::lock_guard<std::recursive_mutex> guard(lock_);
    auto it = std::find(cameraObjects_.begin(), cameraObjects_.end(), camera);
    if (it != cameraObjects_.end()) cameraObjects_.erase(it);
    camerasGone_.notify_all();
}

void CInterface::RemoveCamera(CBase* camera) {
    std::lock_guard<std::recursive_mutex> guard(lock_);
    auto it = std::find_if(cameras_.begin(), cameras_.end(),
                           [&](const CameraEntry& entry) { return entry.object == camera; });
    if (it != cameras_.end()) cameras_.erase(it);
}

void CInterface::AddPort(CBasePort* port) {
    std::lock_guard<std::recursive_mutex> guard(lock_);
    ports_.push_back(port);
}

void CInterface::RemovePort(CBasePort* port) {
    std::lock_guard<std::recursive_mutex> guard(lock_);
    auto it = std::find(ports_.begin(), ports_.end(), port);
    if (it != ports_.end()) ports_.erase(it);
}

void CInterface::CloseCameras() {
    std::lock_guard<std::recursive_mutex> guard(lock_);
    // A listed camera exists while the lock is held: one being destroyed
    // waits for the lock to leave the list, and its handle is gone already,
    // so closing it does nothing.
    std::vector<CBase*> listed;
    for (const CameraEntry& entry : cameras_)
        listed.push_back(entry.object);
    for (CBase* camera : listed)
        CBase::Close(camera);
}

template <class Build>
int CInterface::OpenDevice(const OpenTarget& target, DEVICE_ACCESS_FLAGS access, const char* name,
                           Build build) {
    static constexpr char kAlreadyOpen[] = "Device already open";
    std::uint32_t count = 0;
    if (producer_.fn.IFGetNumDevices(handle_, &count) != GC_ERR_SUCCESS || count == 0)
        return STATUSQORCAM_CANNOT_FOUND;
    for (std::uint32_t position = 0; position < count; ++position) {
        std::string id;
        if (!GetDevID(position, id)) return STATUSQORCAM_UNDEF_ERROR;
        if (target.kind == OpenTarget::ByNumber && CameraNumber(id) != target.number) continue;
        if (target.kind == OpenTarget::ByUserName) {
            char buffer[kInfoSize] = {};
            std::size_t size = sizeof buffer;
            INFO_DATATYPE type = INFO_DATATYPE_UNKNOWN;
            if (producer_.fn.IFGetDeviceInfo(handle_, id.c_str(), DEVICE_INFO_CUSTOM_USER_NAME, &type, buffer,
                                             &size) != GC_ERR_SUCCESS)
                return STATUSQORCAM_UNDEF_ERROR;
            if (AnswerText(buffer, sizeof buffer, size) != target.userName) continue;
        }
        DEV_HANDLE device = nullptr;
        if (producer_.fn.IFOpenDevice(handle_, id.c_str(), access, &device) != GC_ERR_SUCCESS) {
            const bool elsewhere = producer_.LastErrorText() == kAlreadyOpen;
            if (target.kind == OpenTarget::FirstFree) {
                if (elsewhere) continue;
                return STATUSQORCAM_CANNOT_FOUND;
            }
            if (elsewhere) return STATUSQORCAM_OPENED;
            continue;
        }
        try {
            build(id, device);
            return STATUSQORCAM_COMPLETE;
        } catch (const CErrorText& error) {
            TraceClass(1, name, error.Text());
        } catch (...) {
            TraceClass(1, name, "Other Error");
        }
        producer_.fn.DevClose(device);
        return STATUSQORCAM_UNDEF_ERROR;
    }
    return STATUSQORCAM_CANNOT_FOUND;
}

int CInterface::OpenCamera(CBase*& camera, const OpenTarget& target, std::uint32_t urlIndex, bool readOnly) {
    camera = nullptr;
    const DEVICE_ACCESS_FLAGS access = readOnly ? DEVICE_ACCESS_READONLY : DEVICE_ACCESS_EXCLUSIVE;
    return OpenDevice(target, access, "CInterface::OpenCamera",
                      [&](const std::string& id, DEV_HANDLE device) {
                          CCamera* built = nullptr;
                          switch (producer_.Type()) {
                          case kProducerGigE:
                              built = new CCameraGigE(producer_, *this, id, device, urlIndex, readOnly);
                              break;
                          case kProducerUSB:
                              if (readOnly) throw CErrorText("Not Support");
                              built = new CCameraUSB(producer_, *this, id, device, urlIndex, readOnly);
                              break;
                          default:
                              built = new CCameraIIDC(producer_, *this, id, device, urlIndex, readOnly);
                              break;
                          }
                          AddCamera(built, [built] { built->SetVisibleFlag(); });
                          camera = built;
                      });
}

int CInterface::OpenCameraPort(CBasePort*& port) {
    port = nullptr;
    return OpenDevice(OpenTarget{}, DEVICE_ACCESS_EXCLUSIVE, "CInterface::OpenCameraPort",
                      [&](const std::string& id, DEV_HANDLE device) {
                          auto* built = new CCameraPort(producer_, *this, id, device);
                          AddPort(built);
                          port = built;
                      });
}

} // namespace qorcam::library
