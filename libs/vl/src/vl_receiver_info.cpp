#include "vl/vl_receiver_info.h"

#include "vlsys/vl_log.h"
#include "vlutil/vl_json.h"
#include "vlutil/vl_json_ref.h"

#include <cstring>
#include <new>

namespace {

constexpr std::size_t encoded_members = 9;
// Daemons before the reporter's SSRC was encoded sent one member less.
constexpr std::size_t encoded_members_without_reporter = 8;
constexpr std::size_t cname_max_length = vl_cname_size - 1;

using Entry = std::unique_ptr<VlReceiverInfo>;

Entry new_entry() {
  Entry entry(new (std::nothrow) VlReceiverInfo{});
  if (!entry) VL_LOG(vl_log_general(), VL_LOG_FATAL, "Could not allocate memory for ReceiverInfo object!");
  return entry;
}

// Pushes `entry` in front of the list that `head` owns.
void push_front(VlReceiverInfoPtr& head, Entry entry) {
  entry->next = head.release();
  head.reset(entry.release());
}

// Where the link to the first entry of `reporter_ssrc` is kept, or null.
VlReceiverInfo** find_link(VlReceiverInfo** head, uint32_t reporter_ssrc) {
  for (VlReceiverInfo** link = head; *link; link = &(*link)->next)
    if ((*link)->reporter_ssrc == reporter_ssrc) return link;
  return nullptr;
}

VlReceiverInfo* find(VlReceiverInfo* list, uint32_t reporter_ssrc) {
  VlReceiverInfo** link = find_link(&list, reporter_ssrc);
  return link ? *link : nullptr;
}

// Unlinks the entry behind `link` and frees it.
void erase(VlReceiverInfo** link) {
  Entry doomed(*link);
  *link = doomed->next;
}

void set_cname(VlReceiverInfo& entry, const char* cname) {
  const std::size_t length = strnlen(cname, cname_max_length);
  std::memcpy(entry.cname, cname, length);
  entry.cname[length] = '\0';
}

void store_report(VlReceiverInfo& entry, const uint32_t block[vl_report_block_words]) {
  entry.ssrc = block[0];
  entry.lost = block[1];
  entry.last_seq = block[2];
  entry.jitter = block[3];
  entry.lsr = block[4];
  entry.dlsr = block[5];
  entry.updated = 1;
}

// CNAMEs arrive from the network: bytes that are not valid UTF-8 would make
// the text unrepresentable in JSON, so those become '?' instead of dropping
// the member.
json_t* cname_string(const VlReceiverInfo& entry) {
  const std::size_t length = strnlen(entry.cname, sizeof entry.cname);
  if (json_t* text = json_stringn(entry.cname, length)) return text;
  char ascii[sizeof entry.cname];
  for (std::size_t i = 0; i < length; ++i)
    ascii[i] = static_cast<unsigned char>(entry.cname[i]) >= 0x80 ? '?' : entry.cname[i];
  return json_stringn(ascii, length);
}

bool put(json_t* object, vl_json_key_index key, json_t* value) {
  return json_object_set_new(object, vl_json_keys[key].name, value) == 0;
}

json_t* encode_entry(const VlReceiverInfo& entry) {
  VlJsonRef object(json_object());
  if (!object) return nullptr;
  json_t* o = object.get();
  const bool complete = put(o, VL_KEY_RTCP_SEQNO, json_integer(entry.report_count)) &&
                        put(o, VL_KEY_RTCP_CNAME, cname_string(entry)) &&
                        put(o, VL_KEY_RTCP_SSRC, json_integer(entry.ssrc)) &&
                        put(o, VL_KEY_RTCP_LOST, json_integer(entry.lost)) &&
                        put(o, VL_KEY_RTCP_LAST_SEQ, json_integer(entry.last_seq)) &&
                        put(o, VL_KEY_RTCP_JITTER, json_integer(entry.jitter)) &&
                        put(o, VL_KEY_RTCP_LSR, json_integer(entry.lsr)) &&
                        put(o, VL_KEY_RTCP_DLSR, json_integer(entry.dlsr)) &&
                        put(o, VL_KEY_RTCP_REPORTER_SSRC, json_integer(entry.reporter_ssrc));
  return complete ? object.release() : nullptr;
}

uint32_t low_32_bits(const json_t* value) { return static_cast<uint32_t>(json_integer_value(value)); }

void decode_members(VlReceiverInfo& entry, const json_t* object) {
  const char* key;
  json_t* value;
  // jansson's iteration takes a mutable object but does not change it.
  json_object_foreach(const_cast<json_t*>(object), key, value) {
    switch (vl_json_key("VlReceiverInfo", key, value)) {
      case VL_KEY_RTCP_SEQNO: entry.report_count = low_32_bits(value); break;
      case VL_KEY_RTCP_CNAME: set_cname(entry, json_string_value(value)); break;
      case VL_KEY_RTCP_SSRC: entry.ssrc = low_32_bits(value); break;
      case VL_KEY_RTCP_LOST: entry.lost = low_32_bits(value); break;
      case VL_KEY_RTCP_LAST_SEQ: entry.last_seq = low_32_bits(value); break;
      case VL_KEY_RTCP_JITTER: entry.jitter = low_32_bits(value); break;
      case VL_KEY_RTCP_LSR: entry.lsr = low_32_bits(value); break;
      case VL_KEY_RTCP_DLSR: entry.dlsr = low_32_bits(value); break;
      case VL_KEY_RTCP_REPORTER_SSRC: entry.reporter_ssrc = low_32_bits(value); break;
      default: break;
    }
  }
}

}  // namespace

VlReceiverInfo* vl_receiver_info_copy(const VlReceiverInfo* list) {
  VlReceiverInfoPtr copy;
  for (const VlReceiverInfo* from = list; from; from = from->next) {
    Entry entry(new (std::nothrow) VlReceiverInfo(*from));
    if (!entry) return nullptr;
    push_front(copy, std::move(entry));
  }
  return copy.release();
}

void vl_receiver_info_dtor(VlReceiverInfo* list) {
  // Iterative, so that a long list cannot exhaust the stack.
  while (list) erase(&list);
}

json_t* vl_receiver_info_encode(const VlReceiverInfo* list) {
  VlJsonRef array(json_array());
  if (!array) return nullptr;
  for (const VlReceiverInfo* entry = list; entry; entry = entry->next) {
    if (json_array_append_new(array.get(), encode_entry(*entry)) != 0) return nullptr;
  }
  return array.release();
}

VlReceiverInfo* vl_receiver_info_decode(const json_t* json) {
  VlReceiverInfoPtr list;
  // From the last element to the first, so that pushing in front keeps the
  // array's order.
  for (std::size_t i = json_array_size(json); i-- > 0;) {
    const json_t* element = json_array_get(json, i);
    const std::size_t members = json_object_size(element);
    if (members != encoded_members && members != encoded_members_without_reporter) {
      VL_LOG(vl_log_general(), VL_LOG_ERROR, "Invalid size for VlReceiverInfo json object! Should be %u, but is %u!",
             static_cast<unsigned>(encoded_members), static_cast<unsigned>(members));
      continue;
    }
    Entry entry = new_entry();
    if (!entry) return nullptr;
    decode_members(*entry, element);
    push_front(list, std::move(entry));
  }
  return list.release();
}

VlReceiverInfo* vl_receiver_info_update(VlReceiverInfo* list, uint32_t reporter_ssrc,
                                        const uint32_t block[vl_report_block_words]) {
  if (!block) return list;
  if (VlReceiverInfo* entry = find(list, reporter_ssrc)) {
    store_report(*entry, block);
    return list;
  }
  Entry fresh = new_entry();
  if (!fresh) return list;
  fresh->reporter_ssrc = reporter_ssrc;
  store_report(*fresh, block);
  fresh->next = list;
  return fresh.release();
}

VlReceiverInfo* vl_receiver_info_remove_outdated(VlReceiverInfo* list) {
  VlReceiverInfo** link = &list;
  while (*link) {
    if ((*link)->updated) {
      (*link)->updated = 0;
      link = &(*link)->next;
    } else {
      erase(link);
    }
  }
  return list;
}

VlReceiverInfo* vl_receiver_info_remove_by_ssrc(VlReceiverInfo* list, uint32_t reporter_ssrc) {
  if (VlReceiverInfo** link = find_link(&list, reporter_ssrc)) erase(link);
  return list;
}

void vl_receiver_info_update_cname(VlReceiverInfo* list, uint32_t reporter_ssrc, const char* cname) {
  if (!cname) return;
  if (VlReceiverInfo* entry = find(list, reporter_ssrc)) set_cname(*entry, cname);
}
