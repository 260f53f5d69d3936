// QorViewerApp: the viewer application's shared tables and its camera-list thread.
#include "QorViewerApp.h"

#include "os/WaitAny.h"

#include <algorithm>
#include <cstring>

namespace qorcam::viewer {
namespace {
constexpr uint64_t kNoCamera = 0xFFFFFFFFFFFFFFFFULL;
constexpr uint64_t kUnsetCamera = 0xCDCDCDCDCDCDCDCDULL;
/// More cameras than any list can hold: a count above it is not believed.
constexpr uint32_t kMaxListed = 4096;
} // namespace

CQorViewerApp::CQorViewerApp(ICameraApi& api) : api_(api) {}

CQorViewerApp::~CQorViewerApp() {
    Stop();
}

void CQorViewerApp::CameraChangeCallBack(STATUS_SYSTEMCODE code, void* context) {
    if (code == STATUSQORCAM_BUSRESET && context) static_cast<os::Event*>(context)->Set();
}

void CQorViewerApp::RegisterWithLibrary() {
    api_.SetStructVersion(LIBRARY_STRUCT_VERSION);
    api_.SetCallBack(&changeEvent_, &CQorViewerApp::CameraChangeCallBack);
}

bool CQorViewerApp::IsFavourite(const std::string& name) {
    std::lock_guard lock(tableLock_);
    auto it = favourites.find(name);
    return it != favourites.end() && it->second;
}

bool CQorViewerApp::IsRefreshSelected(const std::string& name) {
    std::lock_guard lock(tableLock_);
    auto it = refreshNames.find(name);
    return it != refreshNames.end() && it->second;
}

void CQorViewerApp::StartCameraListThread(ICameraListHost& host) {
    thread_.Start([this, &host] { ThreadBody(host); }, os::ThreadPriority::Highest);
}

void CQorViewerApp::Stop(const std::function<void()>& pump) {
    quitEvent_.Set();
    if (!thread_.IsStarted()) return;
    while (pump && !thread_.Wait(5))
        pump();
    thread_.Join();
}

void CQorViewerApp::ThreadBody(ICameraListHost& host) {
    for (;;) {
        const int which = os::WaitAny({&quitEvent_, &changeEvent_}, kCameraPollMs);
        if (which == 1) {
            CameraListCycle(host);
            continue;
        }
        if (which != os::kWaitTimeout) break;
        PollCameraList(host);
    }
    threadEnded_.Set();
}

std::vector<QORCAM_CAMERAINFO> CQorViewerApp::ReadList(uint32_t& counted) {
    counted = 0;
    for (int fill = 0; fill < 3; ++fill) {
        uint32_t count = 0;
        for (int query = 0; query < 3; ++query) {
            QORCAM_LIST probe{};
            probe.Count = 0;
            if (api_.GetList(&probe)) {
                count = probe.Count;
                break;
            }
        }
        counted = count;
        if (count == 0) return {};
        count = std::min(count, kMaxListed);
        std::vector<uint8_t> buffer(static_cast<size_t>(count) * sizeof(QORCAM_CAMERAINFO) +
                                    sizeof(QORCAM_LIST));
        auto* list = reinterpret_cast<QORCAM_LIST*>(buffer.data());
        list->Count = count;
        if (!api_.GetList(list)) continue;
        // Only entries the library filled are used.
        const uint32_t filled = std::min(list->Count, count);
        std::vector<QORCAM_CAMERAINFO> cameras(filled);
        std::memcpy(cameras.data(), list->Info, filled * sizeof(QORCAM_CAMERAINFO));
        return cameras;
    }
    // Every fill failed: the entries are not the library's, so none is used.
    return {};
}

bool CQorViewerApp::PollCameraList(ICameraListHost& host) {
    QORCAM_LIST probe{};
    probe.Count = 0;
    // A list that can't be had now is asked for again at the next poll.
    if (!api_.GetList(&probe) || probe.Count == lastListed_) return false;
    CameraListCycle(host);
    return true;
}

void CQorViewerApp::CameraListCycle(ICameraListHost& host) {
    host.CheckChildren(1);
    host.CheckChildren(0);
    {
        std::lock_guard lock(tableLock_);
        for (auto& [id, entry] : cameraTable)
            entry.known = 0;
    }
    for (const QORCAM_CAMERAINFO& info : ReadList(lastListed_)) {
        const uint64_t id = info.UID;
        bool open = true;
        {
            std::lock_guard lock(tableLock_);
            for (auto it = openChildren.rbegin(); it != openChildren.rend(); ++it)
                if (*it && (*it)->cameraId == id) open = false;
            CCameraIDInfo entry;
            auto found = cameraTable.find(id);
            if (found != cameraTable.end()) {
                entry = found->second;
                if (entry.reopen == 0) open = false;
            }
            entry.known = 1;
            cameraTable[id] = entry;
        }
        if (!open) continue;
        if (id == 0 || id == kUnsetCamera)
            host.ClearPendingCamera();
        else
            host.OpenCamera(id, info.CameraType);
    }
    host.RefreshCameraTree();
    host.PostCameraList();
}

} // namespace qorcam::viewer
