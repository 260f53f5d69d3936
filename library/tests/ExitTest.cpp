// ExitTest: processes that load the library with dlopen and end without unloading it, as an interpreter's
// foreign function module or a plug-in host does, end normally: idle, or with a camera open and streaming.
#include "LibraryFixture.h"

#include "os/Process.h"

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

namespace {

using qorcam::os::Process;

constexpr uint64_t kCamera = 5;

// The camera's port memory: Width 2 at 0x100 and a packet size of 1500 at 0xD04 (big endian), and its
// description at 0x10000.
std::string PortMemory(const std::string& xml) {
    std::string memory(0x10000, '\0');
    memory[0x103] = 2;
    memory[0xD06] = 0x05;
    memory[0xD07] = static_cast<char>(0xDC);
    return memory + xml;
}

class ExitTest : public qorcam::testing::LibraryFixture {
protected:
    void SetUp() override {
        LibraryFixture::SetUp();
        const std::string xml = qorcam::testing::CameraXml();
        const std::string file = WriteFile("port.bin", PortMemory(xml));
        char url[64];
        std::snprintf(url, sizeof url, "Local:cam.xml;10000;%zX", xml.size());
        Install("QorGigEGenTL.cti", std::string("prefix GigEVision\ninterface if0\n"
                                                "device if0 5 VendorG ModelG camA 7 1000\n"
                                                "port if0 5 ") +
                                        url + " " + file + " 0\n");
    }
    std::string Library() const { return (folder_ / "libQorCam.so").string(); }

    // The exit code of a program run to its end (-1 when it could not run or did not end in time).
    static int Run(const std::string& program, const std::vector<std::string>& args) {
        auto process = Process::Spawn(program, args);
        if (!process) return -1;
        const auto code = process->Wait(60000);
        if (!code) process->Kill(9);
        return code.value_or(-1);
    }
    static std::string Python() {
        for (const char* path : {"/usr/bin/python3", "/usr/local/bin/python3"}) {
            if (std::filesystem::exists(path)) return path;
        }
        return {};
    }
};

TEST_F(ExitTest, HostThatNeverUnloadsTheLibraryEndsNormally) {
    EXPECT_EQ(Run(DLOPEN_CLIENT, {Library()}), 0);
    EXPECT_EQ(Run(DLOPEN_CLIENT, {Library(), "open", std::to_string(kCamera)}), 0);
}

// A runtime that unloads native libraries at its end (as Mono does): the library goes from memory at the
// unload, also after a failed node-map call on the main thread (its failure text is kept per thread),
// and the process ends with its own code.
TEST_F(ExitTest, HostThatUnloadsTheLibraryEndsNormally) {
    const std::vector<std::vector<std::string>> cases = {
        {"unload"},
        {"failed"},
        {"failed", "unload"},
        {"open", std::to_string(kCamera), "unload"},
    };
    for (const auto& how : cases) {
        std::vector<std::string> args = {Library()};
        args.insert(args.end(), how.begin(), how.end());
        EXPECT_EQ(Run(DLOPEN_CLIENT, args), 0) << how.front() << " " << how.back();
    }
}

TEST_F(ExitTest, PythonCtypesLoadingTheLibraryEndsNormally) {
#if defined(__SANITIZE_THREAD__)
    GTEST_SKIP() << "a library built for the thread sanitizer can't be loaded into an unsanitized interpreter";
#elif defined(QORCAM_SANITIZER_PRELOAD)
    // The interpreter runs with the sanitizers' runtime loaded first; its own leaks are not counted.
    setenv("LD_PRELOAD", QORCAM_SANITIZER_PRELOAD, 1);
    setenv("ASAN_OPTIONS", "detect_leaks=0", 1);
#endif
    const std::string python = Python();
    if (python.empty()) GTEST_SKIP() << "python3 is not installed";
    EXPECT_EQ(Run(python, {"-c", "import ctypes,sys; ctypes.CDLL(sys.argv[1])", Library()}), 0);
    // Open a camera, start its images with a callback set, and end with all of it running.
    const std::string script =
        "import ctypes, sys\n"
        "lib = ctypes.CDLL(sys.argv[1])\n"
        "CALLBACK = ctypes.CFUNCTYPE(None, ctypes.c_void_p, ctypes.c_void_p, ctypes.c_uint32, ctypes.c_uint32,\n"
        "                            ctypes.c_uint32, ctypes.c_void_p, ctypes.c_void_p)\n"
        "on_image = CALLBACK(lambda *args: None)\n"
        "camera = ctypes.c_void_p()\n"
        "assert lib.QORCAM_SetStructVersion(ctypes.c_uint32(10106))\n"
        "assert lib.QORCAM_Open(ctypes.c_uint64(int(sys.argv[2])), ctypes.byref(camera))\n"
        "assert lib.QORCAM_ResourceAlloc(camera)\n"
        "assert lib.QORCAM_SetImageCallBack(camera, None, on_image, ctypes.c_uint32(2), 0)\n"
        "assert lib.QORCAM_ImageStart(camera)\n";
    EXPECT_EQ(Run(python, {"-c", script, Library(), std::to_string(kCamera)}), 0);
}

} // namespace
