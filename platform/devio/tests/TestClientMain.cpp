// devio_test_client: opens a device, leaves a registration and some requests pending, then waits to be
// killed.
#include "TestService.h"
#include "devio/DeviceHandle.h"

#include <cstdio>
#include <cstdlib>
#include <deque>
#include <unistd.h>

using namespace qorcam::devio;

int main(int argc, char** argv) {
    if (argc < 3) return 2;
    const int pending = std::atoi(argv[2]);
    DeviceHandle handle;
    if (handle.Open(argv[1]) != STATUS_SUCCESS) return 3;
    std::deque<Overlapped> records(static_cast<std::size_t>(pending) + 1);
    const std::uint32_t pid = static_cast<std::uint32_t>(getpid());
    if (handle.DeviceIoControl(test::kRegister, &pid, sizeof pid, nullptr, 0, records[0]) != STATUS_PENDING)
        return 4;
    std::vector<std::uint8_t> buffer(64 * records.size());
    for (int i = 1; i <= pending; ++i) {
        if (handle.DeviceIoControl(test::kPend, nullptr, 0, buffer.data() + 64 * i, 64, records[i]) !=
            STATUS_PENDING)
            return 5;
    }
    std::printf("ready\n");
    std::fflush(stdout);
    for (;;)
        pause();
}
