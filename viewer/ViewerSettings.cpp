// ViewerSettings: the viewer's state kept between runs (grid level, favourites, record folders).
#include "ViewerSettings.h"

#include "IniFile.h"

#include <algorithm>
#include <cstdio>

namespace qorcam::viewer {
namespace {

constexpr int32_t kMaxFavourites = 10000;
constexpr int32_t kMaxEntries = 100;
constexpr size_t kMaxSaved = 10;

std::string Entry(const char* format, int i) {
    char name[32];
    std::snprintf(name, sizeof name, format, i);
    return name;
}

} // namespace

std::string ViewerSettings::Key(const std::string& section) const {
    return std::string(kViewerKey) + "\\" + section;
}

int32_t ViewerSettings::ReadNumber(const std::string& section, const char* name) {
    auto v = store_.GetDword(Key(section), name);
    return v ? static_cast<int32_t>(*v) : -1;
}

void ViewerSettings::LoadFavoriteNodes(bool clearOnly) {
    if (!clearOnly) {
        int32_t type = ReadNumber("FavoriteNode", "PropertyType");
        propertyType_ = type >= 0 && type <= 3 ? static_cast<uint32_t>(type) : 0;
    }
    const int32_t count = std::min(ReadNumber("FavoriteNode", "ItemNum"), kMaxFavourites);
    for (int32_t i = 0; i < count; ++i) {
        const std::string name = Entry("Entry%04d", i);
        if (clearOnly) {
            store_.DeleteValue(Key("FavoriteNode"), name);
            continue;
        }
        auto node = store_.GetString(Key("FavoriteNode"), name);
        if (node && !node->empty()) favourites_[*node] = true;
    }
}

void ViewerSettings::SaveFavoriteNodes() {
    LoadFavoriteNodes(true);
    store_.SetDword(Key("FavoriteNode"), "PropertyType", propertyType_);
    int32_t written = 0;
    for (const auto& [name, flag] : favourites_) {
        if (!flag) continue;
        if (written >= kMaxFavourites) break;
        store_.SetString(Key("FavoriteNode"), Entry("Entry%04d", written), name);
        ++written;
    }
    store_.SetDword(Key("FavoriteNode"), "ItemNum", static_cast<uint32_t>(written));
}

bool ViewerSettings::LoadFolderPaths(CFolderInfo& folder, bool clearOnly) {
    const std::string section = "FolderName\\" + folder.name;
    const int32_t count = std::min(ReadNumber(section, "ItemNum"), kMaxEntries);
    bool found = false;
    for (int32_t i = 0; i < count; ++i) {
        const std::string name = Entry("Entry%02d", i);
        if (clearOnly) {
            store_.DeleteValue(Key(section), name);
            continue;
        }
        auto path = store_.GetString(Key(section), name);
        if (!path || path->empty()) continue;
        std::string camera = IniFile::ReadString(*path, "File Info", "Camera Name", "-", 64);
        if (!camera.empty() && camera[0] != '-') {
            folder.records.push_back(*path);
            found = true;
        }
        if (folder.records.size() > kMaxSaved) break;
    }
    return found;
}

void ViewerSettings::SaveFolderPaths(const CFolderInfo& folder) {
    const std::string section = "FolderName\\" + folder.name;
    int32_t written = 0;
    for (const std::string& path : folder.records) {
        if (written >= static_cast<int32_t>(kMaxSaved)) break;
        store_.SetString(Key(section), Entry("Entry%02d", written), path);
        ++written;
    }
    store_.SetDword(Key(section), "ItemNum", static_cast<uint32_t>(written));
}

void ViewerSettings::LoadFolderList(bool clearOnly) {
    const int32_t count = std::min(ReadNumber("FolderName", "ItemNum"), kMaxEntries);
    for (int32_t i = 0; i < count; ++i) {
        const std::string entry = Entry("Entry%02d", i);
        auto name = store_.GetString(Key("FolderName"), entry);
        if (clearOnly) {
            store_.DeleteValue(Key("FolderName"), entry);
            if (name && !name->empty()) {
                CFolderInfo folder(*name);
                LoadFolderPaths(folder, true);
            }
            continue;
        }
        if (!name || name->empty()) continue;
        auto folder = std::make_unique<CFolderInfo>(*name);
        if (LoadFolderPaths(*folder, false)) folders_.push_back(std::move(folder));
    }
}

void ViewerSettings::SaveFolderList() {
    LoadFolderList(true);
    std::vector<CFolderInfo*> order;
    for (auto& f : folders_)
        if (f->inUse) order.push_back(f.get());
    for (auto& f : folders_)
        if (!f->inUse) order.push_back(f.get());
    uint32_t written = 0;
    for (CFolderInfo* folder : order) {
        if (written >= kMaxSaved) break;
        store_.SetString(Key("FolderName"), Entry("Entry%02d", static_cast<int>(written)), folder->name);
        SaveFolderPaths(*folder);
        ++written;
    }
    store_.SetDword(Key("FolderName"), "ItemNum", written);
    folders_.clear();
}

} // namespace qorcam::viewer
