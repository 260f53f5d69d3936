// LibraryIdentity: loading the camera library once to learn its version and build date.
#pragma once

#include "RingLogFile.h"

#include <cstdint>
#include <optional>
#include <string>

namespace qorcam::tracelog {

/// The camera library as the tool loads it by name.
inline constexpr char kLibraryName[] = "libQorCam.so";

/// Loads the library, reads its revision (major × 10000 + minor × 100 +
/// patch), hands it processId as the process whose calls are not traced,
/// copies the build date it returns and unloads it again. Empty when the
/// library can't be loaded or lacks either export.
std::optional<LibraryIdentity> LoadLibraryIdentity(const std::string& libraryName, std::uint32_t processId);

} // namespace qorcam::tracelog
