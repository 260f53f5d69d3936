// QorViewerApp: the viewer application's shared tables and its camera-list thread.
#pragma once

#include "CameraApi.h"
#include "ChildFrame.h"
#include "FolderInfo.h"

#include "os/Event.h"
#include "os/Thread.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <list>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace qorcam::viewer {

/// One camera id ever listed in this run.
struct CCameraIDInfo {
    uint8_t known = 0;       ///< 1 while the camera is in the latest list
    uint8_t reopen = 0;      ///< 1 when its window closed because the camera was lost
    uint32_t wasRunning = 0; ///< acquisition state of the lost window
    uint32_t recover = 0;    ///< the lost window's recover value
    uint32_t cameraType = 0; ///< CameraType of QORCAM_CAMERAINFO
    std::string title;       ///< the window title; empty until a window was made
};

/// What the camera-list thread asks of the main frame; every call runs on
/// the UI thread before it returns (except PostCameraList, which is posted).
class ICameraListHost {
public:
    virtual ~ICameraListHost() = default;
    /// WM_CHILD_CAMERA_CHECK (wParam, lParam 0) to every open window, last first.
    virtual void CheckChildren(int wParam) = 0;
    /// Stores the pending camera and sends ID_FILE_NEW to the main frame.
    virtual void OpenCamera(uint64_t cameraId, uint32_t cameraType) = 0;
    /// Sets the main frame's pending camera id to all ones.
    virtual void ClearPendingCamera() = 0;
    virtual void RefreshCameraTree() = 0;
    /// WM_FRAME_CAMERA_LIST, posted.
    virtual void PostCameraList() = 0;
};

/// The application: shared tables, the library's system callback and the
/// thread that re-reads the camera list on every bus reset. A GigE camera's
/// coming or going is noticed only by a discovery round, which only a list
/// request starts: while no bus reset comes, the thread asks for the number
/// of cameras every kCameraPollMs (one discovery round) and re-reads the
/// list when it differs from the last list's, so a camera that comes back
/// is found without the refresh button.
///
/// Guarantees: the tables are guarded by one lock that is never held while
/// the thread waits for the UI thread, so the two cannot block each other;
/// Stop() (and the destructor) ends the thread before the host goes away.
class CQorViewerApp {
public:
    explicit CQorViewerApp(ICameraApi& api);
    ~CQorViewerApp();
    CQorViewerApp(const CQorViewerApp&) = delete;
    CQorViewerApp& operator=(const CQorViewerApp&) = delete;

    ICameraApi& Api() { return api_; }
    /// The system callback: a bus reset wakes the camera-list thread; any
    /// other code is ignored. context is the change event.
    static void CameraChangeCallBack(STATUS_SYSTEMCODE code, void* context);
    /// Passes the structure version and registers the callback.
    void RegisterWithLibrary();
    /// Sets the change event (the camera tree's refresh button).
    void RequestCameraList() { changeEvent_.Set(); }

    void StartCameraListThread(ICameraListHost& host);
    /// Ends the thread; pump runs the UI's pending work while waiting, so a
    /// cycle that waits for the UI thread can finish.
    void Stop(const std::function<void()>& pump = {});
    /// One cycle of the thread, steps 2 to 7 (tests call it directly).
    void CameraListCycle(ICameraListHost& host);
    /// The thread's check between bus resets: the number of cameras the
    /// library lists now; a cycle when it is not the last cycle's. True when
    /// a cycle ran (tests call it directly).
    bool PollCameraList(ICameraListHost& host);
    static constexpr unsigned kCameraPollMs = 2000;

    // Tables shared by the UI thread and the camera-list thread.
    std::recursive_mutex& TableLock() { return tableLock_; }
    std::map<uint64_t, CCameraIDInfo> cameraTable;
    std::vector<CChildFrame*> openChildren;
    std::atomic<CChildFrame*> activeChild{nullptr};
    std::map<std::string, bool> favourites;
    std::map<std::string, bool> refreshNames;
    std::list<std::unique_ptr<CFolderInfo>> folders;

    uint8_t mode = 1;    ///< 1 camera mode, 0 playback
    uint8_t cascade = 1; ///< 1 cascade, 0 tile
    uint8_t zoom = 1;    ///< 1 zoom, 0 fit
    uint32_t displayRate = 30;
    std::atomic<uint8_t> running{1};

    bool IsFavourite(const std::string& name);
    bool IsRefreshSelected(const std::string& name);

    os::Event& ChangeEvent() { return changeEvent_; }

private:
    /// Reads the camera list; empty when it can't be read. counted is the
    /// number the library gave before the list was filled (entries it can't
    /// fill are left out of the list, not of that number).
    std::vector<QORCAM_CAMERAINFO> ReadList(uint32_t& counted);
    void ThreadBody(ICameraListHost& host);

    ICameraApi& api_;
    /// The number of cameras the last cycle was given (the camera-list thread's own).
    uint32_t lastListed_ = 0;
    std::recursive_mutex tableLock_;
    os::Event changeEvent_{os::ResetMode::Auto, true};
    os::Event quitEvent_{os::ResetMode::Manual, false};
    os::Event threadEnded_{os::ResetMode::Manual, false};
    os::Thread thread_{"CameraList"};
};

} // namespace qorcam::viewer
