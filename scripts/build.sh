#!/usr/bin/env bash
# build.sh <build dir> [cmake options...]: configures and builds one configuration.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
dir=$1
shift
cmake -S "$root" -B "$root/$dir" -DVL_WERROR=ON "$@" >/dev/null
cmake --build "$root/$dir" -j "$(nproc)"
