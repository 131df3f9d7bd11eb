// Commands 9 to 13: the sender and receiver stream of a session are added,
// removed and re-mapped to other audio channels while they run. A session on
// an interface that no RTP engine serves takes no stream.
#pragma once

#include "vlipc/vl_ipc_srv.h"

// "stream_type" values.
enum : int {
  VL_IPC_STREAM_SENDER = 1,
  VL_IPC_STREAM_RECEIVER = 2,
};

// {"session_id", "audio_device_name", "stream_sdp", "stream_seqno",
// "stream_dscp", "stream_packetduration"} -> {"session_id", "stream_type": 1,
// "stream"}. The first sequence number is the low 16 bits of "stream_seqno";
// a DSCP beyond 0 to 63 or a packet duration beyond 0 to 2^31 - 1 is
// refused. A session that has a sender already is refused before a second
// one is built.
json_t* vl_stream_add_snd_request(VlDevice* device, json_t* parameter);
// {"session_id", "audio_device_name", "stream_sdp", "stream_end2enddelay"}
// -> {"session_id", "stream_type": 2, "stream"}. The delay must fit 32 bits
// (signed); a session that has a receiver already is refused.
json_t* vl_stream_add_rcv_request(VlDevice* device, json_t* parameter);
// {"session_id", "stream_type"} -> {"session_id", "stream_type"}; the
// command, not "stream_type", decides which stream goes, and a session
// without that stream answers the same.
json_t* vl_stream_del_snd_request(VlDevice* device, json_t* parameter);
json_t* vl_stream_del_rcv_request(VlDevice* device, json_t* parameter);
// {"session_id", "stream_type", "stream_channelmap", "audio_device_name"}
// -> the same four keys, the map as applied.
json_t* vl_stream_change_request(VlDevice* device, json_t* parameter);

// Registers the five handlers with the server's command table.
void vlipc_stream_register();
