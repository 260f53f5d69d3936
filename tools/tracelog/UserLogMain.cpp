// QorCamLogUser: root's log tool starts this as another user; it collects that user's trace area.
//
//   QorCamLogUser <level>
//
// Sets the level word of the caller's own trace area, then writes each line the library leaves there to
// standard output as a record (UserCollector.h) until standard input ends; sets the level back to 0 and
// leaves lines still waiting in the area. Refuses to run as root: root's own area is read by the tool.
#include "TraceArea.h"
#include "UserCollector.h"
#include "os/WaitAny.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <poll.h>
#include <string>
#include <unistd.h>

namespace {

// Signalled once standard input has ended (nothing is ever sent on it).
class InputEnd final : public qorcam::os::Waitable {
public:
    int PollFd() const override { return 0; }
    bool TryAcquire() override {
        pollfd fd{0, POLLIN, 0};
        if (poll(&fd, 1, 0) <= 0) return false;
        char byte;
        const ssize_t n = read(0, &byte, 1);
        return n == 0 || (n < 0 && errno != EINTR && errno != EAGAIN);
    }
};

bool WriteAll(const std::string& bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = write(1, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += static_cast<std::size_t>(n);
    }
    return true;
}

} // namespace

int main(int argc, char** argv) {
    using namespace qorcam;
    if (argc != 2 || geteuid() == 0) return 2;
    const auto level = static_cast<std::uint32_t>(std::strtoul(argv[1], nullptr, 10));
    std::signal(SIGPIPE, SIG_IGN);
    tracelog::CTraceArea area;
    if (!area.Map()) return 3;
    area.SetLevel(level);
    InputEnd end;
    while (os::WaitAny({&end, &area.LogEvent()}, os::kInfinite) == 1) {
        std::uint32_t dropped = 0;
        std::string records;
        for (const auto& line : area.Take(&dropped))
            tracelog::AppendUserRecord(records, tracelog::UserRecord::Line, line);
        if (dropped != 0) {
            const char count[4] = {static_cast<char>(dropped), static_cast<char>(dropped >> 8),
                                   static_cast<char>(dropped >> 16), static_cast<char>(dropped >> 24)};
            tracelog::AppendUserRecord(records, tracelog::UserRecord::Dropped, std::string_view(count, 4));
        }
        if (!WriteAll(records)) break;
    }
    area.SetLevel(0);
    return 0;
}
