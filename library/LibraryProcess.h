// LibraryProcess: CLibraryProcess, what the library sets up when a process loads it and tears down when it
// unloads it.
#pragma once

#include <cstdint>

namespace qorcam::os {
class Thread;
class Waitable;
} // namespace qorcam::os

namespace qorcam::library {

class COutputFilter;
class CQorCamDLL;
class CSharedData;

/// The process-wide state of the library: the output filter, the trace area,
/// the process-id table, the shared data, the monitor start and the library
/// object.
///
/// Guarantees: Attach and Detach run once each, from the shared object's
/// load and unload; any shared object that can't be made switches its
/// feature off silently; the library object is destroyed at most once,
/// whichever of QORCAM_FreeLibrary, QORCAM_LogCommonAreaGet or unloading
/// comes first.
class CLibraryProcess {
public:
    static void Attach();
    static void Detach();

    /// The library object, or null once it has been destroyed.
    static CQorCamDLL* Library();
    /// Destroys the library object if it still exists.
    static void DestroyLibrary();

    /// The output filter (null outside attach..detach).
    static COutputFilter* OutputFilter();
    static CSharedData* SharedData();

    /// Starts the device monitor named by MONITORPATH, if any.
    static void StartMonitor();

    /// Called after producers were loaded: makes sure that a process which
    /// ends without unloading the library closes them while they are still
    /// whole (before their own static objects go).
    static void ArmExitTeardown();

    /// True once the process has begun to end (exit() or a return from
    /// main, from any thread).
    static bool Exiting();
    /// True once the process ends or the library is being unloaded: no
    /// callback is started any more, and waits for threads that run the
    /// application's callbacks are bounded.
    static bool Ending();
    /// True on a thread while it runs one of the application's callbacks.
    static bool InCallback();

    /// How a wait for the end of a thread that runs the application's
    /// callbacks came out.
    enum class ThreadEnd {
        Ended,     ///< it ended as asked
        Gone,      ///< it is gone without ending its work (ended by the process's runtime)
        Abandoned, ///< while the library ends: still running after the bound, left behind
    };
    /// Waits for `ended` (set by the thread at the end of its work): without
    /// a limit while the library runs, bounded once it ends, and never past
    /// the thread's own end (a thread ended by the process's runtime inside
    /// a callback does not set it).
    static ThreadEnd WaitThreadEnd(os::Waitable& ended, const os::Thread& thread);
    /// Waits for `done()` to hold, with `wait(ms)` waiting for a change for
    /// at most ms: without a limit while the library runs (slices of a
    /// second), bounded once it ends. False when it gave up.
    template <class Done, class Wait> static bool WaitUntil(Done&& done, Wait&& wait) {
        for (std::uint32_t waited = 0; !done(); waited += kEndingSlice) {
            if (Ending() && (InCallback() || waited >= kEndingWaitMs)) return false;
            wait(Ending() ? kEndingSlice : 1000u);
        }
        return true;
    }

    /// Marks the calling thread as running an application callback while it lives.
    class CallbackScope {
    public:
        CallbackScope();
        ~CallbackScope();
        CallbackScope(const CallbackScope&) = delete;
        CallbackScope& operator=(const CallbackScope&) = delete;
    };

    /// While the library ends, the longest wait for one of its threads.
    static constexpr std::uint32_t kEndingWaitMs = 2000;
    static constexpr std::uint32_t kEndingSlice = 20;
    static constexpr std::uint32_t kLivenessSlice = 200;
};

} // namespace qorcam::library
