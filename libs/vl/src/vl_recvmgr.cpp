#include "vl/vl_recvmgr.h"

const VlTypeDescriptor vl_recvmgr_ts = {&vl_object_ts, "VlRecvmgr", nullptr};

VlStreamHandle VlRecvmgr::add_stream(const vl_host_iface*, const char*, VlPlayIfc*, int32_t) {
  vl_object_abort("vl_recvmgr_add_stream");
}
void VlRecvmgr::remove_stream(VlStreamHandle) { vl_object_abort("vl_recvmgr_remove_stream"); }
bool VlRecvmgr::get_receiver_info(VlStreamHandle, VlReceiverInfo*) {
  vl_object_abort("vl_recvmgr_get_receiver_info");
}
uint32_t VlRecvmgr::channels(VlStreamHandle) { vl_object_abort("vl_recvmgr_channels"); }
int VlRecvmgr::set_channel_map(VlStreamHandle, const VlChannelMap*) {
  vl_object_abort("vl_recvmgr_set_channel_map");
}
int VlRecvmgr::get_decoders(json_t*) { vl_object_abort("vl_recvmgr_get_decoders"); }
void VlRecvmgr::resync_all() { vl_object_abort("vl_recvmgr_resync_all"); }

VlStreamHandle vl_recvmgr_add_stream(VlRecvmgr* mgr, const vl_host_iface* interface, const char* sdp,
                                     VlPlayIfc* play, int32_t delay) {
  return mgr->add_stream(interface, sdp, play, delay);
}
void vl_recvmgr_remove_stream(VlRecvmgr* mgr, VlStreamHandle stream) { mgr->remove_stream(stream); }
bool vl_recvmgr_get_receiver_info(VlRecvmgr* mgr, VlStreamHandle stream, VlReceiverInfo* info) {
  return mgr->get_receiver_info(stream, info);
}
uint32_t vl_recvmgr_channels(VlRecvmgr* mgr, VlStreamHandle stream) { return mgr->channels(stream); }
int vl_recvmgr_set_channel_map(VlRecvmgr* mgr, VlStreamHandle stream, const VlChannelMap* map) {
  return mgr->set_channel_map(stream, map);
}
int vl_recvmgr_get_decoders(VlRecvmgr* mgr, json_t* array) { return mgr->get_decoders(array); }
void vl_recvmgr_resync_all(VlRecvmgr* mgr) { mgr->resync_all(); }
