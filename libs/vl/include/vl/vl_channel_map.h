// Channel maps: for each stream channel, the audio device channel it connects
// to (or none), with their JSON form, an array of integers.
#pragma once

#include <jansson.h>

#include <cstdint>
#include <memory>

// No stream and no codec takes more channels: an SDP asking for more is
// refused before a map is sized by it.
inline constexpr uint32_t vl_channel_map_max_count = 1024;

// Entry i belongs to stream channel i: 0 or more is a device channel, a
// negative value (-1 as created) connects the stream channel to nothing.
//
// A map is made only by the functions below and never changes after
// construction, so the count and the entries are always read together from
// one object: a holder replaces its map by publishing a new pointer while
// readers keep using the one they loaded.
class VlChannelMap {
 public:
  VlChannelMap(const VlChannelMap&) = delete;
  VlChannelMap& operator=(const VlChannelMap&) = delete;
  ~VlChannelMap() = default;

  uint64_t count() const noexcept { return count_; }
  uint64_t capacity() const noexcept { return capacity_; }
  // count() valid entries; plain storage for the packet loops.
  const int32_t* entries() const noexcept { return entries_.get(); }

 private:
  VlChannelMap(uint64_t count, std::unique_ptr<int32_t[]> entries) noexcept
      : count_(count), capacity_(count), entries_(std::move(entries)) {}
  // Only for filling a map that has not been handed out yet.
  int32_t* writable_entries() noexcept { return entries_.get(); }

  friend VlChannelMap* vl_channel_map_ctor(const int32_t* entries, uint64_t count);
  friend VlChannelMap* vl_channel_map_decode(const json_t* json);
  friend VlChannelMap* vl_channel_map_remap(const VlChannelMap* map, const int32_t* table, uint32_t table_count);

  uint64_t count_;
  uint64_t capacity_;
  std::unique_ptr<int32_t[]> entries_;
};

// A new map of `count` entries copied from `entries`, or all -1 when
// `entries` is null. Null on failure: count 0 (errno EINVAL) or no memory.
// The caller owns the map and frees it with vl_channel_map_dtor.
VlChannelMap* vl_channel_map_ctor(const int32_t* entries, uint64_t count);

// Frees the map; null is accepted.
void vl_channel_map_dtor(VlChannelMap* map);

// Same pointer (both null included), or both present with equal counts and
// equal entries.
bool vl_channel_map_is_equal(const VlChannelMap* a, const VlChannelMap* b);

// A new map from a non-empty JSON array of integers; elements that are not
// integers read as 0, integers are cut to their low 32 bits. Null with errno
// EINVAL for null, a non-array or an empty array.
VlChannelMap* vl_channel_map_decode(const json_t* json);

// A new JSON array of the entries; an empty array for a null map. Null only
// when the array cannot be built.
json_t* vl_channel_map_encode(const VlChannelMap* map);

// A new map of the same count in which every entry e with
// 0 <= e < table_count is replaced by table[e]; other entries are kept. A
// null table gives a plain copy. Null (errno EINVAL) for a null map.
VlChannelMap* vl_channel_map_remap(const VlChannelMap* map, const int32_t* table, uint32_t table_count);

struct VlChannelMapDeleter {
  void operator()(VlChannelMap* map) const noexcept { vl_channel_map_dtor(map); }
};
using VlChannelMapPtr = std::unique_ptr<VlChannelMap, VlChannelMapDeleter>;
