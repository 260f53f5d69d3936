// LibusbContext: one libusb-1.0 context and the thread that runs its events.
#pragma once

#include <atomic>
#include <memory>
#include <thread>

struct libusb_context;

namespace qorcam::usb {

/// Owns a libusb context and runs its event handling on a thread of its own,
/// which is where transfer completions and hot-plug notices run.
class LibusbContext {
public:
    /// Null when libusb can't start.
    static std::shared_ptr<LibusbContext> Create();
    ~LibusbContext();
    LibusbContext(const LibusbContext&) = delete;
    LibusbContext& operator=(const LibusbContext&) = delete;

    libusb_context* Get() const { return context_; }
    bool OnEventThread() const { return std::this_thread::get_id() == events_.get_id(); }

private:
    explicit LibusbContext(libusb_context* context);

    libusb_context* context_;
    std::atomic<bool> stop_{false};
    std::thread events_;
};

} // namespace qorcam::usb
