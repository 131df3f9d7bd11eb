#include "vlcodec/vl_codec_map.h"

#include <sched.h>

#include <cerrno>
#include <new>
#include <vector>

void VlCodecMap::replace(VlChannelMapPtr map) {
  VlChannelMap* previous = current_.exchange(map.release());
  // A reader that loaded `previous` registered itself before that load, so
  // once the count reads zero no reader can still hold it. Process calls
  // last microseconds; the control path waits that long at most.
  while (readers_.load() != 0) sched_yield();
  vl_channel_map_dtor(previous);
}

int vl_codec_install_map(VlCodecMap& holder, const VlChannelMap* map, uint32_t frame_stride) {
  if (!map || map->count() == 0) {
    errno = EINVAL;
    return -1;
  }
  std::vector<int32_t> entries;
  try {
    entries.assign(map->entries(), map->entries() + map->count());
  } catch (const std::bad_alloc&) {
    errno = ENOMEM;
    return -1;
  }
  for (int32_t& position : entries)
    if (position >= 0 && static_cast<uint32_t>(position) >= frame_stride) position = -1;
  VlChannelMapPtr copy(vl_channel_map_ctor(entries.data(), entries.size()));
  if (!copy) return -1;
  holder.replace(std::move(copy));
  return 0;
}
