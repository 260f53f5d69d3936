// SharedData: CSharedData, the library's data shared by every process that loads it.
#pragma once

#include "QorCamShared.h"
#include "os/SharedMemory.h"

#include <cstdint>

namespace qorcam::library {

/// The excluded process id and the build date, one copy for all processes
/// (the creator stamps the build date; the id starts at 0). When the shared
/// copy can't be made the process uses a private one, so both fields always
/// read something sound.
///
/// Guarantees: the build date stays readable and NUL-terminated while the
/// object is open; the excluded id is a plain word written and read without
/// a lock.
class CSharedData {
public:
    CSharedData();
    void Open();
    void Close();

    volatile std::uint32_t* ExcludedProcessId() { return &data_->excludedProcessId; }
    char* BuildDate() { return data_->buildDate; }

private:
    os::SharedMemory area_;
    shared::SharedDataSection local_{};
    shared::SharedDataSection* data_ = &local_;
};

/// The build date of this library image ("Mar 14 2025").
const char* LibraryBuildDate();

} // namespace qorcam::library
