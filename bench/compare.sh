#!/usr/bin/env bash
# streamerd beside GStreamer's RTP elements on this machine, in one run: N
# concurrent 8-channel L24 48 kHz streams of 1 ms (and 16 of 125 us), sent
# from host A of a network lab to host B, where each system also receives
# them. One measuring receiver (bench/rtp_probe, kernel receive timestamps)
# measures every sender alike, beside the platform's floor and the CPU time
# of the sending and receiving processes. Run by hand, as root; it takes
# about (warm-up + seconds + 10 s) per row, 3 rows per N.
#
#   bench/compare.sh [--build=DIR] [--out=DIR] [--seconds=60] [--warmup=5]
#                    [--streams="1 16 64 256"] [--short=16] [--rows="..."]
#                    [--repeat=1]
#
# With --repeat=R every shape runs R times, its rows one after the other
# each time, and the table gives medians: on a machine that others load,
# rows measured close together compare best.
#
# Rows: "streamerd" (the daemon, driven through streamerctl, all streams
# from one generator and into one analyzer), "streamerd-per-stream" (the RTP
# engine with one generator per stream, bench/engine_streams, sending to the
# receiving daemon: the daemon offers one generator), "gstreamer" (audiotestsrc ! rtpL24pay ! udpsink and
# udpsrc ! rtpjitterbuffer ! rtpL24depay ! fakesink, one pipeline branch per
# stream). "engine" and "engine-per-stream" send and receive through the
# RTP engine directly, without the daemon.
#
# Everything runs inside the lab's namespaces: nothing is sent on the
# machine's own interfaces. The table goes to standard output and, with the
# plots (cpu.png, lateness.png) and the raw results (results.jsonl), to DIR.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build=$root/build
out=compare-$(date +%Y%m%d-%H%M%S)
seconds=60
warmup=5
stream_counts="1 16 64 256"
short_count=16
rows="streamerd streamerd-per-stream gstreamer"
repeat=1
for arg in "$@"; do
  case $arg in
    --build=*) build=${arg#*=} ;;
    --out=*) out=${arg#*=} ;;
    --seconds=*) seconds=${arg#*=} ;;
    --warmup=*) warmup=${arg#*=} ;;
    --streams=*) stream_counts=${arg#*=} ;;
    --short=*) short_count=${arg#*=} ;;
    --rows=*) rows=${arg#*=} ;;
    --repeat=*) repeat=${arg#*=} ;;
    *) echo "usage: $0 [--build=DIR] [--out=DIR] [--seconds=S] [--warmup=S] [--streams=\"1 16\"] [--short=N|0]" \
         "[--rows=\"...\"] [--repeat=R]" >&2
       exit 2 ;;
  esac
done
[ "$(id -u)" -eq 0 ] || { echo "compare.sh builds network namespaces: run it as root" >&2; exit 1; }
programs=("$build/bench/rtp_probe" "$build/bench/engine_streams")
case " $rows " in
  *" streamerd "* | *" streamerd-per-stream "*)
    programs+=("$build/apps/streamerd/streamerd" "$build/apps/streamerctl/streamerctl") ;;
esac
for program in "${programs[@]}"; do
  [ -x "$program" ] || { echo "missing $program: build first (scripts/build.sh build)" >&2; exit 1; }
done
command -v gst-launch-1.0 >/dev/null || { echo "gst-launch-1.0 missing: run scripts/setup.sh" >&2; exit 1; }
mkdir -p "$out/logs"
out=$(cd "$out" && pwd)
results=$out/results.jsonl
: >"$results"

# shellcheck source=../tests/support/netlab.sh
. "$root/tests/support/netlab.sh"
netlab_up
. "$root/bench/compare_streams.sh"

# Background processes of the current row, stopped at its end.
row_pids=()
start_in() { # start_in a|b LOG CMD...: the command's pid in $started
  local host=$1 log=$2
  shift 2
  # ip netns exec becomes the command: $! is its pid.
  ip netns exec "$(netlab_ns "$host")" "$@" >"$out/logs/$log" 2>&1 &
  started=$!
  row_pids+=("$started")
}
stop_row() {
  stop_processes "${row_pids[@]}"
  row_pids=()
}

# Whatever still runs in the lab's namespaces was started here.
kill_lab_processes() {
  local ns
  for ns in "$NETLAB_A" "$NETLAB_B"; do
    [ -n "$ns" ] && ip netns pids "$ns" 2>/dev/null | xargs -r kill -KILL 2>/dev/null
  done
  return 0
}
cleanup() {
  stop_row
  stop_daemons
  kill_lab_processes
  netlab_down
}
trap cleanup EXIT

# The probe measures while the row's sender and receiver run; its JSON
# result gets the row's name and shape in front.
measure() { # measure ROW N FRAMES SEND_PID RECEIVE_PID REPEAT
  local row=$1 n=$2 frames=$3 result
  sleep 1
  result=$(netlab_exec b "$build/bench/rtp_probe" --address="$NETLAB_ADDR_B" --streams="$n" --frame-bytes=24 \
    --warmup="$warmup" --seconds="$seconds" --pid="send:$4" --pid="receive:$5")
  echo "{\"row\": \"$row\", \"n\": $n, \"frames\": $frames, \"repeat\": $6, ${result#\{}" >>"$results"
  echo "  $row N=$n frames=$frames: ${result:0:160}..." >&2
}

run_row() { # run_row ROW N FRAMES REPEAT
  local row=$1 n=$2 frames=$3 send receive
  case $row in
    streamerd)
      daemon_streams "$n" "$frames" || { echo "  $row N=$n: streams not set up" >&2; restart_daemons; return; }
      send=$daemon_a receive=$daemon_b ;;
    streamerd-per-stream)
      daemon_receivers "$n" "$frames" || { echo "  $row N=$n: receivers not set up" >&2; restart_daemons; return; }
      start_in a "$row-$n-$frames-send.log" "$build/bench/engine_streams" --send --per-stream --address="$NETLAB_ADDR_A" \
        --interface="$NETLAB_DEV_A" --streams="$n" --frames="$frames"
      send=$started receive=$daemon_b ;;
    engine | engine-per-stream)
      start_in b "$row-$n-$frames-receive.log" "$build/bench/engine_streams" --receive --address="$NETLAB_ADDR_B" \
        --interface="$NETLAB_DEV_B" --streams="$n" --frames="$frames"
      receive=$started
      start_in a "$row-$n-$frames-send.log" "$build/bench/engine_streams" --send --address="$NETLAB_ADDR_A" \
        --interface="$NETLAB_DEV_A" --streams="$n" --frames="$frames" $([ $row = engine ] || echo --per-stream)
      send=$started ;;
    gstreamer)
      # shellcheck disable=SC2046
      start_in b "$row-$n-$frames-receive.log" gst-launch-1.0 -q $(gst_receive_pipeline "$n" "$frames")
      receive=$started
      # shellcheck disable=SC2046
      start_in a "$row-$n-$frames-send.log" gst-launch-1.0 -q $(gst_send_pipeline "$n" "$frames")
      send=$started ;;
    *) echo "unknown row $row" >&2; exit 2 ;;
  esac
  measure "$row" "$n" "$frames" "$send" "$receive" "$4"
  stop_row
  # Fresh daemons for the next row: quicker than deleting hundreds of
  # sessions one request at a time.
  case $row in streamerd | streamerd-per-stream) restart_daemons ;; esac
}

gst-inspect-1.0 rtpL24pay >/dev/null  # builds GStreamer's plugin registry outside the measurements
start_daemons
echo "compare.sh: $(nproc) CPUs, load average $(cut -d' ' -f1-3 /proc/loadavg) before the run" >&2
shapes=()
for n in $stream_counts; do shapes+=("$n:48"); done
[ "$short_count" -gt 0 ] && shapes+=("$short_count:6")
for shape in "${shapes[@]}"; do
  for ((r = 1; r <= repeat; r++)); do
    for row in $rows; do run_row "$row" "${shape%:*}" "${shape#*:}" "$r"; done
  done
done
/usr/bin/python3 "$root/bench/compare_report.py" "$results" "$out"
