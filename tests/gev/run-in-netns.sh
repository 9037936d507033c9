#!/usr/bin/env bash
# Runs a command against fake GigE Vision cameras on a private test network, never in the machine's own
# network namespace (GigE Vision discovery broadcasts on every interface of the namespace it runs in).
#
#   run-in-netns.sh [--cameras N] [--lossy-camera I:PERMILLE] [--shared-link KBIT] -- COMMAND [ARGS...]
#       Makes a namespace for each camera (camera I listens on 198.18.I.1, serial "GV0I") and one for the host,
#       joined by one veth pair per camera (the host's end is 198.18.I.2), runs COMMAND in the host's namespace with
#       VXCAM_TRANSPORTS=gev, and removes the namespaces and the camera processes again, also on failure or
#       interruption. Exit status: COMMAND's; 77 when namespaces cannot be made here (the test is skipped),
#       unless VXCAM_REQUIRE_NETNS=1 (CI), where that is a failure.
#   run-in-netns.sh --shared-link KBIT [--cameras N] ... -- COMMAND [ARGS...]
#       The same cameras behind one link instead: a "switch" namespace (removed with the others) bridges every
#       camera's link (the switch's ends are vxsI) and one link to the host's namespace (vxs0 to vxh0, the host's end 198.18.0.2/16,
#       so that every camera's address is on it), whose way to the host a token bucket holds to KBIT (0: no
#       limit). COMMAND sees VXCAM_GEV_SHARED_LINK_KBIT. The cameras' own link controls below work as before,
#       except link-mtu (the host has no link of each camera's own).
#   run-in-netns.sh camera-stop I | camera-start I
#       For COMMAND: kills camera I (by its PID) or starts it again. Needs VXCAM_GEV_STATE from the run.
#   run-in-netns.sh link-loss I PERMILLE | link-rate I KBIT | link-mtu I BYTES | link-down I | link-up I
#       For COMMAND: what the link of camera I does to the camera's traffic. link-loss drops that share of the
#       camera's stream packets (not its control answers) on the way out of its namespace, at random (0: none);
#       link-rate holds the camera's sending to a token bucket of that rate (0: none); link-mtu sets the MTU of
#       both ends; link-down and link-up take the link away and give it back. This kernel has no netem: losses
#       come from an nftables rule (numgen random), rates from tbf.
#   run-in-netns.sh camera-exec I COMMAND [ARGS...]
#       For COMMAND: runs a command in camera I's namespace (a sender of stray datagrams, say).
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

# Camera I has a namespace of its own, so that it hears discovery only on its own link and streams over it.
camera_ns() {
  echo "$(cat "$1/camera-namespace")-$2"
}

camera_start() {
  local state=$1 i=$2
  local ns lossy=""
  ns=$(camera_ns "$state" "$i")
  [ -f "$state/camera-$i.lost-ratio" ] && lossy="--gvsp-lost-ratio=$(cat "$state/camera-$i.lost-ratio")"
  # A real camera sends its frames whatever the host's load; the fake one, a process on the host, is given a
  # higher priority than the tests and builds beside it, so that its frames are not held up halfway.
  nice -n -10 ip netns exec "$ns" "$fake_camera" -i "198.18.$i.1" -s "GV0$i" $lossy >"$state/camera-$i.log" 2>&1 &
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

# ---- the link of camera I, seen from the camera's end (so that a packet socket on the host's end sees only
# what went through) ------------------------------------------------------------------------------------------

link_loss() {
  local state=$1 i=$2 permille=$3 ns
  ns=$(camera_ns "$state" "$i")
  ip netns exec "$ns" nft delete table inet "vxloss$i" 2>/dev/null || true
  [ "$permille" -gt 0 ] || return 0
  local share="numgen random mod 1000 < $permille"
  [ "$permille" -lt 1000 ] || share=""
  # Stream packets only: answers from the control port 3956 keep the camera under control.
  ip netns exec "$ns" nft -f - <<RULES
table inet vxloss$i {
  chain out {
    type filter hook output priority 0; policy accept;
    oifname "vxc$i" udp sport != 3956 $share counter drop
  }
}
RULES
}

link_rate() {
  local state=$1 i=$2 kbit=$3 ns
  ns=$(camera_ns "$state" "$i")
  ip -n "$ns" link set "vxc$i" up 2>/dev/null || true
  ip netns exec "$ns" tc qdisc del dev "vxc$i" root 2>/dev/null || true
  [ "$kbit" -gt 0 ] || return 0
  ip netns exec "$ns" tc qdisc add dev "vxc$i" root tbf rate "${kbit}kbit" burst 32kb latency 400ms
}

link_mtu() {
  local state=$1 i=$2 bytes=$3 ns
  ns=$(camera_ns "$state" "$i")
  ip -n "$ns" link set "vxc$i" mtu "$bytes"
  ip -n "$(cat "$state/host-namespace")" link set "vxh$i" mtu "$bytes"
}

link_down() {
  local state=$1 i=$2
  ip -n "$(camera_ns "$state" "$i")" link set "vxc$i" down
}

link_up() {
  local state=$1 i=$2
  ip -n "$(camera_ns "$state" "$i")" link set "vxc$i" up
}

camera_exec() {
  local state=$1 i=$2
  shift 2
  ip netns exec "$(camera_ns "$state" "$i")" "$@"
}

case "${1:-}" in
  camera-stop | camera-start | link-loss | link-rate | link-mtu | link-down | link-up | camera-exec)
    [ -n "${VXCAM_GEV_STATE:-}" ] || { echo "$1: VXCAM_GEV_STATE is not set" >&2; exit 2; }
    action=${1//-/_}
    shift
    "$action" "$VXCAM_GEV_STATE" "$@"
    exit $?
    ;;
esac

# ---- a test network --------------------------------------------------------------------------------------

cameras=1
shared_link=""
declare -A lost_ratio=()
while [ $# -gt 0 ]; do
  case "$1" in
    --cameras) cameras=$2; shift 2 ;;
    --shared-link) shared_link=$2; shift 2 ;;
    --lossy-camera) lost_ratio[${2%%:*}]=${2#*:}; shift 2 ;;
    --) shift; break ;;
    *) echo "unknown option $1" >&2; exit 2 ;;
  esac
done
[ $# -gt 0 ] || { echo "no command given" >&2; exit 2; }
[ "$cameras" -ge 1 ] && [ "$cameras" -le 9 ] || { echo "--cameras takes 1 to 9" >&2; exit 2; }
[ -z "$shared_link" ] || [[ "$shared_link" =~ ^[0-9]+$ ]] || { echo "--shared-link takes a rate in kbit/s" >&2; exit 2; }

[ "$(id -u)" -eq 0 ] || skip "not running as root"
command -v ip >/dev/null || skip "the ip tool (iproute2) is missing"
command -v "$fake_camera" >/dev/null || skip "$fake_camera (aravis-tools) is missing"
command -v nft >/dev/null || skip "nft (nftables) is missing"
command -v tc >/dev/null || skip "tc (iproute2) is missing"

tag=$$
cam_ns="vxcam-cam-$tag"
host_ns="vxcam-host-$tag"
state=$(mktemp -d "${TMPDIR:-/tmp}/vxcam-gev.XXXXXX")
echo "$cam_ns" >"$state/camera-namespace"
echo "$host_ns" >"$state/host-namespace"

cleanup() {
  local status=$?
  trap - EXIT INT TERM HUP
  for pidfile in "$state"/camera-*.pid; do
    [ -f "$pidfile" ] || continue
    local i=${pidfile##*/camera-}
    camera_stop "$state" "${i%.pid}"
  done
  for ns in $(ip netns list | awk '{print $1}' | grep -x -- "$cam_ns-[0-9]*"); do
    ip netns del "$ns" 2>/dev/null || true
  done
  ip netns del "$host_ns" 2>/dev/null || true
  rm -rf "$state"
  exit "$status"
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM
trap 'exit 129' HUP

ip netns add "$host_ns" 2>/dev/null || skip "network namespaces cannot be made here"
ip -n "$host_ns" link set lo up
# A link of its own for each camera.
own_links() {
  for i in $(seq "$cameras"); do
    ip netns add "$cam_ns-$i" || skip "network namespaces cannot be made here"
    ip -n "$cam_ns-$i" link set lo up
    # The pair is made inside the camera's namespace, so that no end ever appears in the machine's own.
    ip -n "$cam_ns-$i" link add "vxc$i" type veth peer name "vxh$i" netns "$host_ns" ||
      skip "veth pairs cannot be made here"
    ip -n "$cam_ns-$i" addr add "198.18.$i.1/24" dev "vxc$i"
    ip -n "$host_ns" addr add "198.18.$i.2/24" dev "vxh$i"
    ip -n "$cam_ns-$i" link set "vxc$i" up
    ip -n "$host_ns" link set "vxh$i" up
  done
}

# Every camera behind one link: the switch's namespace is "$cam_ns-0", which the cleanup removes with the
# cameras' namespaces. Every pair is made inside a namespace of the test network, as above.
shared_links() {
  local switch_ns="$cam_ns-0"
  ip netns add "$switch_ns" || skip "network namespaces cannot be made here"
  ip -n "$switch_ns" link set lo up
  ip -n "$switch_ns" link add vxbr type bridge || skip "bridges cannot be made here"
  ip -n "$switch_ns" link set vxbr up
  ip -n "$switch_ns" link add vxs0 type veth peer name vxh0 netns "$host_ns" || skip "veth pairs cannot be made here"
  ip -n "$switch_ns" link set vxs0 master vxbr
  ip -n "$switch_ns" link set vxs0 up
  ip -n "$host_ns" addr add 198.18.0.2/16 dev vxh0
  ip -n "$host_ns" link set vxh0 up
  if [ "$shared_link" -gt 0 ]; then
    ip netns exec "$switch_ns" tc qdisc add dev vxs0 root tbf rate "${shared_link}kbit" burst 64kb latency 400ms
  fi
  for i in $(seq "$cameras"); do
    ip netns add "$cam_ns-$i" || skip "network namespaces cannot be made here"
    ip -n "$cam_ns-$i" link set lo up
    ip -n "$cam_ns-$i" link add "vxc$i" type veth peer name "vxs$i" netns "$switch_ns" ||
      skip "veth pairs cannot be made here"
    ip -n "$switch_ns" link set "vxs$i" master vxbr
    ip -n "$switch_ns" link set "vxs$i" up
    ip -n "$cam_ns-$i" addr add "198.18.$i.1/16" dev "vxc$i"
    ip -n "$cam_ns-$i" link set "vxc$i" up
  done
}

if [ -n "$shared_link" ]; then
  shared_links
else
  own_links
fi
for i in $(seq "$cameras"); do
  [ -n "${lost_ratio[$i]:-}" ] && echo "${lost_ratio[$i]}" >"$state/camera-$i.lost-ratio"
  camera_start "$state" "$i"
done

set +e
ip netns exec "$host_ns" env VXCAM_TRANSPORTS=gev VXCAM_GEV_STATE="$state" VXCAM_GEV_CAMERAS="$cameras" \
  VXCAM_GEV_CTL="$(realpath "$0")" ${shared_link:+VXCAM_GEV_SHARED_LINK_KBIT="$shared_link"} "$@"
status=$?
set -e
exit $status
