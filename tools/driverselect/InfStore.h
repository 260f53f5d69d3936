// CInfStore: the system's store of installed driver packages (INF files).
#pragma once

#include <cstdint>
#include <string>

namespace qorcam::driverselect {

/// The folder <machine settings>/inf holding installed copies of driver
/// packages as oem<N>.inf, recognised by their sections.
///
/// Guarantees: files are only ever created, made writable or removed inside
/// the store folder; a name handed to SetupUninstallOEMInf that is not a
/// plain file name of the store is refused.
class CInfStore {
public:
    /// The store under the current QORCAM_ROOT.
    CInfStore();
    explicit CInfStore(std::string folder);
    const std::string& Folder() const { return folder_; }

    /// The first installed copy (oem*.inf, in name order) of class NetTrans
    /// whose section QORGIGE_Service has a line: its full path, or empty.
    std::string FindInstalledFilterInf() const;
    /// Copies the package's INF into the store as the next free oem<N>.inf:
    /// 0, or the system error code (2 when the source is missing).
    std::uint32_t SetupCopyOEMInf(const std::string& source) const;
    /// Removes an installed copy by its file name; false when it can't.
    bool SetupUninstallOEMInf(const std::string& fileName) const;

    /// Whether an INF file is of the class and has a line in the section.
    static bool InfHasSectionLine(const std::string& path, const std::string& infClass,
                                  const std::string& section);

private:
    std::string folder_;
};

} // namespace qorcam::driverselect
