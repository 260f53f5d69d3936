// ChildRoles: what this test program does when a test runs it as a child process.
//
// A child is recognised before main (and before GoogleTest) by its first
// argument --os-child=<role>, or, for programs started without arguments, by
// the variable QORCAM_OS_TEST_ROLE. It does its part and ends with _exit, so
// it never runs tests of its own.
#include "os/NamedEvent.h"
#include "os/NamedMutex.h"
#include "os/Paths.h"
#include "os/Process.h"
#include "os/SettingsStore.h"
#include "os/SharedMemory.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fstream>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

using namespace qorcam::os;

std::vector<std::string> CommandLine() {
    std::vector<std::string> args;
    std::ifstream in("/proc/self/cmdline", std::ios::binary);
    std::string arg;
    while (std::getline(in, arg, '\0'))
        args.push_back(arg);
    return args;
}

[[noreturn]] void Hang() {
    for (;;)
        pause();
}

// Signals the parent that the child reached its point, by a named event.
void Ready(const std::string& name) {
    NamedEvent ready(name + ".ready", ResetMode::Manual);
    ready.Set();
    // Kept open: the event must outlive this call for the parent to see it.
    static NamedEvent keep;
    keep = std::move(ready);
}

int Run(const std::string& role, const std::vector<std::string>& args) {
    const std::string name = args.empty() ? std::string() : args[0];
    if (role == "hold-mutex") {
        // Locks the mutex, half-writes the guarded area, and waits to be killed.
        static NamedMutex mutex(name);
        static SharedMemory area(name, 64);
        if (!mutex.IsValid() || !area.IsValid() || !Owns(mutex.Lock())) return 2;
        std::memcpy(area.Data(), "torn", 4);
        Ready(name);
        Hang();
    }
    if (role == "hold-shm") {
        static SharedMemory area(name, 4096);
        if (!area.IsValid()) return 2;
        std::memset(area.Data(), 0x5A, 4096);
        Ready(name);
        Hang();
    }
    if (role == "check-shm") {
        // Exit 0: the area existed and held the parent's text; then answers.
        SharedMemory area(name, 4096);
        if (!area.IsValid()) return 2;
        if (!area.AlreadyExisted()) return 3;
        if (std::strcmp(static_cast<char*>(area.Data()), "from parent") != 0) return 4;
        std::strcpy(static_cast<char*>(area.Data()) + 100, "from child");
        return 0;
    }
    if (role == "set-event") {
        NamedEvent event(name, ResetMode::Auto);
        if (!event.IsValid() || !event.AlreadyExisted()) return 2;
        event.Set();
        return 0;
    }
    if (role == "wait-event") {
        NamedEvent event(name, ResetMode::Auto);
        if (!event.IsValid()) return 2;
        Ready(name);
        return event.Wait(10000) ? 0 : 1;
    }
    if (role == "settings-writer") {
        // Writes count values named <prefix><i> into the machine hive.
        const std::string prefix = name;
        const int count = args.size() > 1 ? std::atoi(args[1].c_str()) : 0;
        SettingsStore store(SettingsStore::Hive::Machine);
        for (int i = 0; i < count; ++i) {
            if (!store.SetDword("Software\\Race", prefix + std::to_string(i), static_cast<std::uint32_t>(i)))
                return 2;
        }
        return 0;
    }
    if (role == "report-start") {
        // Started without arguments: report our descriptors and parent.
        const std::string out = Paths::Root() + "/start.out";
        FILE* f = std::fopen(out.c_str(), "w");
        if (f == nullptr) return 2;
        const int fileFd = fileno(f);
        DIR* dir = opendir("/proc/self/fd");
        if (dir == nullptr) return 2;
        std::fprintf(f, "ppid %d\n", static_cast<int>(getppid()));
        while (dirent* e = readdir(dir)) {
            if (e->d_name[0] == '.') continue;
            const int fd = std::atoi(e->d_name);
            if (fd == dirfd(dir) || fd == fileFd) continue;
            std::fprintf(f, "fd %d\n", fd);
        }
        closedir(dir);
        std::fprintf(f, "end\n");
        std::fclose(f);
        return 0;
    }
    return 100;
}

struct ChildDispatch {
    ChildDispatch() {
        const std::vector<std::string> args = CommandLine();
        const std::string flag = "--os-child=";
        if (args.size() >= 2 && args[1].compare(0, flag.size(), flag) == 0) {
            _exit(Run(args[1].substr(flag.size()), std::vector<std::string>(args.begin() + 2, args.end())));
        }
        const char* role = std::getenv("QORCAM_OS_TEST_ROLE");
        if (role != nullptr && role[0] != '\0') _exit(Run(role, {}));
    }
};

const ChildDispatch dispatch;

} // namespace
