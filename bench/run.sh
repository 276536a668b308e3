#!/bin/sh
# Builds the benchmarks (RelWithDebInfo) and runs them.
#   bench/run.sh                 poll pass, then the log reader kernels
#   bench/run.sh --breakdown     also the rows that split the poll pass's gap to the floor
# Arguments go to bench_poll (see bench/bench_poll.cpp). BUILD_DIR picks the build directory.
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$root/build-bench}
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUODRA_BENCH=ON >/dev/null
targets=bench_poll
# bench_logs exists when Google Benchmark was found.
if cmake --build "$build" --target help | grep -q '^bench_logs'; then
  targets="$targets bench_logs"
fi
cmake --build "$build" -j2 --target $targets
# Pinned to one core: on a 2-core machine an unpinned run sometimes puts a server thread on the
# other core for the whole run, and its figures move tenfold.
pin=""
command -v taskset >/dev/null && [ "$(nproc)" -gt 1 ] && pin="taskset -c 1"
$pin "$build/bench/bench_poll" "$@"
if [ -x "$build/bench/bench_logs" ]; then
  "$build/bench/bench_logs" --benchmark_repetitions=3 --benchmark_report_aggregates_only=true
fi
