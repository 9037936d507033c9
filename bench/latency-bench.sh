#!/usr/bin/env bash
# How soon a software-triggered frame reaches the host's OnImageReady through the module, next to Aravis's own
# stream signal on the same virtual camera and to that signal with a bare hand-over to another thread, on an idle
# machine and beside two busy loops; then, with --cpu, the
# CPU per frame against arv-camera-test on the fake GigE Vision camera (bench/gev-bench.sh, in network
# namespaces, root needed) at 2048 x 2048 and 512 x 512, beside the same two busy loops.
#
#   bench/latency-bench.sh [--rounds N] [--triggers N] [--cpu] [BUILD_DIR]
#       (defaults: 10 rounds of 200 triggers a side, ./build; build it as Release or RelWithDebInfo)
#
# The latency part needs no network: Aravis's virtual camera lives in the benchmark's process (see
# LatencyBench.cpp for what is measured and how). The busy loops are two processes that spin on the CPU at normal
# priority, as much as the machine has processors here; they are ended (by their own IDs) when the part is done.
# Goals: trigger -> callback p50 <= 1.1x and p99 <= 1.2x of Aravis's, idle and loaded; CPU per frame <= 1.0x of
# arv-camera-test's at 2048 x 2048 and <= 1.2x at 512 x 512, loaded. Exit status: 0 when the latency goals were
# met in both parts (the CPU part prints its own verdict), 3 when not, another value on failure.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(dirname "$here")

rounds=10
triggers=200
cpu=0
while [ $# -gt 0 ]; do
  case "$1" in
    --rounds) rounds=$2; shift 2 ;;
    --triggers) triggers=$2; shift 2 ;;
    --cpu) cpu=1; shift ;;
    *) break ;;
  esac
done
build=$(cd "${1:-$root/build}" && pwd)
bench="$build/bin/vxcam_latency_bench"
[ -x "$bench" ] || { echo "build first: $bench is missing" >&2; exit 1; }

busy=()
stop_busy() {
  local pid
  for pid in "${busy[@]}"; do
    kill "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
  done
  busy=()
}
trap stop_busy EXIT
start_busy() {
  local i
  for i in 1 2; do
    # A shell loop that never sleeps nor makes a system call: it competes for a processor and nothing else.
    bash -c 'while :; do :; done' &
    busy+=("$!")
  done
}

status=0
echo "== latency, idle machine"
"$bench" "$build/bin" "$rounds" "$triggers" || status=$?
echo
echo "== latency, two busy loops"
start_busy
"$bench" "$build/bin" "$rounds" "$triggers" || status=$?
stop_busy

if [ "$cpu" = 1 ]; then
  # The window opens once both sides have touched every buffer of theirs (see gev-bench.sh): at 2048 x 2048
  # the camera sends 10 to 30 frames a second here, and arv-camera-test has 50 buffers.
  for run in 2048x2048:6 512x512:1; do
    echo
    echo "== CPU per frame against arv-camera-test, fake GigE Vision camera, ${run%:*} Mono8, two busy loops"
    "$here/gev-bench.sh" --size "${run%:*}" --warm-up "${run#*:}" --load 2 "$build" || status=$?
  done
fi
exit "$status"
