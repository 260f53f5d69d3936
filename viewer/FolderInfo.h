// FolderInfo: one camera's list of recorded folders, as the file view shows it.
#pragma once

#include <cstdint>
#include <list>
#include <map>
#include <memory>
#include <string>

namespace qorcam::viewer {

/// One camera title with the record INI paths made for it, oldest first.
class CFolderInfo {
public:
    explicit CFolderInfo(std::string folderName) : name(std::move(folderName)) {}
    /// The camera window title "<name> 0x<16 hex digits>".
    std::string name;
    std::list<std::string> records;
    /// Record time text to record INI path.
    std::map<std::string, std::string> timeMap;
    /// 1 once a window or a record of this camera was used in this run.
    uint8_t inUse = 0;
};

using FolderList = std::list<std::unique_ptr<CFolderInfo>>;

/// The folder of the camera title name, or null.
inline CFolderInfo* FindFolderInfo(FolderList& folders, const std::string& name) {
    for (auto& folder : folders)
        if (folder->name == name) return folder.get();
    return nullptr;
}

/// A new folder for name at the head of the list (the newest come first).
inline CFolderInfo& AddFolderInfo(FolderList& folders, const std::string& name) {
    folders.push_front(std::make_unique<CFolderInfo>(name));
    return *folders.front();
}

} // namespace qorcam::viewer
