#include "vl/vl_sendmgr.h"

const VlTypeDescriptor vl_sendmgr_ts = {&vl_object_ts, "VlSendmgr", nullptr};

VlStreamHandle VlSendmgr::add_stream(const vl_host_iface*, const char*, VlCaptureIfc*, uint32_t, uint16_t, uint32_t,
                                     uint8_t) {
  vl_object_abort("vl_sendmgr_add_stream");
}
void VlSendmgr::remove_stream(VlStreamHandle) { vl_object_abort("vl_sendmgr_remove_stream"); }
bool VlSendmgr::get_sender_info(VlStreamHandle, VlSenderInfo*) { vl_object_abort("vl_sendmgr_get_sender_info"); }
uint32_t VlSendmgr::channels(VlStreamHandle) { vl_object_abort("vl_sendmgr_channels"); }
int VlSendmgr::set_channel_map(VlStreamHandle, const VlChannelMap*) {
  vl_object_abort("vl_sendmgr_set_channel_map");
}
int VlSendmgr::get_encoders(json_t*) { vl_object_abort("vl_sendmgr_get_encoders"); }
void VlSendmgr::resync_all() { vl_object_abort("vl_sendmgr_resync_all"); }

VlStreamHandle vl_sendmgr_add_stream(VlSendmgr* mgr, const vl_host_iface* interface, const char* sdp,
                                     VlCaptureIfc* capture, uint32_t ssrc, uint16_t first_seqno,
                                     uint32_t frames_per_packet, uint8_t dscp) {
  return mgr->add_stream(interface, sdp, capture, ssrc, first_seqno, frames_per_packet, dscp);
}
void vl_sendmgr_remove_stream(VlSendmgr* mgr, VlStreamHandle stream) { mgr->remove_stream(stream); }
bool vl_sendmgr_get_sender_info(VlSendmgr* mgr, VlStreamHandle stream, VlSenderInfo* info) {
  return mgr->get_sender_info(stream, info);
}
uint32_t vl_sendmgr_channels(VlSendmgr* mgr, VlStreamHandle stream) { return mgr->channels(stream); }
int vl_sendmgr_set_channel_map(VlSendmgr* mgr, VlStreamHandle stream, const VlChannelMap* map) {
  return mgr->set_channel_map(stream, map);
}
int vl_sendmgr_get_encoders(VlSendmgr* mgr, json_t* array) { return mgr->get_encoders(array); }
void vl_sendmgr_resync_all(VlSendmgr* mgr) { mgr->resync_all(); }
