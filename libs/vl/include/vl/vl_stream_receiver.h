// Receiver streams: a stream the receive manager of the session's network
// interface plays, with its reception statistics and what the remote sender
// reports. A session keeps its receivers in a doubly linked list.
// (Threads and locks: see vl_stream.h.)
#pragma once

#include "vl/vl_audio_device.h"
#include "vl/vl_net.h"
#include "vl/vl_recvmgr.h"
#include "vl/vl_stream.h"

#include <jansson.h>

#include <cstdint>
#include <new>

extern const VlTypeDescriptor vl_stream_receiver_ts;

class VlDevice;

class VlStreamReceiver final : public VlStream {
 public:
  ~VlStreamReceiver() override;

  const VlTypeDescriptor& type() const override { return vl_stream_receiver_ts; }
  // Appends one object per receiver from this one on to the JSON array.
  bool store(json_t* array) const override;

  VlReceiverInfo* receiver_info() override;
  VlSenderInfo* sender_info() override;
  int decode_info(const json_t* json) override;
  // These act on the first receiver of the list from this one that receives
  // the source `ssrc`.
  void update_cname(uint32_t ssrc, const char* cname) override;
  void update_sender_info(uint32_t ssrc, const uint32_t report[vl_sender_report_words]) override;
  void cleanup_info(uint32_t ssrc) override;

  // The reception statistics refreshed from the receive manager, with the
  // remote sender's last RTP timestamp as LSR; false when the manager has
  // none yet (or the stream is detached).
  bool refresh_statistics();
  const VlReceiverInfo& statistics() const { return reception_; }
  void copy_statistics(VlReceiverInfo* out) const;
  int32_t delay() const { return delay_; }
  json_t* encode() const;

  static VlStreamReceiver* make(const char* sdp, const char* audio_device_name);
  bool attach(const VlNetworkInterface* interface, VlAudioDevice* audio_device, int32_t delay);
  static VlStreamReceiver* decode(const json_t* json);

  VlStreamReceiver* previous = nullptr;
  VlStreamReceiver* next = nullptr;

 private:
  VlStreamReceiver() = default;
  static VlStream* allocate() { return new (std::nothrow) VlStreamReceiver; }
  void read_own_keys(const json_t* json) override;
  bool attached() const override { return manager_ && handle_; }
  int manager_set_map(const VlChannelMap* map) override;
  json_t* encode_receivers() const override;
  // This receiver or a later one whose reception is of `ssrc`, or null.
  VlStreamReceiver* receiving(uint32_t ssrc);

  VlRecvmgr* manager_ = nullptr;  // null while detached
  VlStreamHandle handle_ = nullptr;
  int32_t delay_ = 0;
  VlReceiverInfo reception_{};  // one record, under receiver_lock_
};

// A receiver of `sdp` into `audio_device` (which must be reserved) on the
// interface's receive manager; detached when the interface has none. Null
// on failure, with nothing left in the manager.
VlStreamReceiver* vl_stream_receiver_ctor(const VlNetworkInterface* interface, const char* sdp,
                                          VlAudioDevice* audio_device, int32_t delay);
// A receiver from its stored form on `interface`; its audio device is looked
// up in `device`. Null on failure.
VlStreamReceiver* vl_stream_receiver_load(VlDevice* device, const VlNetworkInterface* interface, const json_t* json);
// The base keys plus "stream_end2enddelay"; an empty object for null.
json_t* vl_stream_receiver_encode(const VlStreamReceiver* stream);
// A detached receiver from such an object; null (errno EINVAL) for an empty one.
VlStreamReceiver* vl_stream_receiver_decode(const json_t* json);
// The reception statistics, or null (noted once per run of failures). The
// record belongs to the stream.
const VlReceiverInfo* vl_stream_receiver_stat(VlStreamReceiver* stream);
// The same into `out`, taken under the record's lock, for other threads.
bool vl_stream_receiver_stat_copy(VlStreamReceiver* stream, VlReceiverInfo* out);
int32_t vl_stream_receiver_delay(const VlStreamReceiver* stream);

// The list of a session, held by its head.
VlStreamReceiver* vl_stream_receiver_push(VlStreamReceiver* head, VlStreamReceiver* receiver);
VlStreamReceiver* vl_stream_receiver_pop(VlStreamReceiver* head, VlStreamReceiver* receiver);
VlStreamReceiver* vl_stream_receiver_next(const VlStreamReceiver* receiver);
// The list of the decoded elements of a JSON array, in reverse array order;
// null (errno EINVAL) for anything but an array.
VlStreamReceiver* vl_stream_receiver_list_load(const json_t* array);
