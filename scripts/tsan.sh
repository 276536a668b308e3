#!/usr/bin/env bash
# Builds the console's tests with ThreadSanitizer into build-tsan and runs the test that polls
# simulated devices while the grid is edited and devices are inserted and deleted, plus the grid
# and poll-thread tests that change the table from a worker. Too slow for the CI run; run it by
# hand after changing threads, the device table or the grid.
#
#   bash scripts/tsan.sh            # exit code 0 when no race was reported
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
build=${BUILD_DIR:-build-tsan}

cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUODRA_SANITIZER=thread \
  -DQUODRA_BENCH=OFF >/dev/null
cmake --build "$build" -j2 --target test_e2e test_ui

export TSAN_OPTIONS="suppressions=$root/tests/tsan.supp print_suppressions=1 halt_on_error=0 exitcode=66 second_deadlock_stack=1 report_signal_unsafe=0 ${TSAN_OPTIONS:-}"
export QT_QPA_PLATFORM=offscreen
# Some kernels place mappings where TSan cannot run; a lower ASLR entropy fixes that.
run() {
  if setarch "$(uname -m)" -R true 2>/dev/null; then
    setarch "$(uname -m)" -R "$@"
  else
    "$@"
  fi
}

status=0
log="$build/tsan.log"
: >"$log"
# Repeated: a race shows only when the threads happen to meet.
run "$build/tests/test_e2e" --gtest_repeat=3 \
  --gtest_filter='MainWindowInProcess.PollsWhileTheGridIsEditedAndDevicesAreInsertedAndDeleted:PollFixture.ResultsFollowTheirDeviceWhileTheTableChanges' \
  2>>"$log" || status=$?
run "$build/tests/test_ui" --gtest_repeat=3 \
  --gtest_filter='GridTest.WorkerChangesWhileTheGridIsEditedAndReordered:GridTest.ChangesFromAnotherThreadReachTheRow' \
  2>>"$log" || status=$?

races=$(grep -c 'WARNING: ThreadSanitizer' "$log" || true)
echo "tsan: $races report(s), exit status $status; details in $log"
if [ "$races" -gt 0 ] || [ "$status" -ne 0 ]; then
  exit 1
fi
