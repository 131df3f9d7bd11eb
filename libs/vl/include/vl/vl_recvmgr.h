// Receive managers: receive every receiving stream of one network interface
// and play it out. The software RTP engine implements them.
#pragma once

#include "vl/vl_channel_map.h"
#include "vl/vl_play_ifc.h"
#include "vl/vl_receiver_info.h"
#include "vl/vl_sendmgr.h"
#include "vlsys/host_network.h"
#include "vlutil/vl_object.h"

#include <jansson.h>

#include <cstdint>

extern const VlTypeDescriptor vl_recvmgr_ts;

class VlRecvmgr : public VlObject {
 public:
  const VlTypeDescriptor& type() const override { return vl_recvmgr_ts; }

  // Starts receiving the stream the SDP describes into `play`, `delay`
  // frames behind its media time. Null with errno on failure.
  virtual VlStreamHandle add_stream(const vl_host_iface* interface, const char* sdp, VlPlayIfc* play,
                                    int32_t delay);
  // When it returns, nothing of the stream is played any more.
  virtual void remove_stream(VlStreamHandle stream);
  // False (errno EAGAIN) while the stream's timing is not established.
  virtual bool get_receiver_info(VlStreamHandle stream, VlReceiverInfo* info);
  virtual uint32_t channels(VlStreamHandle stream);
  virtual int set_channel_map(VlStreamHandle stream, const VlChannelMap* map);
  virtual int get_decoders(json_t* array);
  virtual void resync_all();
};

VlStreamHandle vl_recvmgr_add_stream(VlRecvmgr* mgr, const vl_host_iface* interface, const char* sdp,
                                     VlPlayIfc* play, int32_t delay);
void vl_recvmgr_remove_stream(VlRecvmgr* mgr, VlStreamHandle stream);
bool vl_recvmgr_get_receiver_info(VlRecvmgr* mgr, VlStreamHandle stream, VlReceiverInfo* info);
uint32_t vl_recvmgr_channels(VlRecvmgr* mgr, VlStreamHandle stream);
int vl_recvmgr_set_channel_map(VlRecvmgr* mgr, VlStreamHandle stream, const VlChannelMap* map);
int vl_recvmgr_get_decoders(VlRecvmgr* mgr, json_t* array);
void vl_recvmgr_resync_all(VlRecvmgr* mgr);
