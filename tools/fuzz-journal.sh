#!/bin/bash
# The race journal's libFuzzer harness for a bounded time: tools/fuzz-journal.sh
# [seconds, default 300]. Not part of the test suite. Needs clang (Debian: clang).
set -euo pipefail
cd "$(dirname "$0")/.."
exec bash tools/fuzz.sh "${1:-300}" racejournal
