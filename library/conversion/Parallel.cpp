// The band planner and the helper pool behind ForEachBand.
#include "Parallel.h"

#include <omp.h>
#include <fcntl.h>
#include <sched.h>
#include <pthread.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <atomic>
#include <charconv>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

namespace qorcam::conversion {
namespace {

// Output bytes of the largest band: small enough that a band's source and
// destination stay in a core's own cache, large enough that handing it out
// costs nothing measurable.
constexpr size_t kBandBytes = 256 * 1024;
// Output bytes of the smallest band handed out before the last: the bands
// at the end of an image, where the threads should finish together.
constexpr size_t kTailBytes = 32 * 1024;
// Output bytes per thread below which a helper is not worth waking.
constexpr size_t kThreadBytes = 512 * 1024;
// How long one look at the usable processors serves: the affinity mask and
// the control group's quota change rarely, and reading the quota costs a
// few file reads.
constexpr std::chrono::milliseconds kCpusAge{250};
constexpr int kMaxHelpers = 63;
// How long the caller spins for the bands helpers hold before it sleeps.
constexpr int64_t kSpinNanoseconds = 50'000;
// A call runs serially when its serial time is below this many times what
// waking a helper costs the caller: a helper that does not come then costs
// the call at most a tenth.
constexpr int64_t kWakeShare = 10;
// The parallel form is chosen when it took at most this share of the
// serial time (in sixteenths): a gain smaller than that is noise.
constexpr int64_t kParallelShare = 15;
// The form that lost is tried again after this many calls, then after
// twice as many each time it loses again, up to the last gap.
constexpr int kFirstTrialGap = 8;
constexpr int kLastTrialGap = 256;
// Times kept of each form, and how many each needs before the plan
// compares them (the two forms take turns until then).
constexpr int kFormTimes = 5;
constexpr int kSettleTimes = 3;
// Kernels and image sizes whose times are remembered at once; wake-ups
// whose cost is remembered.
constexpr int kPaceSlots = 32;
constexpr int kWakeTimes = 9;

std::atomic<int> gTestBandRows{0};

int RealAffinity() {
    cpu_set_t set;
    CPU_ZERO(&set);
    if (sched_getaffinity(0, sizeof set, &set) != 0) return 0;
    return CPU_COUNT(&set);
}

bool RealRead(const std::string& path, std::string& text) {
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    text.clear();
    char buf[4096];
    ssize_t n;
    // The files read here are a few lines; a runaway one is cut short.
    while ((n = read(fd, buf, sizeof buf)) > 0 && text.size() < 65536)
        text.append(buf, static_cast<size_t>(n));
    close(fd);
    return n >= 0 || !text.empty();
}

std::atomic<const detail::CpuReaders*> gTestReaders{nullptr};

// Leading decimal number of text at p, or -1 when there is none.
long long NumberAt(const std::string& text, size_t p = 0) {
    while (p < text.size() && (text[p] == ' ' || text[p] == '\t'))
        ++p;
    long long v = -1;
    const auto [end, ec] = std::from_chars(text.data() + p, text.data() + text.size(), v);
    (void)end;
    return ec == std::errc() && v >= 0 ? v : -1;
}

// Processors a quota of `quota` per `period` microseconds pays for, rounded
// down and at least 1; INT_MAX for no quota.
int QuotaCpus(long long quota, long long period) {
    if (quota <= 0 || period <= 0) return INT_MAX;
    return static_cast<int>(std::clamp<long long>(quota / period, 1, INT_MAX));
}

// The quota of the control group at path (as /proc/self/cgroup names it)
// and its ancestors, for cgroup v2 (v2 set) or the v1 cpu controller.
int GroupQuotaCpus(const detail::CpuReaders& r, std::string path, bool v2) {
    int cpus = INT_MAX;
    std::string text, period;
    for (;;) {
        while (path.size() > 1 && path.back() == '/')
            path.pop_back();
        const std::string dir = path == "/" ? std::string() : path;
        if (v2) {
            // "max 100000" or "<quota> <period>".
            if (r.read("/sys/fs/cgroup" + dir + "/cpu.max", text) && text.compare(0, 3, "max") != 0) {
                const size_t space = text.find(' ');
                if (space != std::string::npos)
                    cpus = std::min(cpus, QuotaCpus(NumberAt(text), NumberAt(text, space + 1)));
            }
        } else {
            for (const char* mount : {"/sys/fs/cgroup/cpu,cpuacct", "/sys/fs/cgroup/cpu"}) {
                const std::string base = mount + dir;
                if (r.read(base + "/cpu.cfs_quota_us", text)) {
                    // -1: no quota.
                    if (text.find('-') == std::string::npos && r.read(base + "/cpu.cfs_period_us", period))
                        cpus = std::min(cpus, QuotaCpus(NumberAt(text), NumberAt(period)));
                    break;
                }
            }
        }
        if (path.empty() || path == "/") break;
        const size_t slash = path.rfind('/');
        path = slash == 0 || slash == std::string::npos ? "/" : path.substr(0, slash);
    }
    return cpus;
}

} // namespace

namespace detail {

int UsableCpus(const CpuReaders& r) {
    int cpus = r.affinity ? r.affinity() : 0;
    if (cpus <= 0) cpus = std::max(1, static_cast<int>(std::thread::hardware_concurrency()));
    std::string groups;
    if (!r.read || !r.read("/proc/self/cgroup", groups)) return cpus;
    // Lines of "hierarchy:controllers:path"; "0::path" is the v2 group.
    size_t at = 0;
    while (at < groups.size()) {
        size_t end = groups.find('\n', at);
        if (end == std::string::npos) end = groups.size();
        const std::string line = groups.substr(at, end - at);
        at = end + 1;
        const size_t c1 = line.find(':');
        const size_t c2 = c1 == std::string::npos ? c1 : line.find(':', c1 + 1);
        if (c2 == std::string::npos || c2 + 1 >= line.size() || line[c2 + 1] != '/') continue;
        const std::string controllers = line.substr(c1 + 1, c2 - c1 - 1);
        const std::string path = line.substr(c2 + 1);
        if (line.compare(0, c1, "0") == 0 && controllers.empty()) {
            cpus = std::min(cpus, GroupQuotaCpus(r, path, true));
        } else {
            bool cpu = false;
            for (size_t p = 0; p <= controllers.size();) {
                size_t comma = controllers.find(',', p);
                if (comma == std::string::npos) comma = controllers.size();
                cpu = cpu || controllers.compare(p, comma - p, "cpu") == 0;
                p = comma + 1;
            }
            if (cpu) cpus = std::min(cpus, GroupQuotaCpus(r, path, false));
        }
    }
    return std::max(1, cpus);
}

} // namespace detail

namespace {

// The processors of the caller's affinity mask and those the control
// groups' quota pays for, each read again once kCpusAge old. Reading the
// quota takes a few file reads (a tenth of a millisecond and more on some
// machines): while helpers are at work, one of them reads it after its
// bands, off the caller's time.
std::atomic<int64_t> gMaskAt{INT64_MIN}, gQuotaAt{INT64_MIN};
std::atomic<int> gMaskCpus{1}, gQuotaCpus{1};
std::atomic<bool> gQuotaWanted{false};

int64_t Nanoseconds() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

void ReadQuota() {
    // The quota alone: an affinity mask of every processor.
    static const detail::CpuReaders quotaOnly{[] { return INT_MAX; }, &RealRead};
    gQuotaCpus.store(detail::UsableCpus(quotaOnly), std::memory_order_relaxed);
    gQuotaAt.store(Nanoseconds(), std::memory_order_release);
}

// UsableCpus of the caller, from values at most kCpusAge old (or a little
// older for the quota, until a helper reads it).
int CachedUsableCpus() {
    if (const detail::CpuReaders* test = gTestReaders.load(std::memory_order_acquire)) return detail::UsableCpus(*test);
    const int64_t now = Nanoseconds();
    const int64_t age = std::chrono::duration_cast<std::chrono::nanoseconds>(kCpusAge).count();
    if (const int64_t at = gMaskAt.load(std::memory_order_acquire); at == INT64_MIN || now - at >= age) {
        const int mask = RealAffinity();
        gMaskCpus.store(mask > 0 ? mask : std::max(1, static_cast<int>(std::thread::hardware_concurrency())),
                        std::memory_order_relaxed);
        gMaskAt.store(now, std::memory_order_release);
    }
    const int mask = gMaskCpus.load(std::memory_order_relaxed);
    const int64_t then = gQuotaAt.load(std::memory_order_acquire);
    // Read here the first time, when no helper would run to read it, or
    // when none has for long.
    if (then == INT64_MIN || now - then >= 8 * age ||
        (now - then >= age && std::min(mask, gQuotaCpus.load(std::memory_order_relaxed)) <= 1))
        ReadQuota();
    else if (now - then >= age)
        gQuotaWanted.store(true, std::memory_order_relaxed);
    return std::max(1, std::min(mask, gQuotaCpus.load(std::memory_order_relaxed)));
}

// What the last calls of each kernel and image size took in each form, and
// what the last wake-ups cost the caller (their median: one that the
// scheduler stretched does not count). The forms are compared by their
// typical time, the median of the last five: the parallel form's times
// spread more than the serial one's (a helper that comes late leaves the
// caller the whole image and the wake-up on top), so the least of each
// would pick it whenever one call in a few had its helper, however slow
// the others were. The least serial time says whether a call is short
// next to a wake-up.
class Paces {
public:
    // Whether a call of this kernel and image size runs in parallel: see
    // PlanBands.
    bool Parallel(unsigned kernel, int height, size_t rowBytes) {
        std::lock_guard<std::mutex> lock(lock_);
        Pace& p = Find(kernel, height, rowBytes);
        const int64_t wake = WakeLocked();
        const int64_t serialLeast = Least(p.serial), serial = Typical(p.serial, false);
        // Until each form has a few times, the two take turns (the serial
        // one first), unless the call is short next to a wake-up.
        if ((p.serial.count < kSettleTimes || p.parallel.count < kSettleTimes) &&
            detail::ParallelPays(serialLeast, serial, 0, wake))
            return p.parallel.count < p.serial.count;
        const bool preferred = detail::ParallelPays(serialLeast, serial, Typical(p.parallel, true), wake);
        if (preferred != p.preferred) {
            // The other form won: it is tried again soon.
            p.preferred = preferred;
            p.sinceTrial = 0;
            p.gap = kFirstTrialGap;
        }
        if (++p.sinceTrial < p.gap) return preferred;
        // Now and then the form that lost, ever more rarely while it keeps
        // losing, so that a change of load is noticed.
        p.sinceTrial = 0;
        p.gap = std::min(2 * p.gap, kLastTrialGap);
        return !preferred;
    }
    void Add(bool parallel, unsigned kernel, int height, size_t rowBytes, int64_t ns) {
        std::lock_guard<std::mutex> lock(lock_);
        Pace& p = Find(kernel, height, rowBytes);
        Times& t = parallel ? p.parallel : p.serial;
        ns = std::max<int64_t>(ns, 1);
        // A trial of the form that lost which was faster than the other's
        // typical time: the next trial comes soon, as one call no longer
        // turns the choice and the load may have changed.
        if (parallel != p.preferred && p.serial.count >= kSettleTimes && p.parallel.count >= kSettleTimes) {
            const int64_t serial = Typical(p.serial, false);
            const bool won = parallel ? ns < serial && detail::ParallelPays(Least(p.serial), serial, 0, WakeLocked())
                                      : ns < Typical(p.parallel, true);
            if (won) {
                p.sinceTrial = 0;
                p.gap = kFirstTrialGap;
            }
        }
        t.last[t.next] = ns;
        t.next = (t.next + 1) % kFormTimes;
        t.count = std::min(t.count + 1, kFormTimes);
    }
    void AddWake(int64_t ns) {
        std::lock_guard<std::mutex> lock(lock_);
        wakes_[wakeNext_] = std::max<int64_t>(ns, 1);
        wakeNext_ = (wakeNext_ + 1) % kWakeTimes;
    }
    void Reset() {
        std::lock_guard<std::mutex> lock(lock_);
        for (Pace& p : slots_)
            p = Pace{};
        for (int64_t& t : wakes_)
            t = 0;
        clock_ = 0;
    }

private:
    struct Times {
        int64_t last[kFormTimes] = {};
        int next = 0;
        int count = 0; // times kept, at most kFormTimes
    };
    static int64_t Least(const Times& t) {
        int64_t least = 0;
        for (int i = 0; i < t.count; ++i)
            if (least == 0 || t.last[i] < least) least = t.last[i];
        return least;
    }
    // The median of the times kept (0: none); of an even count the upper
    // or the lower middle one.
    static int64_t Typical(const Times& t, bool upper) {
        if (t.count == 0) return 0;
        int64_t sorted[kFormTimes];
        std::copy(t.last, t.last + t.count, sorted);
        const int at = upper ? t.count / 2 : (t.count - 1) / 2;
        std::nth_element(sorted, sorted + at, sorted + t.count);
        return sorted[at];
    }
    int64_t WakeLocked() const {
        int64_t sorted[kWakeTimes];
        int n = 0;
        for (int64_t t : wakes_)
            if (t > 0) sorted[n++] = t;
        if (n == 0) return 0;
        std::nth_element(sorted, sorted + n / 2, sorted + n);
        return sorted[n / 2];
    }

    struct Pace {
        unsigned kernel = 0;
        int height = 0;
        size_t rowBytes = 0;
        Times serial, parallel;
        // The form the times chose at the last call, the calls since the
        // other one was last tried, and the calls between its trials.
        bool preferred = false;
        int sinceTrial = 0;
        int gap = kFirstTrialGap;
        uint64_t used = 0;
    };
    Pace& Find(unsigned kernel, int height, size_t rowBytes) {
        Pace* oldest = &slots_[0];
        for (Pace& p : slots_) {
            if (p.used != 0 && p.kernel == kernel && p.height == height && p.rowBytes == rowBytes) {
                p.used = ++clock_;
                return p;
            }
            if (p.used < oldest->used) oldest = &p;
        }
        *oldest = Pace{};
        oldest->kernel = kernel, oldest->height = height, oldest->rowBytes = rowBytes;
        oldest->used = ++clock_;
        return *oldest;
    }
    std::mutex lock_;
    Pace slots_[kPaceSlots];
    uint64_t clock_ = 0;
    int64_t wakes_[kWakeTimes] = {};
    int wakeNext_ = 0;
};

Paces gPaces;

// Set on a caller whose call started a helper thread: that call's time is
// not kept (starting threads costs far more than a call's wake-up).
thread_local bool tStartedHelpers = false;

std::atomic<bool> gForked{false};

inline void CpuRelax() {
#if defined(__x86_64__) || defined(__i386__)
    __builtin_ia32_pause();
#elif defined(__aarch64__)
    asm volatile("yield");
#endif
}

// The call in progress. Its fields are rewritten for every call, while a
// helper of an earlier call may still be reading them: a helper reads the
// ticket, then the fields, and converts a band only when its claim on the
// ticket (which carries the call's number) succeeds. The caller closes the
// ticket (an exchange, which orders every successful claim before it)
// before it rewrites the fields, so a claim that succeeds was made with the
// call's own fields.
struct Job {
    // The call's number (high 32 bits) and the next row to hand out.
    std::atomic<uint64_t> ticket{0};
    std::atomic<void (*)(const void*, int, int)> body{nullptr};
    std::atomic<const void*> ctx{nullptr};
    std::atomic<int> height{0};
    std::atomic<int> bandRows{1};
    std::atomic<int> tailRows{1};
    std::atomic<int> threads{1};
    // Rows converted; the caller returns when it reaches height.
    std::atomic<int> rowsDone{0};

    // Claims the next band of call `call`: [r0, r1). False when the call's
    // rows are all handed out or the call is over.
    bool Claim(uint32_t call, int& r0, int& r1) {
        uint64_t t = ticket.load(std::memory_order_acquire);
        const int h = height.load(std::memory_order_relaxed);
        const int big = bandRows.load(std::memory_order_relaxed);
        const int tail = tailRows.load(std::memory_order_relaxed);
        const int n = threads.load(std::memory_order_relaxed);
        for (;;) {
            if (static_cast<uint32_t>(t >> 32) != call) return false;
            const int next = static_cast<int>(static_cast<uint32_t>(t));
            if (next >= h) return false;
            // A share of what is left, in whole tails, between a tail and
            // a full band: large bands while much is left, then ever
            // smaller ones so that the threads finish together.
            const int left = h - next;
            const int share = (left + 2 * n - 1) / (2 * n);
            const int rows = std::min(left, std::clamp((share + tail - 1) / tail * tail, tail, std::max(big, tail)));
            if (ticket.compare_exchange_weak(t, t + static_cast<uint64_t>(rows), std::memory_order_acq_rel,
                                             std::memory_order_acquire)) {
                r0 = next;
                r1 = next + rows;
                return true;
            }
        }
    }

    // Converts bands of call `call` until none is left; the rows converted.
    int Work(uint32_t call) {
        // Read before any claim: see above.
        const auto run = body.load(std::memory_order_relaxed);
        const void* const arg = ctx.load(std::memory_order_relaxed);
        const int h = height.load(std::memory_order_relaxed);
        int r0, r1, mine = 0;
        while (Claim(call, r0, r1)) {
            run(arg, r0, r1);
            mine += r1 - r0;
            if (rowsDone.fetch_add(r1 - r0, std::memory_order_acq_rel) + (r1 - r0) == h) rowsDone.notify_one();
        }
        return mine;
    }
};

class Pool {
public:
    // One pool for the process. It ends its helpers when it is destroyed, at
    // exit or when the library is unloaded, so that no thread is left
    // sleeping in code that goes away. A child made by fork has none of its
    // parent's helpers: it waits for none.
    static Pool& Get() {
        static Pool pool;
        return pool;
    }

    Pool() {
        pthread_atfork(nullptr, nullptr, [] { gForked.store(true, std::memory_order_relaxed); });
    }

    ~Pool() {
        std::unique_lock<std::mutex> lock(lock_);
        stop_.store(true, std::memory_order_release);
        for (Slot& s : slots_) {
            s.wake.fetch_add(1, std::memory_order_release);
            s.wake.notify_all();
        }
        if (owner_ == getpid()) gone_.wait(lock, [this] { return running_ == 0; });
    }

    // The rows the caller converted itself.
    int Run(int height, const detail::BandPlan& plan, void (*body)(const void*, int, int), const void* ctx) {
        // One parallel conversion at a time; a second caller meanwhile runs
        // its rows alone, which is what it would get from busy cores anyway.
        std::unique_lock<std::mutex> busy(busy_, std::try_to_lock);
        int chosen[kMaxHelpers];
        const int helpers = busy.owns_lock() ? Choose(plan.threads - 1, chosen) : 0;
        if (helpers == 0) {
            body(ctx, 0, height);
            return height;
        }
        const uint32_t call = ++calls_;
        job_.body.store(body, std::memory_order_relaxed);
        job_.ctx.store(ctx, std::memory_order_relaxed);
        job_.height.store(height, std::memory_order_relaxed);
        job_.bandRows.store(plan.bandRows, std::memory_order_relaxed);
        job_.tailRows.store(plan.tailRows, std::memory_order_relaxed);
        job_.threads.store(helpers + 1, std::memory_order_relaxed);
        job_.rowsDone.store(0, std::memory_order_relaxed);
        for (int i = 0; i < helpers; ++i) {
            slots_[chosen[i]].call.store(call, std::memory_order_relaxed);
            slots_[chosen[i]].next.store(i + 1 < helpers ? chosen[i + 1] : -1, std::memory_order_relaxed);
        }
        job_.ticket.store(static_cast<uint64_t>(call) << 32, std::memory_order_release);
        // One wake-up on the caller; each helper wakes the next.
        const int64_t wakeAt = Nanoseconds();
        Wake(chosen[0]);
        const int64_t workAt = Nanoseconds();
        const int mine = job_.Work(call);
        gPaces.AddWake(workAt - wakeAt);
        // The bands that helpers took: a short spin (they are near their
        // end if they run at all), then sleep.
        const int64_t until = Nanoseconds() + kSpinNanoseconds;
        for (int spins = 0; job_.rowsDone.load(std::memory_order_acquire) < height; ++spins) {
            if ((spins & 63) == 63 && Nanoseconds() > until) {
                for (int d; (d = job_.rowsDone.load(std::memory_order_acquire)) < height;)
                    job_.rowsDone.wait(d, std::memory_order_acquire);
                break;
            }
            CpuRelax();
        }
        // Closes the call before its fields may change: a helper that read
        // them for this call can no longer claim a band with them.
        job_.ticket.exchange(static_cast<uint64_t>(call) << 32 | INT_MAX, std::memory_order_acq_rel);
        return mine;
    }

private:
    // One helper, kept on one processor of the caller's mask: the scheduler
    // often places a woken thread on its waker's processor, where it would
    // only wait for the caller (or take its place) instead of converting
    // beside it. The caller wakes the helpers of processors other than its
    // own; a helper whose processor is busy with other work comes late and
    // converts less.
    struct Slot {
        std::atomic<uint32_t> wake{0};
        std::atomic<pid_t> tid{0};
        // The call it was chosen for, and the helper it wakes in turn.
        std::atomic<uint32_t> call{0};
        std::atomic<int> next{-1};
        int cpu = -1;        // under busy_: the processor it is kept on
        bool started = false; // under busy_
    };

    void Wake(int slot) {
        slots_[slot].wake.fetch_add(1, std::memory_order_release);
        slots_[slot].wake.notify_one();
    }

    // Picks up to `wanted` helpers on processors other than the caller's,
    // starting them or moving them as the caller's mask asks; their slots go
    // to chosen. Under busy_.
    int Choose(int wanted, int* chosen) {
        wanted = std::min(wanted, kMaxHelpers);
        if (wanted <= 0) return 0;
        // A child made by fork has none of its parent's helpers.
        if (started_ && gForked.load(std::memory_order_relaxed)) return 0;
        const int self = sched_getcpu();
        const int64_t now = Nanoseconds();
        bool known = false;
        for (int i = 0; i < cpuCount_ && !known; ++i)
            known = cpus_[i] == self;
        if (!known || now - cpusReadAt_ > std::chrono::nanoseconds(kCpusAge).count()) {
            cpu_set_t mask;
            if (sched_getaffinity(0, sizeof mask, &mask) != 0) return 0;
            cpuCount_ = 0;
            for (int c = 0; c < CPU_SETSIZE && cpuCount_ < kMaxHelpers + 1; ++c)
                if (CPU_ISSET(c, &mask)) cpus_[cpuCount_++] = c;
            cpusReadAt_ = now;
        }
        // The processors after the caller's, in turn, so that callers on
        // different processors spread their helpers.
        int at = 0;
        while (at < cpuCount_ && cpus_[at] != self)
            ++at;
        int n = 0;
        for (int k = 1; k <= cpuCount_ && n < wanted; ++k) {
            const int slot = (at + k) % cpuCount_;
            if (cpus_[slot] == self || slot >= kMaxHelpers) continue;
            Slot& s = slots_[slot];
            if (!s.started) {
                if (!Start(slot)) break;
                s.cpu = cpus_[slot];
            } else if (s.cpu != cpus_[slot]) {
                // The mask changed: the helper moves to its slot's processor.
                const pid_t tid = s.tid.load(std::memory_order_acquire);
                cpu_set_t one;
                CPU_ZERO(&one);
                CPU_SET(cpus_[slot], &one);
                if (tid > 0 && sched_setaffinity(tid, sizeof one, &one) == 0) s.cpu = cpus_[slot];
            }
            chosen[n++] = slot;
        }
        return n;
    }

    bool Start(int slot) {
        std::lock_guard<std::mutex> lock(lock_);
        try {
            // The helper waits for wake-ups after this one's count: it may
            // start running only after its first.
            std::thread(&Pool::Helper, this, slot, cpus_[slot], slots_[slot].wake.load(std::memory_order_acquire))
                .detach();
        } catch (const std::system_error&) {
            return false;
        }
        owner_ = getpid();
        tStartedHelpers = true;
        ++running_;
        slots_[slot].started = true;
        started_ = true;
        return true;
    }

    void Helper(int slot, int cpu, uint32_t seen) {
        Slot& s = slots_[slot];
        s.tid.store(static_cast<pid_t>(syscall(SYS_gettid)), std::memory_order_release);
        cpu_set_t one;
        CPU_ZERO(&one);
        CPU_SET(cpu, &one);
        sched_setaffinity(0, sizeof one, &one);
        for (;;) {
            // Returns at once if the count moved since `seen` (stop_ is set
            // before the count moves at the end).
            s.wake.wait(seen, std::memory_order_acquire);
            seen = s.wake.load(std::memory_order_acquire);
            if (stop_.load(std::memory_order_acquire)) break;
            const uint32_t call = static_cast<uint32_t>(job_.ticket.load(std::memory_order_acquire) >> 32);
            // Woken for a call that is over: a later one may not want it.
            if (s.call.load(std::memory_order_relaxed) != call) continue;
            if (const int next = s.next.load(std::memory_order_relaxed); next >= 0) Wake(next);
            job_.Work(call);
            if (gQuotaWanted.load(std::memory_order_relaxed) && gQuotaWanted.exchange(false)) ReadQuota();
        }
        std::lock_guard<std::mutex> lock(lock_);
        if (--running_ == 0) gone_.notify_all();
    }

    std::mutex busy_;
    // Under busy_: the calls so far, and the caller's processors.
    uint32_t calls_ = 0;
    int cpus_[kMaxHelpers + 1] = {};
    int cpuCount_ = 0;
    int64_t cpusReadAt_ = INT64_MIN / 2;
    bool started_ = false; // a helper was started (in this process or, after fork, the parent)
    Job job_;
    Slot slots_[kMaxHelpers];
    std::atomic<bool> stop_{false};
    std::mutex lock_;
    std::condition_variable gone_;
    int running_ = 0; // under lock_
    pid_t owner_ = 0; // under lock_
};

} // namespace

void SetBandRowsForTests(int rows) {
    gTestBandRows.store(std::max(rows, 0), std::memory_order_relaxed);
}

namespace detail {

void SetCpuReadersForTests(const CpuReaders* readers) {
    gTestReaders.store(readers, std::memory_order_release);
    gPaces.Reset();
    tStartedHelpers = false;
}

BandPlan PlanBands(int height, size_t rowBytes, int minRows, unsigned kernel) {
    BandPlan plan;
    const int cap = std::max(1, omp_get_max_threads());
    if (const int forced = gTestBandRows.load(std::memory_order_relaxed); forced > 0) {
        plan.bandRows = plan.tailRows = forced;
        plan.threads = cap;
        return plan;
    }
    height = std::max(height, 1);
    minRows = std::clamp(minRows, 1, height);
    rowBytes = std::max<size_t>(rowBytes, 1);
    const size_t total = rowBytes * static_cast<size_t>(height);
    int threads = static_cast<int>(std::clamp<size_t>(total / kThreadBytes, 1, static_cast<size_t>(cap)));
    if (threads > 1) threads = std::min(threads, CachedUsableCpus());
    // Whole multiples of minRows, rounded to the nearest.
    auto rowsOf = [&](size_t bytes) {
        const size_t rows = (bytes / rowBytes + static_cast<size_t>(minRows) / 2) / static_cast<size_t>(minRows);
        return static_cast<int>(std::clamp<size_t>(rows, 1, static_cast<size_t>(height))) * minRows;
    };
    plan.bandRows = rowsOf(kBandBytes);
    plan.tailRows = std::min(rowsOf(kTailBytes), plan.bandRows);
    plan.threads = std::max(1, std::min(threads, (height + plan.tailRows - 1) / plan.tailRows));
    if (plan.threads > 1 && kernel != 0) {
        plan.kernel = kernel;
        plan.rowBytes = rowBytes;
        if (!gPaces.Parallel(kernel, height, rowBytes)) plan.threads = 1;
    }
    return plan;
}

bool ParallelPays(int64_t serialLeast, int64_t serial, int64_t parallel, int64_t wake) {
    // The serial form first, to know what the parallel one must beat.
    if (serialLeast <= 0 || serial <= 0) return false;
    if (wake > 0 && serialLeast < kWakeShare * wake) return false;
    if (parallel <= 0) return true;
    return parallel * 16 <= serial * kParallelShare;
}

void RecordSerial(const BandPlan& plan, int height, int64_t nanoseconds) {
    gPaces.Add(false, plan.kernel, height, plan.rowBytes, nanoseconds);
}

void RecordParallel(const BandPlan& plan, int height, int64_t nanoseconds) {
    // A call that started helper threads says nothing of the next ones.
    if (std::exchange(tStartedHelpers, false)) return;
    gPaces.Add(true, plan.kernel, height, plan.rowBytes, nanoseconds);
}

void RecordWakeForTests(int64_t nanoseconds) {
    gPaces.AddWake(nanoseconds);
}

int64_t Nanoseconds() {
    return qorcam::conversion::Nanoseconds();
}

int RunBands(int height, const BandPlan& plan, void (*body)(const void*, int, int), const void* ctx) {
    tStartedHelpers = false;
    return Pool::Get().Run(height, plan, body, ctx);
}

} // namespace detail
} // namespace qorcam::conversion
