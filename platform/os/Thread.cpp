// Thread: stub.
#include "os/Thread.h"

#include <sys/syscall.h>
#include <unistd.h>

namespace qorcam::os {

Thread::Thread(std::string name) : name_(std::move(name)) {}
Thread::~Thread() { Join(); }
bool Thread::Start(std::function<void()>, ThreadPriority) { return false; }
ThreadPriority Thread::SetPriority(ThreadPriority p) { return p; }
void Thread::Join() {}
void* Thread::Entry(void*) { return nullptr; }
std::uint32_t Thread::CurrentId() { return static_cast<std::uint32_t>(syscall(SYS_gettid)); }
ThreadPriority Thread::SetCurrentPriority(ThreadPriority p) { return p; }

} // namespace qorcam::os
