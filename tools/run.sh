#!/usr/bin/env bash
# Set up, build and start Quellorix.
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/setup.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUELLORIX_BUILD_TESTS=OFF -DQUELLORIX_BUILD_BENCH=OFF
cmake --build build --target Quellorix
exec ./build/app/Quellorix
