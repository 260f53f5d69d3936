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
// The parallel form is chosen when its time is below the serial time by
// this factor.
constexpr double kMinGain = 1.05;
// Calls between trials of the form not chosen: the first gap, the longest.
constexpr int kFirstTrialGap = 2;
constexpr int kLastTrialGap = 64;
// Kernels and image sizes remembered at once.
constexpr int kPaceSlots = 32;

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

// The last few times of one form. Other work on the machine only ever
// lengthens a call, so the least of them is the form's pace.
struct Times {
    double last[3] = {};
    int next = 0;
    void Add(double t) {
        last[next] = t > 0 ? t : 1e-9;
        next = (next + 1) % 3;
    }
    // 0 until measured.
    double Least() const {
        double m = 0;
        for (double t : last)
            if (t > 0 && (m == 0 || t < m)) m = t;
        return m;
    }
};

// The measured times of each kernel and image size, serial and parallel.
struct Pace {
    unsigned kernel = 0;
    int height = 0;
    size_t rowBytes = 0;
    Times serial;
    Times parallel;
    bool sawParallel = false; // the first parallel call (helpers starting) is not counted
    int untilTrial = 0;  // calls until the form not chosen is tried again
    int gap = kFirstTrialGap;
    bool lastChoice = false; // the parallel form was the faster
    uint64_t used = 0;
};

class Paces {
public:
    // Whether this call should run on helpers.
    bool ChooseParallel(unsigned kernel, int height, size_t rowBytes) {
        std::lock_guard<std::mutex> lock(lock_);
        Pace& p = Find(kernel, height, rowBytes);
        const double serial = p.serial.Least(), parallel = p.parallel.Least();
        if (serial == 0) return false;
        if (parallel == 0) return true;
        const bool faster = parallel * kMinGain < serial;
        if (faster != p.lastChoice) {
            p.lastChoice = faster;
            p.gap = kFirstTrialGap;
            p.untilTrial = p.gap;
        }
        if (--p.untilTrial > 0) return faster;
        p.gap = std::min(p.gap * 2, kLastTrialGap);
        p.untilTrial = p.gap;
        return !faster;
    }

    void Record(unsigned kernel, int height, size_t rowBytes, bool parallel, double seconds) {
        std::lock_guard<std::mutex> lock(lock_);
        Pace& p = Find(kernel, height, rowBytes);
        if (parallel && !p.sawParallel) {
            p.sawParallel = true;
            return;
        }
        (parallel ? p.parallel : p.serial).Add(seconds);
    }

    void Reset() {
        std::lock_guard<std::mutex> lock(lock_);
        for (Pace& p : slots_)
            p = Pace{};
        clock_ = 0;
    }

private:
    Pace& Find(unsigned kernel, int height, size_t rowBytes) {
        Pace* oldest = &slots_[0];
        for (Pace& p : slots_) {
            if (p.kernel == kernel && p.height == height && p.rowBytes == rowBytes && p.used != 0) {
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
};

Paces gPaces;

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

    // False when every band ran on the caller.
    bool Run(int bands, int helpers, void (*body)(const void*, int), const void* ctx) {
        // One parallel conversion at a time; a second caller meanwhile runs
        // its bands alone, which is what it would get from busy cores anyway.
        std::unique_lock<std::mutex> busy(busy_, std::try_to_lock);
        if (!busy.owns_lock() || (helpers = Grow(helpers)) == 0) {
            for (int b = 0; b < bands; ++b)
                body(ctx, b);
            return false;
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
        return true;
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
    gPaces.Reset();
}

} // namespace detail

namespace detail {

BandPlan PlanBands(int height, size_t rowBytes, int minRows, unsigned kernel) {
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
    if (threads > 1 && kernel != 0) {
        plan.measure = true;
        if (!gPaces.ChooseParallel(kernel, height, rowBytes)) threads = 1;
    }
    const int byCache = static_cast<int>(std::clamp<size_t>(kBandBytes / rowBytes, 1, static_cast<size_t>(height)));
    const int byBalance = (height + kBandsPerThread * threads - 1) / (kBandsPerThread * threads);
    plan.bandRows = std::min(std::max(minRows, std::min(byCache, byBalance)), std::max(height, 1));
    const int bands = (height + plan.bandRows - 1) / plan.bandRows;
    plan.threads = std::max(1, std::min(threads, bands));
    return plan;
}

bool RunBands(int bands, int helpers, void (*body)(const void*, int), const void* ctx) {
    return Pool::Get().Run(bands, helpers, body, ctx);
}

void RecordBands(unsigned kernel, int height, size_t rowBytes, bool parallel, double seconds) {
    gPaces.Record(kernel, height, rowBytes, parallel, seconds);
}

double Now() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

} // namespace detail
} // namespace qorcam::conversion
