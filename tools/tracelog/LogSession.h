// LogSession: the running part of the log tool: log files, collectors and the device lists.
#pragma once

#include "LogDevice.h"
#include "LogSettings.h"
#include "RingLogFile.h"
#include "TraceArea.h"
#include "devio/DeviceHandle.h"
#include "os/Event.h"
#include "os/Thread.h"

#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace qorcam::tracelog {

/// The device-change event acted on: the set of device nodes changed.
inline constexpr std::uint32_t DBT_DEVNODES_CHANGED = 7;

/// What a Start takes from the dialog.
struct SessionOptions {
    std::uint32_t sysLevel = 0; // driver level 0..2; 0: no driver log
    std::uint32_t dllLevel = 0; // library level 0..2; 0: no library log
    CreateMode createMode = CreateMode::Auto;
    std::string folder;
    std::uint32_t ringLimit = 10000 * 1024;
    bool accCache = false;
    LibraryIdentity identity;
};

/// Logging from Start to Stop: one ring file per source and one collector
/// thread for the library, one for the GigE service and one per USB3 Vision
/// device. Root's session also collects the library lines of every other
/// user's processes into the library file (CUserCollectors).
///
/// Guarantees: StopLogging returns only when every collector has ended and
/// every file is closed, with the library's level word at 0 and the drivers'
/// messages disabled; lines still waiting in the trace area stay there for
/// the next drain. A source whose driver fails its version check is skipped
/// with its message; the others still start. Start, Stop and OnDeviceChange
/// may come from any one thread at a time (they serialise on a lock); the
/// collectors never wait for that thread.
class CLogSession {
public:
    using MessageSink = std::function<void(const std::string&)>;

    CLogSession(CTraceArea& area, MessageSink messages);
    ~CLogSession();
    CLogSession(const CLogSession&) = delete;
    CLogSession& operator=(const CLogSession&) = delete;

    /// Creates the folder, opens the files and starts the collectors.
    void StartLogging(const SessionOptions& options);
    void StopLogging();
    bool IsLogging() const;

    /// The device interface class changed: USB devices that left have their
    /// collectors stopped, new ones get a collector (without a version
    /// request). Acted on only while logging and only for DBT_DEVNODES_CHANGED.
    bool OnDeviceChange(std::uint32_t event);

    /// The paths of the present USB3 Vision devices, sorted.
    static std::vector<std::string> UsbDevicePaths();

    // What a running session holds, for the dialog and for tests.
    std::size_t UsbDeviceCount() const;
    bool GigeLogging() const;
    std::string FilePath(LogSource source) const;

private:
    bool OpenGigeDevice();
    bool FindUsbDevices();
    void StartUsbCollector(LogDevice& device);
    void DllLogThread();
    void GigeDriverLogThread();
    void UsbDriverLogThread(LogDevice& device);
    std::string FileIn(LogSource source) const;

    CTraceArea& area_;
    MessageSink messages_;
    mutable std::mutex mutex_;
    bool logging_ = false;
    SessionOptions options_;
    std::string stamp_;

    os::Event stop_{os::ResetMode::Manual};
    CRingLogFile gigeFile_;
    CRingLogFile usbFile_;
    CRingLogFile dllFile_;
    devio::DeviceHandle gigeHandle_;
    std::unique_ptr<os::Thread> gigeThread_;
    std::unique_ptr<os::Thread> dllThread_;
    std::unique_ptr<os::Thread> userThread_; // root's: other users' library lines
    std::vector<std::unique_ptr<LogDevice>> usbDevices_;
};

} // namespace qorcam::tracelog
