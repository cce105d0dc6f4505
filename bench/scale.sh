#!/usr/bin/env bash
# bench/scale.sh [BUILD_DIR] [benchmark options...]
# The program at 1,000, 5,000 and 20,000 peers (BM_Scale of bench_program): builds
# the program and the benchmark in release (build/release by default), then runs
# it. Needs root; about 6 to 12 minutes, depending on how long the program takes
# to take in 20,000 new peers.
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD="${1:-build/release}"
shift || true
cmake -S . -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$BUILD" -j 2 --target bench_program murmex3
exec "$BUILD/bench/bench_program" --benchmark_filter='BM_Scale' "$@"
