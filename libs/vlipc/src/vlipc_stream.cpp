#include "vlipc/vlipc_stream.h"

#include "vl/vl_device.h"
#include "vlipc/vlipc_request.h"
#include "vlipc/vlipc_session.h"

#include <cerrno>
#include <cstdint>
#include <limits>
#include <memory>

namespace {

constexpr json_int_t max_dscp = 63;
constexpr json_int_t int32_min = std::numeric_limits<int32_t>::min();
constexpr json_int_t int32_max = std::numeric_limits<int32_t>::max();

using SenderPtr = std::unique_ptr<VlStreamSender, VlStreamDeleter>;
using ReceiverPtr = std::unique_ptr<VlStreamReceiver, VlStreamDeleter>;

// A value that would be cut to fit its field would stream with another
// setting than the one asked for.
bool within(const json_t* parameter, vl_json_key_index index, json_int_t low, json_int_t high) {
  const json_int_t value = vlipc_integer(parameter, index);
  return value >= low && value <= high;
}

// What both adds need: the session, the audio device and the SDP.
struct AddTarget {
  VlSession* session = nullptr;
  VlAudioDevice* audio_device = nullptr;
  const char* sdp = nullptr;
};

// False after adding the error of the first check that fails.
bool find_add_target(VlDevice* device, const json_t* parameter, AddTarget* target) {
  if (!vl_json_check(parameter, "vl_stream_add_request", 3, VL_KEY_SESSION_ID, VL_KEY_AUDIO_DEVICE_NAME,
                     VL_KEY_STREAM_SDP)) {
    VL_ERROR_ADD(EINVAL, "Invalid parameter for add stream command!");
    return false;
  }
  target->session = vlipc_session_of(device, parameter);
  if (!target->session) {
    VL_ERROR_ADD(EIO, "Could not decode/find session!");
    return false;
  }
  target->audio_device = vl_device_audio_find(device, vlipc_text(parameter, VL_KEY_AUDIO_DEVICE_NAME));
  if (!target->audio_device) {
    VL_ERROR_ADD(EIO, "Could not decode/find requested audio device!");
    return false;
  }
  target->sdp = vlipc_text(parameter, VL_KEY_STREAM_SDP);
  return true;
}

// On an interface that no RTP engine serves a stream would be taken and
// never streamed: the device keeps such detached streams for the clients'
// mirrors only.
VlStreamSender* make_sender(const AddTarget& target, const json_t* parameter) {
  const VlNetworkInterface* interface = target.session->interface;
  if (!interface->send_manager) return nullptr;
  return vl_stream_sender_ctor(interface, target.sdp, target.audio_device, vl_session_ssrc(target.session),
                               static_cast<uint16_t>(vlipc_integer(parameter, VL_KEY_STREAM_SEQNO)),
                               static_cast<uint32_t>(vlipc_integer(parameter, VL_KEY_STREAM_PACKETDURATION)),
                               static_cast<uint8_t>(vlipc_integer(parameter, VL_KEY_STREAM_DSCP)));
}

VlStreamReceiver* make_receiver(const AddTarget& target, const json_t* parameter) {
  const VlNetworkInterface* interface = target.session->interface;
  if (!interface->recv_manager) return nullptr;
  return vl_stream_receiver_ctor(interface, target.sdp, target.audio_device,
                                 static_cast<int32_t>(vlipc_integer(parameter, VL_KEY_STREAM_END2ENDDELAY)));
}

json_t* typed_result(const VlSession* session, json_int_t type) {
  return json_pack("{s:o, s:I}", vlipc_key(VL_KEY_SESSION_ID), vl_session_id_encode(session->id),
                   vlipc_key(VL_KEY_STREAM_TYPE), type);
}

json_t* added_result(const VlSession* session, json_int_t type, json_t* stream) {
  json_t* result = typed_result(session, type);
  json_object_set_new(result, vlipc_key(VL_KEY_STREAM), stream);
  return result;
}

json_t* remove_stream(VlDevice* device, const json_t* parameter, json_int_t type) {
  if (!vl_json_check(parameter, "vl_stream_del_request", 2, VL_KEY_SESSION_ID, VL_KEY_STREAM_TYPE))
    return VL_IPC_REFUSE(EINVAL, "Invalid parameter for delete stream command!");
  VlSession* session = vlipc_session_of(device, parameter);
  if (!session) return VL_IPC_REFUSE(EIO, "Could not decode/find session!");
  if (type == VL_IPC_STREAM_SENDER)
    vl_object_delete(vl_session_del_send(session));
  else
    vl_object_delete(vl_session_del_recv(session, vl_session_get_receiver(session)));
  return typed_result(session, type);
}

VlStream* stream_of(const VlSession* session, json_int_t type) {
  if (type == VL_IPC_STREAM_SENDER) return vl_session_get_sender(session);
  return vl_session_get_receiver(session);
}

}  // namespace

json_t* vl_stream_add_snd_request(VlDevice* device, json_t* parameter) {
  AddTarget target;
  if (!find_add_target(device, parameter, &target)) return vl_error_encode();
  if (!vl_json_check(parameter, "vl_stream_add_snd_request", 3, VL_KEY_STREAM_SEQNO, VL_KEY_STREAM_DSCP,
                     VL_KEY_STREAM_PACKETDURATION) ||
      !within(parameter, VL_KEY_STREAM_DSCP, 0, max_dscp) ||
      !within(parameter, VL_KEY_STREAM_PACKETDURATION, 0, int32_max))
    return VL_IPC_REFUSE(EINVAL, "Invalid parameter for add send stream command!");
  // Checked before the sender is built: a second sender would already send
  // under the session's SSRC when the session refuses it.
  if (vl_session_get_sender(target.session)) return VL_IPC_REFUSE(EIO, "Could not add sender stream!");
  SenderPtr sender(make_sender(target, parameter));
  if (!sender) return VL_IPC_REFUSE(EIO, "Could not create sender stream!");
  // Announced unless the client asks otherwise with "stream_sap": 0.
  const json_t* sap = vlipc_member(parameter, VL_KEY_STREAM_SAP);
  sender->set_sap_enabled(!json_is_integer(sap) || json_integer_value(sap) != 0);
  if (vl_session_add_send(target.session, sender.get()) != 0) return VL_IPC_REFUSE(EIO, "Could not add sender stream!");
  vl_sap_announce(device, target.session);
  return added_result(target.session, VL_IPC_STREAM_SENDER, vl_stream_sender_encode(sender.release()));
}

json_t* vl_stream_add_rcv_request(VlDevice* device, json_t* parameter) {
  AddTarget target;
  if (!find_add_target(device, parameter, &target)) return vl_error_encode();
  if (!vl_json_check(parameter, "vl_stream_add_rcv_request", 1, VL_KEY_STREAM_END2ENDDELAY) ||
      !within(parameter, VL_KEY_STREAM_END2ENDDELAY, int32_min, int32_max))
    return VL_IPC_REFUSE(EINVAL, "Invalid parameter for add receiver stream command!");
  if (vl_session_get_receiver(target.session)) return VL_IPC_REFUSE(EIO, "Could not add receiver stream!");
  ReceiverPtr receiver(make_receiver(target, parameter));
  if (!receiver) return VL_IPC_REFUSE(EIO, "Could not create receiver stream!");
  if (vl_session_add_recv(target.session, receiver.get()) != 0)
    return VL_IPC_REFUSE(EIO, "Could not add receiver stream!");
  return added_result(target.session, VL_IPC_STREAM_RECEIVER, vl_stream_receiver_encode(receiver.release()));
}

json_t* vl_stream_del_snd_request(VlDevice* device, json_t* parameter) {
  return remove_stream(device, parameter, VL_IPC_STREAM_SENDER);
}

json_t* vl_stream_del_rcv_request(VlDevice* device, json_t* parameter) {
  return remove_stream(device, parameter, VL_IPC_STREAM_RECEIVER);
}

json_t* vl_stream_change_request(VlDevice* device, json_t* parameter) {
  if (!vl_json_check(parameter, "vl_stream_change_request", 4, VL_KEY_SESSION_ID, VL_KEY_STREAM_TYPE,
                     VL_KEY_STREAM_CHANNELMAP, VL_KEY_AUDIO_DEVICE_NAME))
    return VL_IPC_REFUSE(EINVAL, "Invalid parameter for change stream command!");
  const VlSession* session = vlipc_session_of(device, parameter);
  if (!session) return VL_IPC_REFUSE(EIO, "Could not decode/find session!");
  const json_int_t type = vlipc_integer(parameter, VL_KEY_STREAM_TYPE);
  if (type == 0) return VL_IPC_REFUSE(EIO, "Could not decode requested stream type!");
  const VlChannelMapPtr map(vl_channel_map_decode(vlipc_member(parameter, VL_KEY_STREAM_CHANNELMAP)));
  if (!map) return VL_IPC_REFUSE(EIO, "Could not decode channel_map!");
  const VlAudioDevice* audio_device = vl_device_audio_find(device, vlipc_text(parameter, VL_KEY_AUDIO_DEVICE_NAME));
  if (!audio_device) return VL_IPC_REFUSE(EIO, "Could not decode/find requested audio device!");
  if (type != VL_IPC_STREAM_SENDER && type != VL_IPC_STREAM_RECEIVER)
    return VL_IPC_REFUSE(EOPNOTSUPP, "Invalid stream type!");
  if (vl_stream_set_channel_map(stream_of(session, type), map.get(), audio_device) < 0)
    return VL_IPC_REFUSE(VL_IPC_ERR_MAP_SIZE, "Invalid channel map size!");
  json_t* result = typed_result(session, type);
  json_object_set_new(result, vlipc_key(VL_KEY_STREAM_CHANNELMAP), vl_channel_map_encode(map.get()));
  json_object_set_new(result, vlipc_key(VL_KEY_AUDIO_DEVICE_NAME), json_string(audio_device->name));
  return result;
}

void vlipc_stream_register() {
  vl_ipc_register_handler(VL_IPC_CMD_STREAM_ADD_SND, vl_stream_add_snd_request);
  vl_ipc_register_handler(VL_IPC_CMD_STREAM_ADD_RCV, vl_stream_add_rcv_request);
  vl_ipc_register_handler(VL_IPC_CMD_STREAM_DEL_SND, vl_stream_del_snd_request);
  vl_ipc_register_handler(VL_IPC_CMD_STREAM_DEL_RCV, vl_stream_del_rcv_request);
  vl_ipc_register_handler(VL_IPC_CMD_STREAM_CHANGE, vl_stream_change_request);
}
