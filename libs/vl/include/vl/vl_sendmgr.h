// Send managers: stream every sending stream of one network interface onto
// the network. The software RTP engine implements them.
#pragma once

#include "vl/vl_capture_ifc.h"
#include "vl/vl_channel_map.h"
#include "vl/vl_sender_info.h"
#include "vlsys/host_network.h"
#include "vlutil/vl_object.h"

#include <jansson.h>

#include <cstdint>

// What add_stream returns and every other operation takes back.
using VlStreamHandle = void*;

extern const VlTypeDescriptor vl_sendmgr_ts;

class VlSendmgr : public VlObject {
 public:
  const VlTypeDescriptor& type() const override { return vl_sendmgr_ts; }

  // Starts sending the stream the SDP describes from `capture` over the
  // interface. Null with errno on failure.
  virtual VlStreamHandle add_stream(const vl_host_iface* interface, const char* sdp, VlCaptureIfc* capture,
                                    uint32_t ssrc, uint16_t first_seqno, uint32_t frames_per_packet, uint8_t dscp);
  // When it returns, no packet of the stream is sent any more.
  virtual void remove_stream(VlStreamHandle stream);
  virtual bool get_sender_info(VlStreamHandle stream, VlSenderInfo* info);
  virtual uint32_t channels(VlStreamHandle stream);
  // `map` in device channel numbers; borrowed.
  virtual int set_channel_map(VlStreamHandle stream, const VlChannelMap* map);
  virtual int get_encoders(json_t* array);
  // Every live stream re-derives its RTP timestamp offset at its next tick.
  virtual void resync_all();
};

VlStreamHandle vl_sendmgr_add_stream(VlSendmgr* mgr, const vl_host_iface* interface, const char* sdp,
                                     VlCaptureIfc* capture, uint32_t ssrc, uint16_t first_seqno,
                                     uint32_t frames_per_packet, uint8_t dscp);
void vl_sendmgr_remove_stream(VlSendmgr* mgr, VlStreamHandle stream);
bool vl_sendmgr_get_sender_info(VlSendmgr* mgr, VlStreamHandle stream, VlSenderInfo* info);
uint32_t vl_sendmgr_channels(VlSendmgr* mgr, VlStreamHandle stream);
int vl_sendmgr_set_channel_map(VlSendmgr* mgr, VlStreamHandle stream, const VlChannelMap* map);
int vl_sendmgr_get_encoders(VlSendmgr* mgr, json_t* array);
void vl_sendmgr_resync_all(VlSendmgr* mgr);
