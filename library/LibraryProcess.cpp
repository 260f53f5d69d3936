// LibraryProcess: CLibraryProcess, what the library sets up when a process loads it and tears down when it
// unloads it.
#include "LibraryProcess.h"

#include "HandleRegistry.h"
#include "ImageBuffer.h"
#include "OutputFilter.h"
#include "ProcessIdTable.h"
#include "QorCamDLL.h"
#include "QorCamShared.h"
#include "SharedData.h"
#include "TraceLog.h"
#include "os/Process.h"
#include "os/SettingsStore.h"
#include "os/Thread.h"
#include "os/Waitable.h"

#include <atomic>
#include <cerrno>
#include <dlfcn.h>
#include <new>
#include <sys/syscall.h>
#include <unistd.h>

extern "C" {
// The C++ runtime's exit registration and the handle of this shared object.
int __cxa_atexit(void (*function)(void*), void* argument, void* object);
extern void* __dso_handle;
}

namespace qorcam::library {

namespace {

struct ProcessState {
    explicit ProcessState(std::uint32_t pid) : processId(pid), filter(pid) {}
    std::uint32_t processId;
    COutputFilter filter;
    CSharedData sharedData;
    CProcessIdTable table;
};

// Plain pointers, so that nothing depends on the order in which static
// objects are built before the load-time entry runs.
ProcessState* g_state = nullptr;
std::atomic<CQorCamDLL*> g_library{nullptr};
// Set by the exit handler (the process ends) and by the unload (the library
// goes): from then on no callback is started and waits for the threads that
// run callbacks are bounded.
std::atomic<bool> g_exiting{false};
std::atomic<bool> g_unloading{false};
// A plain flag: a thread-local object with a destructor would keep the
// library from unloading while its threads live.
thread_local bool t_inCallback = false;

// Whether the thread with this system id still exists in this process (a
// thread ended by the process's runtime, e.g. an interpreter shutting down,
// is gone without having finished its work).
bool ThreadExists(std::uint32_t tid) {
    if (tid == 0) return true;
    return syscall(SYS_tgkill, static_cast<long>(getpid()), static_cast<long>(tid), 0L) == 0 ||
           errno != ESRCH;
}

// The stored path is a 260-character field: a longer value does not fit and
// is not read, as the settings it stands for would refuse it.
constexpr std::size_t kMonitorPathMax = 259;

} // namespace

void CLibraryProcess::Attach() {
    // The OpenMP runtime of the conversion kernels keeps memory it never
    // frees when it is unloaded; once loaded with the library it stays, so
    // unloading and loading the library again costs nothing.
    dlopen("libgomp.so.1", RTLD_NOW | RTLD_NOLOAD | RTLD_NODELETE);

    const std::uint32_t pid = os::Process::CurrentId();
    g_state = new (std::nothrow) ProcessState(pid);
    if (g_state == nullptr) return;

    g_state->sharedData.Open();
    TheTraceLog().Open(g_state->sharedData.ExcludedProcessId());
    TraceLine(1, "%s ProcessID=%d\n", "DLL ATTACH", static_cast<int>(pid));

    g_state->table.Open();
    g_state->table.Add(pid);

    StartMonitor();

    // A library object that can't make its events or its thread stays null;
    // every export then fails without touching it.
    try {
        g_library.store(new (std::nothrow) CQorCamDLL);
    } catch (...) {
        g_library.store(nullptr);
    }
    // Marks the process's end, whichever way it comes.
    ArmExitTeardown();
}

void CLibraryProcess::Detach() {
    // At the process's end the exit handler has ended the library object
    // already (bounded); what threads were left behind may still use the
    // trace log and the tables, so those stay.
    const bool exiting = g_exiting.load();
    g_unloading.store(true);
    DestroyLibrary();
    if (g_state == nullptr) return;
    const std::uint32_t pid = g_state->processId;
    g_state->table.Remove(pid);
    g_state->table.Close();
    TraceLine(1, "%s ProcessID=%d\n", "DLL DETACH", static_cast<int>(pid));
    g_state->filter.Close();
    TheTraceLog().Close();
    g_state->sharedData.Close();
    delete g_state;
    g_state = nullptr;
    if (exiting) return;
    // Last, once nothing of the library runs any more.
    Image_Buffer::FreeTable();
    CHandleRegistry::FreeInstance();
    FreeTraceLog();
}

CQorCamDLL* CLibraryProcess::Library() {
    return g_library.load();
}

void CLibraryProcess::DestroyLibrary() {
    delete g_library.exchange(nullptr);
}

COutputFilter* CLibraryProcess::OutputFilter() {
    return g_state != nullptr ? &g_state->filter : nullptr;
}

CSharedData* CLibraryProcess::SharedData() {
    return g_state != nullptr ? &g_state->sharedData : nullptr;
}

// At process exit the handlers registered with atexit run before the shared
// objects' own destructors, and in the reverse order of registration: one
// registered after a producer was loaded runs before that producer's static
// objects are destroyed, so the producers, their threads and ours end in
// order. The process may end from any thread, also from inside a callback,
// and its runtime may have ended threads already: every wait on a thread
// that runs callbacks is bounded from here on, and the producers stay
// mapped (unloading one now could unload this library under its own code).
// When the library is unloaded instead, the handler runs after Detach, which
// has destroyed the library object already, and does nothing.
static void ExitTeardown(void*) {
    if (g_unloading.load()) return;
    g_exiting.store(true);
    CLibraryProcess::DestroyLibrary();
}

void CLibraryProcess::ArmExitTeardown() {
    // Registered for this shared object, so that unloading it drops the
    // handler with it.
    __cxa_atexit(&ExitTeardown, nullptr, &__dso_handle);
}

bool CLibraryProcess::Exiting() {
    return g_exiting.load();
}

bool CLibraryProcess::Ending() {
    return g_exiting.load() || g_unloading.load();
}

bool CLibraryProcess::InCallback() {
    return t_inCallback;
}

CLibraryProcess::CallbackScope::CallbackScope() {
    t_inCallback = true;
}

CLibraryProcess::CallbackScope::~CallbackScope() {
    t_inCallback = false;
}

CLibraryProcess::ThreadEnd CLibraryProcess::WaitThreadEnd(os::Waitable& ended, const os::Thread& thread) {
    // The thread is looked at now and then: one ended inside the application's
    // callback by the process's runtime never sets `ended`.
    for (std::uint32_t waited = 0;;) {
        const std::uint32_t slice = Ending() ? kEndingSlice : kLivenessSlice;
        if (ended.Wait(slice)) return ThreadEnd::Ended;
        if (!ThreadExists(thread.Id())) return ended.Wait(0) ? ThreadEnd::Ended : ThreadEnd::Gone;
        if (!Ending()) continue;
        waited += slice;
        if (waited >= kEndingWaitMs) return ThreadEnd::Abandoned;
    }
}

void CLibraryProcess::StartMonitor() {
    os::SettingsStore machine(os::SettingsStore::Hive::Machine);
    const auto path = machine.GetString(shared::kMonitorKey, shared::kMonitorPathValue);
    if (!path || path->empty() || path->size() > kMonitorPathMax) return;
    // Neither waited for nor checked: the monitor keeps itself to one instance.
    os::Process::Start(*path);
}

} // namespace qorcam::library
