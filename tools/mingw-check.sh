#!/usr/bin/env bash
# Cross-compiles the Qt-free sources that have a Windows branch with MinGW-w64
# and links them into a small Windows console program, so that the Windows
# side of the serial backend is built on every test run. A compile or link
# error fails the script.
set -euo pipefail
cd "$(dirname "$0")/.."

cxx=x86_64-w64-mingw32-g++-posix
flags=(-std=c++20 -Wall -Wextra -Werror -O1 -Icore -Ibarrier)
sources=(
    barrier/WindowsSerialDevice.cpp
    core/CommEventRules.cpp
    core/LineChanges.cpp
    barrier/LineSampler.cpp
    core/TickSource.cpp
    tools/mingw/windows_check.cpp
)
out=${MINGW_BUILD_DIR:-build-mingw}
mkdir -p "$out"

objects=()
for source in "${sources[@]}"; do
    object="$out/$(basename "${source%.cpp}").o"
    echo "mingw: compiling $source"
    "$cxx" "${flags[@]}" -c "$source" -o "$object"
    objects+=("$object")
done
echo "mingw: linking $out/windows_check.exe"
"$cxx" -static -o "$out/windows_check.exe" "${objects[@]}"
echo "mingw: Windows serial backend builds"
