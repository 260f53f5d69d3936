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
// How long one look at the runnable count serves: reading it costs more
// than a small conversion gains.
constexpr std::chrono::milliseconds kFreeCpusAge{5};
// Bands per thread wanted for an even finish.
constexpr int kBandsPerThread = 4;
constexpr int kMaxHelpers = 63;

std::atomic<int> gTestBandRows{0};

int AllowedCpus() {
    cpu_set_t set;
    CPU_ZERO(&set);
    if (sched_getaffinity(0, sizeof set, &set) != 0) return static_cast<int>(std::thread::hardware_concurrency());
    return CPU_COUNT(&set);
}

// Processors not taken by other runnable threads: the allowed ones less
// the runnable count of /proc/loadavg (which includes the caller), and less
// its 1-minute load average.
int ReadFreeCpus() {
    static const int cpus = std::max(1, AllowedCpus());
    // Kept open: one read is one system call.
    static const int fd = open("/proc/loadavg", O_RDONLY | O_CLOEXEC);
    char text[128];
    const ssize_t n = fd >= 0 ? pread(fd, text, sizeof text - 1, 0) : -1;
    if (n <= 0) return cpus;
    text[n] = 0;
    return detail::FreeCpusOfLoad(text, cpus);
}

} // namespace

namespace detail {

int FreeCpusOfLoad(const char* text, int cpus) {
    // "0.50 0.40 0.30 2/190 12345": runnable / all threads after three loads.
    const char* slash = std::strchr(text, '/');
    const char* p = slash;
    while (p && p > text && p[-1] >= '0' && p[-1] <= '9')
        --p;
    if (!slash || p == slash) return cpus;
    const int running = static_cast<int>(std::min(std::strtol(p, nullptr, 10), 1L << 20));
    // The 1-minute average too: a machine that was busy a moment ago is
    // likely to preempt a helper in the middle of its band, and the caller
    // would wait for it. The kernel writes it with a decimal point whatever
    // the process's locale.
    double load = 0; // as strtod gave for text without a number
    std::from_chars(text, slash, load);
    const int averaged = load >= 0 && load < cpus ? cpus - static_cast<int>(load + 0.5) : 0;
    return std::clamp(std::min(cpus - (running - 1), averaged), 1, cpus);
}

} // namespace detail

namespace {

// ReadFreeCpus, read again once its last value is kFreeCpusAge old.
int FreeCpus() {
    static std::atomic<int64_t> readAt{INT64_MIN};
    static std::atomic<int> lastFree{1};
    const int64_t now = std::chrono::steady_clock::now().time_since_epoch().count();
    const int64_t age = std::chrono::duration_cast<std::chrono::steady_clock::duration>(kFreeCpusAge).count();
    const int64_t then = readAt.load(std::memory_order_acquire);
    if (then != INT64_MIN && now - then < age) return lastFree.load(std::memory_order_relaxed);
    const int free = ReadFreeCpus();
    lastFree.store(free, std::memory_order_relaxed);
    readAt.store(now, std::memory_order_release);
    return free;
}

struct Job {
    void (*body)(const void*, int) = nullptr;
    const void* ctx = nullptr;
    int bands = 0;
    std::atomic<int> next{0};
    std::atomic<int> done{0};

    // Takes bands until none is left. The body and its context are touched
    // only for a band taken, so a helper that comes after the caller has
    // returned does nothing with them.
    void Work() {
        for (int b = next.fetch_add(1, std::memory_order_relaxed); b < bands;
             b = next.fetch_add(1, std::memory_order_relaxed)) {
            body(ctx, b);
            if (done.fetch_add(1, std::memory_order_acq_rel) + 1 == bands) done.notify_all();
        }
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

    void Run(int bands, int helpers, void (*body)(const void*, int), const void* ctx) {
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
        for (int i = 0; i < helpers; ++i)
            wake_.notify_one();
        job->Work();
        {
            std::lock_guard<std::mutex> lock(lock_);
            current_.reset();
            wanted_ = 0;
        }
        for (int d = job->done.load(std::memory_order_acquire); d < bands;
             d = job->done.load(std::memory_order_acquire))
            job->done.wait(d, std::memory_order_acquire);
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
    if (threads > 1) threads = std::min(threads, FreeCpus());
    const int byCache = static_cast<int>(std::clamp<size_t>(kBandBytes / rowBytes, 1, static_cast<size_t>(height)));
    const int byBalance = (height + kBandsPerThread * threads - 1) / (kBandsPerThread * threads);
    plan.bandRows = std::min(std::max(minRows, std::min(byCache, byBalance)), std::max(height, 1));
    const int bands = (height + plan.bandRows - 1) / plan.bandRows;
    plan.threads = std::max(1, std::min(threads, bands));
    return plan;
}

void RunBands(int bands, int helpers, void (*body)(const void*, int), const void* ctx) {
    Pool::Get().Run(bands, helpers, body, ctx);
}

} // namespace detail
} // namespace qorcam::conversion
