#!/usr/bin/env bash
# Runs a command against fake GigE Vision cameras on a private test network, never in the machine's own
# network namespace (GigE Vision discovery broadcasts on every interface of the namespace it runs in).
#
#   run-in-netns.sh [--cameras N] [--lossy-camera I:PERMILLE] -- COMMAND [ARGS...]
#       Makes two namespaces joined by one veth pair per camera: the cameras' (camera I listens on
#       198.18.I.1, serial "GV0I") and the host's (198.18.I.2), runs COMMAND in the host's namespace with
#       VXCAM_TRANSPORTS=gev, and removes the namespaces and the camera processes again, also on failure or
#       interruption. Exit status: COMMAND's; 77 when namespaces cannot be made here (the test is skipped),
#       unless VXCAM_REQUIRE_NETNS=1 (CI), where that is a failure.
#   run-in-netns.sh camera-stop I | camera-start I
#       For COMMAND: kills camera I (by its PID) or starts it again. Needs VXCAM_GEV_STATE from the run.
set -euo pipefail

fake_camera=${VXCAM_FAKE_GV_CAMERA:-arv-fake-gv-camera-0.8}

skip() {
  if [ "${VXCAM_REQUIRE_NETNS:-0}" = 1 ]; then
    echo "FAIL: $* (VXCAM_REQUIRE_NETNS=1: the GigE Vision tests must run here)" >&2
    exit 1
  fi
  echo "SKIP: $* - the GigE Vision tests need root and network namespaces; they did not run" >&2
  exit 77
}

# ---- camera control (also called by the command, through VXCAM_GEV_CTL) ---------------------------------

camera_start() {
  local state=$1 i=$2
  local ns lossy=""
  ns=$(cat "$state/camera-namespace")
  [ -f "$state/camera-$i.lost-ratio" ] && lossy="--gvsp-lost-ratio=$(cat "$state/camera-$i.lost-ratio")"
  ip netns exec "$ns" "$fake_camera" -i "198.18.$i.1" -s "GV0$i" $lossy >"$state/camera-$i.log" 2>&1 &
  echo $! >"$state/camera-$i.pid"
  # Ready once it listens on the GigE Vision control port.
  for _ in $(seq 100); do
    if ip netns exec "$ns" ss -Huln "src 198.18.$i.1:3956" 2>/dev/null | grep -q 3956; then
      return 0
    fi
    kill -0 "$(cat "$state/camera-$i.pid")" 2>/dev/null || break
    sleep 0.05
  done
  echo "fake camera $i did not come up:" >&2
  cat "$state/camera-$i.log" >&2
  return 1
}

camera_stop() {
  local state=$1 i=$2 pid
  [ -f "$state/camera-$i.pid" ] || return 0
  pid=$(cat "$state/camera-$i.pid")
  rm -f "$state/camera-$i.pid"
  kill -KILL "$pid" 2>/dev/null || true
  wait "$pid" 2>/dev/null || while kill -0 "$pid" 2>/dev/null; do sleep 0.05; done
}

case "${1:-}" in
  camera-stop | camera-start)
    [ -n "${VXCAM_GEV_STATE:-}" ] || { echo "$1: VXCAM_GEV_STATE is not set" >&2; exit 2; }
    "${1/-/_}" "$VXCAM_GEV_STATE" "$2"
    exit $?
    ;;
esac

# ---- a test network --------------------------------------------------------------------------------------

cameras=1
declare -A lost_ratio=()
while [ $# -gt 0 ]; do
  case "$1" in
    --cameras) cameras=$2; shift 2 ;;
    --lossy-camera) lost_ratio[${2%%:*}]=${2#*:}; shift 2 ;;
    --) shift; break ;;
    *) echo "unknown option $1" >&2; exit 2 ;;
  esac
done
[ $# -gt 0 ] || { echo "no command given" >&2; exit 2; }
[ "$cameras" -ge 1 ] && [ "$cameras" -le 9 ] || { echo "--cameras takes 1 to 9" >&2; exit 2; }

[ "$(id -u)" -eq 0 ] || skip "not running as root"
command -v ip >/dev/null || skip "the ip tool (iproute2) is missing"
command -v "$fake_camera" >/dev/null || skip "$fake_camera (aravis-tools) is missing"

tag=$$
cam_ns="vxcam-cam-$tag"
host_ns="vxcam-host-$tag"
state=$(mktemp -d "${TMPDIR:-/tmp}/vxcam-gev.XXXXXX")
echo "$cam_ns" >"$state/camera-namespace"

cleanup() {
  local status=$?
  trap - EXIT INT TERM HUP
  for pidfile in "$state"/camera-*.pid; do
    [ -f "$pidfile" ] || continue
    local i=${pidfile##*/camera-}
    camera_stop "$state" "${i%.pid}"
  done
  ip netns del "$cam_ns" 2>/dev/null || true
  ip netns del "$host_ns" 2>/dev/null || true
  rm -rf "$state"
  exit "$status"
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM
trap 'exit 129' HUP

ip netns add "$cam_ns" 2>/dev/null || skip "network namespaces cannot be made here"
ip netns add "$host_ns" || skip "network namespaces cannot be made here"
ip -n "$cam_ns" link set lo up
ip -n "$host_ns" link set lo up
for i in $(seq "$cameras"); do
  # The pair is made inside the camera namespace, so that no end ever appears in the machine's own.
  ip -n "$cam_ns" link add "vxc$i" type veth peer name "vxh$i" netns "$host_ns" ||
    skip "veth pairs cannot be made here"
  ip -n "$cam_ns" addr add "198.18.$i.1/24" dev "vxc$i"
  ip -n "$host_ns" addr add "198.18.$i.2/24" dev "vxh$i"
  ip -n "$cam_ns" link set "vxc$i" up
  ip -n "$host_ns" link set "vxh$i" up
done
for i in $(seq "$cameras"); do
  [ -n "${lost_ratio[$i]:-}" ] && echo "${lost_ratio[$i]}" >"$state/camera-$i.lost-ratio"
  camera_start "$state" "$i"
done

set +e
ip netns exec "$host_ns" env VXCAM_TRANSPORTS=gev VXCAM_GEV_STATE="$state" VXCAM_GEV_CAMERAS="$cameras" \
  VXCAM_GEV_CTL="$(realpath "$0")" "$@"
status=$?
set -e
exit $status
