// LibusbContext: the context and its event thread.
#include "usb/LibusbContext.h"

#include <libusb.h>

namespace qorcam::usb {

std::shared_ptr<LibusbContext> LibusbContext::Create() {
    libusb_context* context = nullptr;
    if (libusb_init(&context) != 0) return nullptr;
    return std::shared_ptr<LibusbContext>(new LibusbContext(context));
}

LibusbContext::LibusbContext(libusb_context* context) : context_(context) {
    events_ = std::thread([this] {
        while (!stop_) {
            timeval tv{0, 100000};
            libusb_handle_events_timeout_completed(context_, &tv, nullptr);
        }
    });
}

LibusbContext::~LibusbContext() {
    stop_ = true;
    libusb_interrupt_event_handler(context_);
    events_.join();
    libusb_exit(context_);
}

} // namespace qorcam::usb
