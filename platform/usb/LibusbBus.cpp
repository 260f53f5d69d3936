// LibusbBus: enumeration, opening and hot-plug through libusb.
#include "usb/LibusbBus.h"

#include "usb/LibusbDevice.h"

#include <libusb.h>

namespace qorcam::usb {

std::unique_ptr<LibusbBus> LibusbBus::Create() {
    auto context = LibusbContext::Create();
    if (!context) return nullptr;
    return std::unique_ptr<LibusbBus>(new LibusbBus(std::move(context)));
}

LibusbBus::~LibusbBus() {
    if (hotplug_ >= 0) libusb_hotplug_deregister_callback(context_->Get(), hotplug_);
}

std::string LibusbBus::IdOf(libusb_device* device) {
    std::uint8_t ports[8];
    const int count = libusb_get_port_numbers(device, ports, sizeof(ports));
    std::string id = std::to_string(libusb_get_bus_number(device));
    for (int i = 0; i < count; ++i)
        id += (i == 0 ? "-" : ".") + std::to_string(ports[i]);
    if (count <= 0) id += ":" + std::to_string(libusb_get_device_address(device));
    return id;
}

bool LibusbBus::IsUsb3Vision(libusb_device* device) {
    libusb_config_descriptor* config = nullptr;
    if (libusb_get_active_config_descriptor(device, &config) != 0 &&
        libusb_get_config_descriptor(device, 0, &config) != 0)
        return false;
    // The device-info descriptor rides as an extra (class-specific)
    // descriptor of the configuration or of an interface.
    auto carriesDeviceInfo = [](const unsigned char* extra, int length) {
        for (int offset = 0; offset + 1 < length && extra[offset] >= 2; offset += extra[offset])
            if (extra[offset + 1] == kDescriptorU3vDeviceInfo) return true;
        return false;
    };
    bool found = carriesDeviceInfo(config->extra, config->extra_length);
    for (int i = 0; i < config->bNumInterfaces && !found; ++i) {
        for (int a = 0; a < config->interface[i].num_altsetting && !found; ++a) {
            const auto& setting = config->interface[i].altsetting[a];
            found = (setting.bInterfaceClass == kClassMiscellaneous &&
                     setting.bInterfaceSubClass == kSubclassU3v) ||
                    carriesDeviceInfo(setting.extra, setting.extra_length);
        }
    }
    libusb_free_config_descriptor(config);
    return found;
}

std::vector<std::string> LibusbBus::Enumerate() {
    std::vector<std::string> ids;
    libusb_device** list = nullptr;
    const ssize_t count = libusb_get_device_list(context_->Get(), &list);
    for (ssize_t i = 0; i < count; ++i)
        if (IsUsb3Vision(list[i])) ids.push_back(IdOf(list[i]));
    if (count >= 0) libusb_free_device_list(list, 1);
    return ids;
}

std::unique_ptr<Device> LibusbBus::Open(const std::string& id) {
    libusb_device** list = nullptr;
    const ssize_t count = libusb_get_device_list(context_->Get(), &list);
    std::unique_ptr<Device> device;
    for (ssize_t i = 0; i < count && !device; ++i) {
        if (IdOf(list[i]) != id) continue;
        libusb_device_handle* handle = nullptr;
        if (libusb_open(list[i], &handle) == 0) device = std::make_unique<LibusbDevice>(context_, handle, id);
    }
    if (count >= 0) libusb_free_device_list(list, 1);
    return device;
}

int LibusbBus::HotplugCallback(libusb_context*, libusb_device* device, libusb_hotplug_event event,
                               void* self) {
    auto* bus = static_cast<LibusbBus*>(self);
    const std::string id = IdOf(device);
    Notice notice;
    {
        std::lock_guard lock(bus->mutex_);
        if (event == LIBUSB_HOTPLUG_EVENT_DEVICE_ARRIVED) {
            if (!IsUsb3Vision(device) || !bus->known_.insert(id).second) return 0;
            notice = bus->arrived_;
        } else {
            if (bus->known_.erase(id) == 0) return 0;
            notice = bus->removed_;
        }
    }
    notice(id);
    return 0;
}

bool LibusbBus::Watch(Notice arrived, Notice removed) {
    if (hotplug_ >= 0 || !arrived || !removed || !libusb_has_capability(LIBUSB_CAP_HAS_HOTPLUG)) return false;
    {
        std::lock_guard lock(mutex_);
        arrived_ = std::move(arrived);
        removed_ = std::move(removed);
    }
    const int result = libusb_hotplug_register_callback(
        context_->Get(), LIBUSB_HOTPLUG_EVENT_DEVICE_ARRIVED | LIBUSB_HOTPLUG_EVENT_DEVICE_LEFT,
        LIBUSB_HOTPLUG_ENUMERATE, LIBUSB_HOTPLUG_MATCH_ANY, LIBUSB_HOTPLUG_MATCH_ANY,
        LIBUSB_HOTPLUG_MATCH_ANY, &LibusbBus::HotplugCallback, this, &hotplug_);
    return result == LIBUSB_SUCCESS;
}

} // namespace qorcam::usb
