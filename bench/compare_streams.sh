# Sourced by bench/compare.sh: how each system gets its N streams. Stream i
# is the group 239.69.(i / 250).(1 + i % 250), port 5004 + 2i, as
# bench/rtp_probe expects; every stream carries 8 channels of L24 at 48 kHz.

stream_group() { echo "239.69.$(($1 / 250)).$((1 + $1 % 250))"; }
stream_port() { echo $((5004 + 2 * $1)); }
packet_ns() { echo $(($1 * 1000000000 / 48000)); }

# GStreamer: one pipeline branch per stream, in one process per host.
gst_send_pipeline() { # N FRAMES
  local i ptime
  ptime=$(packet_ns "$2")
  for ((i = 0; i < $1; i++)); do
    echo "audiotestsrc is-live=true wave=silence samplesperbuffer=$2"
    echo "! audio/x-raw,format=S24BE,rate=48000,channels=8,layout=interleaved"
    echo "! rtpL24pay pt=98 min-ptime=$ptime max-ptime=$ptime"
    echo "! udpsink host=$(stream_group "$i") port=$(stream_port "$i") multicast-iface=$NETLAB_DEV_A ttl-mc=1"
    echo "auto-multicast=false sync=true async=false"
  done
}

gst_receive_pipeline() { # N FRAMES
  local i
  for ((i = 0; i < $1; i++)); do
    echo "udpsrc address=$(stream_group "$i") port=$(stream_port "$i") multicast-iface=$NETLAB_DEV_B"
    echo "caps=application/x-rtp,media=audio,clock-rate=48000,encoding-name=L24,channels=8,payload=98"
    echo "! rtpjitterbuffer ! rtpL24depay ! fakesink sync=false async=false"
  done
}

# streamerd: one daemon per host, each with a HOME of its own, controlled
# through streamerctl inside its host. All streams of a host share its one
# ramp generator (A) or ramp analyzer (B).
daemon_a=
daemon_b=
daemon_homes=()

ctl() { # ctl a|b ARGS...
  local host=$1
  shift
  netlab_exec "$host" "$build/apps/streamerctl/streamerctl" --host 127.0.0.1 "$@"
}

start_daemon() { # start_daemon a|b DEVICE INTERFACE: the daemon's pid in $started
  local host=$1 device=$2 home
  home=$(mktemp -d)
  daemon_homes+=("$home")
  (cd "$home" && HOME=$home JACK_NO_START_SERVER=1 exec ip netns exec "$(netlab_ns "$host")" \
    "$build/apps/streamerd/streamerd" -interface="$3" -ipc-address=127.0.0.1) >"$out/logs/streamerd-$host.log" 2>&1 &
  started=$!
  local tries
  for ((tries = 0; tries < 100; tries++)); do
    ctl "$host" audio list >/dev/null 2>&1 && break
    sleep 0.2
  done
  ctl "$host" audio reserve "$device" >/dev/null
}

start_daemons() {
  case " $rows " in *" streamerd "* | *" streamerd-per-stream "*) ;; *) return 0 ;; esac
  start_daemon a GeneratorRamp "$NETLAB_DEV_A"
  daemon_a=$started
  start_daemon b AnalyzerRamp "$NETLAB_DEV_B"
  daemon_b=$started
}

# TERM, and KILL for what has not ended within 10 s: a process whose timer
# thread cannot keep up may not get round to stopping.
stop_processes() { # PID...
  local pid tries alive
  for pid in "$@"; do kill -TERM "$pid" 2>/dev/null || true; done
  for ((tries = 0; tries < 50; tries++)); do
    alive=0
    for pid in "$@"; do kill -0 "$pid" 2>/dev/null && alive=1; done
    ((alive)) || break
    sleep 0.2
  done
  for pid in "$@"; do kill -KILL "$pid" 2>/dev/null || true; done
  for pid in "$@"; do wait "$pid" 2>/dev/null || true; done
}

stop_daemons() {
  local home
  # shellcheck disable=SC2086
  stop_processes $daemon_a $daemon_b
  for home in "${daemon_homes[@]}"; do rm -rf "$home"; done
  daemon_a= daemon_b= daemon_homes=()
}

stream_sdp() { # stream_sdp I FRAMES: the SDP file of stream i
  local file=$out/logs/stream-$1-$2.sdp
  [ -s "$file" ] || ctl a sdp --source "$NETLAB_ADDR_A" --group "$(stream_group "$1")" --port "$(stream_port "$1")" \
    --channels 8 --encoding L24 --frames "$2" --name "compare $1" >"$file"
  echo "$file"
}

# Runs "$1 i" for every stream i < $2, a few at a time: hundreds of
# streamerctl calls one after the other take minutes. Stops at the first
# batch with a failure, and fails.
for_streams() { # FUNCTION N [ARGS...]
  local function=$1 n=$2 i pid failed=0 pids=()
  shift 2
  for ((i = 0; i < n; i++)); do
    "$function" "$i" "$@" &
    pids+=($!)
    ((${#pids[@]} < 4)) && ((i + 1 < n)) && continue
    for pid in "${pids[@]}"; do wait "$pid" || failed=1; done
    ((failed)) && return 1
    pids=()
  done
  return 0
}

daemon_receiver() { # I FRAMES
  local group port
  group=$(stream_group "$1") port=$(stream_port "$1")
  ctl b session add "$group" "$port" "$NETLAB_DEV_B" >/dev/null &&
    ctl b receive add "$group" "$port" AnalyzerRamp --sdp "$(stream_sdp "$1" "$2")" --map 0,-1,-1,-1,-1,-1,-1,-1 >/dev/null
}

daemon_sender() { # I FRAMES
  local group port
  group=$(stream_group "$1") port=$(stream_port "$1")
  ctl a session add "$group" "$port" "$NETLAB_DEV_A" >/dev/null &&
    ctl a send add "$group" "$port" GeneratorRamp --sdp "$(stream_sdp "$1" "$2")" --frames "$2" \
      --map 0,0,0,0,0,0,0,0 >/dev/null
}

daemon_receivers() { for_streams daemon_receiver "$1" "$2"; }  # N FRAMES

daemon_streams() { # N FRAMES
  daemon_receivers "$1" "$2" && for_streams daemon_sender "$1" "$2"
}

restart_daemons() {
  stop_daemons
  start_daemons
}
