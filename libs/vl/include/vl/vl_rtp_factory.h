// The process-wide hooks through which a network interface obtains its RTP
// managers without naming the engine. Platform start-up points the software
// hooks at the software engine; the hardware hooks keep their defaults.
#pragma once

#include "vl/vl_recvmgr.h"
#include "vl/vl_sendmgr.h"

using vl_rtp_send_init_fn = VlSendmgr* (*)();
using vl_rtp_send_done_fn = void (*)(VlSendmgr* manager);
using vl_rtp_recv_init_fn = VlRecvmgr* (*)();
using vl_rtp_recv_done_fn = void (*)(VlRecvmgr* manager);

VlSendmgr* vl_rtp_send_init_default();
void vl_rtp_send_done_default(VlSendmgr* manager);
VlRecvmgr* vl_rtp_recv_init_default();
void vl_rtp_recv_done_default(VlRecvmgr* manager);

extern vl_rtp_send_init_fn vl_rtp_software_send_init;
extern vl_rtp_send_done_fn vl_rtp_software_send_done;
extern vl_rtp_recv_init_fn vl_rtp_software_recv_init;
extern vl_rtp_recv_done_fn vl_rtp_software_recv_done;
extern vl_rtp_send_init_fn vl_rtp_hardware_send_init;
extern vl_rtp_send_done_fn vl_rtp_hardware_send_done;
extern vl_rtp_recv_init_fn vl_rtp_hardware_recv_init;
extern vl_rtp_recv_done_fn vl_rtp_hardware_recv_done;
