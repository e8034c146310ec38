#!/usr/bin/env bash
# bench_comport (Release) as an ordinary user, as the program runs at a race:
# with and without the right to real-time priority, on an idle machine and
# with two busy loops (one per core of a small laptop). Run as root.
#
#   bash tools/bench-barrier.sh [edges]   (default 1000 of each kind)
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/setup.sh
out=${BENCH_BUILD_DIR:-build-bench}
cmake -S . -B "$out" -G Ninja -DCMAKE_BUILD_TYPE=Release -DQUELLORIX_BUILD_TESTS=OFF >/dev/null
cmake --build "$out" --target bench_comport
edges=${1:-1000}

home=$(mktemp -d)
chown nobody "$home"
user=(setpriv --reuid=nobody --regid=nogroup --clear-groups)
realtime=(--inh-caps=+sys_nice --ambient-caps=+sys_nice)
busy=()
cleanup() {
    [ ${#busy[@]} -eq 0 ] || kill "${busy[@]}" 2>/dev/null || true
    rm -rf "$home"
}
trap cleanup EXIT

run() {
    local label=$1
    shift
    echo "== $label"
    env HOME="$home" QT_QPA_PLATFORM=offscreen "$@" "$out/bench/bench_comport" "$edges"
    echo
}

run "ordinary user allowed real-time priority, idle" "${user[@]}" "${realtime[@]}"
run "ordinary user without real-time priority, idle" "${user[@]}"
for _ in 1 2; do
    "${user[@]}" sh -c 'while :; do :; done' &
    busy+=($!)
done
run "ordinary user allowed real-time priority, two busy loops" "${user[@]}" "${realtime[@]}"
run "ordinary user without real-time priority, two busy loops" "${user[@]}"
