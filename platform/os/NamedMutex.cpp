// NamedMutex: a robust, process-shared, recursive pthread mutex in a named object file.
#include "os/NamedMutex.h"

#include "os/NamedObjectFile.h"

#include <cerrno>
#include <ctime>
#include <pthread.h>
#include <sys/mman.h>
#include <unistd.h>
#include <utility>

namespace qorcam::os {

namespace {

struct Layout {
    std::uint32_t magic;
    std::uint32_t reserved;
    pthread_mutex_t mutex;
};

constexpr std::uint32_t kMagic = 0x584D5451; // "QTMX"

// Time-outs run on the monotonic clock, so a change of the wall clock
// neither stretches nor cuts them short.
#if defined(__SANITIZE_THREAD__)
constexpr clockid_t kLockClock = CLOCK_REALTIME;
#else
constexpr clockid_t kLockClock = CLOCK_MONOTONIC;
#endif

bool InitialiseState(int fd) {
    void* p = mmap(nullptr, sizeof(Layout), PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    if (p == MAP_FAILED) return false;
    auto* state = static_cast<Layout*>(p);
    pthread_mutexattr_t attr;
    pthread_mutexattr_init(&attr);
    pthread_mutexattr_setpshared(&attr, PTHREAD_PROCESS_SHARED);
    // Robust: a dead owner hands the next locker EOWNERDEAD instead of a
    // mutex held for ever. Recursive: the owning thread may lock it again.
    pthread_mutexattr_setrobust(&attr, PTHREAD_MUTEX_ROBUST);
    pthread_mutexattr_settype(&attr, PTHREAD_MUTEX_RECURSIVE);
    const int r = pthread_mutex_init(&state->mutex, &attr);
    pthread_mutexattr_destroy(&attr);
    state->magic = r == 0 ? kMagic : 0;
    munmap(p, sizeof(Layout));
    return r == 0;
}

} // namespace

struct NamedMutex::State : Layout {};

NamedMutex::NamedMutex(std::string_view name) {
    detail::NamedObjectFile file = detail::OpenNamedObject(name, ".mutex", sizeof(State), InitialiseState);
    if (file.fd < 0) {
        error_ = file.error;
        return;
    }
    void* p = mmap(nullptr, sizeof(State), PROT_READ | PROT_WRITE, MAP_SHARED, file.fd, 0);
    if (p == MAP_FAILED || static_cast<State*>(p)->magic != kMagic) {
        error_ = p == MAP_FAILED ? errno : EINVAL;
        if (p != MAP_FAILED) munmap(p, sizeof(State));
        detail::CloseNamedObject(file.fd, file.path);
        return;
    }
    state_ = static_cast<State*>(p);
    fd_ = file.fd;
    existed_ = file.existed;
    path_ = std::move(file.path);
}

NamedMutex::~NamedMutex() {
    Close();
}

NamedMutex::NamedMutex(NamedMutex&& other) noexcept {
    *this = std::move(other);
}

NamedMutex& NamedMutex::operator=(NamedMutex&& other) noexcept {
    if (this != &other) {
        Close();
        state_ = std::exchange(other.state_, nullptr);
        fd_ = std::exchange(other.fd_, -1);
        existed_ = std::exchange(other.existed_, false);
        error_ = std::exchange(other.error_, 0);
        held_.store(other.held_.exchange(0));
        path_ = std::move(other.path_);
        other.path_.clear();
    }
    return *this;
}

LockResult NamedMutex::Lock(std::uint32_t timeoutMs) {
    if (state_ == nullptr) return LockResult::Failed;
    int r;
    if (timeoutMs == kInfinite) {
        r = pthread_mutex_lock(&state_->mutex);
    } else if (timeoutMs == 0) {
        r = pthread_mutex_trylock(&state_->mutex);
    } else {
        timespec deadline{};
        clock_gettime(kLockClock, &deadline);
        deadline.tv_sec += static_cast<time_t>(timeoutMs / 1000u);
        deadline.tv_nsec += static_cast<long>(timeoutMs % 1000u) * 1000000L;
        if (deadline.tv_nsec >= 1000000000L) {
            deadline.tv_sec += 1;
            deadline.tv_nsec -= 1000000000L;
        }
#if defined(__SANITIZE_THREAD__)
        // The thread sanitizer sees no clocklock; it does see timedlock.
        r = pthread_mutex_timedlock(&state_->mutex, &deadline);
#else
        r = pthread_mutex_clocklock(&state_->mutex, CLOCK_MONOTONIC, &deadline);
#endif
    }
    switch (r) {
    case 0:
        held_.fetch_add(1);
        return LockResult::Acquired;
    case EOWNERDEAD:
        // We own it now; make it usable again at once, so that it can never
        // end up unrecoverable, and tell the caller its data may be torn.
        pthread_mutex_consistent(&state_->mutex);
        held_.fetch_add(1);
        return LockResult::OwnerDied;
    case EBUSY:
    case ETIMEDOUT:
        return LockResult::Timeout;
    default:
        return LockResult::Failed;
    }
}

bool NamedMutex::Unlock() {
    if (state_ == nullptr) return false;
    if (pthread_mutex_unlock(&state_->mutex) != 0) return false;
    held_.fetch_sub(1);
    return true;
}

void NamedMutex::Close() {
    if (state_ != nullptr && held_.load() != 0) {
        // A thread still holds the mutex through this mapping and it sits on
        // that thread's robust list. Unmapping would leave the list pointing
        // at nothing; keeping the mapping and the user's hold on the file lets
        // the thread's end mark the owner dead for the next locker.
        state_ = nullptr;
        fd_ = -1;
    }
    if (state_ != nullptr) munmap(state_, sizeof(State));
    state_ = nullptr;
    if (fd_ >= 0) detail::CloseNamedObject(fd_, path_);
    fd_ = -1;
    existed_ = false;
    held_.store(0);
}

} // namespace qorcam::os
