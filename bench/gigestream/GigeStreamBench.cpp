// gigestream_bench: CPU time per complete frame through libQorCam.so (the application's process with
// library and producer, plus the GigE service) against Aravis 0.8 receiving the same emulated camera
// with its packet-socket receiver, in one run. CPU is the run time the scheduler gave the processes
// (their CPU-time clocks, in ns, all threads); each contender streams for the same time in turn, round
// after round. The packets its
// packet sockets dropped for want of room (the kernel's PACKET_STATISTICS) are counted for both: the
// service's sockets are read through descriptors taken over with pidfd_getfd, Aravis's in this process.
#include "GigeBenchRig.h"

#include <arv.h>
#include <dirent.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <linux/if_packet.h>
#include <sched.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace {

using namespace qorcam::bench;
using Clock = std::chrono::steady_clock;

struct Case {
    const char* name;
    uint32_t width, height, pixelFormat, bytesPerPixel;
    uint32_t buffers = 16;     // the image callback's buffers
    bool onlyByName = false;   // run only when the fifth argument names it
};
constexpr Case kCases[] = {
    {"1024x1024 Mono8", 1024, 1024, 0x01080001, 1},
    {"2048x2048 Mono8", 2048, 2048, 0x01080001, 1},
    {"2048x2048 RGB8", 2048, 2048, 0x02180014, 3},
    // A trickling stream: a frame of 6 packets per frame period, each frame a ring block of its own
    // (a block is handed over 4 ms after it opened), so the ring fills by time, not by bytes. With a
    // stop of the service (fourth argument), what the ring holds in time decides what it drops; the
    // buffers take every frame of a stop of up to 1 s at 1 ms a frame.
    {"512x16 Mono8 trickle", 512, 16, 0x01080001, 1, 1024, true},
};

// The CPU time the scheduler gave a process (all its threads, those that ended included), in ms with
// nanosecond resolution: the process's CPU-time clock, the sum of its threads' run times.
double CpuMs(int pid) {
    clockid_t clock{};
    timespec t{};
    if (::clock_getcpuclockid(pid, &clock) != 0 || ::clock_gettime(clock, &t) != 0) return 0;
    return double(t.tv_sec) * 1000.0 + double(t.tv_nsec) / 1e6;
}

bool PrintThreads() {
    const char* v = std::getenv("QORCAM_BENCH_THREADS");
    return v && *v && *v != '0';
}

// The packet sockets (AF_PACKET) of a process, read for their drop counts.
class PacketSockets {
public:
    ~PacketSockets() { Close(); }
    // Takes over every packet socket the process has now; false when it has none.
    bool Find(int pid) {
        Close();
        const int pidfd = static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));
        if (pidfd < 0) return false;
        const std::string folder = "/proc/" + std::to_string(pid) + "/fd";
        DIR* dir = ::opendir(folder.c_str());
        while (dirent* e = dir ? ::readdir(dir) : nullptr) {
            const int target = std::atoi(e->d_name);
            if (target <= 0 && std::strcmp(e->d_name, "0") != 0) continue;
            char link[64] = {};
            if (::readlink((folder + "/" + e->d_name).c_str(), link, sizeof link - 1) <= 0 ||
                std::strncmp(link, "socket:", 7) != 0)
                continue;
            const int fd = pid == getpid() ? ::dup(target)
                                           : static_cast<int>(::syscall(SYS_pidfd_getfd, pidfd, target, 0));
            int domain = 0;
            socklen_t length = sizeof domain;
            if (fd >= 0 && ::getsockopt(fd, SOL_SOCKET, SO_DOMAIN, &domain, &length) == 0 && domain == AF_PACKET)
                fds_.push_back(fd);
            else if (fd >= 0)
                ::close(fd);
        }
        if (dir) ::closedir(dir);
        ::close(pidfd);
        return !fds_.empty();
    }
    // Packets dropped (and taken) since the last call, all sockets together.
    uint64_t TakeDrops(uint64_t* packets = nullptr) {
        uint64_t drops = 0, taken = 0;
        for (int fd : fds_) {
            tpacket_stats_v3 s{};
            socklen_t length = sizeof s;
            if (::getsockopt(fd, SOL_PACKET, PACKET_STATISTICS, &s, &length) != 0) continue;
            drops += s.tp_drops;
            taken += s.tp_packets;
        }
        if (packets) *packets = taken;
        return drops;
    }
    void Close() {
        for (int fd : fds_)
            ::close(fd);
        fds_.clear();
    }

private:
    std::vector<int> fds_;
};

struct RoundFigures {
    double msPerFrame = 0, serviceMsPerFrame = 0;
};

struct Run {
    std::vector<RoundFigures> rounds; // CPU per complete frame of each round
    uint64_t complete = 0, incomplete = 0;
    uint64_t drops = 0, packets = 0, missing = 0; // missing: packets the receiver never got (Aravis)
    double cpuMs = 0, serviceMs = 0, seconds = 0;
    double PerFrame() const { return complete ? cpuMs / double(complete) : 0; }
};

struct Library {
    void* handle = nullptr;
    template <typename F> F Fn(const char* name) {
        F fn = nullptr;
        void* symbol = dlsym(handle, name);
        std::memcpy(&fn, &symbol, sizeof fn);
        return fn;
    }
    bool Load(const std::string& path) {
        handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
        return handle != nullptr;
    }
    bool Write(HCAMERA camera, uint32_t address, uint32_t value) {
        uint8_t bytes[4] = {uint8_t(value >> 24), uint8_t(value >> 16), uint8_t(value >> 8), uint8_t(value)};
        uint32_t length = 4;
        return Fn<decltype(&QORCAM_WritePort)>("QORCAM_WritePort")(camera, address, bytes, &length);
    }
};

struct Counts {
    std::atomic<uint64_t> complete{0}, incomplete{0};
};

void OnImage(HCAMERA, uint8_t*, uint32_t length, uint32_t, uint32_t, QORCAM_IMAGEDATAINFO*, void* context) {
    auto* counts = static_cast<Counts*>(context);
    (length != 0 ? counts->complete : counts->incomplete)++;
}

// Our path as an application takes it: resources, the image callback with the case's buffers, start.
// How long the service runs between two stops: the rest of a second, or as long as the stop for stops
// longer than half a second.
int StallGapMs(int stallMs) {
    return std::max(1000 - stallMs, stallMs);
}

// stallMs > 0: the service is stopped for that long (SIGSTOP, SIGCONT), then let run (StallGapMs), as a
// busy machine
// may hold its receive thread up, to show whether it catches up afterwards.
bool Ours(Library& lib, HCAMERA camera, int servicePid, PacketSockets& ring, double seconds, int stallMs,
          uint32_t buffers, Run& run) {
    auto alloc = lib.Fn<decltype(&QORCAM_ResourceAlloc)>("QORCAM_ResourceAlloc");
    auto release = lib.Fn<decltype(&QORCAM_ResourceRelease)>("QORCAM_ResourceRelease");
    auto setCallback = lib.Fn<decltype(&QORCAM_SetImageCallBack)>("QORCAM_SetImageCallBack");
    auto start = lib.Fn<decltype(&QORCAM_ImageStart)>("QORCAM_ImageStart");
    auto stop = lib.Fn<decltype(&QORCAM_ImageStop)>("QORCAM_ImageStop");
    Counts counts;
    if (!alloc(camera) || !setCallback(camera, &counts, &OnImage, buffers, FALSE) || !start(camera)) {
        std::fprintf(stderr, "our stream did not start\n");
        return false;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(500)); // past the start
    const uint64_t c0 = counts.complete, i0 = counts.incomplete;
    const ThreadTimes ownThreads0 = ThreadTimes::Take(getpid()), serviceThreads0 = ThreadTimes::Take(servicePid);
    const double own0 = CpuMs(getpid()), service0 = CpuMs(servicePid);
    ring.TakeDrops();
    const auto t0 = Clock::now();
    if (stallMs > 0) {
        for (auto until = t0 + std::chrono::duration<double>(seconds); Clock::now() < until;) {
            ::kill(servicePid, SIGSTOP);
            std::this_thread::sleep_for(std::chrono::milliseconds(stallMs));
            ::kill(servicePid, SIGCONT);
            std::this_thread::sleep_for(std::chrono::milliseconds(StallGapMs(stallMs)));
        }
    } else {
        std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
    }
    uint64_t packets = 0;
    run.drops += ring.TakeDrops(&packets);
    run.packets += packets;
    const double service = CpuMs(servicePid) - service0;
    run.cpuMs += CpuMs(getpid()) - own0 + service;
    run.serviceMs += service;
    run.seconds += std::chrono::duration<double>(Clock::now() - t0).count();
    run.complete += counts.complete - c0;
    run.incomplete += counts.incomplete - i0;
    run.rounds.push_back(RoundFigures{(CpuMs(getpid()) - own0 + service) / double(std::max<uint64_t>(1, counts.complete - c0)),
                                       service / double(std::max<uint64_t>(1, counts.complete - c0))});
    if (PrintThreads()) {
        ThreadTimes::Take(getpid()).Print("client ", ownThreads0, counts.complete - c0);
        ThreadTimes::Take(servicePid).Print("service", serviceThreads0, counts.complete - c0);
    }
    stop(camera);
    setCallback(camera, nullptr, nullptr, 0, FALSE);
    release(camera);
    return true;
}

// Aravis as its examples stream: a stream with 16 buffers popped and pushed back by this thread.
bool Aravis(ArvCamera* camera, double seconds, uint32_t buffers, Run& run) {
    GError* error = nullptr;
    const guint payload = arv_camera_get_payload(camera, &error);
    ArvStream* stream = error ? nullptr : arv_camera_create_stream(camera, nullptr, nullptr, &error);
    if (!stream) {
        std::fprintf(stderr, "Aravis stream: %s\n", error ? error->message : "?");
        if (error) g_error_free(error);
        return false;
    }
    for (uint32_t i = 0; i < buffers; ++i)
        arv_stream_push_buffer(stream, arv_buffer_new(payload, nullptr));
    arv_camera_start_acquisition(camera, &error);
    auto pump = [&](double s, uint64_t* complete, uint64_t* incomplete) {
        const auto until = Clock::now() + std::chrono::duration<double>(s);
        while (Clock::now() < until) {
            ArvBuffer* buffer = arv_stream_timeout_pop_buffer(stream, 100000);
            if (!buffer) continue;
            if (arv_buffer_get_status(buffer) == ARV_BUFFER_STATUS_SUCCESS) {
                if (complete) ++*complete;
            } else if (incomplete) {
                ++*incomplete;
            }
            arv_stream_push_buffer(stream, buffer);
        }
    };
    pump(0.5, nullptr, nullptr);
    PacketSockets ring;
    ring.Find(getpid()); // the stream's receiver, the only packet socket of this process
    ring.TakeDrops();
    guint64 resent0 = 0, missing0 = 0, resent1 = 0, missing1 = 0;
    if (ARV_IS_GV_STREAM(stream)) arv_gv_stream_get_statistics(ARV_GV_STREAM(stream), &resent0, &missing0);
    const ThreadTimes threads0 = ThreadTimes::Take(getpid());
    const double cpu0 = CpuMs(getpid());
    const uint64_t complete0 = run.complete;
    const auto t0 = Clock::now();
    pump(seconds, &run.complete, &run.incomplete);
    const double cpu = CpuMs(getpid()) - cpu0;
    run.cpuMs += cpu;
    run.rounds.push_back(RoundFigures{cpu / double(std::max<uint64_t>(1, run.complete - complete0)), 0});
    if (PrintThreads()) ThreadTimes::Take(getpid()).Print("Aravis ", threads0, run.complete - complete0);
    uint64_t packets = 0;
    run.drops += ring.TakeDrops(&packets);
    run.packets += packets;
    if (ARV_IS_GV_STREAM(stream)) arv_gv_stream_get_statistics(ARV_GV_STREAM(stream), &resent1, &missing1);
    run.missing += missing1 - missing0;
    run.seconds += std::chrono::duration<double>(Clock::now() - t0).count();
    arv_camera_stop_acquisition(camera, nullptr);
    g_object_unref(stream);
    if (error) g_error_free(error);
    return true;
}

} // namespace

int main(int argc, char** argv) {
    const double seconds = argc > 1 ? std::max(1.0, std::atof(argv[1])) : 5.0;
    const int rounds = argc > 2 ? std::max(1, std::atoi(argv[2])) : 2;
    const uint32_t periodUs = argc > 3 ? static_cast<uint32_t>(std::max(1000, std::atoi(argv[3]))) : 20000;
    const int stallMs = argc > 4 ? std::clamp(std::atoi(argv[4]), 0, 2000) : 0;
    const std::string only = argc > 5 ? argv[5] : ""; // only the cases whose name holds it
    const auto rig = EnterHostRig("gigestream_bench");
    if (!rig) return 1;
    const int servicePid = ServicePid(rig->HostNamespace());
    std::fprintf(stderr, "benchmark pid %d, service pid %d\n", int(getpid()), servicePid);
    Library lib;
    uint64_t uid = 0;
    if (!lib.Load(OwnFolder() + "/libQorCam.so") ||
        !lib.Fn<decltype(&QORCAM_SetStructVersion)>("QORCAM_SetStructVersion")(LIBRARY_STRUCT_VERSION) ||
        !FindGigE(lib.Fn<decltype(&QORCAM_GetList)>("QORCAM_GetList"), uid) || servicePid == 0) {
        std::fprintf(stderr, "the library lists no GigE camera, or the service was not found\n");
        return 1;
    }
    std::printf("%d rounds of %.1f s per contender and case, frame period %u us; load average at start: %s\n",
                rounds, seconds, periodUs, LoadAverage().c_str());
    if (stallMs > 0)
        std::printf("our service stopped for %d ms, then let run for %d ms, over and over while it streams\n", stallMs,
                    StallGapMs(stallMs));
    PacketSockets ring;
    if (!ring.Find(servicePid)) std::fprintf(stderr, "the service's packet sockets were not found\n");
    std::printf("%-18s %-7s %8s %8s %9s %12s %14s %10s %10s\n", "case", "who", "frames/s", "bad/s", "CPU ms/s",
                "CPU ms/frame", "of it service", "ring drops", "packets");
    for (const Case& c : kCases) {
        if (only.empty() ? c.onlyByName : std::string(c.name).find(only) == std::string::npos) continue;
        Run ours, aravis;
        bool ok = true;
        for (int round = 0; ok && round < rounds; ++round) {
            HCAMERA camera = nullptr;
            ok = lib.Fn<decltype(&QORCAM_Open)>("QORCAM_Open")(uid, &camera);
            ok = ok && lib.Write(camera, 0x100, c.width) && lib.Write(camera, 0x104, c.height) &&
                 lib.Write(camera, 0x128, c.pixelFormat) && lib.Write(camera, 0x138, periodUs);
            ok = ok && Ours(lib, camera, servicePid, ring, seconds, stallMs, c.buffers, ours);
            if (camera) lib.Fn<decltype(&QORCAM_Close)>("QORCAM_Close")(camera);
            if (!ok) break;

            GError* error = nullptr;
            ArvCamera* arv = arv_camera_new(rig->CameraAddress().c_str(), &error);
            if (arv) {
                ArvDevice* device = arv_camera_get_device(arv);
                arv_device_write_register(device, 0x100, c.width, nullptr);
                arv_device_write_register(device, 0x104, c.height, nullptr);
                arv_device_write_register(device, 0x128, c.pixelFormat, nullptr);
                arv_device_write_register(device, 0x138, periodUs, nullptr);
                arv_camera_gv_set_packet_size(arv, 1500, nullptr);
                ok = Aravis(arv, seconds, c.buffers, aravis);
                g_object_unref(arv);
            } else {
                std::fprintf(stderr, "Aravis open: %s\n", error ? error->message : "?");
                ok = false;
            }
            if (error) g_error_free(error);
        }
        if (!ok) {
            std::printf("%-18s skipped (a contender failed)\n", c.name);
            continue;
        }
        auto row = [&](const char* who, const Run& r) {
            std::printf("%-18s %-7s %8.1f %8.1f %9.1f %12.3f %14.3f %10llu %10llu\n", c.name, who,
                        double(r.complete) / r.seconds, double(r.incomplete) / r.seconds, r.cpuMs / r.seconds,
                        r.PerFrame(), r.complete ? r.serviceMs / double(r.complete) : 0,
                        static_cast<unsigned long long>(r.drops), static_cast<unsigned long long>(r.packets));
        };
        row("QorCam", ours);
        row("Aravis", aravis);
        if (aravis.PerFrame() > 0)
            std::printf("%-18s ratio CPU per complete frame (ours / Aravis): %.2fx; good frames %.1f %% of Aravis's; "
                        "Aravis missed %llu packets\n",
                        c.name, ours.PerFrame() / aravis.PerFrame(),
                        aravis.complete ? 100.0 * double(ours.complete) / double(aravis.complete) : 0.0,
                        static_cast<unsigned long long>(aravis.missing));
        std::printf("%-18s per round, ours / Aravis ms per frame (ratio):", c.name);
        for (size_t i = 0; i < ours.rounds.size() && i < aravis.rounds.size(); ++i)
            std::printf(" %.3f/%.3f (%.2fx)", ours.rounds[i].msPerFrame, aravis.rounds[i].msPerFrame,
                        aravis.rounds[i].msPerFrame > 0 ? ours.rounds[i].msPerFrame / aravis.rounds[i].msPerFrame : 0.0);
        std::vector<double> ratios;
        for (size_t i = 0; i < ours.rounds.size() && i < aravis.rounds.size(); ++i)
            if (aravis.rounds[i].msPerFrame > 0) ratios.push_back(ours.rounds[i].msPerFrame / aravis.rounds[i].msPerFrame);
        std::sort(ratios.begin(), ratios.end());
        if (!ratios.empty())
            std::printf("; median %.2fx", ratios.size() % 2 ? ratios[ratios.size() / 2]
                                                          : (ratios[ratios.size() / 2 - 1] + ratios[ratios.size() / 2]) / 2);
        std::printf("\n");
        std::fflush(stdout);
    }
    std::printf("load average at end: %s\n", LoadAverage().c_str());
    dlclose(lib.handle);
    return 0;
}
