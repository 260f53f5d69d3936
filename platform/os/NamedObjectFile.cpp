// NamedObjectFile: files in the user's named-object folder with a shared lock per user and last-user removal.
#include "os/NamedObjectFile.h"

#include "os/Paths.h"

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace qorcam::os::detail {
namespace {

// Longest escaped name; leaves room for the longest suffix within NAME_MAX.
constexpr std::size_t kMaxFileName = 240;

int FlockRetry(int fd, int op) {
    int r;
    do {
        r = flock(fd, op);
    } while (r != 0 && errno == EINTR);
    return r;
}

// Every open, renewal and removal of a named object runs under this one lock
// on `.lock` in the user's folder (no other user can reach it), so an opener never picks up a file that its last
// user is removing, and nobody maps a file that is still being initialised.
class DirectoryLock {
public:
    explicit DirectoryLock(const std::string& dir) {
        fd_ = open((dir + "/.lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
        if (fd_ < 0) return;
        if (FlockRetry(fd_, LOCK_EX) != 0) {
            close(fd_);
            fd_ = -1;
        }
    }
    ~DirectoryLock() {
        if (fd_ >= 0) close(fd_); // closing drops the lock
    }
    bool Held() const { return fd_ >= 0; }

private:
    int fd_ = -1;
};

bool SameFile(int fd, const std::string& path) {
    struct stat a {};
    struct stat b {};
    return fstat(fd, &a) == 0 && lstat(path.c_str(), &b) == 0 && a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

} // namespace

std::string EscapeName(std::string_view name) {
    static const char hex[] = "0123456789ABCDEF";
    std::string out;
    for (std::size_t i = 0; i < name.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(name[i]);
        const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                           c == '_' || c == '-' || c == '{' || c == '}' || (c == '.' && i > 0);
        if (plain) {
            out += static_cast<char>(c);
        } else {
            out += '%';
            out += hex[c >> 4];
            out += hex[c & 15];
        }
        if (out.size() > kMaxFileName) return {};
    }
    return out;
}

NamedObjectFile OpenNamedObject(std::string_view name, std::string_view suffix, std::size_t size,
                                const std::function<bool(int fd)>& initialise) {
    NamedObjectFile result;
    const std::string escaped = EscapeName(name);
    if (escaped.empty() || size == 0) {
        result.error = EINVAL;
        return result;
    }
    const std::string dir = Paths::SharedObjects();
    if (dir.empty()) {
        result.error = EACCES;
        return result;
    }
    const std::string path = dir + "/" + escaped + std::string(suffix);
    DirectoryLock guard(dir);
    if (!guard.Held()) {
        result.error = errno != 0 ? errno : EACCES;
        return result;
    }
    const int fd = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0) {
        result.error = errno;
        return result;
    }
    struct stat st {};
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        result.error = EINVAL;
        close(fd);
        return result;
    }
    if (FlockRetry(fd, LOCK_EX | LOCK_NB) == 0) {
        // Nobody holds the file: it is new, or every earlier user died
        // without closing. Either way the object starts afresh.
        if (ftruncate(fd, 0) != 0 || ftruncate(fd, static_cast<off_t>(size)) != 0 || !initialise(fd)) {
            result.error = errno != 0 ? errno : EIO;
            unlink(path.c_str());
            close(fd);
            return result;
        }
        result.existed = false;
    } else if (static_cast<std::size_t>(st.st_size) < size) {
        // Mapping more than the living object holds would fault on access.
        result.error = EINVAL;
        close(fd);
        return result;
    } else {
        result.existed = true;
    }
    // Downgrade (or take) the user's shared hold. Other holders only ever
    // hold shared locks outside the directory lock, so this can't block.
    if (FlockRetry(fd, LOCK_SH | LOCK_NB) != 0) {
        result.error = errno;
        close(fd);
        return result;
    }
    result.fd = fd;
    result.path = path;
    return result;
}

void CloseNamedObject(int fd, const std::string& path, const std::string& companion) {
    if (fd < 0) return;
    const std::size_t slash = path.rfind('/');
    if (slash != std::string::npos) {
        DirectoryLock guard(path.substr(0, slash));
        // The only user left gets the exclusive lock; it removes the object,
        // unless the name already belongs to a newer file.
        if (guard.Held() && FlockRetry(fd, LOCK_EX | LOCK_NB) == 0 && SameFile(fd, path)) {
            unlink(path.c_str());
            if (!companion.empty()) unlink(companion.c_str());
        }
        close(fd);
        return;
    }
    close(fd);
}

} // namespace qorcam::os::detail
