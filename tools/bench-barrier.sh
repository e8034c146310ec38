#!/usr/bin/env bash
# bench_comport (Release) as an ordinary user, as the program runs at a race:
# with and without the right to real-time priority, on an idle machine, with
# two busy loops (one per core of a small laptop) and during a compile of the
# project (ninja -j2 of a clean build folder of its own, cleaned and started
# again for as long as the case lasts). Run as root.
#
#   bash tools/bench-barrier.sh [edges]   (default 1000 of each kind)
#
# BENCH_REALTIME_ONLY=1 leaves out the runs without real-time priority;
# BENCH_LOAD_DIR names the build folder of the compile (build-load).
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/setup.sh
out=${BENCH_BUILD_DIR:-build-bench}
cmake -S . -B "$out" -G Ninja -DCMAKE_BUILD_TYPE=Release -DQUELLORIX_BUILD_TESTS=OFF >/dev/null
cmake --build "$out" --target bench_comport
edges=${1:-1000}
realtimeOnly=${BENCH_REALTIME_ONLY:-0}
loadDir=${BENCH_LOAD_DIR:-build-load}

home=$(mktemp -d)
chown nobody "$home"
user=(setpriv --reuid=nobody --regid=nogroup --clear-groups)
realtime=(--inh-caps=+sys_nice --ambient-caps=+sys_nice)
busy=()
compile=
stopBusy() {
    [ ${#busy[@]} -eq 0 ] || kill "${busy[@]}" 2>/dev/null || true
    busy=()
}
stopCompile() {
    # The loop and its ninja and compilers form a process group of their own.
    [ -z "$compile" ] || kill -- "-$compile" 2>/dev/null || true
    compile=
}
cleanup() {
    stopBusy
    stopCompile
    rm -rf "$home"
}
trap cleanup EXIT

# How preemptible the kernel is decides how long a woken real-time thread
# can wait for a core that is inside the kernel (none: until that code yields).
preempt=$(cat /sys/kernel/debug/sched/preempt 2>/dev/null ||
    dmesg 2>/dev/null | grep -o 'Dynamic Preempt: [a-z]*' | head -n 1 || true)
echo "kernel $(uname -r), preemption: ${preempt:-unknown}"

run() {
    local label=$1
    shift
    echo "== $label (load average $(cut -d' ' -f1-3 /proc/loadavg))"
    env HOME="$home" QT_QPA_PLATFORM=offscreen "$@" "$out/bench/bench_comport" "$edges"
    echo
}

cases() {
    local load=$1
    run "ordinary user allowed real-time priority, $load" "${user[@]}" "${realtime[@]}"
    [ "$realtimeOnly" = 1 ] || run "ordinary user without real-time priority, $load" "${user[@]}"
}

cases idle
for _ in 1 2; do
    "${user[@]}" sh -c 'while :; do :; done' &
    busy+=($!)
done
cases "two busy loops"
stopBusy

cmake -S . -B "$loadDir" -G Ninja -DCMAKE_BUILD_TYPE=Debug >/dev/null
ninja -C "$loadDir" -t clean >/dev/null
setsid bash -c "while :; do ninja -C '$loadDir' -j2 >/dev/null 2>&1; ninja -C '$loadDir' -t clean >/dev/null 2>&1; done" &
compile=$!
sleep 10 # past the first steps, into the compilers
cases "during a compile (ninja -j2)"
stopCompile
