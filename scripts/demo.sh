#!/usr/bin/env bash
# Builds streamerd and runs it in the foreground, inside a network namespace
# of its own so that nothing reaches the host's network. Ctrl+C stops it.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/build.sh" build -DCMAKE_BUILD_TYPE=RelWithDebInfo
demo_home=$(mktemp -d)
trap 'rm -rf "$demo_home"' EXIT
cd "$demo_home"
HOME=$demo_home unshare --net sh -c 'ip link set lo up && exec "$0"' "$root/build/apps/streamerd/streamerd"
