// AppInstance: the log tool's single-instance guard, the guard mutex and the log guard program.
#pragma once

#include "os/NamedMutex.h"

#include <string>

namespace qorcam::tracelog {

inline constexpr char kExecMutexName[] = "QORCAMLOG_EXEC__Quillonmark";
inline constexpr char kGuardMutexName[] = "QORCAMLogGuardMutex_Quillonmark";

/// What the tool holds from start-up to its end.
///
/// Guarantees: Acquire succeeds in one process at a time (a second tool sees
/// false and should end at once); once it has succeeded the guard mutex is
/// held until the object is destroyed, which releases both mutexes.
class CAppInstance {
public:
    CAppInstance();
    ~CAppInstance();
    CAppInstance(const CAppInstance&) = delete;
    CAppInstance& operator=(const CAppInstance&) = delete;

    /// Takes the single-instance mutex without waiting, then the guard mutex
    /// (waiting as long as it takes). False when another tool runs.
    bool Acquire();

    /// The log guard program: the user setting LogGuardPath under the tool's
    /// key; a relative path is taken from the tool's own folder. Empty when
    /// the setting is absent: then no guard program is started.
    static std::string LogGuardPath();
    /// Starts the log guard program when one is set; its result is ignored.
    static void StartLogGuard();

private:
    os::NamedMutex exec_;
    os::NamedMutex guard_;
    bool execHeld_ = false;
    bool guardHeld_ = false;
};

} // namespace qorcam::tracelog
