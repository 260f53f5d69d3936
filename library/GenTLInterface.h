// GenTLInterface: CInterface, one opened GenTL interface with its device list, its bus-event threads and
// the cameras opened through it.
#pragma once

#include "GenTL.h"
#include "os/Event.h"
#include "os/Thread.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace qorcam::library {

class CBase;
class CBasePort;
class CGenTL;

/// What the library lists of one device: the camera record's fields.
struct DeviceListing {
    std::uint64_t number = 0;
    std::string vendor;
    std::string model;
    std::string userName;
    std::uint32_t busNumber = 0;
    std::uint32_t speed = 0; ///< a QORCAM_TRANSMITSPEED value
};

/// Which device an open asks for.
struct OpenTarget {
    enum Kind { FirstFree, ByNumber, ByUserName } kind = FirstFree;
    std::uint64_t number = 0;
    std::string userName;
};

/// An opened interface of a producer.
///
/// Guarantees: while the object lives, two threads run at time-critical
/// priority. The event thread waits for the producer's bus events (type
/// 1000) a second at a time: a bus reset or a power-up asks the reset thread
/// for a refresh and tells the library (a power-up only counts from the
/// library's first producer). The reset thread refreshes the device list on
/// such a request or when the device monitor sets this process's USB (or
/// IEEE 1394) event, under the interface lock, then re-checks the presence of
/// every open camera and reports a bus reset to the library. The constructor
/// throws a CErrorText ("CreateEvent Error", "RegisterEvent Error",
/// "CreateThread Error") and then leaves no thread running; the caller closes
/// the interface handle. The destructor stops both threads, closes the
/// cameras (waiting for any still in a call to go) and destroys the register
/// ports opened through the interface, then closes it.
/// Producer answers are read only within the buffers handed to it.
class CInterface {
public:
    CInterface(CGenTL& producer, IF_HANDLE handle, std::string id);
    virtual ~CInterface();
    CInterface(const CInterface&) = delete;
    CInterface& operator=(const CInterface&) = delete;

    /// Held while the device list is refreshed and while the library walks
    /// the interface.
    std::recursive_mutex& Lock() { return lock_; }
    const std::string& Id() const { return id_; }
    IF_HANDLE Handle() const { return handle_; }
    CGenTL& Producer() { return producer_; }

    /// IFUpdateDeviceList with a 1000 ms time-out; true when the producer
    /// reports a change (a failure reports none and keeps the last list).
    bool UpdateDeviceList();
    /// Whether the device list was refreshed successfully within the last
    /// few seconds (an application that lists and then opens): an open may
    /// then try the devices listed before it asks for another refresh.
    bool ListIsRecent() const;
    /// IFGetNumDevices, traced as a camera count; 0 when the call fails.
    std::uint32_t GetDevCount();
    /// The id of device 0; false (and an empty id) without devices or on failure.
    bool GetFirstDevID(std::string& id);
    /// The id of the device at that position; false (and an empty id) on failure.
    bool GetDevID(std::uint32_t index, std::string& id);
    /// Number, vendor, model, user name, bus number and speed of a listed
    /// device; false when a producer call fails (traced with its text).
    bool GetDevInfo(const std::string& id, DeviceListing& info);

    /// The camera number of a device id: the decimal number right behind its
    /// first "::" (without one, from its second character), up to the first
    /// non-digit; a number beyond 64 bits is cut at the last digit that fits.
    static std::uint64_t CameraNumber(const std::string& id);
    /// A producer's link-speed answer as a QORCAM_TRANSMITSPEED value.
    static std::uint32_t SpeedFor(std::uint32_t producerType, std::uint32_t value);

    /// Opens the device the target names and builds the camera of the
    /// producer's kind. Result: 0 opened (camera set), 4 the device is open
    /// elsewhere (by number and by name only), 5 no device found or opened,
    /// 99 a producer call or the camera's construction failed.
    int OpenCamera(CBase*& camera, const OpenTarget& target, std::uint32_t urlIndex, bool readOnly);
    /// Opens the first device that can be had exclusively for register
    /// access; results as OpenCamera's first-free form.
    int OpenCameraPort(CBasePort*& port);

    /// A camera opened through this interface joins it with the way to
    /// refresh its presence, and leaves it from its destructor: the list at
    /// the start (RemoveCamera), the count of cameras at the very end
    /// (CameraDestroyed).
    void AddCamera(CBase* camera, std::function<void()> refreshPresence);
    void RemoveCamera(CBase* camera);
    void CameraDestroyed(CBase* camera);
    void AddPort(CBasePort* port);
    void RemovePort(CBasePort* port);
    /// Closes every camera (register ports stay); a camera still in a call
    /// on another thread goes when that call ends.
    void CloseCameras();

private:
    struct CameraEntry {
        CBase* object;
        std::function<void()> refreshPresence;
    };

    /// The device open and the object built over it, shared by both opens.
    template <class Build>
    int OpenDevice(const OpenTarget& target, DEVICE_ACCESS_FLAGS access, const char* name, Build build);
    void BusReset_Thread();
    void BusEventGet_Thread();
    void StopThreads();

    // How long a refreshed device list counts as recent for an open.
    static constexpr std::chrono::seconds kRecentList{5};

    std::recursive_mutex lock_;
    // When IFUpdateDeviceList last succeeded (the epoch: never).
    std::atomic<std::chrono::steady_clock::time_point> listRefreshed_{};
    CGenTL& producer_;
    std::string id_;
    IF_HANDLE handle_;
    EVENT_HANDLE busEvent_ = nullptr;
    os::Event threadStarted_{os::ResetMode::Manual};
    os::Event stop_{os::ResetMode::Manual};
    os::Event busResetRequest_{os::ResetMode::Auto};
    std::unique_ptr<os::Waitable> monitor_;
    std::vector<CameraEntry> cameras_;
    // Cameras opened through the interface and not yet destroyed (closed
    // ones may still be in a call); the destructor waits for none to be left.
    std::vector<CBase*> cameraObjects_;
    std::condition_variable_any camerasGone_;
    std::vector<CBasePort*> ports_;
    std::unique_ptr<os::Thread> resetThread_;
    std::unique_ptr<os::Thread> eventThread_;
};

} // namespace qorcam::library
