// Parallel conversions in these tests run on three threads in bands of five
// rows: an uneven share of rows even in small images, and no
// oversubscription when many test programs run at once. Some tests choose
// other counts.
#include "Parallel.h"

#include <omp.h>

namespace {

struct ThreeThreads {
    ThreeThreads() {
        omp_set_num_threads(3);
        qorcam::conversion::SetBandRowsForTests(5);
    }
} gThreeThreads;

} // namespace
