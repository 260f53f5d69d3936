// End-to-end tests of the service's devices against simulated cameras on the virtual bus, each camera a
// process.
#include "U3vPackets.h"
#include "UsbDeviceControl.h"
#include "UsbDriver.h"

#include "devio/DeviceHandle.h"
#include "devio/ServiceControl.h"
#include "os/Process.h"
#include "os/SettingsStore.h"
#include "usb/VirtualBus.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <filesystem>
#include <functional>
#include <grp.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace qorcam::usbdrv {
namespace {

using namespace devio;

// Where the simulated camera keeps its maps.
constexpr std::uint64_t kSirm = 0x2000;
constexpr std::uint64_t kEirm = 0x3000;
constexpr std::uint64_t kAcquisitionStart = 0x10010;
constexpr std::uint32_t kMagicLeader = 0x4C563355;
constexpr std::uint32_t kMagicTrailer = 0x54563355;

bool WaitFor(const std::function<bool()>& condition, int timeoutMs = 5000) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (std::chrono::steady_clock::now() < end) {
        if (condition()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return condition();
}

std::uint32_t Le32(const std::uint8_t* p) {
    return p[0] | p[1] << 8 | p[2] << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

/// A private runtime root, simulated cameras in it and the service's driver in this process.
class UsbServiceTest : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/qorcam-usbdrv-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        root_ = pattern;
        setenv("QORCAM_ROOT", root_.c_str(), 1);
    }
    void TearDown() override {
        driver_.reset();
        cameras_.clear();
        unsetenv("QORCAM_ROOT");
        std::error_code ignored;
        std::filesystem::remove_all(root_, ignored);
    }

    os::Process& StartCamera(const std::string& name, std::vector<std::string> args = {}) {
        args.insert(args.begin(), "--name=" + name);
        auto process = os::Process::Spawn(QOR_U3V_SIM_CAMERA, args, {{"QORCAM_ROOT", root_}});
        EXPECT_TRUE(process.has_value());
        cameras_.push_back(std::move(*process));
        usb::VirtualBus bus;
        EXPECT_TRUE(WaitFor([&] {
            const auto present = bus.Enumerate();
            return std::find(present.begin(), present.end(), name) != present.end();
        })) << "camera "
            << name << " did not come up";
        return cameras_.back();
    }

    /// Starts the driver and waits for the camera's device socket.
    std::string StartDriver(const std::string& name, UsbParameters parameters = {}) {
        driver_ = std::make_unique<UsbDriver>(std::make_unique<usb::VirtualBus>(), parameters);
        EXPECT_TRUE(driver_->Start());
        const auto path = DeviceSocketPath(name);
        EXPECT_TRUE(WaitFor([&] { return std::filesystem::exists(path); })) << path;
        return path.string();
    }

    std::string SimCommand(const std::string& name, const std::string& text) {
        usb::VirtualBus bus;
        auto device = bus.OpenVirtual(name);
        if (!device) return {};
        return device->SimCommand(text).value_or("");
    }

    /// Registers this process on the handle (the request stays pending) and takes the camera.
    void Own(DeviceHandle& handle, Overlapped& registration) {
        const std::uint32_t pid = os::Process::CurrentId();
        ASSERT_EQ(handle.DeviceIoControl(IOCTL_USB_ProcessId, &pid, 4, nullptr, 0, registration),
                  STATUS_PENDING);
        ASSERT_EQ(handle.DeviceIoControl(IOCTL_USB_DeviceOpen, &pid, 4, nullptr, 0), STATUS_SUCCESS);
    }

    static NtStatus Read(DeviceHandle& handle, std::uint64_t address, std::uint16_t length,
                         std::vector<std::uint8_t>& answer, std::uint64_t* bytes = nullptr) {
        const UsbCmdRequest request{os::Process::CurrentId(), kUsbCmdReadMemory, address, length, {}};
        answer.assign(length + 5u, 0xEE);
        return handle.DeviceIoControl(IOCTL_USB_SendCmd, &request, sizeof request, answer.data(),
                                      answer.size(), bytes);
    }
    static std::string ReadString(DeviceHandle& handle, std::uint64_t address) {
        std::vector<std::uint8_t> answer;
        if (Read(handle, address, 64, answer) != STATUS_SUCCESS) return "<failed>";
        return std::string(reinterpret_cast<const char*>(answer.data() + 4));
    }
    static std::uint32_t Read32(DeviceHandle& handle, std::uint64_t address) {
        std::vector<std::uint8_t> answer;
        EXPECT_EQ(Read(handle, address, 4, answer), STATUS_SUCCESS);
        return Le32(answer.data() + 4);
    }
    static NtStatus Write32(DeviceHandle& handle, std::uint64_t address, std::uint32_t value,
                            std::uint16_t* cameraStatus = nullptr) {
        std::uint8_t input[28] = {};
        const UsbCmdRequest header{os::Process::CurrentId(), kUsbCmdWriteMemory, address, 4, {}};
        std::memcpy(input, &header, 18);
        std::memcpy(input + 18, &value, 4);
        std::uint8_t answer[4] = {};
        const NtStatus status =
            handle.DeviceIoControl(IOCTL_USB_SendCmd, input, sizeof input, answer, sizeof answer);
        if (cameraStatus) *cameraStatus = static_cast<std::uint16_t>(answer[0] | answer[1] << 8);
        return status;
    }

    /// Where one block lands: the payload, then its leader 16 bytes on, then its trailer.
    struct StreamShape {
        std::uint32_t payload = 0, leaderOffset = 0, trailerOffset = 0, length = 0;
    };
    /// Reads the camera's stream layout and sets it up; length 0 when the service refused it.
    static StreamShape SetUpStream(DeviceHandle& handle) {
        StreamShape shape;
        shape.payload = Read32(handle, kSirm + 0x08);
        const std::uint32_t size = Read32(handle, kSirm + 0x1C);
        const std::uint32_t count = Read32(handle, kSirm + 0x20);
        const std::uint32_t final1 = Read32(handle, kSirm + 0x24);
        const std::uint32_t final2 = Read32(handle, kSirm + 0x28);
        EXPECT_EQ(std::uint64_t{size} * count + final1 + final2, shape.payload);
        shape.leaderOffset = shape.payload + 16;
        shape.trailerOffset = shape.leaderOffset + 64;
        const UsbStreamSetup setup{os::Process::CurrentId(), shape.payload, shape.leaderOffset, shape.trailerOffset,
                                   size,                     count,         final1,             final2};
        std::vector<std::uint8_t> input(kUsbStreamSetupRequestSize);
        std::memcpy(input.data(), &setup, sizeof setup);
        if (handle.DeviceIoControl(IOCTL_USB_SetStreamInfo, input.data(), input.size(), nullptr, 0) ==
            STATUS_SUCCESS)
            shape.length = shape.trailerOffset + 64;
        return shape;
    }

    /// Starts the test client as nobody (uid 65534) through the runtime root, which becomes
    /// world-readable; its standard output comes through the returned descriptor.
    struct Child {
        pid_t pid = -1;
        int output = -1;
    };
    Child RunAsNobody(const std::vector<std::string>& args) {
        chmod(root_.c_str(), 0755);
        const std::string program = root_ + "/usbdrv_test_client";
        std::error_code ignored;
        std::filesystem::copy_file(USBDRV_TEST_CLIENT, program, std::filesystem::copy_options::skip_existing,
                                   ignored);
        int pipeFds[2];
        if (pipe(pipeFds) != 0) return {};
        std::vector<char*> argv{const_cast<char*>(program.c_str())};
        for (const auto& a : args)
            argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        const std::string env = "QORCAM_ROOT=" + root_;
        char* envp[] = {const_cast<char*>(env.c_str()), nullptr};
        const pid_t child = fork();
        if (child == 0) {
            if (dup2(pipeFds[1], 1) < 0 || setgroups(0, nullptr) != 0 || setgid(65534) != 0 || setuid(65534) != 0)
                _exit(126);
            execve(program.c_str(), argv.data(), envp);
            _exit(127);
        }
        close(pipeFds[1]);
        if (child < 0) {
            close(pipeFds[0]);
            return {};
        }
        return {child, pipeFds[0]};
    }
    /// One line of the child's output (without its newline); empty at its end.
    static std::string ReadLine(int fd) {
        std::string line;
        char c;
        while (read(fd, &c, 1) == 1 && c != '\n')
            line += c;
        return line;
    }
    /// The rest of the child's output; reaps it.
    static std::string ReadAll(Child child) {
        std::string output;
        if (child.pid < 0) return "<not started>";
        char text[256];
        ssize_t n;
        while ((n = read(child.output, text, sizeof text)) > 0)
            output.append(text, static_cast<std::size_t>(n));
        close(child.output);
        int status = 0;
        waitpid(child.pid, &status, 0);
        if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
            output += "<exit " + std::to_string(WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status)) + ">";
        return output;
    }

    std::string root_;
    std::deque<os::Process> cameras_;
    std::unique_ptr<UsbDriver> driver_;
};

TEST_F(UsbServiceTest, ArrivingCameraGetsADeviceThatAnswersVersionInfoAndRegisterReads) {
    StartCamera("cam1", {"--vendor=Acme Vision", "--model=U3-Test", "--serial=4711", "--guid=00A1B2C30000"});
    const std::string path = StartDriver("cam1");
    DeviceHandle handle;
    ASSERT_EQ(handle.Open(path), STATUS_SUCCESS);

    UsbVersionAnswer version{};
    std::uint64_t bytes = 0;
    ASSERT_EQ(handle.DeviceIoControl(IOCTL_USB_GetVersion, nullptr, 0, &version, sizeof version, &bytes),
              STATUS_SUCCESS);
    EXPECT_EQ(version.version, kUsbInterfaceVersion);
    EXPECT_EQ(bytes, 8u);

    UsbDeviceInfoRecord info{};
    std::memset(&info, 0x77, sizeof info);
    ASSERT_EQ(handle.DeviceIoControl(IOCTL_USB_GetDeviceInfo, nullptr, 0, &info, sizeof info, &bytes),
              STATUS_SUCCESS);
    EXPECT_EQ(info.controlOutMaxPacketSize, 1024u);
    EXPECT_EQ(std::u16string(info.deviceGuid), u"00A1B2C30000");
    EXPECT_EQ(info.reserved[0], 0x77) << "the last two bytes are not written";

    // The bootstrap strings, read by any process without owning the camera.
    EXPECT_EQ(ReadString(handle, 0x0004), "Acme Vision");
    EXPECT_EQ(ReadString(handle, 0x0044), "U3-Test");
    EXPECT_EQ(ReadString(handle, 0x0144), "4711");
    std::vector<std::uint8_t> answer;
    ASSERT_EQ(Read(handle, 0x0000, 4, answer, &bytes), STATUS_SUCCESS);
    EXPECT_EQ(bytes, 8u);
    EXPECT_EQ(answer[0] | answer[1] << 8, 0) << "camera status";
    EXPECT_EQ(answer[2] | answer[3] << 8, 4) << "data bytes";
    EXPECT_EQ(answer[8], 0) << "a zero behind the data";

    // A lost acknowledge is made up by a resend; a pending acknowledge extends the wait.
    EXPECT_EQ(SimCommand("cam1", "drop-ack 1"), "ok");
    EXPECT_EQ(ReadString(handle, 0x0044), "U3-Test");
    EXPECT_EQ(SimCommand("cam1", "pending-ack 400 150 2"), "ok");
    EXPECT_EQ(ReadString(handle, 0x0004), "Acme Vision");
}

TEST_F(UsbServiceTest, RequestsAreCheckedAgainstTheirSizesAndCodes) {
    StartCamera("cam1", {"--no-device-info"});
    const std::string path = StartDriver("cam1");
    DeviceHandle handle;
    ASSERT_EQ(handle.Open(path), STATUS_SUCCESS);
    UsbDeviceInfoRecord info{};
    std::memset(&info, 0x77, sizeof info);
    ASSERT_EQ(handle.DeviceIoControl(IOCTL_USB_GetDeviceInfo, nullptr, 0, &info, sizeof info),
              STATUS_SUCCESS);
    EXPECT_EQ(std::u16string(info.deviceGuid), u"") << "no device-info descriptor: an empty GUID text";

    std::vector<std::uint8_t> buffer(2048);
    const std::uint32_t pid = os::Process::CurrentId();
    struct Case {
        const char* name;
        std::uint32_t code;
        std::size_t in, out;
        NtStatus expected;
    };
    const std::vector<Case> cases = {
        {"version, 7 bytes out", IOCTL_USB_GetVersion, 0, 7, STATUS_BUFFER_TOO_SMALL},
        {"device info, 31 bytes out", IOCTL_USB_GetDeviceInfo, 0, 31, STATUS_BUFFER_TOO_SMALL},
        {"controller name, 403 bytes out", IOCTL_USB_GetControllerName, 0, 403, STATUS_BUFFER_TOO_SMALL},
        {"controller name", IOCTL_USB_GetControllerName, 0, 404, STATUS_SUCCESS},
        {"command timeout, 7 bytes in", IOCTL_USB_SetCmdTimeout, 7, 0, STATUS_BUFFER_TOO_SMALL},
        {"max sizes, 15 bytes in", IOCTL_USB_SetMaxSize, 15, 0, STATUS_BUFFER_TOO_SMALL},
        {"max sizes of zeros", IOCTL_USB_SetMaxSize, 16, 0, STATUS_SUCCESS},
        {"open, 3 bytes in", IOCTL_USB_DeviceOpen, 3, 0, STATUS_BUFFER_TOO_SMALL},
        {"open unregistered", IOCTL_USB_DeviceOpen, 4, 0, STATUS_UNSUCCESSFUL},
        {"close without owner", IOCTL_USB_DeviceClose, 4, 0, STATUS_USB_DEVICE_OWNED},
        {"stream info without owner", IOCTL_USB_SetStreamInfo, 32, 0, STATUS_USB_DEVICE_OWNED},
        {"stream info, 31 bytes in", IOCTL_USB_SetStreamInfo, 31, 0, STATUS_BUFFER_TOO_SMALL},
        {"command, 23 bytes in", IOCTL_USB_SendCmd, 23, 64, STATUS_BUFFER_TOO_SMALL},
        {"message, 1011 bytes out", IOCTL_USB_GetMessage, 0, 1011, STATUS_BUFFER_TOO_SMALL},
        {"message level", IOCTL_USB_SetMessageEnable, 4, 0, STATUS_SUCCESS},
        {"stream pipe reset", IOCTL_USB_ResetStreamPipe, 0, 0, STATUS_SUCCESS},
        {"unknown code", UsbCtlCode(0xA06, kUsbMethodInDirect), 0, 0, STATUS_INVALID_DEVICE_REQUEST},
    };
    for (const auto& c : cases) {
        std::memset(buffer.data(), 0, buffer.size());
        std::memcpy(buffer.data(), &pid, 4);
        EXPECT_EQ(handle.DeviceIoControl(c.code, buffer.data(), c.in, buffer.data() + 1024, c.out),
                  c.expected)
            << c.name;
    }

    // Reads: the output must hold the data and the 4-byte head; writes need the owner.
    UsbCmdRequest read{pid, kUsbCmdReadMemory, 0, 64, {}};
    EXPECT_EQ(handle.DeviceIoControl(IOCTL_USB_SendCmd, &read, sizeof read, buffer.data(), 67),
              STATUS_BUFFER_TOO_SMALL);
    EXPECT_EQ(Write32(handle, 0x0184, 1), STATUS_UNSUCCESSFUL);
    read.operation = 9;
    EXPECT_EQ(handle.DeviceIoControl(IOCTL_USB_SendCmd, &read, sizeof read, buffer.data(), 68),
              STATUS_INVALID_PARAMETER);

    // A message request stays pending until it is cancelled.
    Overlapped message;
    ASSERT_EQ(handle.DeviceIoControl(IOCTL_USB_GetMessage, nullptr, 0, buffer.data(), 1012, message),
              STATUS_PENDING);
    EXPECT_FALSE(message.CompletionEvent().Wait(100));
    handle.CancelIo();
    std::uint64_t bytes = 0;
    EXPECT_EQ(handle.GetOverlappedResult(message, &bytes, true), STATUS_CANCELLED);
}

TEST_F(UsbServiceTest, OwnershipBelongsToOneProcessUntilItsHandleCloses) {
    StartCamera("cam1");
    const std::string path = StartDriver("cam1");
    auto second = [&] {
        std::string output;
        FILE* pipe = popen((std::string(USBDRV_TEST_CLIENT) + " " + path).c_str(), "r");
        if (!pipe) return output;
        char line[256];
        while (std::fgets(line, sizeof line, pipe))
            output += line;
        pclose(pipe);
        return output;
    };
    {
        DeviceHandle owner;
        ASSERT_EQ(owner.Open(path), STATUS_SUCCESS);
        Overlapped registration;
        Own(owner, registration);
        const std::uint32_t pid = os::Process::CurrentId();
        EXPECT_EQ(owner.DeviceIoControl(IOCTL_USB_DeviceOpen, &pid, 4, nullptr, 0), STATUS_USB_DEVICE_OWNED)
            << "the owner itself can't open twice";

        // Another process reads but can neither take the camera nor write.
        EXPECT_EQ(second(), "register=0x00000103 open=0xC000020E read=0x00000000 write=0xC0000001\n");

        std::uint16_t cameraStatus = 0xFFFF;
        EXPECT_EQ(Write32(owner, 0x0184, 0x00636261, &cameraStatus), STATUS_SUCCESS);
        EXPECT_EQ(cameraStatus, 0);
        EXPECT_EQ(ReadString(owner, 0x0184), "abc");

        // Close and open again; a process id other than the caller's own counts as not registered.
        EXPECT_EQ(owner.DeviceIoControl(IOCTL_USB_DeviceClose, &pid, 4, nullptr, 0), STATUS_SUCCESS);
        const std::uint32_t other = pid + 1;
        EXPECT_EQ(owner.DeviceIoControl(IOCTL_USB_DeviceOpen, &other, 4, nullptr, 0), STATUS_UNSUCCESSFUL);
        Overlapped foreign;
        EXPECT_EQ(owner.DeviceIoControl(IOCTL_USB_ProcessId, &other, 4, nullptr, 0, foreign),
                  STATUS_UNSUCCESSFUL);
        EXPECT_EQ(owner.DeviceIoControl(IOCTL_USB_DeviceOpen, &pid, 4, nullptr, 0), STATUS_SUCCESS);
    } // the owner's handle closes without DeviceClose
    EXPECT_EQ(second(), "register=0x00000103 open=0x00000000 read=0x00000000 write=0x00000000\n");
}

TEST_F(UsbServiceTest, OneReadReceivesABlockWithLeaderPayloadAndTrailerInPlace) {
    StartCamera("cam1", {"--width=64", "--height=16", "--fps=20"});
    const std::string path = StartDriver("cam1");
    DeviceHandle handle;
    ASSERT_EQ(handle.Open(path), STATUS_SUCCESS);
    Overlapped registration;
    Own(handle, registration);

    const StreamShape shape = SetUpStream(handle);
    const std::uint32_t payload = shape.payload;
    ASSERT_EQ(payload, 64u * 16u);
    const std::uint32_t leaderOffset = shape.leaderOffset, trailerOffset = shape.trailerOffset,
                        length = shape.length;
    ASSERT_NE(length, 0u);

    auto region = Region::Create(length);
    ASSERT_TRUE(region);
    std::memset(region->Data(), 0xCD, length);
    std::uint32_t regionId = 0;
    ASSERT_EQ(handle.RegisterRegion(*region, &regionId), STATUS_SUCCESS);
    Overlapped notice, block;
    ASSERT_EQ(handle.DeviceIoControl(IOCTL_USB_GetStream, nullptr, 0, nullptr, 0, notice), STATUS_PENDING);
    ASSERT_EQ(handle.ReadFile(RegionSpan{regionId, 0, length}, block), STATUS_PENDING);

    ASSERT_EQ(Write32(handle, kSirm + 0x04, 1), STATUS_SUCCESS);
    ASSERT_EQ(Write32(handle, kAcquisitionStart, 1), STATUS_SUCCESS);
    std::uint64_t bytes = 0;
    ASSERT_TRUE(block.CompletionEvent().Wait(5000));
    EXPECT_EQ(handle.GetOverlappedResult(block, &bytes, true), STATUS_SUCCESS);
    EXPECT_EQ(bytes, payload) << "payload bytes only, without leader and trailer";
    EXPECT_EQ(handle.GetOverlappedResult(notice, &bytes, true), STATUS_SUCCESS) << "the leader's notice";

    const std::uint8_t* data = region->Data();
    ASSERT_EQ(Le32(data + leaderOffset), kMagicLeader);
    const std::uint32_t blockId = Le32(data + leaderOffset + 8);
    EXPECT_EQ(Le32(data + leaderOffset + 32), 64u) << "width";
    EXPECT_EQ(Le32(data + leaderOffset + 36), 16u) << "height";
    ASSERT_EQ(Le32(data + trailerOffset), kMagicTrailer);
    EXPECT_EQ(Le32(data + trailerOffset + 8), blockId);
    EXPECT_EQ(Le32(data + trailerOffset + 20), payload) << "valid payload size";
    bool ramp = true;
    for (std::uint32_t y = 0; y < 16; ++y)
        for (std::uint32_t x = 0; x < 64; ++x)
            ramp = ramp && data[y * 64 + x] == static_cast<std::uint8_t>(x + y + blockId);
    EXPECT_TRUE(ramp) << "the payload landed in place";
    EXPECT_EQ(data[payload], 0xCD) << "nothing written between payload and leader";

    // A read whose buffer ends before the trailer offset has no layout and is refused.
    Overlapped shortRead;
    EXPECT_EQ(handle.ReadFile(RegionSpan{regionId, 0, trailerOffset}, shortRead), STATUS_INVALID_PARAMETER);

    // A read in flight comes back cancelled, once its transfers are back.
    Overlapped cancelled;
    ASSERT_EQ(Write32(handle, kAcquisitionStart + 4, 1), STATUS_SUCCESS);
    std::this_thread::sleep_for(std::chrono::milliseconds(150)); // the block already sent is taken by nobody
    const std::string status = SimCommand("cam1", "status");
    ASSERT_EQ(handle.ReadFile(RegionSpan{regionId, 0, length}, cancelled), STATUS_PENDING);
    handle.CancelIo();
    NtStatus end = handle.GetOverlappedResult(cancelled, &bytes, true);
    EXPECT_TRUE(end == STATUS_CANCELLED || end == STATUS_SUCCESS) << std::hex << end << " " << status;

    // A halted stream pipe fails the first transfer; the others are called back and the read ends with
    // that first failure.
    ASSERT_EQ(SimCommand("cam1", "stall 131"), "ok");
    Overlapped failing;
    ASSERT_EQ(handle.ReadFile(RegionSpan{regionId, 0, length}, failing), STATUS_PENDING);
    ASSERT_TRUE(failing.CompletionEvent().Wait(5000));
    EXPECT_EQ(handle.GetOverlappedResult(failing, &bytes, true), STATUS_UNSUCCESSFUL);
    EXPECT_EQ(handle.DeviceIoControl(IOCTL_USB_ResetStreamPipe, nullptr, 0, nullptr, 0), STATUS_SUCCESS);
}

TEST_F(UsbServiceTest, AnotherUsersProcessReachesNeitherTheStreamNorThePipesOfTheOwner) {
    if (geteuid() != 0) GTEST_SKIP() << "running a process as another user needs root";
    StartCamera("cam1", {"--width=64", "--height=16", "--fps=20"});
    const std::string path = StartDriver("cam1");
    DeviceHandle handle;
    ASSERT_EQ(handle.Open(path), STATUS_SUCCESS);
    Overlapped registration;
    Own(handle, registration);
    const StreamShape shape = SetUpStream(handle);
    const std::uint32_t payload = shape.payload, length = shape.length;
    ASSERT_NE(length, 0u);
    auto region = Region::Create(length);
    ASSERT_TRUE(region);
    std::uint32_t regionId = 0;
    ASSERT_EQ(handle.RegisterRegion(*region, &regionId), STATUS_SUCCESS);
    ASSERT_EQ(Write32(handle, kSirm + 0x04, 1), STATUS_SUCCESS);
    ASSERT_EQ(Write32(handle, kAcquisitionStart, 1), STATUS_SUCCESS);
    auto oneBlock = [&] {
        Overlapped block;
        std::uint64_t bytes = 0;
        if (handle.ReadFile(RegionSpan{regionId, 0, length}, block) != STATUS_PENDING) return false;
        return block.CompletionEvent().Wait(5000) && handle.GetOverlappedResult(block, &bytes, true) == STATUS_SUCCESS &&
               bytes == payload;
    };
    ASSERT_TRUE(oneBlock());

    // The other user's process: nobody, through the same (world-reachable) device socket.
    const std::string output = ReadAll(RunAsNobody({"--attack", path}));
    EXPECT_EQ(output,
              "stream=0xC0000022 read=0xC0000022 event=0xC0000022 maxsize=0xC0000022 reset=0xC0000022\n");
    EXPECT_TRUE(oneBlock()) << "the owner streams on";
    EXPECT_TRUE(oneBlock());
}

TEST_F(UsbServiceTest, ReadsPendingWhenTheOwnerLeavesFailAndGetNothingOfTheNextOwner) {
    if (geteuid() != 0) GTEST_SKIP() << "running a process as another user needs root";
    StartCamera("cam1", {"--width=64", "--height=16", "--fps=20"});
    const std::string path = StartDriver("cam1");
    std::vector<std::string> layout;
    {
        DeviceHandle probe;
        ASSERT_EQ(probe.Open(path), STATUS_SUCCESS);
        const std::uint32_t payload = Read32(probe, kSirm + 0x08);
        layout = {std::to_string(payload),
                  std::to_string(payload + 16),
                  std::to_string(payload + 80),
                  std::to_string(Read32(probe, kSirm + 0x1C)),
                  std::to_string(Read32(probe, kSirm + 0x20)),
                  std::to_string(Read32(probe, kSirm + 0x24)),
                  std::to_string(Read32(probe, kSirm + 0x28))};
    }
    // nobody owns the camera with a stream read, a block-start notice and an event read pending on a second
    // handle, then gives the camera up; root takes it and streams and sends an event.
    for (const std::string how : {"close", "drop"}) {
        SCOPED_TRACE(how);
        std::vector<std::string> args = {"--leave", path, how};
        args.insert(args.end(), layout.begin(), layout.end());
        const Child child = RunAsNobody(args);
        ASSERT_GE(child.pid, 0);
        const std::string left = ReadLine(child.output);
        EXPECT_EQ(left, "left");
        {
            DeviceHandle handle;
            ASSERT_EQ(handle.Open(path), STATUS_SUCCESS);
            Overlapped registration;
            Own(handle, registration);
            const StreamShape shape = SetUpStream(handle);
            ASSERT_NE(shape.length, 0u);
            std::vector<std::uint8_t> room(shape.length);
            ASSERT_EQ(Write32(handle, kEirm, 1), STATUS_SUCCESS);
            ASSERT_EQ(Write32(handle, kSirm + 0x04, 1), STATUS_SUCCESS);
            ASSERT_EQ(Write32(handle, kAcquisitionStart, 1), STATUS_SUCCESS);
            ASSERT_EQ(SimCommand("cam1", "event 0x9001"), "ok");
            // Whole blocks reach root (a block cut short by the last round's stop may come first).
            int whole = 0;
            for (int i = 0; i < 6 && whole < 2; ++i) {
                Overlapped block;
                std::uint64_t bytes = 0;
                ASSERT_EQ(handle.ReadFile(room.data(), room.size(), block), STATUS_PENDING);
                ASSERT_TRUE(block.CompletionEvent().Wait(10000)) << "no block for root";
                if (handle.GetOverlappedResult(block, &bytes, true) == STATUS_SUCCESS && bytes == shape.payload)
                    ++whole;
            }
            EXPECT_EQ(whole, 2) << "root streams";
            ASSERT_EQ(Write32(handle, kAcquisitionStart + 4, 1), STATUS_SUCCESS);
        }
        EXPECT_EQ(ReadAll(child), "stream=0xC0000022 read=0xC0000022 bytes=0 event=0xC0000022\n");
    }
}

TEST_F(UsbServiceTest, AnotherUsersQueueOfReadsHoldsUpRootsCommandByOneAtMost) {
    if (geteuid() != 0) GTEST_SKIP() << "running a process as another user needs root";
    StartCamera("cam1");
    const std::string path = StartDriver("cam1");
    DeviceHandle handle, holder;
    ASSERT_EQ(handle.Open(path), STATUS_SUCCESS);
    ASSERT_EQ(holder.Open(path), STATUS_SUCCESS);
    Overlapped registration;
    Own(handle, registration);
    ASSERT_EQ(Write32(handle, 0x0184, 0), STATUS_SUCCESS);

    // A read of root's that the camera holds (its answer a minute away)
    // keeps the command pipe busy while the other user queues 4000 reads
    // and root its write behind them.
    ASSERT_EQ(SimCommand("cam1", "pending-ack 65000 60000 1"), "ok");
    const UsbCmdRequest read{os::Process::CurrentId(), kUsbCmdReadMemory, 0x0184, 4, {}};
    std::uint8_t heldAnswer[9] = {};
    Overlapped held;
    ASSERT_EQ(holder.DeviceIoControl(IOCTL_USB_SendCmd, &read, sizeof read, heldAnswer, sizeof heldAnswer, held),
              STATUS_PENDING);
    Child reader = RunAsNobody({"--reads", path, "4000", "0x0184"});
    ASSERT_EQ(ReadLine(reader.output), "queued");
    std::uint8_t input[28] = {};
    const UsbCmdRequest header{os::Process::CurrentId(), kUsbCmdWriteMemory, 0x0184, 4, {}};
    std::memcpy(input, &header, 18);
    input[18] = 1;
    std::uint8_t answer[4] = {};
    Overlapped write;
    ASSERT_EQ(handle.DeviceIoControl(IOCTL_USB_SendCmd, input, sizeof input, answer, sizeof answer, write),
              STATUS_PENDING);

    // Once the held read gives up, the users take turns: the write goes to
    // the camera after one of the other user's reads, not after all 4000.
    ASSERT_EQ(holder.CancelIo(), STATUS_SUCCESS);
    ASSERT_TRUE(write.CompletionEvent().Wait(60000));
    std::uint64_t bytes = 0;
    EXPECT_EQ(handle.GetOverlappedResult(write, &bytes, true), STATUS_SUCCESS);
    const std::string counts = ReadAll(reader);
    int zeros = -1, ones = -1, failed = -1;
    ASSERT_EQ(std::sscanf(counts.c_str(), "zeros=%d ones=%d failed=%d", &zeros, &ones, &failed), 3) << counts;
    EXPECT_EQ(failed, 0);
    EXPECT_LE(zeros, 2) << "reads of the other user served before root's write";
    EXPECT_EQ(zeros + ones, 4000);
}

TEST_F(UsbServiceTest, EventsReachOneParkedRequestOnce) {
    StartCamera("cam1");
    const std::string path = StartDriver("cam1");
    DeviceHandle handle;
    ASSERT_EQ(handle.Open(path), STATUS_SUCCESS);
    Overlapped registration;
    Own(handle, registration);

    // Larger acknowledge and event buffers: the acknowledge read and the event reader are made again.
    const UsbMaxSizes sizes{500, 4096, 4096, 4096};
    ASSERT_EQ(handle.DeviceIoControl(IOCTL_USB_SetMaxSize, &sizes, sizeof sizes, nullptr, 0), STATUS_SUCCESS);
    EXPECT_EQ(ReadString(handle, 0x0044), "QorU3vSim");

    std::uint8_t small[16], first[256], second[256];
    Overlapped tooSmall, one, two;
    ASSERT_EQ(handle.DeviceIoControl(IOCTL_USB_GetEvent, nullptr, 0, small, sizeof small, tooSmall),
              STATUS_PENDING);
    ASSERT_EQ(handle.DeviceIoControl(IOCTL_USB_GetEvent, nullptr, 0, first, sizeof first, one),
              STATUS_PENDING);
    ASSERT_EQ(Write32(handle, kEirm, 1), STATUS_SUCCESS);

    std::uint64_t bytes = 0;
    ASSERT_EQ(SimCommand("cam1", "event 0x9001"), "ok");
    EXPECT_EQ(handle.GetOverlappedResult(tooSmall, &bytes, true), STATUS_BUFFER_TOO_SMALL);
    EXPECT_FALSE(one.CompletionEvent().Wait(100)) << "an event lost to a short buffer is not offered again";

    // The same event twice (same request id) reaches the client once.
    ASSERT_EQ(SimCommand("cam1", "event 0x9002 repeat"), "ok");
    ASSERT_EQ(handle.GetOverlappedResult(one, &bytes, true), STATUS_SUCCESS);
    ASSERT_EQ(bytes, 24u);
    EXPECT_EQ(Le32(first), kU3vPrefixEvent);
    EXPECT_EQ(first[14] | first[15] << 8, 0x9002) << "event id";
    ASSERT_EQ(handle.DeviceIoControl(IOCTL_USB_GetEvent, nullptr, 0, second, sizeof second, two),
              STATUS_PENDING);
    EXPECT_FALSE(two.CompletionEvent().Wait(200)) << "the repeat is not delivered";
    ASSERT_EQ(SimCommand("cam1", "event 0x9003"), "ok");
    ASSERT_EQ(handle.GetOverlappedResult(two, &bytes, true), STATUS_SUCCESS);
    EXPECT_EQ(second[14] | second[15] << 8, 0x9003);
}

TEST_F(UsbServiceTest, KilledCameraCompletesWaitingRequestsAndLosesItsSocket) {
    // Without an event interface the camera still starts; event requests wait until it goes.
    os::Process& camera = StartCamera("cam1", {"--width=64", "--height=16", "--no-event-interface"});
    const std::string path = StartDriver("cam1");
    DeviceHandle handle;
    ASSERT_EQ(handle.Open(path), STATUS_SUCCESS);
    Overlapped registration;
    Own(handle, registration);
    UsbStreamSetup setup{os::Process::CurrentId(), 1024, 1024, 1100, 1024, 1, 0, 0};
    ASSERT_EQ(handle.DeviceIoControl(IOCTL_USB_SetStreamInfo, &setup, sizeof setup, nullptr, 0),
              STATUS_SUCCESS);

    std::vector<std::uint8_t> event(256), message(1012), block(1200);
    Overlapped eventWait, noticeWait, messageWait, readWait;
    ASSERT_EQ(handle.DeviceIoControl(IOCTL_USB_GetEvent, nullptr, 0, event.data(), event.size(), eventWait),
              STATUS_PENDING);
    ASSERT_EQ(handle.DeviceIoControl(IOCTL_USB_GetStream, nullptr, 0, nullptr, 0, noticeWait),
              STATUS_PENDING);
    ASSERT_EQ(
        handle.DeviceIoControl(IOCTL_USB_GetMessage, nullptr, 0, message.data(), message.size(), messageWait),
        STATUS_PENDING);
    ASSERT_EQ(handle.ReadFile(block.data(), block.size(), readWait), STATUS_PENDING);

    camera.Kill(SIGKILL);
    EXPECT_TRUE(WaitFor([&] { return !std::filesystem::exists(path); }))
        << "the device socket goes with the camera";
    std::uint64_t bytes = 0;
    for (Overlapped* waiting : {&registration, &eventWait, &noticeWait, &messageWait, &readWait}) {
        ASSERT_TRUE(waiting->CompletionEvent().Wait(5000));
        const NtStatus status = handle.GetOverlappedResult(*waiting, &bytes, true);
        EXPECT_TRUE(status == STATUS_DEVICE_NOT_CONNECTED || status == STATUS_CANCELLED)
            << std::hex << status;
    }
    EXPECT_NE(handle.DeviceIoControl(IOCTL_USB_GetVersion, nullptr, 0, event.data(), 8), STATUS_SUCCESS);
    EXPECT_TRUE(driver_->Devices().empty());
}

TEST_F(UsbServiceTest, ServiceProgramServesCamerasWithItsSettings) {
    // Two attempts per command, so two lost acknowledges fail a command.
    os::SettingsStore settings(os::SettingsStore::Hive::Machine);
    ASSERT_TRUE(settings.SetDword(kUsbParametersKey, "CMDRETRY", 2));
    ASSERT_TRUE(settings.SetDword(kUsbParametersKey, "CMDTIMEOUT", 50));
    StartCamera("cam1", {"--drop-acks=2"});
    setenv("QORCAM_USB_BUS", "virtual", 1);
    const std::string path = DeviceSocketPath("cam1").string();
    devio::ServiceControl service({"QORUSBDRV", QOR_USB_DRV, {}, path});
    std::string error;
    ASSERT_TRUE(service.Start(&error)) << error;

    DeviceHandle handle;
    ASSERT_EQ(handle.Open(path), STATUS_SUCCESS);
    UsbVersionAnswer version{};
    ASSERT_EQ(handle.DeviceIoControl(IOCTL_USB_GetVersion, nullptr, 0, &version, sizeof version),
              STATUS_SUCCESS);
    EXPECT_EQ(version.version, kUsbInterfaceVersion);
    std::vector<std::uint8_t> answer;
    EXPECT_EQ(Read(handle, 0x0044, 64, answer), STATUS_RETRY);
    EXPECT_EQ(ReadString(handle, 0x0044), "QorU3vSim");

    handle.Close();
    EXPECT_TRUE(service.Stop(&error)) << error;
    EXPECT_FALSE(std::filesystem::exists(path)) << "the socket goes with the service";
    unsetenv("QORCAM_USB_BUS");
}

} // namespace
} // namespace qorcam::usbdrv
