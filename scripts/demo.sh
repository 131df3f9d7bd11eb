#!/usr/bin/env bash
# Builds streamerd and runs it in the foreground, inside a network namespace
# of its own so that nothing reaches the host's network: there it streams on
# demo0, one end of a veth pair. Ctrl+C stops it.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/build.sh" build -DCMAKE_BUILD_TYPE=RelWithDebInfo
demo_home=$(mktemp -d)
trap 'rm -rf "$demo_home"' EXIT
cd "$demo_home"
# No JACK server is started on the daemon's behalf when none runs.
HOME=$demo_home JACK_NO_START_SERVER=1 unshare --net sh -c '
  ip link set lo up &&
  ip link add demo0 type veth peer name demo1 &&
  ip addr add 198.18.0.1/24 dev demo0 &&
  ip link set demo0 up && ip link set demo1 up &&
  ip route add 224.0.0.0/4 dev demo0 &&
  exec "$0"' "$root/build/apps/streamerd/streamerd"
