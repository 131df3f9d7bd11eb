#include "vl/vl_channel_map.h"

#include "vlsys/vl_log.h"
#include "vlutil/vl_json_ref.h"

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <limits>
#include <new>

namespace {

constexpr const char* no_memory_message = "Could not allocate memory for channel map!";

void log_no_memory() { VL_LOG(vl_log_general(), VL_LOG_FATAL, "%s", no_memory_message); }

// Entries stay 32-bit whatever width the JSON integer has.
int32_t low_32_bits(json_int_t value) { return static_cast<int32_t>(static_cast<uint64_t>(value)); }

}  // namespace

VlChannelMap* vl_channel_map_ctor(const int32_t* entries, uint64_t count) {
  if (count == 0) {
    VL_LOG(vl_log_general(), VL_LOG_ERROR, "Can't create channel map of len 0!");
    errno = EINVAL;
    return nullptr;
  }
  // A count whose byte size does not fit in memory at all cannot be allocated.
  std::unique_ptr<int32_t[]> storage;
  if (count <= std::numeric_limits<std::size_t>::max() / sizeof(int32_t))
    storage.reset(new (std::nothrow) int32_t[count]);
  if (!storage) {
    log_no_memory();
    errno = ENOMEM;
    return nullptr;
  }
  if (entries)
    std::copy_n(entries, count, storage.get());
  else
    std::fill_n(storage.get(), count, -1);
  auto* map = new (std::nothrow) VlChannelMap(count, std::move(storage));
  if (!map) {
    log_no_memory();
    errno = ENOMEM;
  }
  return map;
}

void vl_channel_map_dtor(VlChannelMap* map) { delete map; }

bool vl_channel_map_is_equal(const VlChannelMap* a, const VlChannelMap* b) {
  if (a == b) return true;
  if (!a || !b) return false;
  return a->count() == b->count() && std::equal(a->entries(), a->entries() + a->count(), b->entries());
}

VlChannelMap* vl_channel_map_decode(const json_t* json) {
  const std::size_t count = json_is_array(json) ? json_array_size(json) : 0;
  VlChannelMapPtr map(vl_channel_map_ctor(nullptr, count));
  if (!map) {
    if (errno != EINVAL) log_no_memory();
    return nullptr;
  }
  int32_t* entries = map->writable_entries();
  for (std::size_t i = 0; i < count; ++i) entries[i] = low_32_bits(json_integer_value(json_array_get(json, i)));
  return map.release();
}

json_t* vl_channel_map_encode(const VlChannelMap* map) {
  VlJsonRef array(json_array());
  if (!array) return nullptr;
  const uint64_t count = map ? map->count() : 0;
  for (uint64_t i = 0; i < count; ++i) {
    if (json_array_append_new(array.get(), json_integer(map->entries()[i])) != 0) return nullptr;
  }
  return array.release();
}

VlChannelMap* vl_channel_map_remap(const VlChannelMap* map, const int32_t* table, uint32_t table_count) {
  if (!map) {
    errno = EINVAL;
    return nullptr;
  }
  VlChannelMapPtr result(vl_channel_map_ctor(map->entries(), map->count()));
  if (!result || !table) return result.release();
  int32_t* entries = result->writable_entries();
  for (uint64_t i = 0; i < result->count(); ++i) {
    const int32_t entry = entries[i];
    if (entry >= 0 && static_cast<uint32_t>(entry) < table_count) entries[i] = table[entry];
  }
  return result.release();
}
