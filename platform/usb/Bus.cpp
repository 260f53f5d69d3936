// Bus: choice of the backend.
#include "usb/Bus.h"

#include "usb/LibusbBus.h"
#include "usb/VirtualBus.h"

#include <cstdlib>
#include <cstring>

namespace qorcam::usb {

std::unique_ptr<Bus> Bus::Create(Kind kind) {
    if (kind == Kind::Virtual) return std::make_unique<VirtualBus>();
    return LibusbBus::Create();
}

Bus::Kind Bus::KindFromEnvironment() {
    const char* value = std::getenv("QORCAM_USB_BUS");
    if (value != nullptr && std::strcmp(value, "virtual") == 0) return Kind::Virtual;
    return Kind::Libusb;
}

} // namespace qorcam::usb
