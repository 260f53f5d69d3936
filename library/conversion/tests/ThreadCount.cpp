// Parallel regions in these tests run on three threads: an uneven share of
// rows, and no oversubscription when many test programs run at once. One
// test converts with the machine's full thread count.
#include <omp.h>

namespace {

struct ThreeThreads {
    ThreeThreads() { omp_set_num_threads(3); }
} gThreeThreads;

} // namespace
