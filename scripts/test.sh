#!/usr/bin/env bash
# Installs what is needed, builds, and runs every test: the whole suite on a
# normal build, then again under AddressSanitizer and UndefinedBehaviorSanitizer,
# and the library's tests under ThreadSanitizer. Tests that need root or the
# network rig skip with a message when they can't run.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
jobs=$(nproc)

bash scripts/build.sh build -DCMAKE_BUILD_TYPE=RelWithDebInfo
ctest --test-dir build --output-on-failure -j"$jobs" --timeout 600

# The installed system: the suite above staged an install and built applications
# against it (label install); here the units are verified and the Debian package is
# built, unpacked and its sample run against the camera emulator.
bash scripts/package-check.sh build

# ---- Sanitized runs ----
# Every suite again under AddressSanitizer and UndefinedBehaviorSanitizer: the
# windows on an offscreen display, the rig's namespaces, and the Mono and
# Python programs too (they run with the sanitizers' runtime preloaded). Leaks
# inside third-party programs and libraries (Mono's runtime, the font
# configuration library's caches) are suppressed by name in scripts/lsan.supp,
# never by leaving a suite out.
if [ "${QORCAM_SKIP_SANITIZED:-0}" != 1 ]; then
  bash scripts/build.sh build-asan -DCMAKE_BUILD_TYPE=Debug -DQORCAM_SANITIZE=ON \
    -DQORCAM_BENCHMARKS=OFF -DQORCAM_GUI=ON
  QT_QPA_PLATFORM=offscreen \
  LSAN_OPTIONS="suppressions=$PWD/scripts/lsan.supp:print_suppressions=0" \
    ctest --test-dir build-asan --output-on-failure -j"$jobs" --timeout 900 -LE slow
fi
# The library's threaded tests under ThreadSanitizer (only what they need is built).
if [ "${QORCAM_SKIP_TSAN:-0}" != 1 ]; then
  cmake -S . -B build-tsan -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQORCAM_TSAN=ON \
    -DQORCAM_BENCHMARKS=OFF -DQORCAM_GUI=OFF
  cmake --build build-tsan -j"$jobs" --target qorcam_library_unit_tests qorcam_library_process_tests \
    qorcam_library_producer_tests qorcam_library_export_tests description_tests qorcam_header_tests
  TSAN_OPTIONS="halt_on_error=1:second_deadlock_stack=1" \
    ctest --test-dir build-tsan --output-on-failure -j"$jobs" --timeout 900 -L library
fi
# ---- end of the sanitized runs ----
