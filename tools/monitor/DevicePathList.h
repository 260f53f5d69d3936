// DevicePathList: CDevicePathList, the set of present USB3 Vision device paths and how it changed.
#pragma once

#include <string>
#include <vector>

namespace qorcam::monitor {

/// The device paths found by the last scan.
///
/// Guarantees: Update compares by exact byte-wise equality of whole paths and
/// reports a change only when at least one path is gone or new; the same
/// paths in another order are no change. After Update the list holds the
/// staying paths in their old order followed by the new paths in scan order.
class CDevicePathList {
public:
    /// The start-up scan: appends without comparing.
    void Append(const std::vector<std::string>& current);
    /// A later scan: true when the set of paths changed.
    bool Update(const std::vector<std::string>& current);
    void Clear() { paths_.clear(); }

    const std::vector<std::string>& Paths() const { return paths_; }

    /// The entries of a device class folder, as full paths in directory
    /// order; empty when the folder can't be read.
    static std::vector<std::string> Scan(const std::string& folder);

private:
    std::vector<std::string> paths_;
};

} // namespace qorcam::monitor
