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

#include <chrono>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace qorcam::bench {

inline std::string LoadAverage() {
    std::ifstream in("/proc/loadavg");
    std::string line;
    std::getline(in, line);
    return line;
}

// The rig's service: the QorGigEFilter process in the rig's host namespace; 0 when not found.
inline int ServicePid(const std::string& hostNamespace) {
    struct stat wanted {};
    if (::stat(("/var/run/netns/" + hostNamespace).c_str(), &wanted) != 0) return 0;
    DIR* proc = ::opendir("/proc");
    int found = 0;
    while (dirent* e = proc ? ::readdir(proc) : nullptr) {
        const int pid = std::atoi(e->d_name);
        if (pid <= 0) continue;
        std::ifstream comm("/proc/" + std::to_string(pid) + "/comm");
        std::string name;
        std::getline(comm, name);
        struct stat ns {};
        if (name == "QorGigEFilter" && ::stat(("/proc/" + std::to_string(pid) + "/ns/net").c_str(), &ns) == 0 &&
            ns.st_ino == wanted.st_ino)
            found = pid;
    }
    if (proc) ::closedir(proc);
    return found;
}

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
