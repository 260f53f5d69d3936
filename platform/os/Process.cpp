// Process: stub.
#include "os/Process.h"

#include <unistd.h>

namespace qorcam::os {

Process::~Process() {}
Process::Process(Process&& o) noexcept : pid_(o.pid_), status_(o.status_) { o.pid_ = -1; }
Process& Process::operator=(Process&&) noexcept { return *this; }
bool Process::Start(const std::string&) { return false; }
std::optional<Process> Process::Spawn(const std::string&, const std::vector<std::string>&,
                                      const std::vector<std::pair<std::string, std::string>>&) {
    return std::nullopt;
}
std::uint32_t Process::CurrentId() { return static_cast<std::uint32_t>(getpid()); }
std::string Process::ExecutablePath() { return {}; }
std::optional<int> Process::Wait(std::uint32_t) { return std::nullopt; }
bool Process::Kill(int) { return false; }

} // namespace qorcam::os
