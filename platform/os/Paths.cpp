// Paths: the folders of the system, relocated by QORCAM_ROOT and made on demand.
#include "os/Paths.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <dlfcn.h>
#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace qorcam::os {
namespace {

std::string TrimSlashes(std::string path) {
    while (path.size() > 1 && path.back() == '/')
        path.pop_back();
    return path;
}

std::string Home() {
    const char* home = std::getenv("HOME");
    if (home != nullptr && home[0] != '\0') return TrimSlashes(home);
    // Services started without a login environment have no HOME.
    std::vector<char> buffer(16384);
    passwd pw{};
    passwd* result = nullptr;
    if (getpwuid_r(getuid(), &pw, buffer.data(), buffer.size(), &result) == 0 && result != nullptr &&
        result->pw_dir != nullptr && result->pw_dir[0] != '\0') {
        return TrimSlashes(result->pw_dir);
    }
    return "/tmp";
}

std::string Made(std::string path) {
    Paths::CreateFolder(path);
    return path;
}

std::string UnderRoot(const char* sub, const std::string& unset) {
    const std::string root = Paths::Root();
    return Made(root.empty() ? unset : root + "/" + sub);
}

} // namespace

std::string Paths::Root() {
    const char* root = std::getenv("QORCAM_ROOT");
    if (root == nullptr || root[0] == '\0') return {};
    std::string path = root;
    if (path[0] != '/') {
        char cwd[PATH_MAX];
        if (getcwd(cwd, sizeof cwd) != nullptr) path = std::string(cwd) + "/" + path;
    }
    return TrimSlashes(path);
}

std::string Paths::Run() {
    return UnderRoot("run", "/run/qorcam");
}

std::string Paths::SharedObjects() {
    return UserObjects(geteuid());
}

std::string Paths::UserObjects(unsigned user) {
    // <run>/user is shared like /tmp (sticky: nobody removes or renames
    // another's folder); each user's folder is that user's alone.
    const std::string users = Run() + "/user";
    if (mkdir(users.c_str(), 01777) == 0) chmod(users.c_str(), 01777);
    struct stat st {};
    if (lstat(users.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return {};
    if ((st.st_mode & S_IWOTH) != 0 && (st.st_mode & S_ISVTX) == 0) return {};
    const std::string path = users + "/" + std::to_string(user);
    if (user == geteuid()) mkdir(path.c_str(), 0700);
    // Never a link someone planted, and never a folder someone else made
    // under this user's name.
    const int fd = open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) return {};
    const bool owned = fstat(fd, &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == user;
    if (owned && user == geteuid() && (st.st_mode & 077) != 0) fchmod(fd, 0700);
    close(fd);
    return owned ? path : std::string();
}

std::string Paths::MachineSettings() {
    return UnderRoot("etc", "/etc/qorcam");
}
std::string Paths::Data() {
    return UnderRoot("data", "/var/lib/qorcam");
}
std::string Paths::UserSettings() {
    return UnderRoot("user", Home() + "/.config/qorcam");
}
std::string Paths::Documents() {
    return UnderRoot("documents", Home() + "/Documents");
}

std::string Paths::ProgramFiles() {
    // The module that holds this function: the program itself, or the shared
    // object (library, producer) it was linked into.
    Dl_info info{};
    std::string module;
    if (dladdr(reinterpret_cast<void*>(&Paths::ProgramFiles), &info) != 0 && info.dli_fname != nullptr &&
        info.dli_fname[0] == '/') {
        module = info.dli_fname;
    } else {
        char exe[PATH_MAX];
        const ssize_t n = readlink("/proc/self/exe", exe, sizeof exe - 1);
        if (n <= 0) return {};
        module.assign(exe, static_cast<std::size_t>(n));
    }
    char resolved[PATH_MAX];
    if (realpath(module.c_str(), resolved) != nullptr) module = resolved;
    const std::size_t slash = module.rfind('/');
    if (slash == std::string::npos) return {};
    return slash == 0 ? std::string("/") : module.substr(0, slash);
}

std::string Paths::Program(const std::string& name) {
    const std::string own = ProgramFiles();
    const std::string beside = own + "/" + name;
    if (access(beside.c_str(), X_OK) == 0) return beside;
    const std::size_t slash = own.rfind('/');
    const std::string parent = slash == std::string::npos || slash == 0 ? std::string() : own.substr(0, slash);
    for (const char* folder : {"/sbin/", "/bin/"}) {
        const std::string installed = parent + folder + name;
        if (access(installed.c_str(), X_OK) == 0) return installed;
    }
    return beside;
}

bool Paths::CreateFolder(const std::string& path) {
    if (path.empty()) return false;
    struct stat st {};
    if (stat(path.c_str(), &st) == 0) return S_ISDIR(st.st_mode);
    for (std::size_t pos = 1; pos <= path.size(); ++pos) {
        if (pos == path.size() || path[pos] == '/') {
            const std::string part = path.substr(0, pos);
            if (mkdir(part.c_str(), 0755) != 0 && errno != EEXIST) return false;
        }
    }
    return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

} // namespace qorcam::os
