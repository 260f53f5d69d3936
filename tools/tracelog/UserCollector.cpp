// UserCollector: finding the user folders, starting a collector process as each user, reading its records.
#include "UserCollector.h"

#include "QorCamShared.h"
#include "os/LocalTime.h"
#include "os/Paths.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <grp.h>
#include <map>
#include <memory>
#include <poll.h>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace qorcam::tracelog {
namespace {

constexpr std::size_t kRecordHead = 8;
constexpr int kScanIntervalMs = 2000;
constexpr int kEndWaitMs = 2000;

std::uint32_t Le32(const char* p) {
    const auto* b = reinterpret_cast<const unsigned char*>(p);
    return b[0] | b[1] << 8 | b[2] << 16 | static_cast<std::uint32_t>(b[3]) << 24;
}

// A decimal uid as a folder name: digits only, no leading zero, within 32 bits.
bool ParseUid(const char* name, std::uint32_t& uid) {
    const std::size_t length = std::strlen(name);
    if (length == 0 || length > 10 || (name[0] == '0' && length > 1)) return false;
    std::uint64_t value = 0;
    for (std::size_t i = 0; i < length; ++i) {
        if (name[i] < '0' || name[i] > '9') return false;
        value = value * 10 + static_cast<std::uint64_t>(name[i] - '0');
    }
    if (value >= 0xFFFFFFFFu) return false; // (uid_t)-1 is nobody's
    uid = static_cast<std::uint32_t>(value);
    return true;
}

// The group the collector runs in: the user's own, else the folder's (which that user made).
bool GroupOf(std::uint32_t uid, gid_t& gid) {
    std::vector<char> buffer(16384);
    passwd entry{};
    passwd* found = nullptr;
    if (getpwuid_r(uid, &entry, buffer.data(), buffer.size(), &found) == 0 && found != nullptr) {
        gid = found->pw_gid;
        return true;
    }
    const std::string folder = os::Paths::UserObjects(uid);
    if (folder.empty()) return false;
    const int fd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) return false;
    struct stat st {};
    const bool ok = fstat(fd, &st) == 0 && st.st_uid == uid;
    close(fd);
    gid = st.st_gid;
    return ok;
}

struct Collector {
    pid_t pid = -1;
    int input = -1;  // the child's standard input: closing it tells the child to end
    int output = -1; // its records
    std::string pending;
    std::unique_ptr<CRingLogFile> file; // where the user's lines go
};

// Starts the collector program as uid; false when it could not be started.
bool StartCollector(std::uint32_t uid, std::uint32_t level, Collector& collector) {
    gid_t gid = 0;
    if (!GroupOf(uid, gid)) return false;
    const std::string program = os::Paths::Program(kUserCollectorProgram);
    const std::string levelText = std::to_string(level);
    // Nothing of root's environment goes along but the runtime root and the sanitizers' settings.
    std::vector<std::string> environment = {"PATH=/usr/bin:/bin"};
    for (const char* name : {"QORCAM_ROOT", "ASAN_OPTIONS", "LSAN_OPTIONS", "UBSAN_OPTIONS", "TSAN_OPTIONS"})
        if (const char* value = std::getenv(name)) environment.push_back(std::string(name) + "=" + value);
    std::vector<char*> envp;
    for (auto& e : environment)
        envp.push_back(e.data());
    envp.push_back(nullptr);
    char* argv[] = {const_cast<char*>(program.c_str()), const_cast<char*>(levelText.c_str()), nullptr};

    int toChild[2], fromChild[2];
    if (pipe2(toChild, O_CLOEXEC) != 0) return false;
    if (pipe2(fromChild, O_CLOEXEC) != 0) {
        close(toChild[0]);
        close(toChild[1]);
        return false;
    }
    const int devNull = open("/dev/null", O_WRONLY | O_CLOEXEC);
    sigset_t none;
    sigemptyset(&none);
    const pid_t pid = devNull < 0 ? -1 : fork();
    if (pid == 0) {
        // Only system calls between fork and exec. The child keeps nothing of
        // root's: its two pipe ends, /dev/null for errors, no groups, no
        // controlling terminal (a session of its own), no current folder.
        if (dup2(toChild[0], 0) < 0 || dup2(fromChild[1], 1) < 0 || dup2(devNull, 2) < 0) _exit(126);
        syscall(SYS_close_range, 3u, ~0u, 0u);
        sigprocmask(SIG_SETMASK, &none, nullptr);
        if (setsid() < 0 || chdir("/") != 0) _exit(126);
        if (setgroups(0, nullptr) != 0 || setgid(gid) != 0 || setuid(uid) != 0 || getuid() != uid ||
            geteuid() != uid)
            _exit(126);
        execve(program.c_str(), argv, envp.data());
        _exit(127);
    }
    close(toChild[0]);
    close(fromChild[1]);
    if (devNull >= 0) close(devNull);
    if (pid < 0) {
        close(toChild[1]);
        close(fromChild[0]);
        return false;
    }
    fcntl(fromChild[0], F_SETFL, O_NONBLOCK);
    collector.pid = pid;
    collector.input = toChild[1];
    collector.output = fromChild[0];
    return true;
}

// Tells the collector to end (its input closes).
void TellToEnd(Collector& collector) {
    if (collector.input >= 0) close(collector.input);
    if (collector.output >= 0) close(collector.output);
    collector.input = collector.output = -1;
}

// Reaps a collector told to end; kills it when it has not ended by then.
void Reap(Collector& collector, std::chrono::steady_clock::time_point end) {
    if (collector.pid <= 0) return;
    while (waitpid(collector.pid, nullptr, WNOHANG) == 0) {
        if (std::chrono::steady_clock::now() >= end) {
            kill(collector.pid, SIGKILL);
            while (waitpid(collector.pid, nullptr, 0) < 0 && errno == EINTR) {
            }
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    collector.pid = -1;
}

// Writes the complete records that arrived to the user's file; false when one is malformed.
bool WriteRecords(Collector& collector, std::uint32_t uid) {
    CRingLogFile& file = *collector.file;
    const std::string mark = UserLineMark(uid);
    std::size_t at = 0;
    bool ok = true;
    while (collector.pending.size() - at >= kRecordHead) {
        const char* head = collector.pending.data() + at;
        const std::uint32_t kind = Le32(head);
        const std::uint32_t length = Le32(head + 4);
        const bool line = kind == static_cast<std::uint32_t>(UserRecord::Line) && length <= shared::kLogSlotSize;
        const bool dropped = kind == static_cast<std::uint32_t>(UserRecord::Dropped) && length == 4;
        if (!line && !dropped) {
            ok = false;
            break;
        }
        if (collector.pending.size() - at - kRecordHead < length) break;
        const char* body = head + kRecordHead;
        if (line) {
            file.WriteRecord(mark + std::string(body, length));
        } else {
            const os::LocalTime now = os::LocalTime::Now();
            file.WriteRecord(DroppedLinesRecord(Le32(body)), &now);
        }
        at += kRecordHead + length;
    }
    collector.pending.erase(0, at);
    return ok;
}

} // namespace

void AppendUserRecord(std::string& out, UserRecord kind, std::string_view bytes) {
    const std::uint32_t words[2] = {static_cast<std::uint32_t>(kind), static_cast<std::uint32_t>(bytes.size())};
    for (const std::uint32_t word : words)
        for (int i = 0; i < 4; ++i)
            out += static_cast<char>(word >> (8 * i));
    out.append(bytes);
}

std::string UserLineMark(std::uint32_t uid) {
    return "[user " + std::to_string(uid) + "] ";
}

std::string UserFileRecord(std::uint32_t uid, const std::string& fileName) {
    return "*** library lines of user " + std::to_string(uid) + " are collected in " + fileName + " ***\n";
}

std::string DroppedLinesRecord(std::uint32_t dropped) {
    return "*** " + std::to_string(dropped) + " trace lines dropped here: the trace area was full ***\n";
}

std::vector<std::uint32_t> OtherUserFolders() {
    std::vector<std::uint32_t> users;
    const std::string folder = os::Paths::Run() + "/user";
    const int fd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) return users;
    DIR* dir = fdopendir(fd);
    if (dir == nullptr) {
        close(fd);
        return users;
    }
    const std::uint32_t self = geteuid();
    while (const dirent* entry = readdir(dir)) {
        // "<uid>", or a spare folder "<uid>.XXXXXX" of a user whose name was taken.
        const std::string name = entry->d_name;
        std::uint32_t uid = 0;
        if (!ParseUid(name.substr(0, name.find('.')).c_str(), uid) || uid == self) continue;
        // Not a link, a folder, owned by the uid it is named after.
        struct stat st {};
        if (fstatat(fd, entry->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != uid)
            continue;
        if (os::Paths::UserObjects(uid).empty()) continue;
        users.push_back(uid);
    }
    closedir(dir);
    std::sort(users.begin(), users.end());
    users.erase(std::unique(users.begin(), users.end()), users.end());
    return users;
}

void CUserCollectors::Run() {
    std::map<std::uint32_t, Collector> running;
    std::vector<std::uint32_t> ended; // users whose collector failed or ended: not started again
    auto nextScan = std::chrono::steady_clock::now();
    while (!stop_.IsSet()) {
        const auto now = std::chrono::steady_clock::now();
        if (now >= nextScan) {
            for (const std::uint32_t uid : OtherUserFolders()) {
                if (running.count(uid) != 0 || std::find(ended.begin(), ended.end(), uid) != ended.end()) continue;
                Collector collector;
                collector.file = std::make_unique<CRingLogFile>();
                const std::string name = openUserFile_ ? openUserFile_(uid, *collector.file) : std::string();
                if (!name.empty() && StartCollector(uid, level_, collector)) {
                    const os::LocalTime stamp = os::LocalTime::Now();
                    file_.WriteRecord(UserFileRecord(uid, name), &stamp);
                    running.emplace(uid, std::move(collector));
                } else {
                    ended.push_back(uid);
                }
            }
            nextScan = now + std::chrono::milliseconds(kScanIntervalMs);
        }
        std::vector<pollfd> fds{{stop_.PollFd(), POLLIN, 0}};
        std::vector<std::uint32_t> owners;
        for (const auto& [uid, collector] : running) {
            fds.push_back({collector.output, POLLIN, 0});
            owners.push_back(uid);
        }
        const auto wait =
            std::chrono::duration_cast<std::chrono::milliseconds>(nextScan - std::chrono::steady_clock::now());
        const int timeout = static_cast<int>(std::clamp<std::int64_t>(wait.count(), 0, kScanIntervalMs));
        if (poll(fds.data(), fds.size(), timeout) < 0 && errno != EINTR) break;
        if (stop_.IsSet()) break;
        for (std::size_t i = 1; i < fds.size(); ++i) {
            if (fds[i].revents == 0) continue;
            Collector& collector = running.at(owners[i - 1]);
            char buffer[65536];
            bool open = true;
            for (;;) {
                const ssize_t n = read(collector.output, buffer, sizeof buffer);
                if (n > 0) {
                    collector.pending.append(buffer, static_cast<std::size_t>(n));
                    if (!WriteRecords(collector, owners[i - 1])) {
                        open = false;
                        break;
                    }
                    continue;
                }
                if (n < 0 && errno == EINTR) continue;
                if (n < 0 && errno == EAGAIN) break;
                open = false; // its end, or an error
                break;
            }
            if (!open) {
                TellToEnd(collector);
                Reap(collector, std::chrono::steady_clock::now() + std::chrono::milliseconds(kEndWaitMs));
                running.erase(owners[i - 1]);
                ended.push_back(owners[i - 1]);
            }
        }
    }
    for (auto& [uid, collector] : running)
        TellToEnd(collector);
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(kEndWaitMs);
    for (auto& [uid, collector] : running)
        Reap(collector, end);
}

} // namespace qorcam::tracelog
