#!/usr/bin/env bash
# Builds the libFuzzer harnesses with clang (build-fuzz/) and runs each for a
# bounded time on a copy of its seed corpus (fuzz/corpus/<name>/); crashes go to
# build-fuzz/findings/<name>/. Not part of the test command.
#   bash tools/fuzz.sh [seconds per harness, default 60] [harness ...]
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
shift || true
harnesses=("$@")
[ ${#harnesses[@]} -eq 0 ] && harnesses=(protocoltext xlsx ods xls startlink)
if ! command -v clang++ >/dev/null; then
    echo "clang++ fehlt (apt-get install clang): keine Fuzz-Läufe" >&2
    exit 1
fi
export CCACHE_BASEDIR=${CCACHE_BASEDIR:-$PWD} CCACHE_DIR=${CCACHE_DIR:-$HOME/.ccache}
launcher=()
command -v ccache >/dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
CC=clang CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUELLORIX_FUZZ=ON \
    -DQUELLORIX_BUILD_TESTS=OFF -DQUELLORIX_BUILD_BENCH=OFF "${launcher[@]}" >/dev/null
targets=()
for h in "${harnesses[@]}"; do targets+=("fuzz_$h"); done
flock /tmp/qx-build.lock cmake --build build-fuzz -j2 --target "${targets[@]}"
status=0
for h in "${harnesses[@]}"; do
    work=build-fuzz/corpus/$h findings=build-fuzz/findings/$h
    mkdir -p "$work" "$findings"
    cp -n fuzz/corpus/"$h"/* "$work"/ 2>/dev/null || true
    echo "== fuzz_$h: ${seconds}s"
    # Limits as the program has them: 2 GB of memory, 10 s for one input.
    if ! build-fuzz/fuzz/fuzz_"$h" -max_total_time="$seconds" -rss_limit_mb=2048 -timeout=10 \
            -artifact_prefix="$findings"/ -print_final_stats=1 "$work" 2>build-fuzz/fuzz_"$h".log; then
        status=1
    fi
    grep -E "stat::number_of_executed_units|stat::peak_rss_mb|^==.*ERROR|SUMMARY" build-fuzz/fuzz_"$h".log || true
    echo "   Funde: $(find "$findings" -type f | wc -l)"
done
exit $status
