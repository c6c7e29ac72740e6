#!/bin/bash
# Builds and runs the start-up benchmark (bench/startup_bench.cpp) under
# Wine, in the benchmarks' build folder (as tools/bench does), on an Xvfb
# display of its own when there is no DISPLAY.
# Arguments go to the benchmark: --check, --runs N.
set -euo pipefail
TM_BUILD_DIR=${TM_BENCH_BUILD_DIR:-build-bench}
source "$(dirname "$0")/../tools/common.sh"

"$TM_ROOT/tools/bootstrap"
TM_CMAKE_ARGS="-DTM_BENCHMARKS=ON -DBUILD_TESTING=OFF ${TM_CMAKE_ARGS:-}" tm_build >/dev/null
trap tm_stop_started EXIT
tm_start_display
tm_start_wineserver
wine "$TM_BUILD_DIR/bin/startup_bench.exe" "$@"
