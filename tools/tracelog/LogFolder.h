// LogFolder: the default log folder and the checks a chosen custom folder must pass.
#pragma once

#include <string>

namespace qorcam::tracelog {

/// The default folder: Documents, then "QorCam", then "Log", each level
/// created when missing.
std::string DefaultLogFolder();

enum class FolderCheck {
    Ok,
    NotLocal,    // "Select Error Not Local Disk"
    NotWritable, // "Error Select Folder Used Administrator"
};

/// Whether log files can go to a chosen folder: it must be an absolute path
/// on a local file system (not a network share), and a new "TestLog.log"
/// must be creatable there (it is removed again at once).
FolderCheck CheckLogFolder(const std::string& folder);

} // namespace qorcam::tracelog
