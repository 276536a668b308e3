#!/usr/bin/env bash
# Demo: installs the dependencies, builds, starts the simulated device fleet and the console on a
# prepared program directory that lists the fleet (plus one address where nothing answers), with
# a 5-second polling period and the logs switched on. Without a display it runs under xvfb-run.
#
#   bash scripts/demo.sh                  # interactive demo
#   DEMO_DIR=/some/dir bash scripts/demo.sh   # keep the program directory elsewhere
#   bash scripts/demo.sh --screenshot FILE    # run ~12 s, save a picture of the window, end
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)

bash scripts/install-deps.sh
build=${BUILD_DIR:-build-demo}
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" -j2 --target quodra-st quodra-sim quodra-tool

dir=${DEMO_DIR:-${XDG_DATA_HOME:-$HOME/.local/share}/quodra-st-demo}
mkdir -p "$dir"
fleet="$root/sim/demo_fleet.json"
# 127.0.0.99: nothing answers there, so one device shows red.
"$build/src/tool/quodra-tool" demo-list "$fleet" "$dir/Quodra_st.eth" 127.0.0.99
if [ ! -f "$dir/Quodra_st.ini" ]; then
  # Period 5 s, event log on, the side memo shown, the first two value columns shown with the
  # names device 1 gives them, a grid wide enough for its columns.
  printf '[Nastaveni]\r\nperioda_val=5\r\nwlog_ch=1\r\npanel2_vis=1\r\nGrid_dcw=640\r\nGrid_cw3=150\r\nGrid_cw11=72\r\nGrid_hd0=Teplota vody\r\nGrid_cw12=72\r\nGrid_hd1=Příkon kotle\r\n[Form]\r\nWidth=1260\r\nHeight=720\r\n' \
    >"$dir/Quodra_st.ini"
fi

"$build/sim/quodra-sim" --config "$fleet" </dev/null >"$dir/quodra-sim.out" 2>&1 &
sim_pid=$!
trap 'kill "$sim_pid" 2>/dev/null || true; wait "$sim_pid" 2>/dev/null || true' EXIT
sleep 1
if ! kill -0 "$sim_pid" 2>/dev/null; then
  echo "demo: the simulator did not start" >&2
  exit 1
fi

args=(--dir "$dir")
if [ "${1:-}" = "--screenshot" ] && [ -n "${2:-}" ]; then
  args+=(--screenshot "$(realpath -m "$2")" --screenshot-delay "${SCREENSHOT_DELAY:-12}")
fi
echo "demo: program directory $dir (event log Quodra_st.log, state and value logs beside it)"
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  xvfb-run -a -s "-screen 0 1280x800x24" "$build/src/app/quodra-st" "${args[@]}"
else
  "$build/src/app/quodra-st" "${args[@]}"
fi
