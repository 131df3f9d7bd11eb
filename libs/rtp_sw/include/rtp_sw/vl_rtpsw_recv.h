// The software RTP receiver: one reactor thread per manager reads, checks
// and decodes the packets of all its streams straight into the play rings.
#pragma once

#include "vl/vl_recvmgr.h"

#include <cstddef>
#include <cstdint>

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

// Hands one datagram of `length` bytes to a stream's packet handling as the
// reactor does with what the stream's socket receives: checks, statistics,
// timing and decoding into the play ring. For feeding a stream without the
// network; nothing may reach the stream's socket meanwhile, since the
// reactor would handle that at the same time.
void vl_rtpsw_recv_datagram(VlStreamHandle stream, const uint8_t* datagram, std::size_t length);
