// NamedObjectFile: the file behind a named object, with last-user lifetime (internal).
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>

namespace qorcam::os::detail {

/// Opens or creates `<run>/user/<uid>/<escaped name><suffix>` of at least size
/// bytes and holds a shared lock on it for as long as fd stays open.
/// initialise runs on a new (or abandoned) file while every other opener and
/// closer of named objects waits, so nobody sees a half-made object.
struct NamedObjectFile {
    int fd = -1;
    bool existed = false;
    int error = 0;
    std::string path;
};

NamedObjectFile OpenNamedObject(std::string_view name, std::string_view suffix, std::size_t size,
                                const std::function<bool(int fd)>& initialise);

/// Releases the caller's use of the file; the last user removes it, and
/// extra paths that belong to the same object with it.
void CloseNamedObject(int fd, const std::string& path, const std::string& companion = {});

/// The file-name form of an object name; empty when the name is not usable.
std::string EscapeName(std::string_view name);

} // namespace qorcam::os::detail
