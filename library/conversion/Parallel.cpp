// The band planner and the helper pool behind ForEachBand.
#include "Parallel.h"

#include <omp.h>
#include <fcntl.h>
#include <sched.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <atomic>
#include <charconv>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

namespace qorcam::conversion {
namespace {

// Output bytes of one band: small enough that a band's source and
// destination stay in a core's own cache, large enough that handing it out
// costs nothing measurable.
constexpr size_t kBandBytes = 256 * 1024;
// Output bytes per thread below which a helper is not worth waking.
constexpr size_t kThreadBytes = 512 * 1024;
// How long one look at the usable processors serves: the affinity mask and
// the control group's quota change rarely, and reading the quota costs a
// few file reads.
constexpr std::chrono::milliseconds kCpusAge{250};
// Bands per thread wanted for an even finish.
constexpr int kBandsPerThread = 4;
constexpr int kMaxHelpers = 63;
// A parallel call that gained less than this over the caller's own pace
// counts as a loss; after n losses in a row the next 2^n calls, at most
// kMaxSerialRun, run serially.
constexpr double kMinGain = 1.05;
constexpr int kMaxSerialRun = 256;

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

// UsableCpus, read again once its last value is kCpusAge old.
int CachedUsableCpus() {
    static std::atomic<int64_t> readAt{INT64_MIN};
    static std::atomic<int> last{1};
    const int64_t now = std::chrono::steady_clock::now().time_since_epoch().count();
    const int64_t age = std::chrono::duration_cast<std::chrono::steady_clock::duration>(kCpusAge).count();
    const detail::CpuReaders* test = gTestReaders.load(std::memory_order_acquire);
    const int64_t then = readAt.load(std::memory_order_acquire);
    if (!test && then != INT64_MIN && now - then < age) return last.load(std::memory_order_relaxed);
    static const detail::CpuReaders real{&RealAffinity, &RealRead};
    const int cpus = detail::UsableCpus(test ? *test : real);
    if (test) return cpus;
    last.store(cpus, std::memory_order_relaxed);
    readAt.store(now, std::memory_order_release);
    return cpus;
}

// What parallel calls gained: the calls to run serially after a loss.
struct GainGuard {
    std::atomic<int> serialLeft{0};
    int losses = 0; // under the pool's busy lock

    // True when this call may use helpers.
    bool MayRunParallel() {
        for (int left = serialLeft.load(std::memory_order_relaxed); left > 0;)
            if (serialLeft.compare_exchange_weak(left, left - 1, std::memory_order_relaxed)) return false;
        return true;
    }
    // One parallel call: the caller did `mine` of `bands` in `own` seconds,
    // and the whole call took `all`. The caller's pace times the bands is
    // what the call would have taken alone.
    void Record(int bands, int mine, double own, double all) {
        const double alone = mine > 0 ? own * bands / mine : 0;
        if (mine < bands && all > 0 && alone >= kMinGain * all) {
            losses = 0;
            return;
        }
        losses = std::min(losses + 1, 30);
        serialLeft.store(std::min(1 << std::min(losses, 16), kMaxSerialRun), std::memory_order_relaxed);
    }
    void Reset() {
        serialLeft.store(0, std::memory_order_relaxed);
        losses = 0;
    }
};

GainGuard gGuard;

struct Job {
    void (*body)(const void*, int) = nullptr;
    const void* ctx = nullptr;
    int bands = 0;
    std::atomic<int> next{0};
    std::atomic<int> done{0};

    // Takes bands until none is left. The body and its context are touched
    // only for a band taken, so a helper that comes after the caller has
    // returned does nothing with them.
    int Work() {
        int mine = 0;
        for (int b = next.fetch_add(1, std::memory_order_relaxed); b < bands;
             b = next.fetch_add(1, std::memory_order_relaxed)) {
            body(ctx, b);
            ++mine;
            if (done.fetch_add(1, std::memory_order_acq_rel) + 1 == bands) done.notify_all();
        }
        return mine;
    }
};

class Pool {
public:
    // One pool for the process. It ends its helpers when it is destroyed, at
    // exit or when the library is unloaded, so that no thread is left
    // sleeping in code that goes away.
    static Pool& Get() {
        static Pool pool;
        return pool;
    }

    // A child made by fork has none of its parent's helpers: it waits for
    // none.
    ~Pool() {
        std::unique_lock<std::mutex> lock(lock_);
        stop_ = true;
        wake_.notify_all();
        if (owner_ == getpid()) gone_.wait(lock, [this] { return helpers_ == 0; });
    }

    // measure: the plan chose the threads itself, and the gain counts.
    void Run(int bands, int helpers, void (*body)(const void*, int), const void* ctx, bool measure) {
        // One parallel conversion at a time; a second caller meanwhile runs
        // its bands alone, which is what it would get from busy cores anyway.
        std::unique_lock<std::mutex> busy(busy_, std::try_to_lock);
        if (!busy.owns_lock() || (helpers = Grow(helpers)) == 0) {
            for (int b = 0; b < bands; ++b)
                body(ctx, b);
            return;
        }
        auto job = std::make_shared<Job>();
        job->body = body;
        job->ctx = ctx;
        job->bands = bands;
        {
            std::lock_guard<std::mutex> lock(lock_);
            current_ = job;
            wanted_ = helpers;
        }
        const auto start = std::chrono::steady_clock::now();
        for (int i = 0; i < helpers; ++i)
            wake_.notify_one();
        const int mine = job->Work();
        const auto own = std::chrono::steady_clock::now();
        {
            std::lock_guard<std::mutex> lock(lock_);
            current_.reset();
            wanted_ = 0;
        }
        for (int d = job->done.load(std::memory_order_acquire); d < bands;
             d = job->done.load(std::memory_order_acquire))
            job->done.wait(d, std::memory_order_acquire);
        if (measure)
            gGuard.Record(bands, mine, std::chrono::duration<double>(own - start).count(),
                          std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
    }

private:
    // Starts helpers until there are `wanted`; returns how many there are.
    int Grow(int wanted) {
        wanted = std::min(wanted, kMaxHelpers);
        std::lock_guard<std::mutex> lock(lock_);
        while (helpers_ < wanted) {
            try {
                std::thread(&Pool::Helper, this).detach();
            } catch (const std::system_error&) {
                break;
            }
            owner_ = getpid();
            ++helpers_;
        }
        return std::min(wanted, helpers_);
    }

    void Helper() {
        for (;;) {
            std::shared_ptr<Job> job;
            {
                std::unique_lock<std::mutex> lock(lock_);
                wake_.wait(lock, [this] { return stop_ || (current_ && wanted_ > 0); });
                if (stop_) {
                    if (--helpers_ == 0) gone_.notify_all();
                    return;
                }
                --wanted_;
                job = current_;
            }
            job->Work();
        }
    }

    std::mutex busy_;
    std::mutex lock_;
    std::condition_variable wake_;
    std::shared_ptr<Job> current_;
    int wanted_ = 0;
    int helpers_ = 0;
    bool stop_ = false;
    pid_t owner_ = 0;
    std::condition_variable gone_;
};

} // namespace

void SetBandRowsForTests(int rows) {
    gTestBandRows.store(std::max(rows, 0), std::memory_order_relaxed);
}

namespace detail {

void SetCpuReadersForTests(const CpuReaders* readers) {
    gTestReaders.store(readers, std::memory_order_release);
    gGuard.Reset();
}

} // namespace detail

namespace detail {

BandPlan PlanBands(int height, size_t rowBytes, int minRows) {
    BandPlan plan;
    const int cap = std::max(1, omp_get_max_threads());
    if (const int forced = gTestBandRows.load(std::memory_order_relaxed); forced > 0) {
        plan.bandRows = forced;
        plan.threads = cap;
        return plan;
    }
    rowBytes = std::max<size_t>(rowBytes, 1);
    const size_t total = rowBytes * static_cast<size_t>(height);
    int threads = static_cast<int>(std::clamp<size_t>(total / kThreadBytes, 1, static_cast<size_t>(cap)));
    if (threads > 1) threads = std::min(threads, CachedUsableCpus());
    if (threads > 1 && !gGuard.MayRunParallel()) threads = 1;
    const int byCache = static_cast<int>(std::clamp<size_t>(kBandBytes / rowBytes, 1, static_cast<size_t>(height)));
    const int byBalance = (height + kBandsPerThread * threads - 1) / (kBandsPerThread * threads);
    plan.bandRows = std::min(std::max(minRows, std::min(byCache, byBalance)), std::max(height, 1));
    const int bands = (height + plan.bandRows - 1) / plan.bandRows;
    plan.threads = std::max(1, std::min(threads, bands));
    return plan;
}

void RunBands(int bands, int helpers, void (*body)(const void*, int), const void* ctx) {
    Pool::Get().Run(bands, helpers, body, ctx, gTestBandRows.load(std::memory_order_relaxed) == 0);
}

} // namespace detail
} // namespace qorcam::conversion
