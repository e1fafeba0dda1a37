#!/usr/bin/env bash
# Installs what is needed, builds, and runs every test: a plain build, then an
# AddressSanitizer + UndefinedBehaviorSanitizer build, then the threaded and window
# tests under ThreadSanitizer, then the fuzz targets briefly. A test program that
# skipped a check is listed by ctest as not run ("Skipped"); with CI=true in the
# environment (.ci/run sets it) a skip for lack of a program scripts/deps.sh
# installs is a failure.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh
JOBS=$(nproc)
# Every build here fails on a warning: the tree is kept warning-free.
STRICT=-DCMAKE_COMPILE_WARNING_AS_ERROR=ON

cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo "$STRICT" >/dev/null
cmake --build build -j "$JOBS"
(cd build && ctest -j "$JOBS" --output-on-failure)

cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DLARKSPUR_SANITIZE=ON -DLARKSPUR_BENCH=OFF "$STRICT" >/dev/null
cmake --build build-asan -j "$JOBS"
(cd build-asan && ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1} UBSAN_OPTIONS=print_stacktrace=1 \
  LSAN_OPTIONS=suppressions=$PWD/../scripts/lsan.supp \
  ctest -j "$JOBS" --output-on-failure)

# Only the tests that run threads (label "threads"), the window tests (label
# "windows") and what they need are built; any data race reported fails its test.
cmake -S . -B build-tsan -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DLARKSPUR_TSAN=ON -DLARKSPUR_BENCH=OFF "$STRICT" >/dev/null
cmake --build build-tsan -j "$JOBS" --target threaded_tests window_tests
(cd build-tsan && TSAN_OPTIONS="halt_on_error=0 second_deadlock_stack=1 suppressions=$PWD/../scripts/tsan.supp" \
  ctest -L "threads|windows" -j "$JOBS" --output-on-failure)

scripts/fuzz.sh "${FUZZ_SECONDS:-10}"
