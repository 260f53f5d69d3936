// AppInstance: single instance, guard mutex and the log guard program start.
#include "AppInstance.h"

#include "LogSettings.h"
#include "os/Paths.h"
#include "os/Process.h"
#include "os/SettingsStore.h"

namespace qorcam::tracelog {

CAppInstance::CAppInstance() : exec_(kExecMutexName), guard_(kGuardMutexName) {}

CAppInstance::~CAppInstance() {
    if (guardHeld_) guard_.Unlock();
    if (execHeld_) exec_.Unlock();
}

bool CAppInstance::Acquire() {
    if (!execHeld_) execHeld_ = os::Owns(exec_.TryLock());
    if (!execHeld_) return false;
    if (!guardHeld_) guardHeld_ = os::Owns(guard_.Lock(os::kInfinite));
    return true;
}

std::string CAppInstance::LogGuardPath() {
    const os::SettingsStore store(os::SettingsStore::Hive::User);
    const std::string path = store.GetString(kToolKey, kLogGuardPathValue).value_or("");
    if (path.empty() || path.front() == '/') return path;
    return os::Paths::ProgramFiles() + "/" + path;
}

void CAppInstance::StartLogGuard() {
    const std::string path = LogGuardPath();
    if (!path.empty()) os::Process::Start(path);
}

} // namespace qorcam::tracelog
