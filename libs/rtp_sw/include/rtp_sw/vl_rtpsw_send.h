// The software RTP sender: one UDP socket, encoder and capture timer per
// stream; each tick encodes every due packet straight from the capture ring.
#pragma once

#include "vl/vl_sendmgr.h"

extern const VlTypeDescriptor vl_sendmgr_sw_ts;

// Registers the encoders and makes a send manager, or null.
VlSendmgr* vl_rtp_sw_send_init();
// Deletes the manager (null accepted) and unregisters the encoders.
void vl_rtp_sw_send_done(VlSendmgr* manager);

// A send manager without the registration steps, or null.
VlSendmgr* vl_sendmgr_sw_ctor();
