#!/usr/bin/env bash
# The module against Aravis's own arv-camera-test-0.8 on the same fake GigE Vision camera at its highest rate,
# in the same run, taking turns. Runs in the private test network of tests/gev/run-in-netns.sh (root needed):
# GigE Vision discovery never runs in the machine's own namespace.
#
#   bench/gev-bench.sh [--rounds N] [--seconds S] [BUILD_DIR]     (defaults: 3 rounds of 8 s, ./build)
#
# Each round streams free-running through the module (a counting host whose debug output is off, as a
# production host runs), then through arv-camera-test. Each side is counted over a window of S seconds that opens
# once frames flow (discovery and opening are not counted): frames received per second, and the process's CPU
# time (user + system) per frame. Prints both and the ratios.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(dirname "$here")

if [ "${1:-}" != "--inside" ]; then
  exec "$root/tests/gev/run-in-netns.sh" --cameras 1 -- "$here/gev-bench.sh" --inside "$@"
fi
shift
rounds=3
seconds=8
while [ $# -gt 0 ]; do
  case "$1" in
    --rounds) rounds=$2; shift 2 ;;
    --seconds) seconds=$2; shift 2 ;;
    *) break ;;
  esac
done
build=$(cd "${1:-$root/build}" && pwd)
bench="$build/bin/vxcam_gev_stream_bench"
[ -x "$bench" ] || { echo "build first: $bench is missing" >&2; exit 1; }
camera=Aravis-GV01
ticks=$(getconf CLK_TCK)

# The camera's highest frame rate; arv-camera-test sets it on every run, and the camera keeps it.
timeout -s INT 2 arv-camera-test-0.8 -n "$camera" -f 1000 >/dev/null 2>&1 || true

# arv-camera-test in the same kind of window: it prints "N frames/s" once a second. The window opens with its
# first such line and lasts `seconds`; its rate is that of the lines printed in the window, its CPU time what
# the process used in it. Waits in coarse steps, so that the script takes no CPU from the two under test.
# Prints "frames seconds cpu" of the window.
arv_run() {
  local log pid cpu0 cpu1 lines t0 t1
  log=$(mktemp)
  stdbuf -oL arv-camera-test-0.8 -n "$camera" -f 1000 >"$log" 2>&1 &
  pid=$!
  for _ in $(seq 50); do
    grep -q 'frames/s' "$log" && break
    sleep 0.2
  done
  cpu0=$(cut -d' ' -f14,15 "/proc/$pid/stat")
  t0=$(date +%s.%N)
  lines=$(grep -c 'frames/s' "$log" || true)
  sleep "$seconds"
  cpu1=$(cut -d' ' -f14,15 "/proc/$pid/stat")
  t1=$(date +%s.%N)
  kill -INT "$pid"
  wait "$pid" || true
  grep 'frames/s' "$log" | sed -n "$((lines + 1)),$((lines + seconds))p" |
    awk -v c0="$cpu0" -v c1="$cpu1" -v t="$ticks" -v t0="$t0" -v t1="$t1" '
      { frames += $1; n += 1 }
      END { split(c0, a, " "); split(c1, b, " "); w = t1 - t0
            printf "%d %.3f %.3f\n", (n > 0 ? frames / n * w : 0), w, (b[1] + b[2] - a[1] - a[2]) / t }'
  rm -f "$log"
}

module_frames=0 module_wall=0 module_cpu=0 arv_frames=0 arv_wall=0 arv_cpu=0
printf '%-6s %-22s %10s %8s %8s\n' round side frames seconds cpu_s
for round in $(seq "$rounds"); do
  line=$(QT_LOGGING_RULES='*.debug=false' "$bench" "$build/bin" GV01 "$seconds" 2>/dev/null | tail -1)
  frames=$(sed 's/.*frames=\([0-9]*\).*/\1/' <<<"$line")
  wall=$(sed 's/.*seconds=\([0-9.]*\).*/\1/' <<<"$line")
  cpu=$(sed 's/.*cpu=\([0-9.]*\).*/\1/' <<<"$line")
  printf '%-6s %-22s %10s %8s %8s\n' "$round" "module (vxCam_160)" "$frames" "$wall" "$cpu"
  read -r a_frames a_wall a_cpu < <(arv_run)
  printf '%-6s %-22s %10s %8s %8s\n' "$round" "arv-camera-test-0.8" "$a_frames" "$a_wall" "$a_cpu"
  module_frames=$((module_frames + frames))
  arv_frames=$((arv_frames + a_frames))
  module_wall=$(awk -v a="$module_wall" -v b="$wall" 'BEGIN { print a + b }')
  module_cpu=$(awk -v a="$module_cpu" -v b="$cpu" 'BEGIN { print a + b }')
  arv_wall=$(awk -v a="$arv_wall" -v b="$a_wall" 'BEGIN { print a + b }')
  arv_cpu=$(awk -v a="$arv_cpu" -v b="$a_cpu" 'BEGIN { print a + b }')
done
awk -v mf="$module_frames" -v mw="$module_wall" -v mc="$module_cpu" \
    -v af="$arv_frames" -v aw="$arv_wall" -v ac="$arv_cpu" 'BEGIN {
  mfps = mf / mw; afps = af / aw
  mcpf = (mf > 0) ? mc / mf * 1e6 : 0; acpf = (af > 0) ? ac / af * 1e6 : 0
  printf "\n%-22s %12s %16s\n", "", "frames/s", "CPU us/frame"
  printf "%-22s %12.1f %16.1f\n", "module (vxCam_160)", mfps, mcpf
  printf "%-22s %12.1f %16.1f\n", "arv-camera-test-0.8", afps, acpf
  printf "%-22s %11.3fx %15.3fx   (wanted: frames >= 0.99x, CPU <= 1.1x)\n", "module / arv", mfps / afps, mcpf / acpf
}'
