// JSON as clients send it and as the configuration file holds it: every
// record decoder, on the input's value and on each of its members. What a
// decoder accepts must encode to a form that decodes and encodes the same
// again: a record never changes on its way through JSON twice.
#include "fuzz_support.h"

#include "vl/vl_audio_device.h"
#include "vl/vl_channel_map.h"
#include "vl/vl_device.h"
#include "vl/vl_device_id.h"
#include "vl/vl_net.h"
#include "vl/vl_ptp_status.h"
#include "vl/vl_receiver_info.h"
#include "vl/vl_sender_info.h"
#include "vl/vl_session.h"
#include "vl/vl_stream_receiver.h"
#include "vl/vl_stream_sender.h"
#include "vltest/temp_home.h"
#include "vlutil/vl_error.h"
#include "vlutil/vl_json_ref.h"
#include "vlutil/vl_version.h"

#include <cstdlib>
#include <string>

namespace {

VlDevice* client_device = nullptr;

std::string dumped(const json_t* json) {
  char* text = json ? json_dumps(json, JSON_COMPACT | JSON_PRESERVE_ORDER) : nullptr;
  std::string result = text ? text : "";
  std::free(text);
  return result;
}

// Decodes `json`; when that gives a record, its encoding must survive being
// decoded and encoded twice more unchanged. Twice: list decoders give their
// elements in reverse order.
template <typename Record, typename Decode, typename Encode, typename Free>
void round_trip(const json_t* json, Decode decode, Encode encode, Free release, const char* what) {
  const auto again = [&](const json_t* from) -> json_t* {
    Record* record = decode(from);
    if (!record) return nullptr;
    json_t* encoded = encode(record);
    release(record);
    return encoded;
  };
  const VlJsonRef first(again(json));
  if (!first) return;
  const VlJsonRef second(again(first.get()));
  fuzz::require(static_cast<bool>(second), what);
  const VlJsonRef third(again(second.get()));
  fuzz::require(static_cast<bool>(third), what);
  fuzz::require_equal(dumped(first.get()), dumped(third.get()), what);
}

template <typename T>
void delete_record(T* record) {
  delete record;
}

void object_delete(VlObject* object) { vl_object_delete(object); }

void decode_all(const json_t* json) {
  round_trip<VlDevice>(json, vl_device_decode, vl_device_encode, vl_device_dtor, "device changed");
  round_trip<VlDeviceId>(json, vl_device_id_decode, vl_device_id_encode, vl_device_id_dtor, "identity changed");
  round_trip<VlVersion>(json, vl_version_decode, vl_version_encode, vl_version_dtor, "version changed");
  round_trip<VlSenderInfo>(json, vl_sender_info_decode, vl_sender_info_encode, vl_sender_info_dtor,
                           "sender information changed");
  round_trip<VlReceiverInfo>(json, vl_receiver_info_decode, vl_receiver_info_encode, vl_receiver_info_dtor,
                             "receiver information changed");
  round_trip<VlPtpStatus>(json, vl_ptp_status_decode, vl_ptp_status_encode, delete_record<VlPtpStatus>,
                          "PTP status changed");
  round_trip<VlPtpProperties>(json, vl_ptp_properties_decode, vl_ptp_properties_encode,
                              delete_record<VlPtpProperties>, "PTP properties changed");
  round_trip<VlChannelMap>(json, vl_channel_map_decode, vl_channel_map_encode, vl_channel_map_dtor,
                           "channel map changed");
  round_trip<VlNetworkInterface>(json, vl_network_interface_decode, vl_network_interface_encode,
                                 delete_record<VlNetworkInterface>, "network interfaces changed");
  round_trip<VlAudioDevice>(json, vl_audio_device_decode, vl_audio_device_encode, delete_record<VlAudioDevice>,
                            "audio device changed");
  round_trip<VlAudioDevice>(json, vl_audio_device_list_decode, vl_audio_device_list_encode,
                            delete_record<VlAudioDevice>, "audio device list changed");
  round_trip<VlStreamSender>(json, vl_stream_sender_decode, vl_stream_sender_encode, object_delete,
                             "sender stream changed");
  round_trip<VlStreamReceiver>(json, vl_stream_receiver_decode, vl_stream_receiver_encode, object_delete,
                               "receiver stream changed");

  VlSessionId id{};
  if (vl_session_id_decode(json, &id)) {
    const VlJsonRef encoded(vl_session_id_encode(id));
    VlSessionId again{};
    fuzz::require(vl_session_id_decode(encoded.get(), &again) && vl_session_is_equal(id, again),
                  "session identity changed");
  }
  if (vl_device_decode_session(client_device, json) == 0) {
    const VlJsonRef sessions(vl_session_list_encode(client_device->sessions.get()));
    fuzz::require(json_array_size(sessions.get()) == 1, "a decoded session is not listed");
  }
  vl_device_del_sessions(client_device);

  vl_error_decode(json);
  json_decref(vl_error_encode());
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz::quiet_logging();
  static vltest::TempHome home;
  client_device = vl_device_ctor(nullptr);
  fuzz::require(client_device != nullptr, "no device");
  vl_error_install(vl_error_ctor());
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  json_error_t error;
  const VlJsonRef json(json_loadb(reinterpret_cast<const char*>(data), size, 0, &error));
  if (!json) return 0;
  decode_all(json.get());
  // Members too, so that each decoder meets the parts of a larger record.
  const char* name = nullptr;
  json_t* member = nullptr;
  json_object_foreach(json.get(), name, member) decode_all(member);
  std::size_t index = 0;
  json_array_foreach(json.get(), index, member) decode_all(member);
  return 0;
}
