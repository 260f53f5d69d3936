// Paths: stub.
#include "os/Paths.h"

namespace qorcam::os {

std::string Paths::Root() { return {}; }
std::string Paths::Run() { return "/run/qorcam"; }
std::string Paths::SharedObjects() { return Run() + "/shm"; }
std::string Paths::MachineSettings() { return "/etc/qorcam"; }
std::string Paths::Data() { return "/var/lib/qorcam"; }
std::string Paths::UserSettings() { return {}; }
std::string Paths::Documents() { return {}; }
std::string Paths::ProgramFiles() { return {}; }
bool Paths::CreateFolder(const std::string&) { return false; }

} // namespace qorcam::os
