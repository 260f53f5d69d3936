// LogSettings: reading and writing the Setting section.
#include "LogSettings.h"

namespace qorcam::tracelog {
namespace {

std::uint32_t Dword(const os::SettingsStore& store, const char* name, std::uint32_t fallback) {
    return store.GetDword(kSettingKey, name).value_or(fallback);
}

// A combo or radio index: anything the control does not have reads as the default.
std::uint32_t Index(const os::SettingsStore& store, const char* name, std::uint32_t count,
                    std::uint32_t fallback) {
    const std::uint32_t v = Dword(store, name, fallback);
    return v < count ? v : fallback;
}

} // namespace

LogSettings LogSettings::Load(const os::SettingsStore& store) {
    LogSettings s;
    s.sysLevel = Index(store, "SysLevel", 3, 0);
    s.dllLevel = Index(store, "DllLevel", 3, 0);
    s.outPutMode = static_cast<OutputMode>(Index(store, "OutPutMode", 2, 1));
    s.url = store.GetString(kSettingKey, "URL").value_or("");
    s.createMode = static_cast<CreateMode>(Index(store, "CreateMode", 2, 0));
    s.maxSize = Dword(store, "MaxSize", 10000);
    s.accCache = Dword(store, "AccCache", 0) != 0;
    s.pathMode = static_cast<PathMode>(Index(store, "PathMode", 2, 0));
    s.path = store.GetString(kSettingKey, "Path").value_or("");
    return s;
}

bool LogSettings::SaveChanged(os::SettingsStore& store) const {
    bool ok = true;
    auto dword = [&](const char* name, std::uint32_t value, std::uint32_t fallback) {
        if (Dword(store, name, fallback) != value) ok = store.SetDword(kSettingKey, name, value) && ok;
    };
    auto text = [&](const char* name, const std::string& value) {
        if (store.GetString(kSettingKey, name).value_or("") != value)
            ok = store.SetString(kSettingKey, name, value) && ok;
    };
    dword("SysLevel", sysLevel, 0);
    dword("DllLevel", dllLevel, 0);
    dword("OutPutMode", static_cast<std::uint32_t>(outPutMode), 1);
    text("URL", url);
    dword("CreateMode", static_cast<std::uint32_t>(createMode), 0);
    dword("MaxSize", maxSize, 10000);
    dword("AccCache", accCache ? 1 : 0, 0);
    dword("PathMode", static_cast<std::uint32_t>(pathMode), 0);
    text("Path", path);
    return ok;
}

} // namespace qorcam::tracelog
