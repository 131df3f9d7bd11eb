#!/usr/bin/env bash
# Writes the seed corpora (fuzz/corpus/<target>/) and dictionaries
# (fuzz/dict/<target>.dict) of the fuzz targets from the inputs of the unit
# and system tests: the same SDP records, RTP and RTCP datagrams, requests,
# records and configuration files. The files are committed; run this again
# when those inputs change.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/.." && pwd)
corpus=$here/corpus
dict=$here/dict
rm -rf "$corpus" "$dict"
mkdir -p "$corpus"/{sdp,rtp,rtcp,json,ipc,config} "$dict"

# text <file> <text with printf %b escapes>
text() { printf '%b' "$2" >"$corpus/$1"; }
# hex <file> <hex digits...>
hex() { local file=$1; shift; printf '%s' "$*" | tr -d ' ' | xxd -r -p >"$corpus/$file"; }

# --- SDP: the SDP reader tests' records ---------------------------------------
stage_box_session='v=0\no=- 1311738121 1311738121 IN IP4 192.168.1.10\ns=Stage box 1\nt=0 0\n'
stage_box_media='m=audio 5004 RTP/AVP 98\nc=IN IP4 239.1.2.3/32\na=rtpmap:98 L24/48000/8\na=source-filter:incl IN IP4 239.1.2.3 192.168.1.10\n'
stage_box_aes67='a=ptime:1\na=ts-refclk:ptp=IEEE1588-2008:00-1D-C1-FF-FE-12-34-56:0\na=mediaclk:direct=0\na=recvonly\n'
text sdp/stage_box "${stage_box_session}a=clock-domain:PTPv2 0\n${stage_box_media}a=sync-time:0\na=framecount:48\n${stage_box_aes67}"
text sdp/stage_box_aes67 "${stage_box_session}${stage_box_media}${stage_box_aes67}"
text sdp/console_out 'v=0\r\no=- 38 41 IN IP4 192.168.0.20\r\ns=Console out 1-8\r\nt=0 0\r\na=ts-refclk:ptp=IEEE1588-2008:00-0A-35-FF-FE-00-11-22:0\r\na=mediaclk:direct=0\r\nm=audio 5004 RTP/AVP 96\r\nc=IN IP4 239.69.0.20/32\r\na=rtpmap:96 L24/48000/8\r\na=ptime:1\r\na=recvonly\r\n'
text sdp/stage_rack 'v=0\r\no=- 1700000000 1700000001 IN IP4 10.10.1.5\r\ns=Stage rack : 2\r\nt=0 0\r\na=mediaclk:direct=2768935512\r\nm=audio 5006 RTP/AVP 98\r\nc=IN IP4 239.10.1.5/15\r\na=rtpmap:98 L24/48000/2\r\na=ptime:0.125\r\na=ts-refclk:ptp=IEEE1588-2008:AC-DE-48-FF-FE-23-45-67:3\r\na=source-filter:incl IN IP4 239.10.1.5 10.10.1.5\r\n'
text sdp/mic_pre 'v=0\r\no=- 5 5 IN IP4 172.16.0.9\r\ns=Mic pre\r\nt=0 0\r\nm=audio 5004 RTP/AVP 97\r\nc=IN IP4 239.16.0.9/64\r\na=rtpmap:97 L16/48000/2\r\na=ptime:4\r\na=ts-refclk:ptp=IEEE1588-2008:00-11-22-FF-FE-33-44-55:127\r\na=recvonly\r\n'
text sdp/playback 'v=0\no=- 77 77 IN IP4 192.168.5.5\ns=Playback\nt=0 0\na=mediaclk:direct=123\nm=audio 5004 RTP/AVP 100\nc=IN IP4 239.5.5.5/32\na=rtpmap:100 L24/48000/16\na=ptime:0.333\na=ts-refclk:ptp=IEEE1588-2008:00-11-22-FF-FE-33-44-66:0\n'
text sdp/hi_res 'v=0\r\no=- 8 8 IN IP4 192.168.7.7\r\ns=Hi-res\r\nt=0 0\r\nm=audio 5008 RTP/AVP 101\r\nc=IN IP4 239.7.7.7\r\na=rtpmap:101 L24/96000/2\r\na=ptime:1\r\na=ts-refclk:ptp=IEEE1588-2008:00-11-22-FF-FE-33-44-77:1\r\n'
text sdp/two_media 'v=0\ns=Two\nm=audio 5004 RTP/AVP 96\nm=audio 6000 RTP/AVP 97\nc=IN IP4 239.9.9.9/8\na=rtpmap:97 L16/48000/2\na=ptime:1\na=framecount:64\na=sync-time:7\na=source-filter:incl IN IP4 239.9.9.9 10.0.0.9\na=clock-domain:PTPv2 1\na=ts-refclk:ptp=IEEE1588-2008:aa:1\n'
text sdp/session_connection 'v=0\nc=IN IP4 239.1.2.3/32\nm=audio 5004 RTP/AVP 96\na=rtpmap:96 AM824/48000/8\na=mediaclk:direct=1234567890 rate=48000/1\n'
text sdp/stream 'v=0\no=- 1 1 IN IP4 10.0.0.1\ns=Stream\nt=0 0\nm=audio 5004 RTP/AVP 98\nc=IN IP4 239.1.2.3/16/4\na=rtpmap:98 L32/48000/2\na=framecount:-1\na=ptime:0.250\n'
cat >"$dict/sdp.dict" <<'EOF'
"v=0"
"o=- "
" IN IP4 "
"s="
"t=0 0"
"c=IN IP4 "
"m=audio "
" RTP/AVP "
"a=rtpmap:"
"a=source-filter:incl IN IP4 "
"a=clock-domain:PTPv2 "
"a=ts-refclk:ptp=IEEE1588-2008:"
"a=sync-time:"
"a=mediaclk:direct="
"a=framecount:"
"a=ptime:"
"a=recvonly"
"L16/48000/"
"L24/48000/"
"L32/96000/"
"AM824/48000/"
"\x0d\x0a"
"/32"
EOF

# --- RTP: the receiver tests' datagrams (mono L24, 48 frames) -------------------
# Input of rtp_fuzz: stream byte, delay byte, map bytes, then per datagram a
# 16-bit length, a play clock advance (units of 8 frames) and the datagram.
# packet <seq> <timestamp> [payload byte hex] [first byte] [payload type]
packet() {
  printf '%02x%02x%04x%08xcafef00d' "${4:-128}" "${5:-98}" "$1" "$2"
  local i
  for ((i = 0; i < ${6:-144}; ++i)); do printf '%s' "${3:-40}"; done
}
# record <advance> <datagram hex>
record() { printf '%04x%02x%s' $((${#2} / 2)) "$1" "$2"; }
l24_mono=01
delay=06  # 96 frames
hex rtp/syntonized $l24_mono $delay "$(record 0 "$(packet 1000 7777 40)")" "$(record 6 "$(packet 1001 7825 41)")"
hex rtp/synchronized 11 $delay "$(record 0 "$(packet 1 5000 55)")" "$(record 6 "$(packet 2 5048 56)")"
hex rtp/duplicate $l24_mono $delay "$(record 0 "$(packet 10 0)")" "$(record 6 "$(packet 11 48)")" \
  "$(record 0 "$(packet 11 48 77)")" "$(record 6 "$(packet 12 96)")"
hex rtp/loss $l24_mono $delay "$(record 0 "$(packet 10 0)")" "$(record 18 "$(packet 13 144)")"
hex rtp/reorder $l24_mono $delay "$(record 0 "$(packet 10 0 10)")" "$(record 18 "$(packet 13 144 13)")" \
  "$(record 0 "$(packet 12 96 12)")"
hex rtp/restart $l24_mono $delay "$(record 0 "$(packet 13 0)")" "$(record 6 "$(packet 5013 48)")" \
  "$(record 6 "$(packet 5014 96)")" "$(record 6 "$(packet 5015 144)")"
hex rtp/wrap $l24_mono $delay "$(record 0 "$(packet 65535 0)")" "$(record 6 "$(packet 0 48)")"
# The header parser's golden datagrams (payload type 98 with the marker).
hex rtp/parser_golden $l24_mono 00 \
  "$(record 0 "$(packet 4660 2309737967 01 128 226 3)")" \
  "$(record 0 "82e212340000000acafef00d0c0c0c0c0d0d0d0d01")" \
  "$(record 0 "90e212340000000bcafef00dbede000209090909090909090102")" \
  "$(record 0 "91e212340000000ccafef00d0c0c0c0cbede000007")" \
  "$(record 0 "a0e212340000000dcafef00d0102000003")" \
  "$(record 0 "8062")" "$(record 0 "40e212340000000ecafef00d010203")" \
  "$(record 0 "8fe212340000000fcafef00d010203")" "$(record 0 "90e2123400000010cafef00dbede00")" \
  "$(record 0 "90e2123400000011cafef00dbedeffff01020304")" "$(record 0 "a0e2123400000012cafef00d010203")" \
  "$(record 0 "80e3123400000013cafef00d010203")"
# Stereo L16 to device channel 0 and nowhere; AM824 stereo; 8 channels of L32.
hex rtp/l16_stereo_map 24 $delay 01 00 "$(record 0 "$(packet 1 0 40 128 98 192)")"
hex rtp/am824_stereo 07 $delay "$(record 0 "$(packet 1 0 40 128 98 384)")"
hex rtp/l32_eight 0e $delay "$(record 0 "$(packet 1 0 40 128 98 1536)")"

# --- RTCP: the packet tests' golden datagrams ------------------------------------
local_ssrc=11223344
peer_ssrc=55667788
sender_info=e100000180000000000123450000006400007080
block=${local_ssrc}010000020001ffff000000071234567800010000
hex rtcp/sr_sdes_bye 81c8000c $peer_ssrc $sender_info $block \
  81ca0004 $peer_ssrc 0109 "$(printf 'peer@host' | xxd -p)" 00 81cb0001 $peer_ssrc
hex rtcp/rr_two_blocks 82c9000d $peer_ssrc 99999999 "$(printf '09%.0s' {1..20})" \
  $local_ssrc 00000001 00000002 00000003 00000004 00000005
hex rtcp/sdes_cname_name 81ca0004 $peer_ssrc 0104 61626364 0203 426f62 00
hex rtcp/sdes_two_chunks 82ca0005 $peer_ssrc 010178 00 99999999 01027979 00000000
hex rtcp/unknown_type 80cc0001 00000000 81cb0001 $peer_ssrc
hex rtcp/sr_count_31 9fc80006 $peer_ssrc $sender_info
hex rtcp/rr_count_31_no_ssrc 9fc90000 81cb0001 $peer_ssrc
hex rtcp/sr_short 80c80003 $peer_ssrc 0000000000000000 81cb0001 $peer_ssrc
hex rtcp/sdes_item_past_body 81ca0003 $peer_ssrc 0102 6162 01ff 7879
hex rtcp/packet_past_datagram 81cb0001 $peer_ssrc 80c80006 $peer_ssrc
hex rtcp/own_report 81c8000c $local_ssrc $sender_info $block 81ca0005 $local_ssrc 010a "$(printf 'a@10.0.0.1' | xxd -p)" 000000 81cb0001 $local_ssrc

# --- JSON: the records of the stream, statistics, device and session tests ------
sdp_json='"v=0\\no=- 1 1 IN IP4 10.0.0.1\\ns=Stream\\nt=0 0\\nm=audio 5004 RTP/AVP 98\\nc=IN IP4 239.1.2.3/16\\na=rtpmap:98 L24/48000/2\\n"'
sender_json='{"stream_sdp":'$sdp_json',"audio_device_name":"GeneratorRamp","stream_channelmap":[1,-1],"stream_dscp":34,"stream_packetduration":48}'
receiver_json='{"stream_sdp":'$sdp_json',"audio_device_name":"AnalyzerRamp","stream_channelmap":[0,1],"stream_end2enddelay":480}'
receiver_info='[{"rtcp_seqno":0,"rtcp_cname":"peer@host","rtcp_ssrc":24301,"rtcp_lost":16777218,"rtcp_last_seq":131071,"rtcp_jitter":7,"rtcp_lsr":305419896,"rtcp_dlsr":65536}]'
sender_info_json='{"rtcp_ntp_sec":3774873601,"rtcp_ntp_frac":2147483648,"rtcp_rtp_ts":74565,"rtcp_psend":100,"rtcp_osend":28800}'
session_id='{"session_addr":"239.77.4.1","session_port":5041}'
text json/stream_sender "$sender_json"
text json/stream_receiver "$receiver_json"
text json/receiver_info "$receiver_info"
text json/sender_info "$sender_info_json"
text json/stream_info '{"rtcp_sender_info":'"$sender_info_json"',"rtcp_receiver_info":'"$receiver_info"'}'
text json/session '{"session_id":'"$session_id"',"network_interface_name":"veth0","session_sender":'"$sender_json"',"session_receiver":'"$receiver_json"'}'
text json/session_id "$session_id"
text json/channel_map '[0,-1,7,4294967296,"x"]'
text json/version '{"vl_version_major":1,"vl_version_minor":3,"vl_version_build":"8727D"}'
text json/ptp_status '{"ptp_domain":0,"ptp_port_state":9,"ptp_slave_only":1,"ptp_is_syncronized":1,"ptp_master_ip":"198.18.0.2","ptp_delay_mechanism":1,"ptp_gm_id":"00-1D-C1-FF-FE-12-34-56","ptp_gm_clock_class":6,"ptp_gm_clock_accuracy":33,"ptp_offset_nsec":120,"ptp_offset_sign":1}'
text json/ptp_configuration '{"ptp_domain":3,"ptp_prio_1":128,"ptp_prio_2":127,"ptp_log_announce":1,"ptp_log_sync":-3,"ptp_slave_only":0,"ptp_delay_mechanism":1,"ptp_dscp":46}'
text json/errors '[{"line":12,"file":"vl_session.cpp","type":22,"text":"Could not find session."},{"line":1,"file":"x","type":5,"text":""}]'
text json/network_interface '[{"network_interface_name":"veth0","network_interface_mac":[2,118,108,0,0,1],"network_interface_addr":16782022,"network_interface_mask":16777215,"network_interface_type":1}]'
text json/audio_device '{"audio_device_name":"GeneratorRamp","audio_properties":{"channelCountPlay":0,"channelCountCapture":1,"sampleRate":[48000]},"audio_config":{"audioBlockSize":1024},"audio_captid":["Ramp"],"audio_playid":[]}'
# The saved configuration of the configuration tests, as the device decodes it.
config_file() {
  cat <<EOF
{"vl_version":{"vl_version_major":1,"vl_version_minor":$1,"vl_version_build":"8727D"},
"device_id":{"vendor_id":"Brevolt","device":"Linux PC","serial_number":"02:66:7a:00:00:01","device_type":2,"device_variant":1},
"network_interface":[{"network_interface_name":"fz0","network_interface_mac":[2,102,122,0,0,1],"network_interface_addr":16782022,"network_interface_mask":16777215,"network_interface_type":1}],
"audio_device_list":[{"audio_device_name":"AnalyzerRamp","audio_properties":{"channelCountPlay":1,"channelCountCapture":0,"sampleRate":[48000]},"audio_config":{"audioBlockSize":1024},"audio_captid":[],"audio_playid":["playback_channel_0"]},
{"audio_device_name":"GeneratorRamp","audio_properties":{"channelCountPlay":0,"channelCountCapture":1,"sampleRate":[48000]},"audio_config":{"audioBlockSize":1024},"audio_captid":["Ramp"],"audio_playid":[]},
{"audio_device_name":"UsbCard","audio_properties":{},"audio_config":{"audioBlockSize":256},"audio_captid":[],"audio_playid":[]}],
"session_list":[{"session_id":{"session_addr":"239.77.4.2","session_port":5043},"network_interface_name":"fz0","session_sender":{},
"session_receiver":{"stream_sdp":"v=0\\no=- 1 1 IN IP4 198.18.0.1\\ns=Saved stream\\nt=0 0\\nm=audio 5042 RTP/AVP 98\\nc=IN IP4 239.77.4.2/32\\na=rtpmap:98 L16/48000/1\\na=sync-time:0\\n","audio_device_name":"AnalyzerRamp","stream_channelmap":[0],"stream_end2enddelay":480}},
{"session_id":{"session_addr":"239.77.4.1","session_port":5041},"network_interface_name":"fz0",
"session_sender":{"stream_sdp":"v=0\\no=- 1 1 IN IP4 198.18.0.1\\ns=Saved stream\\nt=0 0\\nm=audio 5040 RTP/AVP 98\\nc=IN IP4 239.77.4.1/32\\na=rtpmap:98 L24/48000/2\\na=sync-time:0\\n","audio_device_name":"GeneratorRamp","stream_channelmap":[0,0],"stream_dscp":34,"stream_packetduration":48},"session_receiver":{}},
{"session_id":{"session_addr":"239.77.4.9","session_port":5049},"network_interface_name":"eth9","session_sender":{},"session_receiver":{}}],
"logging":{"velanto":600,"velanto.rtp":900,"root":800},
"additional":{"mixer":{"volume":11}}}
EOF
}
config_file 3 >"$corpus/json/configuration"
config_file 3 >"$corpus/config/saved"
config_file 34 >"$corpus/config/older_version"
printf '%s\n%s\n' '{"vl_version":{"vl_version_major":0,"vl_version_minor":35},"device_id":{"vendor_id":"","device":""},"session_list":[],"audio_device_list":[]}' \
  'd41d8cd98f00b204e9800998ecf8427e' >"$corpus/config/bare"
text config/wrong_device '{"vl_version":{"vl_version_major":1,"vl_version_minor":3},"device_id":{"vendor_id":"Other","device":"Linux PC"}}'
# The JSON key table, for the JSON, configuration and control targets.
keys=$(sed -n 's/^ *{JSON_[A-Z]*, "\([a-z_0-9]*\)"},$/"\\"\1\\""/p' "$root/libs/vlutil/src/vl_json.cpp")
{
  printf '%s\n' "$keys"
  printf '%s\n' '"{"' '"}"' '"["' '"]"' '":"' '","' '"null"' '"true"' '"-1"' '"4294967296"' '"\"audioBlockSize\""' \
    '"\"channelCountPlay\""' '"\"sampleRate\""' '"\"logging\""' '"\"additional\""' '"\"GeneratorRamp\""' \
    '"\"AnalyzerRamp\""' '"\"fz0\""'
} >"$dict/json.dict"
cp "$dict/json.dict" "$dict/config.dict"

# --- IPC: the framing and server tests' frames, and a request per command ---------
# frame <body> [type] [version]: the body and its NUL, behind its header.
frame() { printf '%s,%s,%d:%s\0' "${3:-1}" "${2:-0}" $((${#1} + 1)) "$1"; }
request() { frame "{\"command\": $1, \"parameter\": $2}"; }
ipc_sdp='"v=0\no=- 1 1 IN IP4 198.18.0.1\ns=Fuzz\nt=0 0\nm=audio 5040 RTP/AVP 98\nc=IN IP4 239.77.4.1/32\na=rtpmap:98 L24/48000/2\na=sync-time:0\n"'
session='{"session_addr": "239.77.4.1", "session_port": 5041}'
{ request 1 '{}'; request 2 '{}'; } >"$corpus/ipc/init_done"
{ printf '1,0,3:{}\0'; printf '1,0,0:'; printf 'abc:'; printf '1,0,2:{}'; request 2 null; } >"$corpus/ipc/framing"
{ frame '{"command": 1, "parameter": {}}' 1; frame '{"command": 1, "parameter": {}}' 2; frame '{"v": 2}' 0 2
  request 0 '{}'; } >"$corpus/ipc/other_types"
{ request 24 '{}'; request -1 '{}'; request '"1"' '{}'; frame '{"command": 19}'; frame 'not json'
  frame '7'; request 4294967297 null; } >"$corpus/ipc/bad_requests"
printf '1,0,4294967295:' >"$corpus/ipc/huge_length"
{ request 22 '{"event_id": 242, "event_originator": "ipc_test", "event_exclusive": 0}'
  request 23 '{"event_id": 242, "event_originator": "ipc_test"}'; request 22 '{"event_id": 200, "event_originator": "x", "event_exclusive": 1}'; } >"$corpus/ipc/events"
{ request 3 '{"vl_clt_config_file": "mixer", "vl_clt_config": {"volume": 11}}'; request 4 '{"vl_clt_config_file": "mixer"}'
  request 3 '{"vl_clt_config_file": "*", "vl_clt_config": {}}'; request 5 '{"vl_clt_config_file": "mixer"}'
  request 5 '{"vl_clt_config_file": "*"}'; } >"$corpus/ipc/client_config"
{ request 14 '{"audio_device_name": "GeneratorRamp", "audio_config": {"audioBlockSize": 1024}}'
  request 15 '{"audio_device_name": "GeneratorRamp", "audio_captid": ["Ramp"], "audio_playid": []}'
  request 6 '{"session_addr": "239.77.4.1", "session_port": 5041, "network_interface_name": "fz0"}'
  request 9 "{\"session_id\": $session, \"audio_device_name\": \"GeneratorRamp\", \"stream_sdp\": $ipc_sdp, \"stream_seqno\": 0, \"stream_dscp\": 34, \"stream_packetduration\": 48}"
  request 13 "{\"session_id\": $session, \"stream_type\": 1, \"stream_channelmap\": [0, 0], \"audio_device_name\": \"GeneratorRamp\"}"
  request 8 '{}'; request 11 "{\"session_id\": $session, \"stream_type\": 1}"
  request 7 "{\"session_id\": $session}"; request 17 '{"audio_device_name": "GeneratorRamp"}'; } >"$corpus/ipc/sender_session"
{ request 14 '{"audio_device_name": "AnalyzerRamp", "audio_config": {"audioBlockSize": 1024}}'
  request 6 '{"session_addr": "239.77.4.1", "session_port": 70000, "network_interface_name": "fz0"}'
  request 10 "{\"session_id\": {\"session_addr\": \"239.77.4.1\", \"session_port\": 4464}, \"audio_device_name\": \"AnalyzerRamp\", \"stream_sdp\": $ipc_sdp, \"stream_end2enddelay\": 480}"
  request 12 "{\"session_id\": {\"session_addr\": \"239.77.4.1\", \"session_port\": 4464}, \"stream_type\": 2}"; request 16 '{}'; } >"$corpus/ipc/receiver_session"
{ request 19 '{}'; request 18 '{"log_category": "velanto.rtp", "log_priority": 700}'
  request 20 '{"ptp_configuration": {"ptp_domain": 3}}'; request 21 '{}'; } >"$corpus/ipc/log_and_ptp"
{
  printf '%s\n' "$keys"
  printf '%s\n' '"1,0,"' '"1,1,"' '"2,0,"' '":"' '"\x00"' '"{\"command\": "' '", \"parameter\": "' '"null"' '"{}"' \
    '"\"GeneratorRamp\""' '"\"AnalyzerRamp\""' '"\"fz0\""' '"\"239.77.4.1\""' '"\"*\""'
} >"$dict/ipc.dict"
echo "fuzz corpora written to $corpus, dictionaries to $dict"
