// UserCollector: root's log tool collecting the library lines of every other user's processes.
#pragma once

#include "RingLogFile.h"
#include "os/Event.h"

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace qorcam::tracelog {

/// The program that reads one user's trace area as that user and passes its
/// lines on (QorCamLogUser).
inline constexpr char kUserCollectorProgram[] = "QorCamLogUser";

/// What the collector program writes on its standard output: records of an
/// 8-byte head (kind, length; little-endian 32-bit words) and length bytes.
enum class UserRecord : std::uint32_t {
    Line = 1,    ///< one trace line, at most one slot long
    Dropped = 2, ///< 4 bytes: how many lines writers dropped on a full area
};
/// Appends one record to out.
void AppendUserRecord(std::string& out, UserRecord kind, std::string_view bytes);

/// The uids, other than the caller's own, whose named-object folder under
/// `<run>/user` is safely theirs: a folder (not a link) named by the decimal
/// uid (or a spare one, "<uid>.XXXXXX", where another took that name) and
/// owned by it. Sorted, each once.
std::vector<std::uint32_t> OtherUserFolders();

/// The record that stands where lines are missing.
std::string DroppedLinesRecord(std::uint32_t dropped);
/// The mark in front of every line collected from another user.
std::string UserLineMark(std::uint32_t uid);
/// The record in root's own file that tells where a user's lines go.
std::string UserFileRecord(std::uint32_t uid, const std::string& fileName);

/// Opens the file a user's collected lines go to; returns its name, or an
/// empty string when it could not be opened.
using UserFileOpener = std::function<std::string(std::uint32_t uid, CRingLogFile& file)>;

/// Root's collection of other users' library lines, from StartLogging to
/// StopLogging.
///
/// Guarantees: root never maps, locks or writes another user's named
/// objects: each user's area is read by a collector process that runs as
/// that user (its groups dropped, a session of its own without a terminal,
/// nothing of root's inherited but a pipe each way) and whose records are checked before they are written (a malformed
/// one ends that user's collection). New user folders are found within a few
/// seconds. Each user's lines go to a ring file of that user's own (opened
/// by openUserFile), each behind the mark "[user <uid>] ", so that no user
/// can push root's own lines, or another user's, out of their ring; root's
/// file gets one record per user telling which file holds its lines. Run
/// returns once stop is set, after every collector has been told to end (its
/// user's level word back to 0, waiting lines left in the area) and reaped;
/// one that does not end within 2 s is killed.
class CUserCollectors {
public:
    CUserCollectors(CRingLogFile& file, UserFileOpener openUserFile, std::uint32_t level, os::Event& stop)
        : file_(file), openUserFile_(std::move(openUserFile)), level_(level), stop_(stop) {}

    void Run();

private:
    CRingLogFile& file_;
    UserFileOpener openUserFile_;
    const std::uint32_t level_;
    os::Event& stop_;
};

} // namespace qorcam::tracelog
