// ExportGuard: what reaches the edge of the library's C interface.
#include "ExportGuard.h"

#include <gtest/gtest.h>

#include <pthread.h>
#include <stdexcept>

namespace {

using qorcam::library::Guarded;
using qorcam::library::GuardedVoid;

TEST(ExportGuard, AnExceptionBecomesTheFailureValue) {
    EXPECT_EQ(Guarded("QORCAM_Test", FALSE, []() -> BOOL { throw std::runtime_error("inside"); }), FALSE);
    EXPECT_EQ(Guarded("QORCAM_Test", FALSE, []() -> BOOL { throw 1; }), FALSE);
    EXPECT_EQ(Guarded("QORCAMFILTER_Test", uint32_t{QORCAMFILTER_ERROR},
                      []() -> uint32_t { throw std::bad_alloc(); }, false),
              QORCAMFILTER_ERROR);
    EXPECT_NO_THROW(GuardedVoid("QORCAM_Test", [] { throw std::logic_error("inside"); }));
    EXPECT_EQ(Guarded("QORCAM_Test", FALSE, []() -> BOOL { return TRUE; }), TRUE);
}

// A thread ended inside an export (an interpreter ending its threads at shutdown) ends: the guard does
// not swallow the unwinding, which would abort the process.
TEST(ExportGuard, AThreadEndedInsideAnExportEnds) {
    pthread_t thread;
    static bool after = false;
    ASSERT_EQ(pthread_create(
                  &thread, nullptr,
                  [](void*) -> void* {
                      Guarded("QORCAM_Test", FALSE, []() -> BOOL { pthread_exit(nullptr); });
                      after = true;
                      return nullptr;
                  },
                  nullptr),
              0);
    ASSERT_EQ(pthread_join(thread, nullptr), 0);
    EXPECT_FALSE(after);
}

} // namespace
