// LogSession: starting and stopping the sources, the library collector and device changes.
#include "LogSession.h"

#include "DriverCollector.h"
#include "GigeIoctl.h"
#include "GigeRecords.h"
#include "QorCamShared.h"
#include "UsbDeviceControl.h"
#include "UserCollector.h"
#include "devio/DeviceName.h"
#include "os/LocalTime.h"
#include "os/Paths.h"
#include "os/WaitAny.h"

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace qorcam::tracelog {
namespace {

constexpr char kGigeDeviceName[] = "\\\\.\\QORGIGE";

// The first word of an 8-byte version answer; 0 when the request failed.
std::uint32_t VersionOf(devio::DeviceHandle& device, std::uint32_t code) {
    std::uint8_t answer[8] = {};
    std::uint64_t bytes = 0;
    if (!devio::NtSuccess(device.DeviceIoControl(code, nullptr, 0, answer, sizeof answer, &bytes)) ||
        bytes < 4)
        return 0;
    std::uint32_t version;
    std::memcpy(&version, answer, sizeof version);
    return version;
}

} // namespace

CLogSession::CLogSession(CTraceArea& area, MessageSink messages)
    : area_(area), messages_(std::move(messages)) {}

CLogSession::~CLogSession() {
    StopLogging();
}

bool CLogSession::IsLogging() const {
    std::lock_guard lock(mutex_);
    return logging_;
}

std::string CLogSession::FileIn(LogSource source) const {
    return (std::filesystem::path(options_.folder) / LogFileName(source, options_.createMode, stamp_))
        .string();
}

std::string CLogSession::FilePath(LogSource source) const {
    std::lock_guard lock(mutex_);
    return FileIn(source);
}

std::size_t CLogSession::UsbDeviceCount() const {
    std::lock_guard lock(mutex_);
    return usbDevices_.size();
}

bool CLogSession::GigeLogging() const {
    std::lock_guard lock(mutex_);
    return gigeThread_ != nullptr;
}

void CLogSession::StartLogging(const SessionOptions& options) {
    std::lock_guard lock(mutex_);
    if (logging_) return;
    options_ = options;
    stamp_ = StartStamp(os::LocalTime::Now());
    stop_.Reset();
    os::Paths::CreateFolder(options_.folder);

    if (options_.sysLevel != 0) {
        if (OpenGigeDevice()) {
            gigeFile_.Open(FileIn(LogSource::GigeDriver), options_.createMode, options_.ringLimit,
                           options_.accCache, options_.identity);
            gigeThread_ = std::make_unique<os::Thread>("GigeDriverLog");
            gigeThread_->Start([this] { GigeDriverLogThread(); });
        }
        if (FindUsbDevices()) {
            usbFile_.Open(FileIn(LogSource::UsbDriver), options_.createMode, options_.ringLimit,
                          options_.accCache, options_.identity);
            for (auto& device : usbDevices_)
                StartUsbCollector(*device);
        }
    }
    if (options_.dllLevel != 0) {
        dllFile_.Open(FileIn(LogSource::Library), options_.createMode, options_.ringLimit, options_.accCache,
                      options_.identity);
        area_.SetLevel(options_.dllLevel);
        dllThread_ = std::make_unique<os::Thread>("DllLogThread");
        dllThread_->Start([this] { DllLogThread(); });
        // Root's tool also collects every other user's library lines, each
        // through a collector that runs as that user.
        if (geteuid() == 0) {
            userThread_ = std::make_unique<os::Thread>("UserLogThread");
            userThread_->Start([this] {
                // Each user's lines in a ring of their own beside root's file.
                auto open = [this](std::uint32_t uid, CRingLogFile& file) -> std::string {
                    const std::string name = UserLogFileName(uid, options_.createMode, stamp_);
                    const bool opened =
                        file.Open((std::filesystem::path(options_.folder) / name).string(), options_.createMode,
                                  options_.ringLimit, options_.accCache, options_.identity);
                    return opened ? name : std::string();
                };
                CUserCollectors(dllFile_, open, options_.dllLevel, stop_).Run();
            });
        }
    }
    logging_ = true;
}

void CLogSession::StopLogging() {
    std::lock_guard lock(mutex_);
    if (!logging_) return;
    area_.SetLevel(0);
    stop_.Set();
    if (dllThread_) {
        dllThread_->Join();
        dllThread_.reset();
    }
    if (userThread_) {
        userThread_->Join();
        userThread_.reset();
    }
    dllFile_.Close();
    if (gigeThread_) {
        gigeThread_->Join();
        gigeThread_.reset();
    }
    gigeHandle_.Close();
    gigeFile_.Close();
    for (auto& device : usbDevices_)
        device->Stop();
    usbDevices_.clear();
    usbFile_.Close();
    logging_ = false;
}

bool CLogSession::OpenGigeDevice() {
    if (gigeHandle_.Open(kGigeDeviceName) != devio::STATUS_SUCCESS) return false;
    if (VersionOf(gigeHandle_, gige::IOCTL_GIGE_GetVersion) != gige::LIBRARY_STRUCT_VERSION) {
        gigeHandle_.Close();
        if (messages_) messages_("GigE Filter Version Error Not Log");
        return false;
    }
    return true;
}

std::vector<std::string> CLogSession::UsbDevicePaths() {
    std::vector<std::string> paths;
    std::error_code ec;
    const auto folder = devio::DeviceInterfaceDirectory(shared::kUsbDeviceClass);
    for (std::filesystem::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
        if (it->is_socket(ec)) paths.push_back(it->path().string());
    }
    std::sort(paths.begin(), paths.end());
    return paths;
}

bool CLogSession::FindUsbDevices() {
    const auto paths = UsbDevicePaths();
    // The version is asked of the first device that can be opened; one that
    // left between listing and opening says nothing about the driver.
    bool checked = false;
    for (const auto& path : paths) {
        devio::DeviceHandle probe;
        if (probe.Open(path) != devio::STATUS_SUCCESS) continue;
        if (VersionOf(probe, usbdrv::IOCTL_USB_GetVersion) != usbdrv::kUsbInterfaceVersion) {
            if (messages_) messages_("USB Drv Version Error Not Log");
            return false;
        }
        checked = true;
        break;
    }
    if (!checked) return false;
    for (const auto& path : paths) {
        if (auto device = LogDevice::Open(path)) usbDevices_.push_back(std::move(device));
    }
    return !usbDevices_.empty();
}

void CLogSession::StartUsbCollector(LogDevice& device) {
    device.StartCollector([this, &device] { UsbDriverLogThread(device); });
}

bool CLogSession::OnDeviceChange(std::uint32_t event) {
    std::lock_guard lock(mutex_);
    if (!logging_ || event != DBT_DEVNODES_CHANGED || options_.sysLevel == 0) return true;
    auto paths = UsbDevicePaths();
    for (auto it = usbDevices_.begin(); it != usbDevices_.end();) {
        auto found = std::find(paths.begin(), paths.end(), (*it)->Path());
        if (found != paths.end()) {
            paths.erase(found);
            ++it;
        } else {
            (*it)->Stop();
            it = usbDevices_.erase(it);
        }
    }
    for (const auto& path : paths) {
        auto device = LogDevice::Open(path);
        if (!device) continue;
        // A device that arrives after a Start that found none still gets its
        // records into the USB file.
        if (!usbFile_.IsOpen())
            usbFile_.Open(FileIn(LogSource::UsbDriver), options_.createMode, options_.ringLimit,
                          options_.accCache, options_.identity);
        StartUsbCollector(*device);
        usbDevices_.push_back(std::move(device));
    }
    return true;
}

void CLogSession::DllLogThread() {
    for (;;) {
        // Both set: the stop event wins, and waiting lines stay in the area.
        if (os::WaitAny({&stop_, &area_.LogEvent()}, os::kInfinite) != 1) return;
        std::uint32_t dropped = 0;
        for (const auto& line : area_.Take(&dropped))
            dllFile_.WriteRecord(line);
        if (dropped) {
            // One line where the gap is, stamped like the library's lines.
            const os::LocalTime now = os::LocalTime::Now();
            dllFile_.WriteRecord(DroppedLinesRecord(dropped), &now);
        }
    }
}

void CLogSession::GigeDriverLogThread() {
    RunDriverCollector({gigeHandle_, kGigeSource, options_.sysLevel, stop_, nullptr, gigeFile_});
}

void CLogSession::UsbDriverLogThread(LogDevice& device) {
    RunDriverCollector(
        {device.Handle(), kUsbSource, options_.sysLevel, stop_, &device.StopEvent(), usbFile_});
}

} // namespace qorcam::tracelog
