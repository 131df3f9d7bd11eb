#include "vl/vl_rtp_factory.h"

VlSendmgr* vl_rtp_send_init_default() { return nullptr; }
void vl_rtp_send_done_default(VlSendmgr*) {}
VlRecvmgr* vl_rtp_recv_init_default() { return nullptr; }
void vl_rtp_recv_done_default(VlRecvmgr*) {}

vl_rtp_send_init_fn vl_rtp_software_send_init = vl_rtp_send_init_default;
vl_rtp_send_done_fn vl_rtp_software_send_done = vl_rtp_send_done_default;
vl_rtp_recv_init_fn vl_rtp_software_recv_init = vl_rtp_recv_init_default;
vl_rtp_recv_done_fn vl_rtp_software_recv_done = vl_rtp_recv_done_default;
vl_rtp_send_init_fn vl_rtp_hardware_send_init = vl_rtp_send_init_default;
vl_rtp_send_done_fn vl_rtp_hardware_send_done = vl_rtp_send_done_default;
vl_rtp_recv_init_fn vl_rtp_hardware_recv_init = vl_rtp_recv_init_default;
vl_rtp_recv_done_fn vl_rtp_hardware_recv_done = vl_rtp_recv_done_default;
