// The software RTP receiver: one reactor thread per manager reads, checks
// and decodes the packets of all its streams straight into the play rings.
#pragma once

#include "vl/vl_recvmgr.h"

#include <cstddef>

extern const VlTypeDescriptor vl_recvmgr_sw_ts;

// One datagram is received into a buffer of this size.
inline constexpr std::size_t vl_rtp_receive_buffer_size = 9216;

// Registers the decoders and makes a receive manager, or null.
VlRecvmgr* vl_rtp_sw_recv_init();
// Deletes the manager (null accepted) and unregisters the decoders.
void vl_rtp_sw_recv_done(VlRecvmgr* manager);

// A receive manager with its reactor thread running, without the
// registration steps; null on failure.
VlRecvmgr* vl_recvmgr_sw_ctor();
