// Processes that stream from a simulated USB3 Vision camera through libQorCam.so and end while the images
// come in, in each way a process ends: a return from main (with or without unloading the library),
// exit() from a thread of their own, exit() from inside the image callback, and an interpreter whose
// callback is ended by the interpreter's own shutdown. Each must end by itself with its own exit code.
#include "SimulatedUsbCamera.h"

#include "os/Process.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

namespace qorcam::testing {
namespace {

// Far beyond what ending takes; a process still running then hangs.
constexpr uint32_t kEndBoundMs = 20000;

class UsbExitTest : public ::testing::Test {
protected:
    void SetUp() override {
        const std::string failed = usb_.Start(QOR_U3V_SIM_CAMERA, QOR_USB_DRV);
        ASSERT_TRUE(failed.empty()) << failed;
    }
    void TearDown() override { EXPECT_TRUE(usb_.Stop()) << "the USB service didn't end"; }

    // The exit code of a program (-1 when it could not start, -2 when it did not end within the bound).
    static int Run(const std::string& program, const std::vector<std::string>& args) {
        auto process = os::Process::Spawn(program, args);
        if (!process) return -1;
        // The camera must be found (up to 20 s) and stream before the ending starts.
        const auto code = process->Wait(kEndBoundMs + 20000);
        if (!code) {
            process->Kill(9);
            process->Wait(5000);
        }
        return code.value_or(-2);
    }

    SimulatedUsbCamera usb_;
};

TEST_F(UsbExitTest, ProcessLeavingMidStreamEndsWithItsOwnCode) {
    for (const char* how : {"return", "unload", "exit-thread", "exit-callback"}) {
        EXPECT_EQ(Run(DLOPEN_CLIENT, {QORCAM_LIBRARY_PATH, "stream", "any", how}), 0) << how;
        ASSERT_TRUE(usb_.Ended().empty()) << usb_.Ended();
    }
}

TEST_F(UsbExitTest, InterpreterLeavingMidStreamEndsWithItsOwnCode) {
#if defined(__SANITIZE_THREAD__)
    GTEST_SKIP() << "a library built for the thread sanitizer can't be loaded into an unsanitized interpreter";
#elif defined(QORCAM_SANITIZER_PRELOAD)
    // The interpreter runs with the sanitizers' runtime loaded first; its own leaks are not counted.
    setenv("LD_PRELOAD", QORCAM_SANITIZER_PRELOAD, 1);
    setenv("ASAN_OPTIONS", "detect_leaks=0", 1);
#endif
    if (!std::filesystem::exists("/usr/bin/python3")) GTEST_SKIP() << "python3 is not installed";
    // The callback gives up the interpreter's lock for a moment on each image, so the interpreter shuts
    // down while a callback runs: it ends that thread when the callback asks for the lock again.
    const std::string script =
        "import ctypes, struct, sys, time\n"
        "lib = ctypes.CDLL(sys.argv[1])\n"
        "CALLBACK = ctypes.CFUNCTYPE(None, ctypes.c_void_p, ctypes.c_void_p, ctypes.c_uint32, ctypes.c_uint32,\n"
        "                            ctypes.c_uint32, ctypes.c_void_p, ctypes.c_void_p)\n"
        "frames = []\n"
        "def on_image(camera, buffer, length, width, height, info, context):\n"
        "    frames.append(ctypes.string_at(buffer, length) if buffer else b'')\n"
        "    time.sleep(0.015)\n"
        "on_image_c = CALLBACK(on_image)\n"
        "assert lib.QORCAM_SetStructVersion(ctypes.c_uint32(10106))\n"
        "room = (ctypes.c_uint8 * 8192)()\n"
        "for _ in range(80):\n"
        "    struct.pack_into('<I', room, 0, 4)\n"
        "    if lib.QORCAM_GetList(room) and struct.unpack_from('<I', room, 0)[0] > 0:\n"
        "        break\n"
        "    time.sleep(0.25)\n"
        "uid = struct.unpack_from('<Q', room, 4)[0]\n"
        "camera = ctypes.c_void_p()\n"
        "assert lib.QORCAM_Open(ctypes.c_uint64(uid), ctypes.byref(camera))\n"
        "assert lib.QORCAM_ResourceAlloc(camera)\n"
        "assert lib.QORCAM_SetImageCallBack(camera, None, on_image_c, ctypes.c_uint32(4), 0)\n"
        "assert lib.QORCAM_ImageStart(camera)\n"
        "deadline = time.time() + 20\n"
        "while len(frames) < 3 and time.time() < deadline:\n"
        "    time.sleep(0.01)\n"
        "assert len(frames) >= 3\n";
    for (int run = 0; run < 3; ++run)
        EXPECT_EQ(Run("/usr/bin/python3", {"-c", script, QORCAM_LIBRARY_PATH}), 0) << "run " << run;
}

// The runtime unloads the native library at its end: after a refused feature value, and with images still
// coming in (the binding's callbacks brought the library's thread into the runtime).
TEST_F(UsbExitTest, MonoProgramLeavingWithItsCameraOpenEndsWithItsOwnCode) {
#if defined(__SANITIZE_THREAD__)
    GTEST_SKIP() << "a library built for the thread sanitizer can't be loaded into Mono";
#elif defined(QORCAM_SANITIZER_PRELOAD)
    // Mono runs with the sanitizers' runtime loaded first; its own leaks are not counted.
    setenv("LD_PRELOAD", QORCAM_SANITIZER_PRELOAD, 1);
    setenv("ASAN_OPTIONS", "detect_leaks=0", 1);
#endif
#ifndef QORCAM_DOTNET_EXIT
    GTEST_SKIP() << "the .NET binding is not built";
#else
    const std::string mono = "/usr/bin/mono";
    if (!std::filesystem::exists(mono)) GTEST_SKIP() << "mono is not installed";
    // Mono finds the native library on the search path.
    setenv("LD_LIBRARY_PATH", std::filesystem::path(QORCAM_LIBRARY_PATH).parent_path().c_str(), 1);
    for (int run = 0; run < 2; ++run) {
        for (const char* how : {"refused", "stream"})
            EXPECT_EQ(Run(mono, {QORCAM_DOTNET_EXIT, how}), 0) << how << ", run " << run;
    }
    unsetenv("LD_LIBRARY_PATH");
#endif
}

} // namespace
} // namespace qorcam::testing
