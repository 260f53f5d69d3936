// An unprivileged local user's attacks on another process's GigE camera, stream and named objects.
#include "GigeIoctl.h"
#include "GigeRecords.h"
#include "devio/DeviceHandle.h"

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <string>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <vector>

using namespace qorcam;
using namespace qorcam::gige;

namespace {

constexpr uint32_t kAccessDenied = 0xC0000022;
int failures = 0;

// One line per attack: "ok <name>" when it was refused as it must be.
void Verdict(const char* name, bool refused, const std::string& detail) {
    std::printf("%s %s%s%s\n", refused ? "ok" : "FAILED", name, detail.empty() ? "" : ": ", detail.c_str());
    std::fflush(stdout);
    failures += refused ? 0 : 1;
}

std::string Hex(uint32_t status) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08X", status);
    return text;
}

template <class T> std::vector<uint8_t> Bytes(const T& value) {
    const auto* p = reinterpret_cast<const uint8_t*>(&value);
    return {p, p + sizeof value};
}

bool Exists(const std::string& path) {
    struct stat st {};
    return stat(path.c_str(), &st) == 0;
}

} // namespace

// Usage: rig_attacker <victim pid> <camera ip, network order> <victim's stream port> <run folder> <signal base>
// Runs every attack, then holds as many connections as it gets and creates <signal base>.held; waits
// (at most 30 s) for <signal base>.go, then loads the service with large pending requests. Exit 0 when
// every attack was refused.
int main(int argc, char** argv) {
    if (argc < 6) return 2;
    const uint32_t victim = static_cast<uint32_t>(std::strtoul(argv[1], nullptr, 10));
    const uint32_t camera = static_cast<uint32_t>(std::strtoul(argv[2], nullptr, 10));
    const uint16_t port = static_cast<uint16_t>(std::strtoul(argv[3], nullptr, 10));
    const std::string run = argv[4];
    const std::string signal = argv[5];
    const uint32_t self = static_cast<uint32_t>(::getpid());

    devio::DeviceHandle h;
    if (h.Open("\\\\.\\QORGIGE") != devio::STATUS_SUCCESS) {
        Verdict("open the device", false, "the device does not open for a user");
        return 1;
    }
    auto call = [&](uint32_t code, const std::vector<uint8_t>& in, size_t outLength = 0) {
        std::vector<uint8_t> out(outLength);
        return h.DeviceIoControl(code, in.data(), in.size(), out.empty() ? nullptr : out.data(), out.size());
    };
    auto denied = [&](const char* name, uint32_t code, const std::vector<uint8_t>& in, size_t outLength = 0) {
        const uint32_t status = call(code, in, outLength);
        Verdict(name, status == kAccessDenied, Hex(status));
    };

    // Reading the victim's images: its stream channel, found by host port alone.
    GigeStreamForm form{port, 64, 1};
    denied("steal the stream", IOCTL_GIGE_GetStream, Bytes(form), 546 + 64 + 1);
    const uint8_t off[4] = {uint8_t(port & 0xFF), uint8_t(port >> 8), 0, 0};
    denied("turn the stream off", IOCTL_GIGE_SetStreamEnable, {off, off + 4});
    uint8_t statusIn[10] = {uint8_t(port & 0xFF), uint8_t(port >> 8)};
    denied("read the stream statistics", IOCTL_GIGE_GetStreamStatus, {statusIn, statusIn + 10}, 24);

    // Acting as the victim's process.
    const uint32_t pair[2] = {victim, camera};
    denied("close the camera", IOCTL_GIGE_DeviceClose, Bytes(pair));
    GigePortRecord freePort{victim, port, {1, 0}};
    denied("free the stream port", IOCTL_GIGE_PortFree, Bytes(freePort));
    denied("register as the victim", IOCTL_GIGE_RegisterProcess, Bytes(victim));
    denied("read the victim's device status", IOCTL_GIGE_GetDeviceStatus, Bytes(pair), 4);
    GigeHeartbeatForm heartbeat{victim, camera, 0, 0, 0xC123};
    denied("change the victim's heartbeat", IOCTL_GIGE_StartHeartbeat, Bytes(heartbeat));
    const uint32_t own[2] = {self, camera};
    const uint32_t openStatus = call(IOCTL_GIGE_DeviceOpen, Bytes(own));
    Verdict("open the camera as one's own", openStatus != 0, Hex(openStatus));

    // Controls that name no process.
    const uint32_t stop[2] = {0, camera};
    denied("stop the heartbeat", IOCTL_GIGE_StopHeartbeat, Bytes(stop));
    GigeRequestBlock write{};
    write.processId = self;
    write.cameraIp = camera;
    write.command = 2; // WRITEREG: acquisition stop
    const uint16_t one = 1;
    const uint32_t address = 0x124, value = 0;
    std::memcpy(write.body, &one, 2);
    std::memcpy(write.body + 2, &address, 4);
    std::memcpy(write.body + 270, &value, 4);
    denied("write the camera's registers", IOCTL_GIGE_SendCmd, Bytes(write), 802);
    GigeActionForm action{self, camera, 0, 1, 1, 0xFFFFFFFF};
    denied("trigger the camera with an action command", IOCTL_GIGE_SendActionCmd, Bytes(action));

    // Network configuration.
    GigeAdapterAddress adapter{};
    adapter.ip = 0x0100A8C0;
    adapter.mask = 0x00FFFFFF;
    denied("set an adapter address", IOCTL_GIGE_SetAdapterAddress, Bytes(adapter));
    GigeCameraAddress cameraAddress{};
    cameraAddress.ip = 0x0200A8C0;
    denied("set the camera's IP", IOCTL_GIGE_SetCameraIp, Bytes(cameraAddress));
    GvcpCommandBlock force{};
    force.command = 0;
    force.ip = 0x0300A8C0;
    {
        std::vector<uint8_t> out(sizeof force);
        const uint32_t status =
            h.DeviceIoControl(IOCTL_GIGE_SendNicCmd, &force, sizeof force, out.data(), out.size());
        Verdict("FORCEIP through the tool's commands", status == kAccessDenied, Hex(status));
    }

    // The victim's named objects.
    const std::string theirs = run + "/user/0";
    const int lock = open((theirs + "/.lock").c_str(), O_RDONLY | O_CLOEXEC);
    Verdict("hold the victim's named-object lock", lock < 0, lock < 0 ? std::strerror(errno) : "opened");
    if (lock >= 0) close(lock);
    const int planted = mkdir((theirs + "/planted").c_str(), 0777);
    Verdict("plant a file among the victim's named objects", planted != 0, "");

    // Every connection slot of the device.
    std::vector<std::unique_ptr<devio::DeviceHandle>> flood;
    int answered = 0;
    for (int i = 0; i < 1100; ++i) {
        auto handle = std::make_unique<devio::DeviceHandle>();
        if (handle->Open("\\\\.\\QORGIGE") != devio::STATUS_SUCCESS) continue;
        GigeVersionInfo version{};
        if (handle->DeviceIoControl(IOCTL_GIGE_GetVersion, nullptr, 0, &version, sizeof version) == 0) ++answered;
        flood.push_back(std::move(handle));
    }
    Verdict("take every connection of the device", answered <= 64, std::to_string(answered) + " served");
    if (FILE* f = std::fopen((signal + ".held").c_str(), "w")) std::fclose(f);
    for (int i = 0; i < 300 && !Exists(signal + ".go"); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    flood.clear();

    // The service's memory: pending requests that carry 1 MiB of input each.
    std::vector<uint8_t> big(1u << 20, 0);
    std::memcpy(big.data(), &self, 4);
    constexpr int kWaits = 900;
    std::unique_ptr<devio::Overlapped[]> waits(new devio::Overlapped[kWaits]);
    int pended = 0;
    for (int i = 0; i < kWaits; ++i)
        if (h.DeviceIoControl(IOCTL_GIGE_WaitBusEvent, big.data(), big.size(), nullptr, 0, waits[i]) ==
            devio::STATUS_PENDING)
            ++pended;
    Verdict("fill the service's memory", pended <= 16, std::to_string(pended) + " MiB held");
    h.CancelIo();
    for (int i = 0; i < kWaits; ++i)
        waits[i].CompletionEvent().Wait(5000);
    return failures == 0 ? 0 : 1;
}
