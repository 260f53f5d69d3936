// LibusbBus: the machine's USB3 Vision devices through libusb-1.0.
#pragma once

#include "usb/Bus.h"
#include "usb/LibusbContext.h"

#include <mutex>
#include <set>

#include <libusb.h>

namespace qorcam::usb {

/// The machine's USB devices, as libusb sees them (access to the device
/// nodes needs the rights of the service). Ids are "<bus>-<port>.<port>...".
/// Watch needs libusb's hot-plug support and fails without it.
class LibusbBus final : public Bus {
public:
    /// Null when libusb can't start.
    static std::unique_ptr<LibusbBus> Create();
    ~LibusbBus() override;

    std::vector<std::string> Enumerate() override;
    std::unique_ptr<Device> Open(const std::string& id) override;
    bool Watch(Notice arrived, Notice removed) override;

    static std::string IdOf(libusb_device* device);
    static bool IsUsb3Vision(libusb_device* device);

private:
    explicit LibusbBus(std::shared_ptr<LibusbContext> context) : context_(std::move(context)) {}
    static int HotplugCallback(struct libusb_context* context, libusb_device* device,
                               libusb_hotplug_event event, void* self);

    std::shared_ptr<LibusbContext> context_;
    std::mutex mutex_;
    Notice arrived_;
    Notice removed_;
    std::set<std::string> known_;
    int hotplug_ = -1;
};

} // namespace qorcam::usb
