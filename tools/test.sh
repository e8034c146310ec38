#!/usr/bin/env bash
# Set up, build and run the whole test suite: a cross-compile of the Windows
# serial backend, a normal build, then a build with AddressSanitizer and
# UndefinedBehaviorSanitizer.
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/setup.sh
export QT_QPA_PLATFORM=offscreen
export ASAN_OPTIONS=detect_leaks=0:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
jobs=$(nproc)

# The Windows serial backend can't run here, but it must build.
bash tools/mingw-check.sh

# Line tables are enough for a test's backtrace, and the libraries compile in
# batches of files: together they take a third off a fresh machine's builds.
fast=(-DCMAKE_CXX_FLAGS_DEBUG=-g1 -DQUELLORIX_UNITY_LIBS=ON)

cmake -S . -B build-test -G Ninja -DCMAKE_BUILD_TYPE=Debug "${fast[@]}"
cmake --build build-test -j "$jobs"
ctest --test-dir build-test --output-on-failure -j "$jobs" --timeout 300

cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DQUELLORIX_SANITIZE=ON -DQUELLORIX_BUILD_BENCH=OFF "${fast[@]}"
cmake --build build-asan -j "$jobs"
ctest --test-dir build-asan --output-on-failure -j "$jobs" --timeout 600
