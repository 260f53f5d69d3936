// LogFolder: the default folder and the custom-folder checks.
#include "LogFolder.h"

#include "os/Paths.h"

#include <fcntl.h>
#include <sys/vfs.h>
#include <unistd.h>

namespace qorcam::tracelog {
namespace {

// File systems whose files live on another machine.
bool IsNetworkFileSystem(const std::string& folder) {
    struct statfs fs {};
    if (::statfs(folder.c_str(), &fs) != 0) return false;
    switch (static_cast<unsigned long>(fs.f_type)) {
    case 0x6969:     // NFS
    case 0x517B:     // SMB
    case 0xFE534D42: // SMB2
    case 0xFF534D42: // CIFS
    case 0x564C:     // NCP
    case 0x73757245: // Coda
    case 0x5346414F: // AFS
        return true;
    default:
        return false;
    }
}

} // namespace

std::string DefaultLogFolder() {
    const std::string folder = os::Paths::Documents() + "/QorCam/Log";
    os::Paths::CreateFolder(folder);
    return folder;
}

FolderCheck CheckLogFolder(const std::string& folder) {
    if (folder.empty() || folder.front() != '/' || IsNetworkFileSystem(folder)) return FolderCheck::NotLocal;
    const std::string test = folder + "/TestLog.log";
    const int fd = ::open(test.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (fd < 0) return FolderCheck::NotWritable;
    ::close(fd);
    ::unlink(test.c_str());
    return FolderCheck::Ok;
}

} // namespace qorcam::tracelog
