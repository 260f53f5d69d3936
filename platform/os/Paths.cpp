// Paths: the folders of the system, relocated by QORCAM_ROOT and made on demand.
#include "os/Paths.h"

#include <cctype>
#include <cerrno>
#include <dirent.h>
#include <sys/file.h>
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

// Whether name in the users folder is safely the user's: a folder (never a
// link someone planted) owned by the user, not one someone else made under
// the user's name. The calling user's own is kept at mode 0700.
bool OwnedFolder(int usersFd, const std::string& name, unsigned user) {
    const int fd = openat(usersFd, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) return false;
    struct stat st {};
    const bool owned = fstat(fd, &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == user;
    if (owned && user == geteuid() && (st.st_mode & 077) != 0) fchmod(fd, 0700);
    close(fd);
    return owned;
}

// Whether name is a spare folder name of the user: "<uid>.", then six
// letters or digits.
bool SpareName(const std::string& name, unsigned user) {
    const std::string prefix = std::to_string(user) + ".";
    if (name.size() != prefix.size() + 6 || name.compare(0, prefix.size(), prefix) != 0) return false;
    for (std::size_t i = prefix.size(); i < name.size(); ++i)
        if (!std::isalnum(static_cast<unsigned char>(name[i]))) return false;
    return true;
}

// The lowest-named spare folder that is safely the user's, or empty.
std::string SpareFolder(int usersFd, unsigned user) {
    const int fd = dup(usersFd);
    DIR* dir = fd < 0 ? nullptr : fdopendir(fd);
    if (dir == nullptr) {
        if (fd >= 0) close(fd);
        return {};
    }
    rewinddir(dir);
    std::string lowest;
    while (const dirent* entry = readdir(dir)) {
        const std::string name = entry->d_name;
        if (SpareName(name, user) && (lowest.empty() || name < lowest) && OwnedFolder(usersFd, name, user))
            lowest = name;
    }
    closedir(dir);
    return lowest;
}

// Makes a spare folder for the calling user and returns the one all of its
// processes use. Makers take turns (a lock on the users folder, waited for
// a second at most, since anyone may hold it), so two processes of the user
// starting at once do not end in two folders.
std::string MakeSpareFolder(int usersFd, const std::string& users, unsigned user) {
    bool locked = false;
    for (int attempt = 0; attempt < 100 && !(locked = flock(usersFd, LOCK_EX | LOCK_NB) == 0); ++attempt)
        usleep(10'000);
    std::string chosen = SpareFolder(usersFd, user);
    if (chosen.empty()) {
        std::string pattern = users + "/" + std::to_string(user) + ".XXXXXX";
        if (mkdtemp(pattern.data()) != nullptr) chosen = SpareFolder(usersFd, user);
    }
    if (locked) flock(usersFd, LOCK_UN);
    return chosen;
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
    const int usersFd = open(users.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (usersFd < 0) return {};
    struct stat st {};
    if (fstat(usersFd, &st) != 0 || ((st.st_mode & S_IWOTH) != 0 && (st.st_mode & S_ISVTX) == 0)) {
        close(usersFd);
        return {};
    }
    const bool own = user == geteuid();
    const std::string name = std::to_string(user);
    std::string chosen;
    // The folder named by the uid, when it is the user's. Any user may take
    // any name in the shared folder, so the name may be another's: the
    // user's own spare folder stands in then, the same one for all of the
    // user's processes (the lowest-named), made when there is none. A spare
    // stays in use once made, even when the name comes free again, so the
    // user's processes never split between two folders.
    if (OwnedFolder(usersFd, name, user)) {
        chosen = name;
    } else if (chosen = SpareFolder(usersFd, user); chosen.empty() && own) {
        if (mkdirat(usersFd, name.c_str(), 0700) == 0 || errno == EEXIST)
            chosen = OwnedFolder(usersFd, name, user) ? name : MakeSpareFolder(usersFd, users, user);
    }
    close(usersFd);
    return chosen.empty() ? std::string() : users + "/" + chosen;
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
