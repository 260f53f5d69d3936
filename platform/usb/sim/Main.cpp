// QorU3vSimCamera: a simulated USB3 Vision camera on the virtual USB bus, one process per camera.
#include "SimDeviceServer.h"
#include "U3vCamera.h"
#include "U3vRegisters.h"

#include "usb/SimProtocol.h"

#include <cstdio>
#include <cstring>
#include <string>

#include <signal.h>
#include <sys/prctl.h>
#include <unistd.h>

namespace {

const char* const kUsage = "usage: QorU3vSimCamera --name=<name> [options]\n"
                           "  Plugs a simulated USB3 Vision camera into the virtual bus at <run>/usbsim\n"
                           "  (QORCAM_ROOT relocates it) until it is stopped, killed or told to disconnect.\n"
                           "  --vendor=T --model=T --family=T --device-version=T --manufacturer-info=T\n"
                           "  --serial=DIGITS --guid=HEX12 --user-name=T     identity\n"
                           "  --width=N --height=N --pixel-format=Mono8|BayerRG8 --fps=N\n"
                           "  --usb2            512-byte bulk packets (a USB 2.0 link)\n"
                           "  --zip             keep the description zipped\n"
                           "  --no-event-interface   --no-device-info\n"
                           "  --exit-with-parent[=PID]   unplug when the process that started it (PID) ends\n"
                           "  faults: --drop-acks=N  --pending-ack=TIMEOUT_MS:DELAY_MS[:COUNT]  --stall=EP\n"
                           "          --disconnect-after=BLOCKS\n"
                           "  commands on the socket: drop-ack [n] | pending-ack <timeout> <delay> [n] |\n"
                           "          stall <ep> | event [id] [repeat] | disconnect | status\n";

bool ParseNumber(const std::string& text, std::uint32_t& value) {
    try {
        std::size_t used = 0;
        const unsigned long parsed = std::stoul(text, &used, 0);
        if (used != text.size() || parsed > 0xFFFFFFFFul) return false;
        value = static_cast<std::uint32_t>(parsed);
        return true;
    } catch (...) {
        return false;
    }
}

} // namespace

int main(int argc, char** argv) {
    using namespace qorcam::usb::sim;
    CameraOptions options;
    std::uint32_t stall = 0;
    bool exitWithParent = false;
    std::uint32_t parentId = 0;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const auto equals = arg.find('=');
        const std::string key = arg.substr(0, equals);
        const std::string value = equals == std::string::npos ? "" : arg.substr(equals + 1);
        bool ok = true;
        if (key == "--name")
            options.name = value;
        else if (key == "--vendor")
            options.vendor = value;
        else if (key == "--model")
            options.model = value;
        else if (key == "--family")
            options.family = value;
        else if (key == "--device-version")
            options.deviceVersion = value;
        else if (key == "--manufacturer-info")
            options.manufacturerInfo = value;
        else if (key == "--serial")
            options.serial = value;
        else if (key == "--guid")
            ok = value.size() == 12 && value.find_first_not_of("0123456789abcdefABCDEF") == std::string::npos,
            options.guid = value;
        else if (key == "--user-name")
            options.userDefinedName = value;
        else if (key == "--width")
            ok = ParseNumber(value, options.width);
        else if (key == "--height")
            ok = ParseNumber(value, options.height);
        else if (key == "--fps")
            ok = ParseNumber(value, options.framesPerSecond) && options.framesPerSecond > 0;
        else if (key == "--pixel-format") {
            if (value == "Mono8")
                options.pixelFormat = u3v::kPixelMono8;
            else if (value == "BayerRG8")
                options.pixelFormat = u3v::kPixelBayerRG8;
            else
                ok = false;
        } else if (key == "--usb2")
            options.usb2 = true;
        else if (key == "--zip")
            options.zip = true;
        else if (key == "--no-event-interface")
            options.eventInterface = false;
        else if (key == "--no-device-info")
            options.deviceInfo = false;
        else if (key == "--exit-with-parent") {
            exitWithParent = true;
            ok = value.empty() || ParseNumber(value, parentId);
        } else if (key == "--drop-acks")
            ok = ParseNumber(value, options.dropAcks);
        else if (key == "--stall")
            ok = ParseNumber(value, stall) && stall > 0 && stall <= 0xFF;
        else if (key == "--disconnect-after")
            ok = ParseNumber(value, options.disconnectAfterBlocks);
        else if (key == "--pending-ack") {
            unsigned timeout = 0, delay = 0, count = 1;
            const int got = std::sscanf(value.c_str(), "%u:%u:%u", &timeout, &delay, &count);
            ok = got >= 2 && timeout <= 0xFFFF;
            options.pendingTimeoutMs = timeout;
            options.pendingDelayMs = delay;
            options.pendingAcks = count;
        } else if (key == "--help") {
            std::fputs(kUsage, stdout);
            return 0;
        } else {
            ok = false;
        }
        if (!ok) {
            std::fprintf(stderr, "QorU3vSimCamera: bad argument %s\n%s", arg.c_str(), kUsage);
            return 2;
        }
    }
    if (!qorcam::usb::sim::ValidDeviceName(options.name)) {
        std::fprintf(stderr, "QorU3vSimCamera: --name needs letters, digits, '-', '_' or '.'\n%s", kUsage);
        return 2;
    }
    const bool widthValid = options.width >= 16 && options.width <= 4096 && options.width % 8 == 0;
    const bool heightValid = options.height >= 2 && options.height <= 4096 && options.height % 2 == 0;
    if (!widthValid || !heightValid) {
        std::fprintf(stderr, "QorU3vSimCamera: width 16..4096 in steps of 8, height 2..4096 in steps of 2\n");
        return 2;
    }

    if (exitWithParent) {
        // The starter may name itself, since it may be gone before this line.
        const pid_t parent = parentId != 0 ? static_cast<pid_t>(parentId) : ::getppid();
        // SIGTERM ends the camera as a stop does: its files go with it.
        ::prctl(PR_SET_PDEATHSIG, SIGTERM);
        if (::getppid() != parent) return 0;
    }

    U3vCamera camera(options);
    SimDeviceServer server(DeviceFolder(), options.name, camera);
    camera.Attach(server);
    if (!server.Start()) return 1;
    if (stall != 0) server.Halt(static_cast<std::uint8_t>(stall));
    std::printf("ready %s\n", options.name.c_str());
    std::fflush(stdout);
    server.Run();
    return 0;
}
