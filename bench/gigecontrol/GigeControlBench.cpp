// gigecontrol_bench: register reads and camera opens through libQorCam.so against Aravis 0.8
// on the same emulated camera, in one run; prints median and p99 read latency, open time and
// the ratios (ours / Aravis: below 1 we are faster), and the context switches per read of the
// application's threads and of the service's, and the CPU time per read of the application and of the
// service (and, for information, of the camera emulator).
#include "GigeBenchRig.h"

#include <arv.h>
#include <dirent.h>
#include <dlfcn.h>
#include <sys/stat.h>
#include <fcntl.h>
#include <sched.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

namespace {

using namespace qorcam::bench;
using Clock = std::chrono::steady_clock;
constexpr uint32_t kRegister = 0x0938; // heartbeat time-out: a plain register every camera has

double Us(Clock::duration d) {
    return std::chrono::duration<double, std::micro>(d).count();
}

double Percentile(std::vector<double> v, double p) {
    if (v.empty()) return 0;
    std::sort(v.begin(), v.end());
    return v[std::min(v.size() - 1, static_cast<size_t>(p * static_cast<double>(v.size())))];
}

struct Figures {
    std::vector<double> reads; // us
    std::vector<double> opens; // ms
    std::vector<double> lists; // ms: one device-list refresh
    int failures = 0;
    // Context switches (voluntary and not) during the reads: this process's threads, the service's.
    uint64_t ownSwitches = 0, serviceSwitches = 0;
    // CPU time (user and system, ns) during the reads: this process, the service, the emulator.
    uint64_t ownCpu = 0, serviceCpu = 0, cameraCpu = 0;
};

// CPU time so far (ns) of every live thread of a process, from the scheduler's own count
// (schedstat: time on a CPU), which is exact where the tick-based utime and stime of
// /proc/<pid>/stat would round 10 ms at a time.
uint64_t CpuNs(int pid) {
    if (pid <= 0) return 0;
    uint64_t total = 0;
    for (const ThreadTimes::Thread& t : ThreadTimes::Take(pid).threads)
        total += t.runNs;
    return total;
}

// The camera emulator's process (any namespace), 0 when not found.
int CameraPid() {
    return FindProcess([](int, const std::string& name) { return name.rfind("arv-fake-gv", 0) == 0; });
}

// Context switches of every thread of a process so far.
uint64_t Switches(int pid) {
    uint64_t total = 0;
    for (const ThreadTimes::Thread& t : ThreadTimes::Take(pid).threads)
        total += t.switches + t.preempted;
    return total;
}

struct Library {
    void* handle = nullptr;
    decltype(&QORCAM_SetStructVersion) setStructVersion = nullptr;
    decltype(&QORCAM_GetList) getList = nullptr;
    decltype(&QORCAM_Open) open = nullptr;
    decltype(&QORCAM_Close) close = nullptr;
    decltype(&QORCAM_ReadPort) readPort = nullptr;
    decltype(&QORCAM_GetLastError) lastError = nullptr;

    bool Load(const std::string& path) {
        handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
        if (!handle) return false;
        setStructVersion =
            reinterpret_cast<decltype(setStructVersion)>(dlsym(handle, "QORCAM_SetStructVersion"));
        getList = reinterpret_cast<decltype(getList)>(dlsym(handle, "QORCAM_GetList"));
        open = reinterpret_cast<decltype(open)>(dlsym(handle, "QORCAM_Open"));
        close = reinterpret_cast<decltype(close)>(dlsym(handle, "QORCAM_Close"));
        readPort = reinterpret_cast<decltype(readPort)>(dlsym(handle, "QORCAM_ReadPort"));
        lastError = reinterpret_cast<decltype(lastError)>(dlsym(handle, "QORCAM_GetLastError"));
        return setStructVersion && getList && open && close && readPort && lastError;
    }
};

void Ours(Library& lib, uint64_t uid, int servicePid, int cameraPid, int reads, Figures& f) {
    // An application lists, then opens: the list refresh (one discovery
    // round) is timed alone, and the open that follows takes the camera
    // from that fresh list without a discovery round of its own.
    std::vector<uint8_t> block(offsetof(QORCAM_LIST, Info) + 16 * sizeof(QORCAM_CAMERAINFO));
    reinterpret_cast<QORCAM_LIST*>(block.data())->Count = 16;
    const auto l0 = Clock::now();
    if (lib.getList(reinterpret_cast<QORCAM_LIST*>(block.data()))) f.lists.push_back(Us(Clock::now() - l0) / 1000);
    HCAMERA camera = nullptr;
    const auto t0 = Clock::now();
    if (!lib.open(uid, &camera)) {
        ++f.failures;
        std::fprintf(stderr, "QORCAM_Open failed: %d\n", static_cast<int>(lib.lastError()));
        return;
    }
    f.opens.push_back(Us(Clock::now() - t0) / 1000);
    const uint64_t own0 = Switches(getpid()), service0 = servicePid ? Switches(servicePid) : 0;
    const uint64_t ownCpu0 = CpuNs(getpid()), serviceCpu0 = CpuNs(servicePid), cameraCpu0 = CpuNs(cameraPid);
    for (int i = 0; i < reads; ++i) {
        uint8_t value[4];
        uint32_t length = 4;
        const auto t = Clock::now();
        if (!lib.readPort(camera, kRegister, value, &length)) {
            ++f.failures;
            continue;
        }
        f.reads.push_back(Us(Clock::now() - t));
    }
    f.ownCpu += CpuNs(getpid()) - ownCpu0;
    f.serviceCpu += CpuNs(servicePid) - serviceCpu0;
    f.cameraCpu += CpuNs(cameraPid) - cameraCpu0;
    f.ownSwitches += Switches(getpid()) - own0;
    if (servicePid) f.serviceSwitches += Switches(servicePid) - service0;
    lib.close(camera);
}

void Aravis(const std::string& address, int cameraPid, int reads, Figures& f) {
    // Aravis's own discovery, timed alone as ours is.
    const auto l0 = Clock::now();
    arv_update_device_list();
    if (arv_get_n_devices() > 0) f.lists.push_back(Us(Clock::now() - l0) / 1000);
    GError* error = nullptr;
    const auto t0 = Clock::now();
    // The open as an application makes it: the device, control, the description read and parsed.
    ArvCamera* camera = arv_camera_new(address.c_str(), &error);
    ArvDevice* device = camera ? arv_camera_get_device(camera) : nullptr;
    if (!device || !arv_device_get_genicam(device)) {
        ++f.failures;
        std::fprintf(stderr, "Aravis open failed: %s\n", error ? error->message : "?");
        if (error) g_error_free(error);
        if (camera) g_object_unref(camera);
        return;
    }
    f.opens.push_back(Us(Clock::now() - t0) / 1000);
    const uint64_t own0 = Switches(getpid());
    const uint64_t ownCpu0 = CpuNs(getpid()), cameraCpu0 = CpuNs(cameraPid);
    for (int i = 0; i < reads; ++i) {
        guint32 value = 0;
        const auto t = Clock::now();
        if (!arv_device_read_register(device, kRegister, &value, &error)) {
            ++f.failures;
            if (error) g_clear_error(&error);
            continue;
        }
        f.reads.push_back(Us(Clock::now() - t));
    }
    f.ownCpu += CpuNs(getpid()) - ownCpu0;
    f.cameraCpu += CpuNs(cameraPid) - cameraCpu0;
    f.ownSwitches += Switches(getpid()) - own0;
    g_object_unref(camera);
}

} // namespace

int main(int argc, char** argv) {
    const int reads = argc > 1 ? std::max(10, std::atoi(argv[1])) : 2000;
    const int rounds = argc > 2 ? std::max(1, std::atoi(argv[2])) : 5;
    const auto rig = EnterHostRig("gigecontrol_bench");
    if (!rig) return 1;
    Library lib;
    if (!lib.Load(OwnFolder() + "/libQorCam.so") || !lib.setStructVersion(LIBRARY_STRUCT_VERSION)) {
        std::fprintf(stderr, "libQorCam.so can't be used: %s\n", dlerror());
        return 1;
    }
    uint64_t uid = 0;
    if (!FindGigE(lib.getList, uid)) {
        std::fprintf(stderr, "the library lists no GigE camera\n");
        return 1;
    }
    std::printf(
        "%d rounds of one open and %d register reads each, contenders in turn; load average at start: %s\n",
        rounds, reads, LoadAverage().c_str());
    const int servicePid = ServicePid(rig->HostNamespace());
    const int cameraPid = CameraPid();
    Figures ours, aravis;
    for (int round = 0; round < rounds; ++round) {
        Ours(lib, uid, servicePid, cameraPid, reads, ours);
        Aravis(rig->CameraAddress(), cameraPid, reads, aravis);
    }
    auto row = [](const char* name, const Figures& f) {
        std::printf("%-8s read median %8.1f us  p99 %8.1f us  open median %8.2f ms  list refresh %8.2f ms"
                    "  (failures %d)\n",
                    name, Percentile(f.reads, 0.5), Percentile(f.reads, 0.99), Percentile(f.opens, 0.5),
                    Percentile(f.lists, 0.5), f.failures);
    };
    row("QorCam", ours);
    row("Aravis", aravis);
    auto perRead = [&](uint64_t switches) { return double(switches) / double(std::max<size_t>(1, rounds * size_t(reads))); };
    std::printf("context switches per read: QorCam %.2f (application) + %.2f (service%s), Aravis %.2f\n",
                perRead(ours.ownSwitches), perRead(ours.serviceSwitches), servicePid ? "" : " not found",
                perRead(aravis.ownSwitches));
    auto cpuPerRead = [&](uint64_t ns) { return perRead(ns) / 1000.0; };
    std::printf("CPU per read: QorCam %.1f us (application %.1f + service %.1f), Aravis %.1f us;"
                " emulator %.1f us (QorCam) / %.1f us (Aravis)\n",
                cpuPerRead(ours.ownCpu + ours.serviceCpu), cpuPerRead(ours.ownCpu), cpuPerRead(ours.serviceCpu),
                cpuPerRead(aravis.ownCpu), cpuPerRead(ours.cameraCpu), cpuPerRead(aravis.cameraCpu));
    const double a50 = Percentile(aravis.reads, 0.5), a99 = Percentile(aravis.reads, 0.99),
                 aOpen = Percentile(aravis.opens, 0.5);
    if (a50 > 0 && a99 > 0 && aOpen > 0) {
        std::printf("ratios (ours / Aravis): read median %.2fx  read p99 %.2fx  open %.2fx\n",
                    Percentile(ours.reads, 0.5) / a50, Percentile(ours.reads, 0.99) / a99,
                    Percentile(ours.opens, 0.5) / aOpen);
        // An open that first has to find the camera costs a list refresh more.
        std::printf("open after a list refresh (list + open): %.2f ms, %.2fx Aravis's list + open\n",
                    Percentile(ours.lists, 0.5) + Percentile(ours.opens, 0.5),
                    (Percentile(ours.lists, 0.5) + Percentile(ours.opens, 0.5)) /
                        (Percentile(aravis.lists, 0.5) + aOpen));
    }
    std::printf("load average at end: %s\n", LoadAverage().c_str());
    std::fflush(stdout);
    dlclose(lib.handle);
    return 0;
}
