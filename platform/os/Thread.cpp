// Thread: pthreads with priorities mapped to real-time or nice levels.
#include "os/Thread.h"

#include <cerrno>
#include <sched.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace qorcam::os {
namespace {

// Real-time level of a time-critical thread: above every normal thread, below
// the kernel's own interrupt threads (50).
constexpr int kTimeCriticalFifo = 40;

int NiceFor(ThreadPriority p) {
    switch (p) {
    case ThreadPriority::Idle:
        return 19;
    case ThreadPriority::Lowest:
        return 10;
    case ThreadPriority::BelowNormal:
        return 5;
    case ThreadPriority::Normal:
        return 0;
    case ThreadPriority::AboveNormal:
        return -5;
    case ThreadPriority::Highest:
        return -10;
    case ThreadPriority::TimeCritical:
        return -20;
    }
    return 0;
}

ThreadPriority PriorityForNice(int nice) {
    if (nice <= -10) return ThreadPriority::Highest;
    if (nice <= -5) return ThreadPriority::AboveNormal;
    if (nice <= 0) return ThreadPriority::Normal;
    if (nice <= 5) return ThreadPriority::BelowNormal;
    if (nice <= 10) return ThreadPriority::Lowest;
    return ThreadPriority::Idle;
}

// Applies a priority to the thread (handle for the policy, tid for the nice
// level, which Linux keeps per thread). Never fails: a level the process may
// not take is replaced by the closest one it may.
ThreadPriority Apply(pthread_t handle, std::uint32_t tid, ThreadPriority wanted) {
    if (wanted == ThreadPriority::TimeCritical) {
        sched_param param{};
        param.sched_priority = kTimeCriticalFifo;
        if (pthread_setschedparam(handle, SCHED_FIFO, &param) == 0) return ThreadPriority::TimeCritical;
    } else {
        // Leaving real time is always allowed.
        int policy = SCHED_OTHER;
        sched_param param{};
        if (pthread_getschedparam(handle, &policy, &param) == 0 && policy != SCHED_OTHER) {
            param.sched_priority = 0;
            pthread_setschedparam(handle, SCHED_OTHER, &param);
        }
    }
    // From the wanted nice level towards lower priority, the first that the
    // process may take (without privilege only RLIMIT_NICE lets it go below
    // its current level).
    for (int nice = NiceFor(wanted); nice <= 19; ++nice) {
        if (setpriority(PRIO_PROCESS, static_cast<id_t>(tid), nice) == 0) return PriorityForNice(nice);
    }
    errno = 0;
    const int current = getpriority(PRIO_PROCESS, static_cast<id_t>(tid));
    return PriorityForNice(errno == 0 ? current : 0);
}

} // namespace

Thread::Thread(std::string name) : name_(std::move(name)) {}

Thread::~Thread() {
    Join();
}

bool Thread::Start(std::function<void()> fn, ThreadPriority priority) {
    if (started_ || !fn || !finished_.IsValid() || !running_.IsValid()) return false;
    fn_ = std::move(fn);
    priority_.store(priority);
    if (pthread_create(&handle_, nullptr, &Thread::Entry, this) != 0) {
        fn_ = nullptr;
        return false;
    }
    started_ = true;
    // Wait until the thread has its id and priority, so that SetPriority and
    // Id() are meaningful as soon as Start returns.
    running_.Wait(kInfinite);
    return true;
}

void* Thread::Entry(void* arg) {
    auto* self = static_cast<Thread*>(arg);
    self->tid_.store(CurrentId());
    if (!self->name_.empty()) pthread_setname_np(pthread_self(), self->name_.substr(0, 15).c_str());
    self->priority_.store(Apply(pthread_self(), self->tid_.load(), self->priority_.load()));
    self->running_.Set();
    self->fn_();
    if (self->ownedByThread_) {
        delete self;
        return nullptr;
    }
    self->finished_.Set();
    return nullptr;
}

void Thread::ReleaseToThread() {
    ownedByThread_ = true;
    joined_ = true;
    pthread_detach(pthread_self());
}

ThreadPriority Thread::SetPriority(ThreadPriority priority) {
    if (!started_ || joined_ || finished_.IsSet()) return priority_.load();
    priority_.store(Apply(handle_, tid_.load(), priority));
    return priority_.load();
}

void Thread::Join() {
    if (started_ && !joined_) {
        pthread_join(handle_, nullptr);
        joined_ = true;
    }
}

std::uint32_t Thread::CurrentId() {
    return static_cast<std::uint32_t>(syscall(SYS_gettid));
}

ThreadPriority Thread::SetCurrentPriority(ThreadPriority priority) {
    return Apply(pthread_self(), CurrentId(), priority);
}

} // namespace qorcam::os
