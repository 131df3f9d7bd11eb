#!/usr/bin/env bash
# Installs everything the build, the tests and the demo need, from Debian's
# archive only. Safe to run again: it installs only what is missing.
set -euo pipefail

packages=(
  build-essential cmake pkg-config
  libjansson-dev liblog4c-dev libmd-dev libasound2-dev
  # Installed together: jackd2 alone would replace the JACK library that
  # librtaudio-dev depends on.
  librtaudio-dev libjack-jackd2-dev jackd2
  libgtest-dev libgmock-dev libbenchmark-dev
  iproute2
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -eq 0 ]; then
  echo "setup: all packages present"
  exit 0
fi

sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -q
$sudo -E apt-get install -y -q --no-install-recommends "${packages[@]}"
