// LogDevice: one opened USB3 Vision device whose messages are being collected.
#pragma once

#include "devio/DeviceHandle.h"
#include "os/Event.h"
#include "os/Thread.h"

#include <functional>
#include <memory>
#include <string>

namespace qorcam::tracelog {

/// An opened driver device with the stop event and the thread of its
/// collector.
///
/// Guarantees: an object exists only with an open handle (Open gives none
/// for a path that can't be opened); Stop sets the stop event, waits until
/// the collector has ended and closes the handle; the destructor stops.
class LogDevice {
public:
    static std::unique_ptr<LogDevice> Open(const std::string& path);
    ~LogDevice();
    LogDevice(const LogDevice&) = delete;
    LogDevice& operator=(const LogDevice&) = delete;

    const std::string& Path() const { return path_; }
    devio::DeviceHandle& Handle() { return handle_; }
    /// Manual reset: asks this device's collector to end.
    os::Event& StopEvent() { return stop_; }

    /// Runs the collector on the device's own thread.
    bool StartCollector(std::function<void()> collector);
    void Stop();

private:
    explicit LogDevice(std::string path);

    std::string path_;
    devio::DeviceHandle handle_;
    os::Event stop_{os::ResetMode::Manual};
    os::Thread thread_;
};

} // namespace qorcam::tracelog
