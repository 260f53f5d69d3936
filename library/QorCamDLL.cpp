// QorCamDLL: CQorCamDLL, the one library object of a process.
#include "QorCamDLL.h"

#include "os/Thread.h"

namespace qorcam::library {

void CQorCamDLL::SetLastErrorCode(std::uint32_t code) {
    const std::uint32_t thread = os::Thread::CurrentId();
    std::lock_guard<std::mutex> guard(lastErrorLock_);
    if (code == 0) {
        lastErrors_.erase(thread);
    } else {
        lastErrors_[thread] = code;
    }
}

std::uint32_t CQorCamDLL::GetLastErrorCode() const {
    const std::uint32_t thread = os::Thread::CurrentId();
    std::lock_guard<std::mutex> guard(lastErrorLock_);
    auto it = lastErrors_.find(thread);
    return it == lastErrors_.end() ? 0u : it->second;
}

} // namespace qorcam::library
