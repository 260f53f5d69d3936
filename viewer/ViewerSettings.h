// ViewerSettings: the viewer's state kept between runs (grid level, favourites, record folders).
#pragma once

#include "FolderInfo.h"

#include "os/SettingsStore.h"

#include <cstdint>
#include <list>
#include <map>
#include <memory>
#include <string>

namespace qorcam::viewer {

/// The viewer's key in the user's settings.
inline constexpr const char* kViewerKey = "Software\\Korvash\\QorCamViewer";

/// Loads and saves the persisted state under kViewerKey:
///   FavoriteNode: PropertyType, ItemNum, Entry0000..Entry9999 (favourite node names)
///   FolderName: ItemNum, Entry00.. (camera titles, at most 10)
///   FolderName\<title>: ItemNum, Entry00.. (record INI paths, at most 10)
/// Guarantees: missing values read as their defaults (no favourites, level
/// 0, no folders); counts read from the store are bounded (10000 favourites,
/// 100 entries elsewhere), so a damaged file cannot make a load run away;
/// a record whose INI is gone or names no camera is dropped at load. Saving
/// the folder list consumes it.
class ViewerSettings {
public:
    ViewerSettings(os::SettingsStore& store, std::map<std::string, bool>& favourites,
                   std::list<std::unique_ptr<CFolderInfo>>& folders, uint32_t& propertyType)
        : store_(store), favourites_(favourites), folders_(folders), propertyType_(propertyType) {}

    void LoadFavoriteNodes(bool clearOnly);
    void SaveFavoriteNodes();
    void LoadFolderList(bool clearOnly);
    void SaveFolderList();
    bool LoadFolderPaths(CFolderInfo& folder, bool clearOnly);
    void SaveFolderPaths(const CFolderInfo& folder);

    void LoadCustomState() {
        LoadFavoriteNodes(false);
        LoadFolderList(false);
    }
    void SaveCustomState() {
        SaveFavoriteNodes();
        SaveFolderList();
    }

private:
    int32_t ReadNumber(const std::string& section, const char* name);
    std::string Key(const std::string& section) const;

    os::SettingsStore& store_;
    std::map<std::string, bool>& favourites_;
    std::list<std::unique_ptr<CFolderInfo>>& folders_;
    uint32_t& propertyType_;
};

} // namespace qorcam::viewer
