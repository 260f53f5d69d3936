// VirtualBus: the simulated USB3 Vision devices under <run>/usbsim, each a process of its own.
#pragma once

#include "usb/Bus.h"
#include "usb/VirtualDevice.h"

#include <atomic>
#include <set>
#include <thread>

namespace qorcam::usb {

/// The bus of simulated devices. A device <name> is present while a process
/// holds the lock on <folder>/<name>.lock and listens on <folder>/<name>.sock;
/// starting such a process plugs it in, ending or killing it unplugs it.
///
/// Guarantees: files left by a killed device are never taken for a device;
/// the watch follows the folder with inotify, so it reports a kill as soon as
/// the kernel has closed the process's files. The folder is the one of
/// QORCAM_ROOT when the bus is made.
class VirtualBus final : public Bus {
public:
    VirtualBus();
    ~VirtualBus() override;

    std::vector<std::string> Enumerate() override;
    std::unique_ptr<Device> Open(const std::string& id) override;
    bool Watch(Notice arrived, Notice removed) override;

    /// The same as Open, with the simulation's own commands.
    std::unique_ptr<VirtualDevice> OpenVirtual(const std::string& id);
    const std::string& Folder() const { return folder_; }

    /// True while the device's socket is in place and a live process holds
    /// its lock.
    static bool DevicePresent(const std::string& folder, const std::string& name);

private:
    void WatchLoop(int inotifyFd, Notice arrived, Notice removed);
    /// Names whose socket exists and whose lock is held.
    std::vector<std::string> LiveNames() const;
    bool IsUsb3Vision(const std::string& name);

    const std::string folder_;
    int stop_ = -1;
    std::thread watcher_;
};

} // namespace qorcam::usb
