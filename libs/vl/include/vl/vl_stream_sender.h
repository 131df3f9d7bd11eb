// Sender streams: a stream the send manager of the session's network
// interface sends, with what remote receivers report about it.
// (Threads and locks: see vl_stream.h.)
#pragma once

#include "vl/vl_audio_device.h"
#include "vl/vl_net.h"
#include "vl/vl_sap.h"
#include "vl/vl_sendmgr.h"
#include "vl/vl_stream.h"

#include <jansson.h>

#include <atomic>
#include <cstdint>
#include <new>

extern const VlTypeDescriptor vl_stream_sender_ts;

class VlDevice;

class VlStreamSender final : public VlStream {
 public:
  ~VlStreamSender() override;

  const VlTypeDescriptor& type() const override { return vl_stream_sender_ts; }
  // A sender's stored form is its encoding; storing adds nothing.
  bool store(json_t*) const override { return true; }

  VlReceiverInfo* receiver_info() override;
  VlSenderInfo* sender_info() override;
  int decode_info(const json_t* json) override;
  void update_cname(uint32_t ssrc, const char* cname) override;
  void update_receiver_info(uint32_t ssrc, const uint32_t block[vl_report_block_words]) override;
  void remove_outdated_receiver_info() override;
  void cleanup_info(uint32_t ssrc) override;

  // The sender-info record refreshed from the send manager; false when the
  // manager has none (or the stream is detached).
  bool refresh_statistics();
  const VlSenderInfo& statistics() const { return sender_info_; }
  void copy_statistics(VlSenderInfo* out) const;
  uint32_t packet_duration() const { return static_cast<uint32_t>(packet_duration_); }
  uint8_t dscp() const { return static_cast<uint8_t>(dscp_); }
  void close() { closed_ = true; }
  bool is_closed() const { return closed_.load(); }
  json_t* encode() const;
  // Whether the stream is announced with SAP; kept in its stored form.
  bool sap_enabled() const { return sap_enabled_; }
  void set_sap_enabled(bool enabled) { sap_enabled_ = enabled; }
  VlSapAnnouncement& sap_announcement() { return sap_announcement_; }

  // Construction steps of the free functions below.
  static VlStreamSender* make(const char* sdp, const char* audio_device_name);
  bool attach(const VlNetworkInterface* interface, VlAudioDevice* audio_device, uint32_t ssrc, uint16_t seqno,
              uint32_t packet_duration, uint8_t dscp);
  static VlStreamSender* decode(const json_t* json);

 private:
  VlStreamSender() = default;
  static VlStream* allocate() { return new (std::nothrow) VlStreamSender; }
  void read_own_keys(const json_t* json) override;
  bool attached() const override { return manager_ && handle_; }
  int manager_set_map(const VlChannelMap* map) override;
  json_t* encode_receivers() const override { return vl_receiver_info_encode(receivers_.get()); }

  VlSendmgr* manager_ = nullptr;  // null while detached
  VlStreamHandle handle_ = nullptr;
  uint32_t dscp_ = 0;
  int32_t packet_duration_ = 0;
  std::atomic<bool> closed_{false};  // read by the RTCP thread
  VlReceiverInfoPtr receivers_;  // one entry per reporting remote receiver
  bool sap_enabled_ = true;
  VlSapAnnouncement sap_announcement_;  // withdrawn before the manager entry goes
};

// A sender of `sdp` from `audio_device` (which must be reserved) on the
// interface's send manager; detached (no manager entry) when the interface
// has no send manager. Null on failure, with nothing left in the manager.
VlStreamSender* vl_stream_sender_ctor(const VlNetworkInterface* interface, const char* sdp,
                                      VlAudioDevice* audio_device, uint32_t ssrc, uint16_t seqno,
                                      uint32_t packet_duration, uint8_t dscp);

// A sender from its stored form on `interface` with the session's SSRC;
// its audio device is looked up in `device`. Null on failure.
VlStreamSender* vl_stream_sender_load(VlDevice* device, const VlNetworkInterface* interface, uint32_t ssrc,
                                      const json_t* json);

// The base keys plus "stream_dscp", "stream_packetduration" and
// "stream_sap" (1: announced); an empty object for null.
json_t* vl_stream_sender_encode(const VlStreamSender* stream);
// A detached sender from such an object; null (errno EINVAL) for an empty one.
VlStreamSender* vl_stream_sender_decode(const json_t* json);

// The sender-info record refreshed from the send manager, or null (warned
// once per run of failures). The record belongs to the stream.
const VlSenderInfo* vl_stream_sender_stat(VlStreamSender* stream);
// The same into `out`, taken under the record's lock, for other threads.
bool vl_stream_sender_stat_copy(VlStreamSender* stream, VlSenderInfo* out);

uint32_t vl_stream_sender_packet_duration(const VlStreamSender* stream);
uint8_t vl_stream_sender_dscp(const VlStreamSender* stream);
// Marks the sender dropped by its session: its next RTCP report says goodbye.
void vl_stream_sender_close(VlStreamSender* stream);
bool vl_stream_sender_is_closed(const VlStreamSender* stream);
