// What receivers report in RTCP report blocks: a singly linked list with one
// entry per reporting receiver, and its JSON form.
#pragma once

#include <jansson.h>

#include <cstdint>
#include <memory>

inline constexpr int vl_report_block_words = 6;
inline constexpr int vl_cname_size = 127;  // at most 126 characters and the NUL

struct VlReceiverInfo {
  // The six words of an RTCP report block, in packet order.
  uint32_t ssrc;      // source reported on
  uint32_t lost;      // fraction lost (top 8 bits), cumulative lost (low 24 bits)
  uint32_t last_seq;  // extended highest sequence number received
  uint32_t jitter;
  uint32_t lsr;
  uint32_t dlsr;

  uint32_t reporter_ssrc;  // the receiver that reported: the key of the list
  char cname[vl_cname_size];
  uint8_t updated;        // set by an update, cleared by the ageing sweep
  uint32_t report_count;  // how often the receiving side took the record for an RR
  VlReceiverInfo* next;
};

// A deep copy, listing the entries in reverse order; null for an empty list
// or without memory.
VlReceiverInfo* vl_receiver_info_copy(const VlReceiverInfo* list);
// Frees the whole list.
void vl_receiver_info_dtor(VlReceiverInfo* list);

// An array of one object per entry in list order, each {"rtcp_seqno",
// "rtcp_cname", "rtcp_ssrc", "rtcp_lost", "rtcp_last_seq", "rtcp_jitter",
// "rtcp_lsr", "rtcp_dlsr", "rtcp_reporter_ssrc"} in this order. Null only
// without memory.
json_t* vl_receiver_info_encode(const VlReceiverInfo* list);

// A new list in the array's order; elements that are not objects of exactly
// nine members (or eight, without "rtcp_reporter_ssrc") are skipped with an
// error. Null for an empty or missing
// array, or without memory.
VlReceiverInfo* vl_receiver_info_decode(const json_t* json);

// Stores the block of `reporter_ssrc` in its entry, or in a new entry at the
// head, and marks the entry updated. Returns the new head.
VlReceiverInfo* vl_receiver_info_update(VlReceiverInfo* list, uint32_t reporter_ssrc,
                                        const uint32_t block[vl_report_block_words]);

// Mark and sweep: entries updated since the previous sweep stay (unmarked) in
// their order, the others are freed. Returns the new head.
VlReceiverInfo* vl_receiver_info_remove_outdated(VlReceiverInfo* list);

// Frees the first entry of `reporter_ssrc`. Returns the new head.
VlReceiverInfo* vl_receiver_info_remove_by_ssrc(VlReceiverInfo* list, uint32_t reporter_ssrc);

// The first entry of `reporter_ssrc` takes at most 126 characters of `cname`.
void vl_receiver_info_update_cname(VlReceiverInfo* list, uint32_t reporter_ssrc, const char* cname);

struct VlReceiverInfoDeleter {
  void operator()(VlReceiverInfo* list) const noexcept { vl_receiver_info_dtor(list); }
};
// Owns a whole list.
using VlReceiverInfoPtr = std::unique_ptr<VlReceiverInfo, VlReceiverInfoDeleter>;
