// qorcam_sample: loads libQorCam.so and drives it, printing the trace lines each part produced.
//
// Run as root, it builds a private GigE camera network (two network namespaces, a veth pair, the camera
// emulator and the GigE service under a temporary root), acquires images from the emulated camera
// through the library, saves one as qorcam-frame.bmp in the current folder, opens the viewer on the
// camera network when there is a display ("--no-viewer" skips it) and tears the network down.
// "--stream" acquires from the first GigE camera the installed system lists, through its service,
// and saves one frame the same way; "--library" runs the library demo alone. When no images were
// streamed (no root, no camera network) the sample runs the library demo and ends with 2.
// Without root (or without network namespaces) it loads the producers, counts the cameras and drives
// the output filter instead.
#include "CameraAcquisition.h"
#include "QorCam.h"
#include "TraceAreaReader.h"

#ifdef QORCAM_SAMPLE_GIGE_DEMO
#include "NetworkRig.h"
#endif

#include <dlfcn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <thread>

namespace {

using namespace std::chrono_literals;

// The folder of the sample's own executable, where the build puts the library and the producers.
std::string OwnFolder() {
    char path[4096];
    const ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
    if (n <= 0) return ".";
    path[n] = '\0';
    std::string text(path);
    const auto slash = text.rfind('/');
    return slash == std::string::npos ? "." : text.substr(0, slash);
}

void PrintLine(const char* line) {
    std::fputs(line, stdout);
}

uint32_t TakeTrace() {
    std::printf("trace lines:\n");
    return qorcam_trace_take(PrintLine);
}

// The library loaded by plain name first (the loader's search path), then beside the sample.
void* LoadQorCam() {
    void* library = dlopen("libQorCam.so", RTLD_NOW);
    if (library != nullptr) return library;
    return dlopen((OwnFolder() + "/libQorCam.so").c_str(), RTLD_NOW);
}

// The library the demo drives: the one beside the sample in the build tree, else by plain name through the
// sample's run path (an installed sample finds the installed library).
std::string LibraryPath() {
    const std::string beside = OwnFolder() + "/libQorCam.so";
    return access(beside.c_str(), F_OK) == 0 ? beside : std::string("libQorCam.so");
}

template <typename F> bool Resolve(void* library, const char* name, F& fn) {
    void* symbol = dlsym(library, name);
    if (symbol == nullptr) {
        std::fprintf(stderr, "qorcam_sample: %s is missing: %s\n", name, dlerror());
        return false;
    }
    std::memcpy(&fn, &symbol, sizeof fn);
    return true;
}

// Without a camera network: the producers are loaded and counted, and the output filter is driven.
int LibraryDemo() {
    // The trace area is opened first and its level set, so even the library's attach line shows.
    if (!qorcam_trace_open()) {
        std::fprintf(stderr, "qorcam_sample: the trace area can't be opened\n");
        return 1;
    }
    const uint32_t levelBefore = qorcam_trace_set_level(2);
    void* library = LoadQorCam();
    if (library == nullptr) {
        std::fprintf(stderr, "qorcam_sample: %s\n", dlerror());
        return 1;
    }
    decltype(&QORCAM_GetLibraryRevision) revision;
    decltype(&QORCAM_SetStructVersion) structVersion;
    decltype(&QORCAM_GetList) getList;
    decltype(&QORCAM_GetLastError) lastError;
    decltype(&QORCAMFILTER_Alloc) alloc;
    decltype(&QORCAMFILTER_OutPut) output;
    decltype(&QORCAMFILTER_GetAddr) getAddr;
    decltype(&QORCAMFILTER_Flush) flush;
    decltype(&QORCAMFILTER_Purge) purge;
    decltype(&QORCAMFILTER_Free) freeRing;
    if (!Resolve(library, "QORCAM_GetLibraryRevision", revision) ||
        !Resolve(library, "QORCAM_SetStructVersion", structVersion) ||
        !Resolve(library, "QORCAM_GetList", getList) || !Resolve(library, "QORCAM_GetLastError", lastError) ||
        !Resolve(library, "QORCAMFILTER_Alloc", alloc) || !Resolve(library, "QORCAMFILTER_OutPut", output) ||
        !Resolve(library, "QORCAMFILTER_GetAddr", getAddr) || !Resolve(library, "QORCAMFILTER_Flush", flush) ||
        !Resolve(library, "QORCAMFILTER_Purge", purge) || !Resolve(library, "QORCAMFILTER_Free", freeRing))
        return 1;

    std::printf("library revision %u, last error %d\n", static_cast<unsigned>(revision()),
                static_cast<int>(lastError()));
    // Loads the producers that lie beside the library (or under the GenICam folder); the trace lines
    // tell which could not be used.
    std::printf("QORCAM_SetStructVersion     -> %d\n", static_cast<int>(structVersion(LIBRARY_STRUCT_VERSION)));
    QORCAM_LIST list{};
    const BOOL listed = getList(&list);
    std::printf("QORCAM_GetList              -> %d, %u cameras\n", static_cast<int>(listed),
                static_cast<unsigned>(list.Count));
    // The area holds 32 lines: take these before going on.
    uint32_t lines = TakeTrace();

    static uint32_t image[64 * 48];
    void* slot = nullptr;
    std::memset(image, 0x80, sizeof image);
    std::printf("QORCAMFILTER_Alloc(64, 48)  -> %u\n", static_cast<unsigned>(alloc(64, 48, 0)));
    std::printf("QORCAMFILTER_OutPut         -> %u\n", static_cast<unsigned>(output(image)));
    std::printf("QORCAMFILTER_GetAddr        -> %u\n", static_cast<unsigned>(getAddr(&slot)));
    if (slot != nullptr) std::memcpy(slot, image, sizeof image);
    std::printf("QORCAMFILTER_Flush          -> %u\n", static_cast<unsigned>(flush()));
    std::printf("QORCAMFILTER_Purge          -> %u\n", static_cast<unsigned>(purge()));
    std::printf("QORCAMFILTER_Free           -> %u\n", static_cast<unsigned>(freeRing()));
    std::printf("QORCAMFILTER_Flush          -> %u (no ring)\n", static_cast<unsigned>(flush()));
    dlclose(library);

    lines += TakeTrace();
    std::printf("%u trace lines\n", static_cast<unsigned>(lines));
    // A log tool that was already collecting keeps its own level.
    qorcam_trace_set_level(levelBefore);
    qorcam_trace_close();
    return lines > 0 ? 0 : 1;
}

#ifdef QORCAM_SAMPLE_GIGE_DEMO

constexpr uint32_t kWidth = 320, kHeight = 240, kFrames = 10;

int Fail(const qorcam::sample::CameraAcquisition& acquisition) {
    std::printf("qorcam_sample: %s\n", acquisition.Error().c_str());
    TakeTrace();
    return 1;
}

// Images from a GigE camera through the library: from the emulated camera of the sample's own
// network (the rig is up and QORCAM_ROOT is its root), or, without a rig, from the first GigE camera
// the machine's installed service lists, left with its own settings.
int GigEDemo(const qorcam::rig::NetworkRig* rig) {
    if (!qorcam_trace_open()) {
        std::fprintf(stderr, "qorcam_sample: the trace area can't be opened\n");
        return 1;
    }
    qorcam_trace_set_level(1);
    if (rig)
        std::printf("camera network up: emulator %s at %s (namespace %s), service %s, root %s\n",
                    rig->CameraMac().c_str(), rig->CameraAddress().c_str(), rig->CameraNamespace().c_str(),
                    rig->ServiceProgram().c_str(), rig->Root().c_str());

    qorcam::sample::CameraAcquisition acquisition(LibraryPath());
    if (!acquisition.Loaded()) return Fail(acquisition);
    if (!acquisition.SetStructVersion(LIBRARY_STRUCT_VERSION)) return Fail(acquisition);
    QORCAM_CAMERAINFO camera{};
    bool found = false;
    // Discovery takes a moment: the list is asked for a bounded number of times.
    for (int attempt = 0; attempt < 15 && !found; ++attempt) {
        for (const auto& info : acquisition.List())
            if (info.CameraType == QORCAM_CTYPE_GIGE) {
                camera = info;
                found = true;
                break;
            }
        if (!found) std::this_thread::sleep_for(500ms);
    }
    if (!found) {
        std::printf("qorcam_sample: no GigE camera was listed\n");
        TakeTrace();
        return 1;
    }
    camera.VendorName[sizeof camera.VendorName - 1] = '\0';
    camera.ModelName[sizeof camera.ModelName - 1] = '\0';
    std::printf("camera %llu: %s %s (GigE)\n", static_cast<unsigned long long>(camera.UID), camera.VendorName,
                camera.ModelName);
    // The trace area holds 32 lines: they are taken after each step.
    uint32_t lines = TakeTrace();
    if (!acquisition.Open(camera.UID)) return Fail(acquisition);
    // Small Mono8 frames, 25 a second, in packets that fit the link.
    const std::pair<uint32_t, uint32_t> setup[] = {{0x124, 0},          {0x100, kWidth}, {0x104, kHeight},
                                                   {0x128, 0x01080001}, {0x138, 40000},  {0x0D04, 1400}};
    // The emulator's own registers: only the sample's emulated camera is set up.
    if (rig)
        for (auto [address, value] : setup)
            if (!acquisition.WriteRegister(address, value)) return Fail(acquisition);
    lines += TakeTrace();
    if (!acquisition.Start(4)) return Fail(acquisition);
    if (!acquisition.WaitFrames(kFrames, 15s)) return Fail(acquisition);
    lines += TakeTrace();
    const auto frames = acquisition.Frames();
    uint32_t complete = 0;
    for (const auto& f : frames)
        complete += f.length != 0;
    std::printf("%zu frames of %u x %u (%u complete), block ids %llu .. %llu\n", frames.size(), frames[0].width,
                frames[0].height, complete,
                static_cast<unsigned long long>(frames.front().info.Info.CGigE.StreamInfo.Frame_ID),
                static_cast<unsigned long long>(frames.back().info.Info.CGigE.StreamInfo.Frame_ID));

    // The camera's own conversion makes a 24-bit bitmap of one frame; with a file header it is a BMP file.
    qorcam::sample::Bitmap bitmap;
    if (!acquisition.ToBitmap(frames[1], bitmap)) return Fail(acquisition);
    const auto file = qorcam::sample::BmpFile(bitmap);
    const char* name = "qorcam-frame.bmp";
    std::ofstream out(name, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(file.data()), static_cast<std::streamsize>(file.size()));
    out.close();
    if (!out) {
        std::printf("qorcam_sample: %s can't be written\n", name);
        return 1;
    }
    std::printf("frame %llu saved as %s: %d x %d, %u bits a pixel, %zu bytes\n",
                static_cast<unsigned long long>(frames[1].info.Info.CGigE.StreamInfo.Frame_ID), name,
                bitmap.Header().biWidth, bitmap.Header().biHeight, bitmap.Header().biBitCount, file.size());
    if (!acquisition.Finish()) return Fail(acquisition);
    std::printf("images stopped, stream resources released, camera closed\n");
    lines += TakeTrace();
    std::printf("%u trace lines\n", static_cast<unsigned>(lines));
    qorcam_trace_close();
    return 0;
}

// With a display, the viewer opens on the camera network while it is still up; the
// sample ends (and the network goes) when the viewer is closed.
void OpenViewer(bool wanted) {
    const char* display = std::getenv("DISPLAY");
    const char* wayland = std::getenv("WAYLAND_DISPLAY");
    if (!wanted) return;
    if ((!display || !*display) && (!wayland || !*wayland)) {
        std::printf("no display: the viewer is not opened (with one, QorCamViewer opens on the emulated camera)\n");
        return;
    }
    const std::string viewer = OwnFolder() + "/QorCamViewer";
    if (access(viewer.c_str(), X_OK) != 0) {
        std::printf("this build has no viewer (%s)\n", viewer.c_str());
        return;
    }
    std::fflush(stdout);
    setenv("QORCAM_APILIB", OwnFolder().c_str(), 1);
    const pid_t child = fork();
    if (child < 0) {
        std::printf("qorcam_sample: the viewer can't be started\n");
        return;
    }
    if (child == 0) {
        execl(viewer.c_str(), viewer.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    std::printf("QorCamViewer is open with the emulated camera's window (empty until you press Start in the "
                "Mode Set pane); close the viewer to end the sample\n");
    std::fflush(stdout);
    int status = 0;
    while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
}

#endif

} // namespace

// The library demo in place of the GigE demo, which could not run: whatever the
// demo did, no image was streamed, so the sample ends with 2 and says why.
int NotStreamed(const std::string& why) {
    const int demo = LibraryDemo();
    std::fprintf(stderr, "qorcam_sample: no images were streamed: %s%s\n", why.c_str(),
                 demo == 0 ? "" : "; the library demo failed too");
    return 2;
}

int main(int argc, char** argv) {
    // "--library" runs only the library demo, with no camera network.
    if (argc > 1 && std::strcmp(argv[1], "--library") == 0)
        return LibraryDemo();
#ifdef QORCAM_SAMPLE_GIGE_DEMO
    // "--stream" acquires from the first GigE camera of the installed system, through its service.
    if (argc > 1 && std::strcmp(argv[1], "--stream") == 0)
        return GigEDemo(nullptr);
    if (geteuid() != 0) {
        std::printf("The GigE demo needs root and network namespaces (it builds a private camera network with "
                    "the camera emulator); running the library demo instead.\n");
        return NotStreamed("the GigE demo needs root (qorcam_sample --library runs the library demo alone)");
    }
    qorcam::rig::NetworkRig::Options options;
    options.driverManaged = false; // the host side keeps its Linux address, which the service takes
    options.parameters = {{"CMDRETRY", 5}, {"CMDTIMEOUT", 300}};
    qorcam::rig::NetworkRig rig(options); // sets QORCAM_ROOT to its own root
    if (!rig.Available()) {
        std::printf("The GigE demo can't build its camera network here (%s); running the library demo instead.\n",
                    rig.Reason().c_str());
        return NotStreamed("the camera network could not be built (" + rig.Reason() + ")");
    }
    const int result = GigEDemo(&rig);
    if (result == 0) OpenViewer(!(argc > 1 && std::strcmp(argv[1], "--no-viewer") == 0));
    return result;
#else
    if (argc > 1 && std::strcmp(argv[1], "--stream") == 0) {
        std::printf("This build has no GigE demo.\n");
        return 2;
    }
    std::printf("This build has no GigE demo; running the library demo.\n");
    return NotStreamed("this build has no GigE demo");
#endif
}
