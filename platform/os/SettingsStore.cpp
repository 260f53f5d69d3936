// SettingsStore: stub.
#include "os/SettingsStore.h"

namespace qorcam::os {

SettingsStore::SettingsStore(Hive) {}
SettingsStore::SettingsStore(std::string filePath) : path_(std::move(filePath)) {}
std::optional<SettingsValue> SettingsStore::Get(std::string_view, std::string_view) const { return std::nullopt; }
std::optional<std::uint32_t> SettingsStore::GetDword(std::string_view, std::string_view) const { return std::nullopt; }
std::optional<std::string> SettingsStore::GetString(std::string_view, std::string_view) const { return std::nullopt; }
std::optional<std::vector<std::uint8_t>> SettingsStore::GetBinary(std::string_view, std::string_view) const {
    return std::nullopt;
}
bool SettingsStore::Set(std::string_view, std::string_view, const SettingsValue&) { return false; }
bool SettingsStore::SetDword(std::string_view, std::string_view, std::uint32_t) { return false; }
bool SettingsStore::SetString(std::string_view, std::string_view, std::string_view) { return false; }
bool SettingsStore::SetBinary(std::string_view, std::string_view, const std::vector<std::uint8_t>&) { return false; }
bool SettingsStore::CreateKey(std::string_view) { return false; }
bool SettingsStore::KeyExists(std::string_view) const { return false; }
bool SettingsStore::DeleteValue(std::string_view, std::string_view) { return false; }
bool SettingsStore::DeleteKey(std::string_view) { return false; }
std::vector<std::string> SettingsStore::EnumValues(std::string_view) const { return {}; }
std::vector<std::string> SettingsStore::EnumSubkeys(std::string_view) const { return {}; }

} // namespace qorcam::os
