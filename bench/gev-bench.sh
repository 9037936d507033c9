#!/usr/bin/env bash
# The module against Aravis's own arv-camera-test-0.8 on the same fake GigE Vision camera at its highest rate,
# in the same run, taking turns. Runs in the private test network of tests/gev/run-in-netns.sh (root needed):
# GigE Vision discovery never runs in the machine's own namespace.
#
#   bench/gev-bench.sh [--rounds N] [--seconds S] [--warm-up S] [--size WxH] [--load N] [BUILD_DIR]
#       (defaults: 12 rounds of 4 s, no warm-up, the camera's 512 x 512, no load, ./build)
#
# --size sets the camera's image size (Mono8) before the rounds; both sides stream it. --load N runs N busy
# loops (processes that spin at normal priority) during the rounds, as on a busy machine. --warm-up S opens
# the window S seconds later: each side touches its buffers' memory for the first time in its first frames
# (arv-camera-test has 50 buffers, the module 8), which costs a page fault per page; with large frames at a low
# rate that takes seconds and would decide the figure.
#
# Each round streams free-running through the module (a counting host whose debug output is off, as a
# production host runs), then through arv-camera-test. Both sides are measured the same way, from outside:
# each prints the frames of every second; the window opens with the first such line (discovery and opening
# are not counted) and lasts S seconds. Frames per second are those of the lines printed in the window; the
# CPU time is the process's (every thread, user + system, to the nanosecond) used in the window, with the part
# of Aravis's receiving thread apart. Prints both sides, the ratios of the totals, and the spread of the
# rounds' ratios. The machine's speed drifts (shared hosts): what a frame costs can double for a while, on
# either side. Short rounds in turns let both sides see the same drifts, and the median of the rounds' ratios
# (each round against the arv-camera-test run right after it) is the figure that a slow spell on one side does
# not decide.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(dirname "$here")

if [ "${1:-}" != "--inside" ]; then
  exec "$root/tests/gev/run-in-netns.sh" --cameras 1 -- "$here/gev-bench.sh" --inside "$@"
fi
shift
rounds=12
seconds=4
warmup=0
size=512x512
load=0
while [ $# -gt 0 ]; do
  case "$1" in
    --rounds) rounds=$2; shift 2 ;;
    --seconds) seconds=$2; shift 2 ;;
    --warm-up) warmup=$2; shift 2 ;;
    --size) size=$2; shift 2 ;;
    --load) load=$2; shift 2 ;;
    *) break ;;
  esac
done
build=$(cd "${1:-$root/build}" && pwd)
bench="$build/bin/vxcam_gev_stream_bench"
[ -x "$bench" ] || { echo "build first: $bench is missing" >&2; exit 1; }
camera=Aravis-GV01

# The fake camera is a process of this machine that needs most of a processor to send at its highest rate.
# It stays on the first processor for the whole run, so that where the scheduler happens to put it does not
# decide a round; the side under test runs where the scheduler puts it, as in production.
if [ "$(nproc)" -gt 1 ]; then
  taskset -a -p -c 0 "$(cat "$VXCAM_GEV_STATE/camera-1.pid")" >/dev/null
fi

# The camera's highest frame rate and the size; arv-camera-test sets them on every run, and the camera keeps them.
width=${size%x*}
height=${size#*x}
timeout -s INT 2 arv-camera-test-0.8 -n "$camera" -f 1000 -w "$width" -h "$height" >/dev/null 2>&1 || true
# What the module's CPU per frame may be against arv-camera-test's: large frames cost the same copy-free
# reception on both sides, so the hand-over must vanish in it; small ones show the hand-over's own cost.
cpu_goal=1.2
[ $((width * height)) -ge $((2048 * 2048)) ] && cpu_goal=1.0

# "total receiving": nanoseconds of CPU time of every thread of process $1, and of Aravis's receiving thread.
cpu_ns() {
  local task ns total=0 receiving=0
  for task in /proc/"$1"/task/*; do
    ns=$(cut -d' ' -f1 "$task/schedstat" 2>/dev/null) || continue
    total=$((total + ns))
    [ "$(cat "$task/comm" 2>/dev/null)" = arv_gv_stream ] && receiving=$((receiving + ns))
  done
  echo "$total $receiving"
}

# measure SIDE COMMAND...: runs COMMAND, which prints "N frames/s" once a second, and prints "frames seconds
# cpu_s receiving_s" of the window. Waits in coarse steps, so that the script takes no CPU from the two
# under test. arv-camera-test streams until interrupted; the module's bench ends by itself after the window.
measure() {
  local side=$1 log pid lines c0 r0 c1 r1 t0 t1
  shift
  log=$(mktemp)
  "$@" >"$log" 2>/dev/null &
  pid=$!
  for _ in $(seq $((50 + 5 * warmup))); do
    [ "$(grep -c 'frames/s' "$log" || true)" -gt "$warmup" ] && break
    sleep 0.2
  done
  read -r c0 r0 < <(cpu_ns "$pid")
  t0=$(date +%s.%N)
  lines=$(grep -c 'frames/s' "$log" || true)
  sleep "$seconds"
  read -r c1 r1 < <(cpu_ns "$pid")
  t1=$(date +%s.%N)
  [ "$side" = arv ] && kill -INT "$pid"
  wait "$pid" || true
  grep 'frames/s' "$log" | sed -n "$((lines + 1)),$((lines + seconds))p" |
    awk -v c0="$c0" -v c1="$c1" -v r0="$r0" -v r1="$r1" -v t0="$t0" -v t1="$t1" '
      { frames += $1; n += 1 }
      END { w = t1 - t0
            printf "%d %.3f %.4f %.4f\n", (n > 0 ? frames / n * w : 0), w, (c1 - c0) / 1e9, (r1 - r0) / 1e9 }'
  rm -f "$log"
}

results=$(mktemp)
busy=()
cleanup() {
  rm -f "$results"
  local pid
  for pid in "${busy[@]}"; do
    kill "$pid" 2>/dev/null || true
  done
}
trap cleanup EXIT
for _ in $(seq "$load"); do
  bash -c 'while :; do :; done' &
  busy+=("$!")
done
echo "camera $size Mono8, $load busy loops, windows of $seconds s after $warmup s of warm-up"
printf '%-6s %-22s %8s %8s %8s %12s\n' round side frames seconds cpu_s receiving_s
for round in $(seq "$rounds"); do
  read -r frames wall cpu receiving < <(measure module env QT_LOGGING_RULES='*.debug=false' \
    "$bench" "$build/bin" GV01 "$((seconds + warmup + 3))")
  printf '%-6s %-22s %8s %8s %8s %12s\n' "$round" "module (vxCam_160)" "$frames" "$wall" "$cpu" "$receiving"
  echo "module $round $frames $wall $cpu $receiving" >>"$results"
  read -r frames wall cpu receiving < <(measure arv stdbuf -oL arv-camera-test-0.8 -n "$camera" -f 1000 \
    -w "$width" -h "$height")
  printf '%-6s %-22s %8s %8s %8s %12s\n' "$round" "arv-camera-test-0.8" "$frames" "$wall" "$cpu" "$receiving"
  echo "arv $round $frames $wall $cpu $receiving" >>"$results"
done
awk -v goal="$cpu_goal" '
  { f[$1] += $3; w[$1] += $4; c[$1] += $5; r[$1] += $6
    if ($3 > 0) { perFrame[$1, $2] = $5 / $3; fps[$1, $2] = $3 / $4 }; n = $2 }
  function sort(a, k,    i, j, v) {
    for (i = 2; i <= k; i++) { v = a[i]; for (j = i - 1; j >= 1 && a[j] > v; j--) a[j + 1] = a[j]; a[j + 1] = v }
  }
  function median(a, k) { return (a[int((k + 1) / 2)] + a[int(k / 2) + 1]) / 2 }
  function spread(a, k) { return sprintf("%.2f / %.2f / %.2f", a[1], median(a, k), a[k]) }
  function line(name, side) {
    printf "%-22s %10.1f %14.1f %14.1f %14.1f\n", name, f[side] / w[side], c[side] / f[side] * 1e6,
      r[side] / f[side] * 1e6, (c[side] - r[side]) / f[side] * 1e6
  }
  END {
    printf "\n%-22s %10s %14s %14s %14s\n", "", "frames/s", "CPU us/frame", "receiving", "other threads"
    line("module (vxCam_160)", "module")
    line("arv-camera-test-0.8", "arv")
    mfps = f["module"] / w["module"]; afps = f["arv"] / w["arv"]
    mcpf = c["module"] / f["module"]; acpf = c["arv"] / f["arv"]
    printf "%-22s %9.3fx %13.3fx   (ratios of the totals)\n", "module / arv", mfps / afps, mcpf / acpf
    # The spread: each round ratio of the module against the arv-camera-test run that followed it.
    k = 0
    for (i = 1; i <= n; i++) { if ((("module", i) in perFrame) && (("arv", i) in perFrame)) {
      k++; rc[k] = perFrame["module", i] / perFrame["arv", i]; rf[k] = fps["module", i] / fps["arv", i] } }
    if (k > 0) {
      sort(rc, k); sort(rf, k)
      printf "ratios of the rounds, min / median / max of %d: frames %s, CPU per frame %s\n", k, spread(rf, k), spread(rc, k)
      printf "%-22s %9.3fx %13.3fx   (median of the rounds; wanted: frames >= 0.99x, CPU <= %.1fx)\n", "module / arv",
        median(rf, k), median(rc, k), goal
    }
  }' "$results"
