// LogDevice: opening a device and ending its collector.
#include "LogDevice.h"

namespace qorcam::tracelog {

LogDevice::LogDevice(std::string path) : path_(std::move(path)), thread_("UsbDriverLog") {}

std::unique_ptr<LogDevice> LogDevice::Open(const std::string& path) {
    std::unique_ptr<LogDevice> device(new LogDevice(path));
    if (device->handle_.Open(path) != devio::STATUS_SUCCESS) return nullptr;
    return device;
}

LogDevice::~LogDevice() {
    Stop();
}

bool LogDevice::StartCollector(std::function<void()> collector) {
    return thread_.Start(std::move(collector));
}

void LogDevice::Stop() {
    stop_.Set();
    if (thread_.IsStarted()) thread_.Join();
    handle_.Close();
}

} // namespace qorcam::tracelog
