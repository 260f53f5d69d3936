// QorCamDLL: CQorCamDLL, the one library object of a process.
#include "QorCamDLL.h"

#include "Base.h"
#include "BasePort.h"
#include "CConv.h"
#include "ErrorText.h"
#include "GenTLInterface.h"
#include "GenTLProducer.h"
#include "LibraryProcess.h"
#include "TraceLog.h"
#include "os/WaitAny.h"

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <optional>

namespace qorcam::library {

const ProducerEntry kProducerTable[] = {
    {kProducerGigE, "QorGigEGenTL.cti"},
    {kProducerUSB, "QorUSBGenTL.cti"},
    {0xFFFFFFFFu, nullptr},
};

namespace {

// Copies text into a record's field, cut to leave room for the NUL.
template <std::size_t N> void CopyField(char (&field)[N], const std::string& text) {
    const std::size_t n = std::min(text.size(), N - 1);
    std::memcpy(field, text.data(), n);
    field[n] = '\0';
}

} // namespace

CQorCamDLL::CQorCamDLL() {
    if (!stop_.IsValid() || !busReset_.IsValid() || !powerUp_.IsValid()) {
        TraceClass(1, "CQorCamDLL::CQorCamDLL", "CreateEvent Error");
        throw CErrorText("CreateEvent Error");
    }
    callbackThread_ = std::make_unique<os::Thread>("QorCamCallback");
    if (!callbackThread_->Start([this] { UserCallBack_Thread(); }, os::ThreadPriority::TimeCritical))
        throw CErrorText("CreateThread Error");
}

CQorCamDLL::~CQorCamDLL() {
    firstProducer_.store(nullptr);
    while (!producers_.empty())
        producers_.erase(producers_.begin());
    CloseAllConvHandle();
    {
        std::lock_guard<std::mutex> guard(lastErrorLock_);
        lastErrors_.clear();
    }
    stop_.Set();
    if (callbackThread_ && callbackThread_->Id() == os::Thread::CurrentId()) {
        // Destroyed from inside the system callback: the thread ends by itself
        // once the callback returns; it can't wait for itself.
        if (destroyedInCallback_ != nullptr) *destroyedInCallback_ = true;
        callbackThread_.release()->ReleaseToThread();
    } else if (callbackThread_ &&
               CLibraryProcess::WaitThreadEnd(callbackThread_->FinishedEvent(), *callbackThread_) ==
                   CLibraryProcess::ThreadEnd::Abandoned) {
        // The process ends while the application's callback still runs:
        // the thread is left to the process's end.
        (void)callbackThread_.release();
    }
}

void CQorCamDLL::SetLastErrorCode(std::uint32_t code) {
    const std::uint32_t thread = os::Thread::CurrentId();
    std::lock_guard<std::mutex> guard(lastErrorLock_);
    if (code == 0) {
        lastErrors_.erase(thread);
    } else {
        lastErrors_[thread] = code;
    }
}

std::uint32_t CQorCamDLL::GetLastErrorCode() const {
    const std::uint32_t thread = os::Thread::CurrentId();
    std::lock_guard<std::mutex> guard(lastErrorLock_);
    auto it = lastErrors_.find(thread);
    return it == lastErrors_.end() ? 0u : it->second;
}

std::size_t CQorCamDLL::CreateDrvList() {
    static constexpr char kName[] = "CQorCamDLL::CreateDrvList";
    std::size_t loaded = 0;
    for (const ProducerEntry* entry = kProducerTable; entry->type != 0xFFFFFFFFu; ++entry) {
        const bool present =
            std::any_of(producers_.begin(), producers_.end(),
                        [&](const std::unique_ptr<CGenTL>& p) { return p->Type() == entry->type; });
        if (present) continue;
        try {
            auto producer = std::make_unique<CGenTL>(*this, entry->type, entry->file);
            producers_.push_back(std::move(producer));
            ++loaded;
        } catch (const CErrorText& error) {
            TraceClass(1, kName, error.Text());
        } catch (...) {
            TraceClass(1, kName, "Other Error");
        }
    }
    if (!producers_.empty()) firstProducer_.store(producers_.front().get());
    for (auto& producer : producers_)
        producer->UpdateInterface();
    RebuildInterfaceLocks();
    return loaded;
}

void CQorCamDLL::RebuildInterfaceLocks() {
    interfaceLocks_.clear();
    try {
        for (auto& producer : producers_) {
            for (auto& iface : producer->Interfaces())
                interfaceLocks_.push_back(&iface->Lock());
        }
    } catch (...) {
        TraceClass(1, "CQorCamDLL::CreateDrvList", "Other Error");
        interfaceLocks_.clear();
    }
}

void CQorCamDLL::UserBusEvent() {
    TraceClass(1, "CQorCamDLL::UserBusEvent", "BusReset Detection");
    busReset_.Set();
}

void CQorCamDLL::PowerUpEvent(CGenTL* producer) {
    // One wake-up reaches every producer; only the first one reports it.
    if (producer == nullptr || producer != firstProducer_.load()) return;
    TraceClass(1, "CQorCamDLL::PowerUpEvent", "PowerWakeUP Detection");
    powerUp_.Set();
}

CQorCamDLL::AllInterfacesLocked::AllInterfacesLocked(CQorCamDLL& library) {
    std::lock_guard<std::recursive_mutex> guard(library.producerListLock_);
    held_.reserve(library.interfaceLocks_.size());
    try {
        for (std::recursive_mutex* lock : library.interfaceLocks_) {
            lock->lock();
            held_.push_back(lock);
        }
    } catch (...) {
        for (auto lock = held_.rbegin(); lock != held_.rend(); ++lock)
            (*lock)->unlock();
        throw;
    }
}

CQorCamDLL::AllInterfacesLocked::~AllInterfacesLocked() {
    // Exactly the locks entered, in the reverse order: the array itself may
    // be rebuilt only under the library lock, which the holder has.
    for (auto lock = held_.rbegin(); lock != held_.rend(); ++lock)
        (*lock)->unlock();
}

bool CQorCamDLL::GetList(QORCAM_LIST* list) {
    const AllInterfacesLocked locked(*this);
    for (auto& producer : producers_) {
        for (auto& iface : producer->Interfaces())
            iface->UpdateDeviceList();
    }
    std::vector<std::uint32_t> counts;
    std::uint64_t total = 0;
    for (auto& producer : producers_) {
        for (auto& iface : producer->Interfaces()) {
            counts.push_back(iface->GetDevCount());
            total += counts.back();
        }
    }

    bool ok = true;
    if (list->Count == 0) {
        list->Count = static_cast<std::uint32_t>(std::min<std::uint64_t>(total, UINT32_MAX));
    } else if (list->Count < total) {
        SetLastErrorCode(STATUSQORCAM_BUFFER_SHORT);
        ok = false;
    } else {
        // The caller's block holds Count entries, at least the total; the
        // walk never fills more than the total even if a producer's list
        // grows meanwhile.
        auto* entries =
            reinterpret_cast<QORCAM_CAMERAINFO*>(reinterpret_cast<char*>(list) + offsetof(QORCAM_LIST, Info));
        std::uint32_t filled = 0;
        std::size_t slot = 0;
        for (auto& producer : producers_) {
            for (auto& iface : producer->Interfaces()) {
                const std::uint32_t count = counts[slot++];
                for (std::uint32_t index = 0; index < count && filled < total; ++index) {
                    std::string id;
                    if (index == 0) {
                        iface->GetFirstDevID(id);
                    } else {
                        iface->GetDevID(index, id);
                    }
                    DeviceListing info;
                    if (!iface->GetDevInfo(id, info)) continue;
                    QORCAM_CAMERAINFO& entry = entries[filled++];
                    std::memset(&entry, 0, sizeof entry);
                    entry.UID = info.number;
                    entry.BusNumber = info.busNumber;
                    entry.CameraType = producer->Type() - 1;
                    entry.Speed = info.speed;
                    CopyField(entry.VendorName, info.vendor);
                    CopyField(entry.ModelName, info.model);
                }
            }
        }
        // Only filled entries are reported: a device whose information could
        // not be read leaves no stale entry counted.
        list->Count = filled;
    }
    return ok;
}

template <class Form>
bool CQorCamDLL::Walk(HCAMERA* out, std::uint32_t type, bool readOnly, int kind, Form form) {
    std::optional<AllInterfacesLocked> locked(std::in_place, *this);
    // A device list refreshed moments ago (the application listed, then
    // opens) is tried as it stands: a refresh is a whole discovery round.
    // Lists that are not recent are refreshed first; when the walk finds
    // nothing to open in lists that were not refreshed for it, every such
    // list is refreshed and the walk made once more, so a camera that came,
    // went or moved since is seen as a refresh first would have seen it.
    std::vector<CInterface*> kept;
    for (auto& producer : producers_) {
        for (auto& iface : producer->Interfaces()) {
            if (iface->ListIsRecent())
                kept.push_back(iface.get());
            else
                iface->UpdateDeviceList();
        }
    }
    const bool firstFree = kind == OpenTarget::FirstFree;
    bool anyProducer = false;
    void* opened = nullptr;
    auto walk = [&]() -> int {
        int result = STATUSQORCAM_CANNOT_FOUND;
        anyProducer = false;
        opened = nullptr;
        for (auto& producer : producers_) {
            if (type != 0 && producer->Type() != type) continue;
            anyProducer = true;
            if (readOnly && producer->Type() == kProducerUSB) {
                if (kind == OpenTarget::ByNumber) return STATUSQORCAM_OPEN_ERROR;
                result = STATUSQORCAM_CANNOT_FOUND;
                continue;
            }
            if (producer->Interfaces().empty()) result = STATUSQORCAM_CANNOT_FOUND;
            for (auto& iface : producer->Interfaces()) {
                result = form(*iface, opened);
                if (result == STATUSQORCAM_COMPLETE || (!firstFree && result == STATUSQORCAM_OPENED))
                    return result;
            }
        }
        return result;
    };
    int result = walk();
    const bool settled = result == STATUSQORCAM_COMPLETE || (!firstFree && result == STATUSQORCAM_OPENED) ||
                         (readOnly && result == STATUSQORCAM_OPEN_ERROR);
    if (!settled && !kept.empty()) {
        for (CInterface* iface : kept)
            iface->UpdateDeviceList();
        result = walk();
    }
    locked.reset();
    if (!anyProducer) result = firstFree ? STATUSQORCAM_CANNOT_FOUND : STATUSQORCAM_OPEN_ERROR;
    *out = result == STATUSQORCAM_COMPLETE ? opened : nullptr;
    if (result == STATUSQORCAM_COMPLETE) return true;
    SetLastErrorCode(result == STATUSQORCAM_OPENED || result == STATUSQORCAM_OPEN_ERROR
                         ? static_cast<std::uint32_t>(result)
                         : static_cast<std::uint32_t>(STATUSQORCAM_CANNOT_FOUND));
    return false;
}

namespace {

// The form of an interface's open for one target.
auto CameraForm(const OpenTarget& target, std::uint32_t urlIndex, bool readOnly) {
    return [&target, urlIndex, readOnly](CInterface& iface, void*& opened) {
        CBase* camera = nullptr;
        const int result = iface.OpenCamera(camera, target, urlIndex, readOnly);
        opened = camera != nullptr ? camera->Handle() : nullptr;
        return result;
    };
}

} // namespace

bool CQorCamDLL::OpenCamera(HCAMERA* out, std::uint32_t urlIndex, std::uint32_t type, bool readOnly) {
    const OpenTarget target;
    return Walk(out, type, readOnly, target.kind, CameraForm(target, urlIndex, readOnly));
}

bool CQorCamDLL::OpenCameraByNumber(HCAMERA* out, std::uint64_t number, std::uint32_t urlIndex,
                                    std::uint32_t type, bool readOnly) {
    OpenTarget target;
    target.kind = OpenTarget::ByNumber;
    target.number = number;
    return Walk(out, type, readOnly, target.kind, CameraForm(target, urlIndex, readOnly));
}

bool CQorCamDLL::OpenCameraByUserName(HCAMERA* out, const std::string& name, std::uint32_t urlIndex,
                                      std::uint32_t type, bool readOnly) {
    OpenTarget target;
    target.kind = OpenTarget::ByUserName;
    target.userName = name;
    return Walk(out, type, readOnly, target.kind, CameraForm(target, urlIndex, readOnly));
}

bool CQorCamDLL::OpenCameraPort(HCAMERA* out) {
    return Walk(out, 0, false, OpenTarget::FirstFree, [](CInterface& iface, void*& opened) {
        CBasePort* port = nullptr;
        const int result = iface.OpenCameraPort(port);
        opened = port != nullptr ? port->Handle() : nullptr;
        return result;
    });
}

void CQorCamDLL::CloseAll() {
    for (auto& producer : producers_) {
        for (auto& iface : producer->Interfaces())
            iface->CloseCameras();
    }
}

void CQorCamDLL::SetCallBack(void* context, QORCAM_SYSTEMCALLBACK callback) {
    context_.store(context);
    callback_.store(callback);
}

void CQorCamDLL::WaitForCallbackCall() {
    if (callbackThread_ && callbackThread_->Id() == os::Thread::CurrentId()) return;
    std::lock_guard<std::mutex> ended(callbackCall_);
}

void CQorCamDLL::UserCallBack_Thread() {
    static constexpr char kName[] = "CQorCamDLL::UserCallBack_Thread";
    TraceClass(1, kName, "Start");
    bool destroyed = false;
    destroyedInCallback_ = &destroyed;
    for (;;) {
        const int which = os::WaitAny({&stop_, &busReset_, &powerUp_}, os::kInfinite);
        if (which <= 0) break;
        std::unique_lock<std::mutex> calling(callbackCall_);
        const QORCAM_SYSTEMCALLBACK callback = callback_.load();
        // Nothing is called back once the process or the library ends.
        if (callback == nullptr || CLibraryProcess::Ending()) continue;
        const CLibraryProcess::CallbackScope scope;
        void* context = context_.load();
        if (which == 1) {
            TraceClass(1, kName, "BusReset User Proc Start");
            callback(STATUSQORCAM_BUSRESET, context);
        } else {
            TraceClass(1, kName, "PowerWakeUP User Proc Start");
            callback(STATUSQORCAM_POWERUP, context);
        }
        if (destroyed) {
            // The callback freed the library: its lock went with it.
            (void)calling.release();
            TraceClass(1, kName, "End  ");
            return;
        }
        TraceClass(1, kName, which == 1 ? "BusReset User Proc End  " : "PowerWakeUP User Proc End  ");
    }
    TraceClass(1, kName, "End  ");
}

bool CQorCamDLL::CreateConvHandle(HCTBL* out, const QORCAM_COLORCONVMODE& mode,
                                  const QORCAM_COLORVALUE& value) {
    try {
        auto conv = std::make_unique<conversion::CConv>(mode, value);
        conversion::CBaseConv* handle = conv.get();
        std::lock_guard<std::mutex> guard(convListLock_);
        convHandles_.push_back(std::move(conv));
        *out = handle;
        return true;
    } catch (...) {
        SetLastErrorCode(STATUSQORCAM_UNDEF_ERROR);
        return false;
    }
}

void CQorCamDLL::CloseConvHandle(HCTBL handle) {
    std::lock_guard<std::mutex> guard(convListLock_);
    auto it = std::find_if(convHandles_.begin(), convHandles_.end(), [&](const auto& conv) {
        return static_cast<const void*>(static_cast<conversion::CBaseConv*>(conv.get())) == handle;
    });
    if (it != convHandles_.end()) convHandles_.erase(it);
}

void CQorCamDLL::CloseAllConvHandle() {
    std::lock_guard<std::mutex> guard(convListLock_);
    while (!convHandles_.empty())
        convHandles_.erase(convHandles_.begin());
}

conversion::CConv* CQorCamDLL::FindConvHandle(HCTBL handle) {
    if (handle == nullptr) return nullptr;
    std::lock_guard<std::mutex> guard(convListLock_);
    for (const auto& conv : convHandles_) {
        conversion::CBaseConv* base = conv.get();
        if (static_cast<void*>(base) == handle) return dynamic_cast<conversion::CConv*>(base);
    }
    return nullptr;
}

} // namespace qorcam::library
