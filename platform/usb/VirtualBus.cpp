// VirtualBus: presence by lock and socket files, changes by inotify.
#include "usb/VirtualBus.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/file.h>
#include <sys/inotify.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>

namespace qorcam::usb {

namespace {
constexpr int kRecheckMs = 50;
constexpr int kRechecks = 10;
} // namespace

VirtualBus::VirtualBus() : folder_(sim::DeviceFolder()) {}

VirtualBus::~VirtualBus() {
    if (watcher_.joinable()) {
        const std::uint64_t one = 1;
        [[maybe_unused]] const ssize_t ignored = ::write(stop_, &one, sizeof(one));
        watcher_.join();
    }
    if (stop_ >= 0) ::close(stop_);
}

bool VirtualBus::DevicePresent(const std::string& folder, const std::string& name) {
    std::error_code error;
    if (!std::filesystem::is_socket(folder + "/" + name + ".sock", error)) return false;
    const std::string lockPath = folder + "/" + name + ".lock";
    const int fd = ::open(lockPath.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0) return false;
    // The device holds an exclusive lock for its whole life; if a shared one
    // can be had, nobody is there.
    const bool alive = ::flock(fd, LOCK_SH | LOCK_NB) != 0 && errno == EWOULDBLOCK;
    ::close(fd);
    return alive;
}

std::vector<std::string> VirtualBus::LiveNames() const {
    std::vector<std::string> names;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(folder_, error)) {
        const auto path = entry.path();
        if (path.extension() != ".sock") continue;
        const std::string name = path.stem().string();
        if (sim::ValidDeviceName(name) && DevicePresent(folder_, name)) names.push_back(name);
    }
    std::sort(names.begin(), names.end());
    return names;
}

bool VirtualBus::IsUsb3Vision(const std::string& name) {
    auto device = OpenVirtual(name);
    if (!device) return false;
    std::vector<std::uint8_t> bytes;
    if (device->GetConfigurationDescriptor(bytes) != Status::Success) return false;
    const auto config = ParseConfiguration(bytes);
    return config && config->IsUsb3Vision();
}

std::vector<std::string> VirtualBus::Enumerate() {
    std::vector<std::string> names;
    for (const auto& name : LiveNames())
        if (IsUsb3Vision(name)) names.push_back(name);
    return names;
}

std::unique_ptr<VirtualDevice> VirtualBus::OpenVirtual(const std::string& id) {
    if (!sim::ValidDeviceName(id)) return nullptr;
    return VirtualDevice::Connect(id, folder_ + "/" + id + ".sock");
}

std::unique_ptr<Device> VirtualBus::Open(const std::string& id) {
    return OpenVirtual(id);
}

bool VirtualBus::Watch(Notice arrived, Notice removed) {
    if (watcher_.joinable() || !arrived || !removed) return false;
    const int inotifyFd = ::inotify_init1(IN_CLOEXEC | IN_NONBLOCK);
    if (inotifyFd < 0) return false;
    // A killed device closes its lock file (written at start): that close
    // is the notice of its end.
    if (::inotify_add_watch(inotifyFd, folder_.c_str(),
                            IN_CREATE | IN_DELETE | IN_MOVED_TO | IN_MOVED_FROM | IN_CLOSE_WRITE) < 0) {
        ::close(inotifyFd);
        return false;
    }
    if (stop_ < 0) stop_ = ::eventfd(0, EFD_CLOEXEC);
    if (stop_ < 0) {
        ::close(inotifyFd);
        return false;
    }
    watcher_ = std::thread([this, inotifyFd, arrived = std::move(arrived), removed = std::move(removed)] {
        WatchLoop(inotifyFd, arrived, removed);
        ::close(inotifyFd);
    });
    return true;
}

void VirtualBus::WatchLoop(int inotifyFd, Notice arrived, Notice removed) {
    std::set<std::string> known;
    auto rescan = [&] {
        const auto live = LiveNames();
        for (auto it = known.begin(); it != known.end();) {
            if (!std::binary_search(live.begin(), live.end(), *it)) {
                removed(*it);
                it = known.erase(it);
            } else {
                ++it;
            }
        }
        for (const auto& name : live) {
            if (known.count(name) == 0 && IsUsb3Vision(name)) {
                known.insert(name);
                arrived(name);
            }
        }
    };
    rescan();
    // The kernel reports the close of a killed device's lock file a moment
    // before it drops the lock, so the folder is read again a few times
    // after each change.
    int rechecks = 0;
    for (;;) {
        pollfd fds[2] = {{inotifyFd, POLLIN, 0}, {stop_, POLLIN, 0}};
        const int ready = ::poll(fds, 2, rechecks > 0 ? kRecheckMs : -1);
        if (ready < 0) {
            if (errno == EINTR) continue;
            return;
        }
        if (fds[1].revents & POLLIN) return;
        if (fds[0].revents & POLLIN) {
            alignas(inotify_event) char buffer[4096];
            // Which file changed does not matter: the folder is read again.
            while (::read(inotifyFd, buffer, sizeof(buffer)) > 0) {
            }
            rechecks = kRechecks;
        } else if (rechecks > 0) {
            --rechecks;
        }
        rescan();
    }
}

} // namespace qorcam::usb
