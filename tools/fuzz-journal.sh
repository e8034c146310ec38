#!/bin/bash
# Builds the race journal's libFuzzer harness with clang (in build-fuzz) and runs
# it for a bounded time: tools/fuzz-journal.sh [seconds, default 300].
# Not part of the test suite. Needs clang with libFuzzer (Debian: clang).
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-300}
if ! command -v clang++ >/dev/null; then
    echo "clang++ is missing: apt-get install clang" >&2
    exit 1
fi
export CCACHE_BASEDIR=${CCACHE_BASEDIR:-$PWD} CCACHE_DIR=${CCACHE_DIR:-$HOME/.ccache}
cmake -S fuzz -B build-fuzz -G Ninja -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=Debug >/dev/null
flock /tmp/qx-build.lock cmake --build build-fuzz -j2
mkdir -p build-fuzz/corpus
exec build-fuzz/fuzz_racejournal -max_total_time="$seconds" -max_len=65536 -rss_limit_mb=2048 \
    -print_final_stats=1 build-fuzz/corpus
