// FolderInfo: one camera's list of recorded folders, as the file view shows it.
#pragma once

#include <cstdint>
#include <list>
#include <map>
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

} // namespace qorcam::viewer
