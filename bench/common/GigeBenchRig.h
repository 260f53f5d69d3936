// What the GigE benchmarks share: the rig's host namespace entered by the whole program, the first
// GigE camera the library lists, the load average and the program's folder.
#pragma once

#include "NetworkRig.h"
#include "QorCam.h"

#include <dirent.h>
#include <fcntl.h>
#include <sched.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace qorcam::bench {

inline std::string LoadAverage() {
    std::ifstream in("/proc/loadavg");
    std::string line;
    std::getline(in, line);
    return line;
}

// The last process (by /proc order) whose name (comm) and pid `match` accepts; 0 when none.
template <class Match> int FindProcess(Match match) {
    DIR* proc = ::opendir("/proc");
    int found = 0;
    while (dirent* e = proc ? ::readdir(proc) : nullptr) {
        const int pid = std::atoi(e->d_name);
        if (pid <= 0) continue;
        std::ifstream comm("/proc/" + std::to_string(pid) + "/comm");
        std::string name;
        std::getline(comm, name);
        if (match(pid, name)) found = pid;
    }
    if (proc) ::closedir(proc);
    return found;
}

// The rig's service: the QorGigEFilter process in the rig's host namespace; 0 when not found.
inline int ServicePid(const std::string& hostNamespace) {
    struct stat wanted {};
    if (::stat(("/var/run/netns/" + hostNamespace).c_str(), &wanted) != 0) return 0;
    return FindProcess([&](int pid, const std::string& name) {
        struct stat ns {};
        return name == "QorGigEFilter" && ::stat(("/proc/" + std::to_string(pid) + "/ns/net").c_str(), &ns) == 0 &&
               ns.st_ino == wanted.st_ino;
    });
}

// Per thread of a process: its name and the run time the scheduler gave it (ns,
// /proc/<pid>/task/<tid>/schedstat), with its voluntary and involuntary context switches; and the
// process's minor page faults. Taken before and after a contender's counted time, to show where the
// CPU went ("-v" in the environment variable QORCAM_BENCH_THREADS prints it).
struct ThreadTimes {
    struct Thread {
        int tid = 0;
        std::string name;
        uint64_t runNs = 0, switches = 0, preempted = 0;
    };
    std::vector<Thread> threads;
    uint64_t minorFaults = 0;

    static std::string Read(const std::string& path) {
        std::ifstream in(path);
        return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    }
    static ThreadTimes Take(int pid) {
        ThreadTimes t;
        const std::string folder = "/proc/" + std::to_string(pid) + "/task";
        DIR* dir = ::opendir(folder.c_str());
        while (dirent* e = dir ? ::readdir(dir) : nullptr) {
            const int tid = std::atoi(e->d_name);
            if (tid <= 0) continue;
            const std::string task = folder + "/" + e->d_name;
            Thread th;
            th.tid = tid;
            th.name = Read(task + "/comm");
            while (!th.name.empty() && th.name.back() == '\n')
                th.name.pop_back();
            std::istringstream(Read(task + "/schedstat")) >> th.runNs;
            std::istringstream status(Read(task + "/status"));
            for (std::string line; std::getline(status, line);) {
                if (line.rfind("voluntary_ctxt_switches:", 0) == 0) th.switches = std::stoull(line.substr(24));
                if (line.rfind("nonvoluntary_ctxt_switches:", 0) == 0) th.preempted = std::stoull(line.substr(27));
            }
            t.threads.push_back(th);
        }
        if (dir) ::closedir(dir);
        const std::string stat = Read("/proc/" + std::to_string(pid) + "/stat");
        const size_t end = stat.rfind(')');
        if (end != std::string::npos) {
            std::istringstream fields(stat.substr(end + 2));
            std::string skip;
            for (int i = 3; i < 10; ++i)
                fields >> skip;
            fields >> t.minorFaults;
        }
        return t;
    }
    // The threads' run time between before and this, per frame, largest first (threads that
    // started in between count from zero).
    void Print(const char* who, const ThreadTimes& before, uint64_t frames) const {
        if (frames == 0) return;
        std::vector<std::pair<double, std::string>> rows;
        for (const Thread& th : threads) {
            uint64_t run0 = 0, sw0 = 0, pre0 = 0;
            for (const Thread& b : before.threads)
                if (b.tid == th.tid) run0 = b.runNs, sw0 = b.switches, pre0 = b.preempted;
            if (th.runNs == run0) continue;
            char line[160];
            std::snprintf(line, sizeof line, "%s %-16s %7.1f us/frame %6.2f switches/frame %6.2f preempted/frame",
                          who, th.name.c_str(), double(th.runNs - run0) / 1e3 / double(frames),
                          double(th.switches - sw0) / double(frames), double(th.preempted - pre0) / double(frames));
            rows.emplace_back(double(th.runNs - run0), line);
        }
        std::sort(rows.begin(), rows.end(), [](const auto& a, const auto& b) { return a.first > b.first; });
        for (const auto& r : rows)
            std::printf("    %s\n", r.second.c_str());
        std::printf("    %s minor page faults %.2f/frame\n", who,
                    double(minorFaults - before.minorFaults) / double(frames));
    }
};

inline std::string OwnFolder() {
    char path[4096];
    const ssize_t n = ::readlink("/proc/self/exe", path, sizeof path - 1);
    if (n <= 0) return ".";
    std::string p(path, static_cast<size_t>(n));
    return p.substr(0, p.rfind('/'));
}

inline bool EnterNamespace(const std::string& name) {
    const int fd = ::open(("/var/run/netns/" + name).c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    const bool ok = ::setns(fd, CLONE_NEWNET) == 0;
    ::close(fd);
    return ok;
}

// The rig with the emulator and the service, the host veth keeping a Linux address (Aravis uses the
// system's stack), and this thread (so every thread started from here on: the library's, Aravis's) in
// its host namespace. Null, with the reason on stderr, when that can't be had.
inline std::unique_ptr<rig::NetworkRig> EnterHostRig(const char* program) {
    if (geteuid() != 0) {
        std::fprintf(stderr, "%s needs root: it builds a private camera network\n", program);
        return nullptr;
    }
    rig::NetworkRig::Options options;
    options.driverManaged = false;
    auto rig = std::make_unique<rig::NetworkRig>(options);
    if (!rig->Available()) {
        std::fprintf(stderr, "no rig: %s\n", rig->Reason().c_str());
        return nullptr;
    }
    if (!EnterNamespace(rig->HostNamespace())) {
        std::fprintf(stderr, "the host namespace can't be entered\n");
        return nullptr;
    }
    return rig;
}

// The first GigE camera's id in the library's list (a bounded number of list requests).
inline bool FindGigE(decltype(&QORCAM_GetList) getList, uint64_t& uid) {
    std::vector<uint8_t> block(offsetof(QORCAM_LIST, Info) + 16 * sizeof(QORCAM_CAMERAINFO));
    for (int attempt = 0; attempt < 20; ++attempt) {
        auto* list = reinterpret_cast<QORCAM_LIST*>(block.data());
        list->Count = 16;
        if (getList(list))
            for (uint32_t i = 0; i < list->Count && i < 16; ++i)
                if (list->Info[i].CameraType == QORCAM_CTYPE_GIGE) {
                    uid = list->Info[i].UID;
                    return true;
                }
        std::this_thread::sleep_for(std::chrono::milliseconds(500));
    }
    return false;
}

} // namespace qorcam::bench
