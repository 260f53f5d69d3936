// DevicePathList: CDevicePathList, the set of present USB3 Vision device paths and how it changed.
#include "DevicePathList.h"

#include <dirent.h>

#include <cstring>

namespace qorcam::monitor {

void CDevicePathList::Append(const std::vector<std::string>& current) {
    paths_.insert(paths_.end(), current.begin(), current.end());
}

bool CDevicePathList::Update(const std::vector<std::string>& current) {
    std::vector<bool> matched(current.size(), false);
    std::vector<std::string> next;
    bool gone = false;
    for (const std::string& stored : paths_) {
        bool stays = false;
        for (std::size_t i = 0; i < current.size(); ++i) {
            if (!matched[i] && current[i] == stored) {
                matched[i] = true;
                stays = true;
                break;
            }
        }
        if (stays) {
            next.push_back(stored);
        } else {
            gone = true;
        }
    }
    bool added = false;
    for (std::size_t i = 0; i < current.size(); ++i) {
        if (!matched[i]) {
            next.push_back(current[i]);
            added = true;
        }
    }
    paths_ = std::move(next);
    return gone || added;
}

std::vector<std::string> CDevicePathList::Scan(const std::string& folder) {
    std::vector<std::string> found;
    DIR* dir = opendir(folder.c_str());
    if (dir == nullptr) return found;
    while (const dirent* entry = readdir(dir)) {
        if (std::strcmp(entry->d_name, ".") == 0 || std::strcmp(entry->d_name, "..") == 0) continue;
        found.push_back(folder + "/" + entry->d_name);
    }
    closedir(dir);
    return found;
}

} // namespace qorcam::monitor
