// Monitor: CMonitor, the device monitor program that tells library processes of USB3 Vision devices coming
// and going.
#include "Monitor.h"

#include "QorCamShared.h"
#include "os/NamedEvent.h"
#include "os/NamedMutex.h"
#include "os/Paths.h"
#include "os/SharedMemory.h"
#include "os/Thread.h"
#include "os/WaitAny.h"

#include <poll.h>
#include <signal.h>
#include <sys/inotify.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <cerrno>
#include <vector>

namespace qorcam::monitor {

std::string CMonitor::DeviceClassFolder() {
    return os::Paths::Run() + "/dev/" + shared::kUsbDeviceClass;
}

namespace {

sigset_t TerminationSignals() {
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGTERM);
    sigaddset(&signals, SIGINT);
    return signals;
}

} // namespace

bool CMonitor::BlockTerminationSignals() {
    // Termination arrives as a descriptor event in Run, never as an
    // asynchronous handler; threads made later inherit the blocked mask.
    const sigset_t signals = TerminationSignals();
    return pthread_sigmask(SIG_BLOCK, &signals, nullptr) == 0;
}

int CMonitor::Run() {
    if (!BlockTerminationSignals()) return 1;
    const sigset_t signals = TerminationSignals();
    const int signalFd = signalfd(-1, &signals, SFD_CLOEXEC);
    if (signalFd < 0) return 1;

    os::NamedMutex single(shared::kMonitorMutexName);
    if (!single.IsValid() || !os::Owns(single.TryLock())) {
        close(signalFd);
        return 1;
    }

    os::Thread watch("QorCamMonWatch");
    if (!watch.Start([this] { WatchTable(); })) {
        single.Unlock();
        close(signalFd);
        return 1;
    }

    folder_ = DeviceClassFolder();
    os::Paths::CreateFolder(folder_);
    const int notifyFd = inotify_init1(IN_CLOEXEC | IN_NONBLOCK);
    bool watching = notifyFd >= 0 && inotify_add_watch(notifyFd, folder_.c_str(),
                                                       IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO |
                                                           IN_DELETE_SELF | IN_MOVE_SELF) >= 0;
    paths_.Append(CDevicePathList::Scan(folder_));

    for (;;) {
        pollfd fds[3] = {{signalFd, POLLIN, 0}, {quit_.PollFd(), POLLIN, 0}, {notifyFd, POLLIN, 0}};
        const int ready = poll(fds, notifyFd >= 0 ? 3 : 2, 1000);
        if (ready < 0 && errno != EINTR) break;
        if ((fds[0].revents & POLLIN) || quit_.IsSet()) break;
        if (notifyFd >= 0 && (fds[2].revents & POLLIN)) {
            alignas(inotify_event) char buffer[4096];
            bool selfGone = false;
            ssize_t n;
            while ((n = read(notifyFd, buffer, sizeof buffer)) > 0) {
                for (ssize_t off = 0; off + static_cast<ssize_t>(sizeof(inotify_event)) <= n;) {
                    const auto* ev = reinterpret_cast<const inotify_event*>(buffer + off);
                    if (ev->mask & (IN_DELETE_SELF | IN_MOVE_SELF | IN_IGNORED)) selfGone = true;
                    off += sizeof(inotify_event) + ev->len;
                }
            }
            if (selfGone) watching = false;
            ScanAndSignal();
        }
        if (!watching && notifyFd >= 0) {
            // The class folder went away (or was never there): take it up
            // again once it can be made, and report what changed meanwhile.
            os::Paths::CreateFolder(folder_);
            if (inotify_add_watch(notifyFd, folder_.c_str(),
                                  IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO | IN_DELETE_SELF |
                                      IN_MOVE_SELF) >= 0) {
                watching = true;
                ScanAndSignal();
            }
        }
    }

    stop_.Set();
    watch.Join();
    paths_.Clear();
    events_.Clear();
    if (notifyFd >= 0) close(notifyFd);
    close(signalFd);
    single.Unlock();
    return 0;
}

void CMonitor::ScanAndSignal() {
    if (paths_.Update(CDevicePathList::Scan(folder_))) events_.SetAll();
}

void CMonitor::WatchTable() {
    os::NamedEvent tableEvent(shared::kProcessIdEventName, os::ResetMode::Auto, false);
    os::NamedMutex tableMutex(shared::kProcessIdMutexName);
    os::SharedMemory area(shared::kProcessIdTableName, sizeof(shared::ProcessIdTable));
    if (!tableEvent.IsValid() || !tableMutex.IsValid() || !area.IsValid()) return;
    const auto* table = static_cast<const shared::ProcessIdTable*>(area.Data());

    std::vector<std::uint32_t> ids;
    for (;;) {
        const int which = os::WaitAny({&stop_, &tableEvent}, os::kInfinite);
        if (which != 1) return;
        os::NamedMutexLock lock(tableMutex);
        if (!lock.owns()) continue;
        const std::uint32_t count = shared::ClampedProcessCount(table->count);
        ids.assign(table->id, table->id + count);
        events_.Reconcile(ids.data(), count);
    }
}

} // namespace qorcam::monitor
