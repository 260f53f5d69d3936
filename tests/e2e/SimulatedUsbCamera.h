// SimulatedUsbCamera: one simulated USB3 Vision camera on the virtual bus and the USB service program
// that serves it, in a temporary root, for tests that run a USB camera through the real library and
// producer. The camera has no event interface, as many USB cameras don't.
#pragma once

#include "os/Process.h"

#include <chrono>
#include <csignal>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <system_error>
#include <thread>

#include <unistd.h>

namespace qorcam::testing {

class SimulatedUsbCamera {
public:
    static constexpr uint32_t kWidth = 64, kHeight = 16;
    static constexpr const char* kVendor = "Acme";
    static constexpr const char* kModel = "U3-Lib";

    SimulatedUsbCamera() = default;
    SimulatedUsbCamera(const SimulatedUsbCamera&) = delete;
    SimulatedUsbCamera& operator=(const SimulatedUsbCamera&) = delete;
    ~SimulatedUsbCamera() { Stop(); }

    /// Makes the root, points QORCAM_ROOT and the USB bus at it (before the library is loaded: its named
    /// objects and the service's devices live there) and starts the camera (64x16 Mono8 at 50 frames a
    /// second) and the service. Empty when both run, else why not.
    std::string Start(const std::string& cameraProgram, const std::string& serviceProgram) {
        char pattern[] = "/tmp/qorcam-usb-e2e-XXXXXX";
        if (::mkdtemp(pattern) == nullptr) return "no temporary folder";
        root_ = pattern;
        setenv("QORCAM_ROOT", root_.c_str(), 1);
        setenv("QORCAM_USB_BUS", "virtual", 1);
        auto camera = os::Process::Spawn(cameraProgram,
                                         {"--name=cam1", std::string("--vendor=") + kVendor,
                                          std::string("--model=") + kModel, "--serial=4711", "--guid=00A1B2C3D4E5",
                                          "--width=" + std::to_string(kWidth), "--height=" + std::to_string(kHeight),
                                          "--fps=50", "--no-event-interface", "--exit-with-parent"});
        if (!camera) return "the simulated camera " + cameraProgram + " can't be started";
        camera_ = std::move(*camera);
        auto service = os::Process::Spawn(serviceProgram);
        if (!service) return "the USB service " + serviceProgram + " can't be started";
        service_ = std::move(*service);
        return Ended();
    }

    /// Why the camera or the service is no longer running; empty while both run.
    std::string Ended() {
        if (auto rc = camera_.Wait(0)) return "the simulated camera ended with " + std::to_string(*rc);
        if (auto rc = service_.Wait(0)) return "the USB service ended with " + std::to_string(*rc);
        return {};
    }

    /// Lists (a bounded number of times: the service finds the camera after a moment) until list() finds
    /// the camera; false when it never does.
    template <class List> static bool Find(List&& list) {
        for (int attempt = 0; attempt < 60; ++attempt) {
            if (list()) return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(250));
        }
        return false;
    }

    /// Ends the service (which must end cleanly: false otherwise) and the camera, and removes the root.
    bool Stop() {
        bool clean = true;
        if (service_.IsValid() && service_.Kill(SIGTERM)) clean = service_.Wait(10000).has_value();
        if (camera_.IsValid() && camera_.Kill(SIGTERM)) camera_.Wait(5000);
        if (!root_.empty()) {
            unsetenv("QORCAM_USB_BUS");
            unsetenv("QORCAM_ROOT");
            std::error_code ignored;
            std::filesystem::remove_all(root_, ignored);
            root_.clear();
        }
        return clean;
    }

    const std::string& Root() const { return root_; }

private:
    std::string root_;
    os::Process camera_, service_;
};

} // namespace qorcam::testing
