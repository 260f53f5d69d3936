// ReadDescriptionFile: copies a camera's description file out of its memory into the profile folder.
#pragma once

#include "GigeDevice.h"
#include "GigeEntries.h"

#include <functional>
#include <string>

namespace qorcam::gigeconfig {

enum class DescriptionRead {
    Written,   ///< the file was written; the check box is cleared
    Skipped,   ///< no "Local" URL the tool can use; the camera stays checked
    Failed,    ///< a chunk could not be read, or the file not written; the check box is cleared
    UrlFailed, ///< the URL register could not be read; the whole command ends
};

/// Description files larger than this are not read (a camera's length field
/// is only its word; the memory is allocated before reading).
inline constexpr std::uint32_t kMaxDescriptionBytes = 64u * 1024 * 1024;

/// Reads the camera's first URL; for a "Local:name;address;length" URL reads
/// the file in 512-byte READMEM chunks and writes its first length bytes to
/// folder/<the camera's description-file name>.
///
/// Guarantees: answers are taken only as far as the camera sent them and
/// never beyond the buffer; a camera that keeps answering without data ends
/// the reading as a failure; a file name with a path in it is not written.
DescriptionRead ReadDescriptionFile(CGvcpSender& sender, CRequestIds& ids, const CameraEntry& camera,
                                    const std::string& folder,
                                    const std::function<void(const std::string&)>& message);

} // namespace qorcam::gigeconfig
