// QorCamDLL: CQorCamDLL, the one library object of a process.
#pragma once

#include <cstdint>
#include <map>
#include <mutex>

namespace qorcam::library {

/// The process-wide library object: created at process attach, destroyed by
/// QORCAM_FreeLibrary, QORCAM_LogCommonAreaGet or unloading. It holds the
/// per-thread last errors and the library lock that orders library-wide work.
///
/// Guarantees: the last-error map holds an entry only for threads whose last
/// call failed (setting 0 erases it); reading a thread without an entry gives
/// 0; both are safe from any thread.
class CQorCamDLL {
public:
    CQorCamDLL() = default;
    virtual ~CQorCamDLL() = default;
    CQorCamDLL(const CQorCamDLL&) = delete;
    CQorCamDLL& operator=(const CQorCamDLL&) = delete;

    /// Records the calling thread's code; 0 erases its entry.
    void SetLastErrorCode(std::uint32_t code);
    /// The calling thread's code, 0 when none.
    std::uint32_t GetLastErrorCode() const;

    /// Taken first by every export that opens, closes, lists or reloads.
    std::recursive_mutex& LibraryLock() { return libraryLock_; }

private:
    std::recursive_mutex libraryLock_;
    mutable std::mutex lastErrorLock_; // innermost lock of the library
    std::map<std::uint32_t, std::uint32_t> lastErrors_;
};

} // namespace qorcam::library
