// LibraryProcess: CLibraryProcess, what the library sets up when a process loads it and tears down when it
// unloads it.
#pragma once

#include <cstdint>

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
};

} // namespace qorcam::library
