// CProfileFile: the profile file of fixed addresses, read and written under its named lock.
#pragma once

#include "ProfileRecords.h"

#include <functional>
#include <string>

namespace qorcam::gigeconfig {

inline constexpr const char* kProfileFileName = "QORGIGEDRVPROF.dat";
inline constexpr const char* kProfileMutexName = "QorConfigDataMutex_Quillonmark";
/// The service's settings key; PATH names the profile file, DHCP switches its
/// DHCP server on.
inline constexpr const char* kGigeParametersKey = "System\\CurrentControlSet\\Services\\QORGIGE\\Parameters";

/// The profile file: a plain sequence of 20-byte records with no header.
///
/// Guarantees: every read and write holds the named mutex
/// QorConfigDataMutex_Quillonmark for its whole duration, so tools in several
/// processes never see each other's half-written file (a lock left by a dead
/// owner is taken over). A read returns the whole records of the file (a
/// missing, unreadable or oversized file reads as none; a partial record at
/// the end is ignored). A write replaces the file whole: the records go to a
/// temporary file beside it that is renamed over it, so a reader (also the
/// service, which reads without the lock) sees the old file or the new one,
/// never a truncated one; a file that can't be written is left as it was.
class CProfileFile {
public:
    /// The folder of the profile and the cameras' description files:
    /// <common application data>/Korvashdrevali/QorCam.
    static std::string ProfileFolder();
    /// The profile's full path; createFolders makes the two folder levels
    /// (the driver select tool does, the IP configuration tool doesn't).
    static std::string ProfilePath(bool createFolders);

    explicit CProfileFile(std::string path);
    const std::string& Path() const { return path_; }

    ProfileRecords Read() const;
    /// Writes every record in order (none: an empty file). False when the file
    /// couldn't be written.
    bool Write(const ProfileRecords& records) const;
    /// Writes the records, or deletes the file when there are none.
    bool WriteOrDelete(const ProfileRecords& records) const;
    /// Deletes the file; a missing file is no error.
    bool Delete() const;

    /// Reads the file as it is now, lets edit change the records and writes
    /// them back, all under one hold of the lock, so what another tool wrote
    /// since this one last read is kept. Nothing is written when edit returns
    /// false; with deleteWhenEmpty no records delete the file. False when the
    /// file couldn't be written.
    bool Update(const std::function<bool(ProfileRecords&)>& edit, bool deleteWhenEmpty = false) const;

    /// Whether the adapter's address is automatic (read only).
    bool ReadProfileNicEntry(const MacAddress& adapterMac) const;
    /// Patches the listed adapters' records under one hold of the lock; a
    /// missing or empty file is left alone. False when the file couldn't be written.
    bool UpdateProfileNicEntries(const std::vector<ProfileAdapter>& adapters) const;

private:
    ProfileRecords ReadLocked() const;
    bool WriteLocked(const ProfileRecords& records) const;

    std::string path_;
};

} // namespace qorcam::gigeconfig
