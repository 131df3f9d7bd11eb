#!/usr/bin/env bash
# The demonstration: two streamerd daemons in network namespaces of their own
# (joined by a veth pair, so nothing reaches the host's network), the ramp
# generator of one streaming 8 channels of L24 in 1 ms packets to the ramp
# analyzer of the other over a multicast session, all set up with
# streamerctl. Once a second it shows what RTCP reports and what the
# analyzer finds. Runs until Ctrl+C or for --seconds N, then takes
# everything down again. Needs root.
#
#   demo.sh [--seconds N]
#
# It builds streamerd and streamerctl first, unless STREAMERD and STREAMERCTL
# name the programs to use.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)

seconds=0
while [ $# -gt 0 ]; do
  case $1 in
    --seconds) seconds=${2:?--seconds needs a number}; shift 2 ;;
    --seconds=*) seconds=${1#--seconds=}; shift ;;
    -h | --help) sed -n '2,13p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    *) echo "demo: unknown argument '$1' (try --help)" >&2; exit 2 ;;
  esac
done
[[ $seconds =~ ^[0-9]+$ ]] || { echo "demo: --seconds needs a whole number" >&2; exit 2; }
[ "$(id -u)" -eq 0 ] || { echo "demo: run as root (it creates network namespaces)" >&2; exit 1; }

if [ -z "${STREAMERD:-}" ] || [ -z "${STREAMERCTL:-}" ]; then
  cmake -S "$root" -B "$root/build" -DVL_WERROR=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
  cmake --build "$root/build" -j "$(nproc)" --target streamerd streamerctl
  STREAMERD=$root/build/apps/streamerd/streamerd
  STREAMERCTL=$root/build/apps/streamerctl/streamerctl
fi

group=239.69.1.1
port=5004
channels=8
# Lab names of their own ("vldemo-<pid>-a|b"): the tests' labs are "vlt-...".
ns_a=vldemo-$$-a
ns_b=vldemo-$$-b
addr_a=198.18.0.1
addr_b=198.18.0.2
work=$(mktemp -d)
pids=()

# Namespaces of demos that died without cleaning up.
remove_stale() {
  local name pid
  for name in $(ip netns list 2>/dev/null | awk '{print $1}'); do
    [[ $name =~ ^vldemo-([0-9]+)-[ab]$ ]] || continue
    pid=${BASH_REMATCH[1]}
    kill -0 "$pid" 2>/dev/null && continue
    ip netns delete "$name" 2>/dev/null || true
  done
}

cleanup() {
  trap '' INT TERM
  local pid
  for pid in "${pids[@]}"; do kill -TERM "$pid" 2>/dev/null || true; done
  for pid in "${pids[@]}"; do wait "$pid" 2>/dev/null || true; done
  ip netns delete "$ns_a" 2>/dev/null || true
  ip netns delete "$ns_b" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

host_up() {
  local ns=$1 dev=$2 addr=$3
  ip -n "$ns" link set lo up
  ip -n "$ns" addr add "$addr/24" dev "$dev"
  ip -n "$ns" link set "$dev" up
  ip -n "$ns" route add 224.0.0.0/4 dev "$dev"
}

remove_stale
ip netns add "$ns_a"
ip netns add "$ns_b"
ip -n "$ns_a" link add demo0 type veth peer name demo1 netns "$ns_b"
host_up "$ns_a" demo0 "$addr_a"
host_up "$ns_b" demo1 "$addr_b"

# A daemon per namespace, each with a HOME of its own; no JACK server is
# started on their behalf.
start_daemon() {
  local ns=$1 name=$2
  mkdir -p "$work/$name"
  (cd "$work/$name" && HOME=$work/$name JACK_NO_START_SERVER=1 exec ip netns exec "$ns" "$STREAMERD" \
    >"$work/$name.out" 2>&1) &
  pids+=($!)
}
start_daemon "$ns_a" a
start_daemon "$ns_b" b

# streamerctl run inside a namespace against its own daemon.
ctl() {
  local ns=$1 addr=$2
  shift 2
  ip netns exec "$ns" "$STREAMERCTL" --host "$addr" "$@"
}
ctl_a() { ctl "$ns_a" "$addr_a" "$@"; }
ctl_b() { ctl "$ns_b" "$addr_b" "$@"; }

wait_ready() {
  local i
  for i in $(seq 100); do
    "$@" status >/dev/null 2>&1 && return 0
    sleep 0.1
  done
  echo "demo: a daemon did not start" >&2
  cat "$work"/*.out >&2
  return 1
}
wait_ready ctl_a
wait_ready ctl_b

say() { printf '\n== %s\n' "$*"; }
say "two daemons: A at $addr_a (namespace $ns_a), B at $addr_b (namespace $ns_b)"
sdp=$work/stream.sdp
"$STREAMERCTL" sdp --source "$addr_a" --group "$group" --port "$port" --channels "$channels" \
  --encoding L24 --ptime 1 >"$sdp"
cat "$sdp"
say "A: reserve the ramp generator (8 channels, each its own ramp), create the session, add the sender"
ctl_a audio reserve GeneratorRamp --config "{\"channelCountCapture\": $channels, \"channelCountPlay\": 0,
  \"audioBlockSize\": 1024, \"sampleRate\": [48000, 1], \"function\": {\"channels\": $channels}}" >/dev/null
ctl_a session add "$group" "$port" demo0
ctl_a send add "$group" "$port" GeneratorRamp --sdp "$sdp" --map 0,1,2,3,4,5,6,7
say "B: reserve the ramp analyzer, create the session, add the receiver playing the stream's first channel on it"
ctl_b audio reserve AnalyzerRamp >/dev/null
ctl_b session add "$group" "$port" demo1
ctl_b receive add "$group" "$port" AnalyzerRamp --sdp "$sdp" --map 0,-1,-1,-1,-1,-1,-1,-1
ctl_b sessions

say "live view (RTCP reports every 5 s; mismatches 1 is the ramp's start: every sample since arrived in place)"
echo "Ctrl+C stops the demo"
start=$SECONDS
while [ "$seconds" -eq 0 ] || [ $((SECONDS - start)) -lt "$seconds" ]; do
  sleep 1
  printf '%3ds  A %s  |  B %s\n' $((SECONDS - start)) "$(ctl_a summary)" "$(ctl_b summary)"
done
say "taking the demo down"
ctl_b stream del "$group" "$port" rcv
ctl_a stream del "$group" "$port" snd
ctl_b audio release AnalyzerRamp
ctl_a audio release GeneratorRamp
