// Stream objects: the device model's view of one RTP stream (its SDP text,
// audio device, channel map and RTCP statistics), the base of the sender and
// receiver streams.
//
// Threads and ownership: the control path (client commands and the
// configuration load, one at a time under the device's control lock)
// creates, changes and destroys streams; the session's RTCP thread reads and
// updates their statistics records through the operations below, and only
// while the stream is attached to its session. sender_lock guards the
// sender-info record, receiver_lock the receiver-info data; no operation
// holds both, and both come before any manager lock. The SDP, the channel
// map and the manager entry change only on the control path. A stream owns
// its SDP copy, map and records, and its manager entry, which its destructor
// removes.
#pragma once

#include "vl/vl_channel_map.h"
#include "vl/vl_receiver_info.h"
#include "vl/vl_sender_info.h"
#include "vlsys/vl_mutex.h"
#include "vlutil/vl_object.h"

#include <jansson.h>

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <utility>

extern const VlTypeDescriptor vl_stream_ts;

inline constexpr std::size_t vl_stream_device_name_size = 128;

class VlStream : public VlObject {
 public:
  ~VlStream() override = default;

  const VlTypeDescriptor& type() const override { return vl_stream_ts; }
  // "stream_sdp", "audio_device_name" and "stream_channelmap".
  bool store(json_t* json) const override;

  const char* sdp() const { return sdp_.c_str(); }
  const char* audio_device_name() const { return audio_device_name_; }
  const VlChannelMap* channel_map() const { return map_.get(); }

  // Installs a copy of `map` (as many entries as the current one) in the
  // stream and its manager entry; 0, or -1 with the old map kept.
  int set_map(const VlChannelMap* map);

  // The operations every stream type fills in its own way; the base has none
  // of them (a neutral result).
  // A copy the caller owns, or null when there is nothing to report.
  virtual VlReceiverInfo* receiver_info();
  virtual VlSenderInfo* sender_info();
  // {"rtcp_sender_info", "rtcp_receiver_info"}, each encoded under its lock.
  json_t* encode_info();
  virtual int decode_info(const json_t* json);
  virtual void update_cname(uint32_t ssrc, const char* cname);
  virtual void update_sender_info(uint32_t ssrc, const uint32_t report[vl_sender_report_words]);
  virtual void update_receiver_info(uint32_t ssrc, const uint32_t block[vl_report_block_words]);
  virtual void remove_outdated_receiver_info();
  virtual void cleanup_info(uint32_t ssrc);

  // Statistics failures are logged once per run of failures: true for the
  // first of a run.
  bool first_statistics_failure() { return !statistics_warned_.exchange(true); }
  void statistics_ok() { statistics_warned_ = false; }

 protected:
  VlStream() = default;
  virtual bool attached() const { return false; }
  virtual int manager_set_map(const VlChannelMap*) { return -1; }
  // Takes the map; copies the SDP and up to 127 characters of the name.
  // False (the stream unusable) when a copy or record cannot be made.
  bool init(const char* sdp, const char* audio_device_name, VlChannelMapPtr map);
  // Reads the base keys of a stored stream and initialises from them.
  bool load(const json_t* json);
  // The keys a stream type stores beside the base ones.
  virtual void read_own_keys(const json_t*) {}

  // The construction steps the stream types share. `allocate` makes an
  // empty stream of the type; the texts are the type's own log messages.
  // Null on failure, logged.
  using Allocate = VlStream* (*)();
  static VlStream* make(Allocate allocate, const char* sdp, const char* audio_device_name, const char* no_channels,
                        const char* out_of_memory);
  // Null with errno EINVAL for an empty object.
  static VlStream* decode(Allocate allocate, const json_t* json, const char* out_of_memory);
  // The receiver-info data as a JSON array; called under receiver_lock_.
  virtual json_t* encode_receivers() const;

  std::string sdp_;
  char audio_device_name_[vl_stream_device_name_size] = {};
  VlChannelMapPtr map_;
  mutable VlOwnedMutex sender_lock_;
  VlSenderInfo sender_info_{};
  mutable VlOwnedMutex receiver_lock_;
  std::atomic<bool> statistics_warned_{false};  // the control path and the RTCP thread both refresh
};

// The stream channel count from an SDP's encoding ("L24/48000/8" gives 8):
// 0 when there is none, it is not a decimal number, or it exceeds
// vl_channel_map_max_count.
uint32_t vl_stream_channel_count(const char* sdp);

// A stream's base state from its stored form; 0 or 1.
int vl_stream_store(const VlStream* stream, json_t* json);

const char* vl_stream_sdp(const VlStream* stream);
const char* vl_stream_audio_device_name(const VlStream* stream);
const VlChannelMap* vl_stream_channel_map(const VlStream* stream);
// The TTL of the SDP's connection address.
int vl_stream_ttl(const VlStream* stream);

// Dispatchers; each accepts a null stream.
int vl_stream_set_channel_map(VlStream* stream, const VlChannelMap* map, const void* audio_device);
VlReceiverInfo* vl_stream_receiver_info(VlStream* stream, VlReceiverInfo** out);
VlSenderInfo* vl_stream_sender_info(VlStream* stream, VlSenderInfo** out);
// An empty object for a null stream.
json_t* vl_stream_encode_info(VlStream* stream);
int vl_stream_decode_info(VlStream* stream, const json_t* json);
void vl_stream_update_cname(VlStream* stream, uint32_t ssrc, const char* cname);
void vl_stream_update_sender_info(VlStream* stream, uint32_t ssrc, const uint32_t report[vl_sender_report_words]);
void vl_stream_update_receiver_info(VlStream* stream, uint32_t ssrc, const uint32_t block[vl_report_block_words]);
void vl_stream_remove_outdated_receiver_info(VlStream* stream);
void vl_stream_cleanup_info(VlStream* stream, uint32_t ssrc);

// What a stored stream needs of the device: its audio device (looked up by
// "audio_device_name") and its "stream_sdp". False when either is missing
// or `json` is an empty object.
class VlDevice;
struct VlAudioDevice;
bool vl_stream_stored_parts(VlDevice* device, const json_t* json, VlAudioDevice** audio_device, const char** sdp);
// Applies the stored "stream_channelmap"; -1 when it is missing, does not
// decode or does not fit.
int vl_stream_apply_stored_map(VlStream* stream, const json_t* json);

struct VlStreamDeleter {
  void operator()(VlStream* stream) const { vl_object_delete(stream); }
};
