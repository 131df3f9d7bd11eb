#!/usr/bin/env bash
# Installs everything the build, the tests and the demo need, from Debian's
# archive only. Safe to run again: apt-get install leaves present packages
# alone, and it always runs, so that CI exercises the install path too.
set -euo pipefail

packages=(
  build-essential cmake pkg-config
  libjansson-dev liblog4c-dev libmd-dev libasound2-dev
  # Installed together: jackd2 alone would replace the JACK library that
  # librtaudio-dev depends on.
  librtaudio-dev libjack-jackd2-dev jackd2
  libgtest-dev libgmock-dev libbenchmark-dev
  # streamerctl's command line.
  libcli11-dev
  iproute2 procps
  # ptp4l and pmc: the PTP reference backed by ptp4l, and its tests.
  linuxptp
  # The independent SAP and RTP peer of the SAP tests.
  ffmpeg
  # The fuzz targets: clang with its libFuzzer and sanitizer runtimes.
  clang-14 libclang-rt-14-dev
  # GStreamer's RTP elements: a peer of the interoperability tests, and the
  # system bench/compare.sh compares with.
  gstreamer1.0-tools gstreamer1.0-plugins-base gstreamer1.0-plugins-good
  # The interoperability tests' packet dissector (GStreamer and ffmpeg above
  # are their peers too).
  tshark
)

# scripts/setup.sh --bench adds what only the hand-run comparison needs: the
# plots of its report and the profiler behind the figures.
[ "${1:-}" = "--bench" ] && packages+=(python3-matplotlib linux-perf)

# As root apt-get runs directly; otherwise through sudo, which must pass the
# frontend setting on (jackd2 stops at a question without it).
as_root=()
[ "$(id -u)" -eq 0 ] || as_root=(sudo)
apt=("${as_root[@]}" env DEBIAN_FRONTEND=noninteractive apt-get -q -y)

# wireshark-common asks whether non-root users may capture; root captures
# anyway, so the answer is no and the question is never shown.
echo "wireshark-common wireshark-common/install-setuid boolean false" | "${as_root[@]}" debconf-set-selections
"${apt[@]}" update
"${apt[@]}" install --no-install-recommends "${packages[@]}"
echo "setup: all packages installed"
