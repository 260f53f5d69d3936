// usbdrv_test_client: a second process for the ownership tests: registers, tries to own the camera, reads and
// writes; with --attack (run as another user), reaches for the owner's stream, events and pipes instead;
// with --leave (run as another user), owns the camera with reads pending and gives it up; with --reads (run
// as another user), queues many register reads at once.
#include "UsbDeviceControl.h"

#include "devio/DeviceHandle.h"
#include "os/Process.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

using namespace qorcam;

namespace {

int Attack(devio::DeviceHandle& handle) {
    // Pended requests would have been taken (0x103); each is asked for without waiting.
    static std::uint8_t room[4096];
    static std::uint8_t eventRoom[64];
    devio::Overlapped streamWait, readWait, eventWait;
    const auto stream = handle.DeviceIoControl(usbdrv::IOCTL_USB_GetStream, nullptr, 0, nullptr, 0, streamWait);
    const auto read = handle.ReadFile(room, sizeof room, readWait);
    const auto event =
        handle.DeviceIoControl(usbdrv::IOCTL_USB_GetEvent, nullptr, 0, eventRoom, sizeof eventRoom, eventWait);
    const usbdrv::UsbMaxSizes sizes{0, 64, 64, 64};
    const auto maxSize = handle.DeviceIoControl(usbdrv::IOCTL_USB_SetMaxSize, &sizes, sizeof sizes, nullptr, 0);
    const auto reset = handle.DeviceIoControl(usbdrv::IOCTL_USB_ResetStreamPipe, nullptr, 0, nullptr, 0);
    std::printf("stream=0x%08X read=0x%08X event=0x%08X maxsize=0x%08X reset=0x%08X\n", stream, read, event,
                maxSize, reset);
    std::fflush(stdout);
    handle.CancelIo();
    return 0;
}

// Owns the camera on one handle, sets its stream up and leaves a stream read, a block-start notice and an
// event read pending on another; then gives the camera up: "close" (DeviceClose) or "drop" (the owning
// handle closes). Prints "left", then, once each pending request completes (at most 20 s each), what it got.
int Leave(const char* path, const std::string& how, char** layout) {
    devio::DeviceHandle owning, reading;
    if (owning.Open(path) != devio::STATUS_SUCCESS || reading.Open(path) != devio::STATUS_SUCCESS) return 1;
    std::uint32_t pid = os::Process::CurrentId();
    devio::Overlapped registration;
    if (owning.DeviceIoControl(usbdrv::IOCTL_USB_ProcessId, &pid, 4, nullptr, 0, registration) !=
            devio::STATUS_PENDING ||
        owning.DeviceIoControl(usbdrv::IOCTL_USB_DeviceOpen, &pid, 4, nullptr, 0) != devio::STATUS_SUCCESS)
        return 3;
    std::uint32_t values[8] = {pid};
    for (int i = 1; i < 8; ++i)
        values[i] = static_cast<std::uint32_t>(std::strtoul(layout[i - 1], nullptr, 0));
    std::vector<std::uint8_t> setup(usbdrv::kUsbStreamSetupRequestSize);
    std::memcpy(setup.data(), values, sizeof values);
    if (owning.DeviceIoControl(usbdrv::IOCTL_USB_SetStreamInfo, setup.data(), setup.size(), nullptr, 0) !=
        devio::STATUS_SUCCESS)
        return 4;
    std::vector<std::uint8_t> block(values[3] + 64, 0);
    std::uint8_t event[256] = {};
    devio::Overlapped streamWait, readWait, eventWait;
    const bool pending =
        reading.DeviceIoControl(usbdrv::IOCTL_USB_GetStream, nullptr, 0, nullptr, 0, streamWait) ==
            devio::STATUS_PENDING &&
        reading.ReadFile(block.data(), block.size(), readWait) == devio::STATUS_PENDING &&
        reading.DeviceIoControl(usbdrv::IOCTL_USB_GetEvent, nullptr, 0, event, sizeof event, eventWait) ==
            devio::STATUS_PENDING;
    if (!pending) return 5;
    if (how == "close") {
        if (owning.DeviceIoControl(usbdrv::IOCTL_USB_DeviceClose, &pid, 4, nullptr, 0) != devio::STATUS_SUCCESS)
            return 6;
    } else {
        owning.Close();
    }
    std::printf("left\n");
    std::fflush(stdout);
    auto outcome = [&](devio::Overlapped& wait, std::uint64_t* bytes = nullptr) {
        std::uint64_t ignored = 0;
        if (!wait.CompletionEvent().Wait(20000)) return devio::STATUS_PENDING;
        return reading.GetOverlappedResult(wait, bytes ? bytes : &ignored, true);
    };
    std::uint64_t bytes = 0;
    const auto stream = outcome(streamWait);
    const auto read = outcome(readWait, &bytes);
    const auto got = outcome(eventWait);
    std::printf("stream=0x%08X read=0x%08X bytes=%llu event=0x%08X\n", stream, read,
                static_cast<unsigned long long>(bytes), got);
    std::fflush(stdout);
    reading.CancelIo();
    return 0;
}

// Reads 4 bytes at address count times at once; prints "queued" once every read waits in the service,
// then, once all have completed, how many saw the value 0 (served before the value changed) and 1.
int Reads(const char* path, int count, std::uint64_t address) {
    devio::DeviceHandle handle;
    if (handle.Open(path) != devio::STATUS_SUCCESS) return 1;
    const std::uint32_t pid = os::Process::CurrentId();
    const usbdrv::UsbCmdRequest read{pid, usbdrv::kUsbCmdReadMemory, address, 4, {}};
    std::vector<devio::Overlapped> waits(static_cast<std::size_t>(count));
    std::vector<std::uint8_t> answers(9 * waits.size(), 0xEE);
    for (std::size_t i = 0; i < waits.size(); ++i) {
        const auto status =
            handle.DeviceIoControl(usbdrv::IOCTL_USB_SendCmd, &read, sizeof read, &answers[9 * i], 9, waits[i]);
        if (status != devio::STATUS_PENDING && status != devio::STATUS_SUCCESS) return 3;
    }
    std::printf("queued\n");
    std::fflush(stdout);
    int zeros = 0, ones = 0, failed = 0;
    for (std::size_t i = 0; i < waits.size(); ++i) {
        std::uint64_t bytes = 0;
        if (!waits[i].CompletionEvent().Wait(60000) ||
            handle.GetOverlappedResult(waits[i], &bytes, true) != devio::STATUS_SUCCESS) {
            ++failed;
            continue;
        }
        std::uint32_t value = 0;
        std::memcpy(&value, &answers[9 * i + 4], 4);
        zeros += value == 0 ? 1 : 0;
        ones += value == 1 ? 1 : 0;
    }
    std::printf("zeros=%d ones=%d failed=%d\n", zeros, ones, failed);
    std::fflush(stdout);
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    if (argc == 3 && std::strcmp(argv[1], "--attack") == 0) {
        devio::DeviceHandle handle;
        if (handle.Open(argv[2]) != devio::STATUS_SUCCESS) return 1;
        return Attack(handle);
    }
    if (argc == 11 && std::strcmp(argv[1], "--leave") == 0) return Leave(argv[2], argv[3], argv + 4);
    if (argc == 5 && std::strcmp(argv[1], "--reads") == 0)
        return Reads(argv[2], std::atoi(argv[3]), std::strtoull(argv[4], nullptr, 0));
    if (argc != 2) {
        std::fprintf(stderr, "usage: usbdrv_test_client <device socket>\n");
        return 2;
    }
    devio::DeviceHandle handle;
    if (handle.Open(argv[1]) != devio::STATUS_SUCCESS) return 1;
    const std::uint32_t pid = os::Process::CurrentId();
    devio::Overlapped registration;
    const auto registered =
        handle.DeviceIoControl(usbdrv::IOCTL_USB_ProcessId, &pid, 4, nullptr, 0, registration);
    const auto open = handle.DeviceIoControl(usbdrv::IOCTL_USB_DeviceOpen, &pid, 4, nullptr, 0);

    usbdrv::UsbCmdRequest read{pid, usbdrv::kUsbCmdReadMemory, 0x0004, 4, {}};
    std::uint8_t answer[9] = {};
    const auto readStatus =
        handle.DeviceIoControl(usbdrv::IOCTL_USB_SendCmd, &read, sizeof read, answer, sizeof answer);

    std::uint8_t write[28] = {};
    usbdrv::UsbCmdRequest header{pid, usbdrv::kUsbCmdWriteMemory, 0x0184, 4, {}};
    std::memcpy(write, &header, 18);
    const auto writeStatus =
        handle.DeviceIoControl(usbdrv::IOCTL_USB_SendCmd, write, sizeof write, answer, 4);

    std::printf("register=0x%08X open=0x%08X read=0x%08X write=0x%08X\n", registered, open, readStatus,
                writeStatus);
    std::fflush(stdout);
    return 0;
}
