// CProfileFile: the profile file of fixed addresses, read and written under its named lock.
#include "ProfileFile.h"

#include "os/NamedMutex.h"
#include "os/Paths.h"

#include <cstdio>
#include <memory>
#include <unistd.h>

namespace qorcam::gigeconfig {

namespace {

using FilePtr = std::unique_ptr<FILE, int (*)(FILE*)>;

// The tools' mutex, held for one read or write.
class ProfileLock {
public:
    ProfileLock() : mutex_(kProfileMutexName), lock_(mutex_) {}

private:
    os::NamedMutex mutex_;
    os::NamedMutexLock lock_;
};

} // namespace

std::string CProfileFile::ProfileFolder() {
    return os::Paths::Data() + "/Korvashdrevali/QorCam";
}

std::string CProfileFile::ProfilePath(bool createFolders) {
    const std::string folder = ProfileFolder();
    if (createFolders) os::Paths::CreateFolder(folder);
    return folder + "/" + kProfileFileName;
}

CProfileFile::CProfileFile(std::string path) : path_(std::move(path)) {}

ProfileRecords CProfileFile::ReadLocked() const {
    FilePtr file(std::fopen(path_.c_str(), "rb"), &std::fclose);
    if (!file || std::fseek(file.get(), 0, SEEK_END) != 0) return {};
    const long end = std::ftell(file.get());
    // The service refuses files above this size; so do the tools.
    if (end <= 0 || static_cast<uint64_t>(end) > gige::DriverProfile::kMaxFileBytes) return {};
    if (std::fseek(file.get(), 0, SEEK_SET) != 0) return {};
    ProfileRecords records(static_cast<size_t>(end) / sizeof(DriverProfileRecord));
    if (!records.empty() &&
        std::fread(records.data(), sizeof(DriverProfileRecord), records.size(), file.get()) != records.size())
        return {};
    return records;
}

bool CProfileFile::WriteLocked(const ProfileRecords& records) const {
    const std::string temp = path_ + ".tmp";
    FilePtr file(std::fopen(temp.c_str(), "wb"), &std::fclose);
    if (!file) return false;
    bool ok = true;
    for (const auto& r : records)
        ok = ok && std::fwrite(&r, sizeof r, 1, file.get()) == 1;
    ok = ok && std::fflush(file.get()) == 0 && fsync(fileno(file.get())) == 0;
    ok = (std::fclose(file.release()) == 0) && ok;
    if (!ok || std::rename(temp.c_str(), path_.c_str()) != 0) {
        std::remove(temp.c_str());
        return false;
    }
    return true;
}

ProfileRecords CProfileFile::Read() const {
    ProfileLock lock;
    return ReadLocked();
}

bool CProfileFile::Write(const ProfileRecords& records) const {
    ProfileLock lock;
    return WriteLocked(records);
}

bool CProfileFile::WriteOrDelete(const ProfileRecords& records) const {
    ProfileLock lock;
    if (records.empty()) return std::remove(path_.c_str()) == 0 || access(path_.c_str(), F_OK) != 0;
    return WriteLocked(records);
}

bool CProfileFile::Delete() const {
    ProfileLock lock;
    return std::remove(path_.c_str()) == 0 || access(path_.c_str(), F_OK) != 0;
}

bool CProfileFile::ReadProfileNicEntry(const MacAddress& adapterMac) const {
    return IsAdapterAuto(Read(), adapterMac);
}

bool CProfileFile::Update(const std::function<bool(ProfileRecords&)>& edit, bool deleteWhenEmpty) const {
    ProfileLock lock;
    ProfileRecords records = ReadLocked();
    if (!edit(records)) return true;
    if (deleteWhenEmpty && records.empty())
        return std::remove(path_.c_str()) == 0 || access(path_.c_str(), F_OK) != 0;
    return WriteLocked(records);
}

bool CProfileFile::UpdateProfileNicEntries(const std::vector<ProfileAdapter>& adapters) const {
    return Update([&](ProfileRecords& records) {
        if (records.empty()) return false;
        UpdateAdapterRecords(records, adapters);
        return true;
    });
}

} // namespace qorcam::gigeconfig
