// The channel map a codec works with, replaceable by the control path while
// the packet thread runs process: a process call sees the old map or the
// new one, never a freed one.
#pragma once

#include "vl/vl_channel_map.h"

#include <atomic>

class VlCodecMap {
 public:
  // Null until the codec is configured; process does nothing then.
  explicit VlCodecMap(VlChannelMapPtr initial) : current_(initial.release()) {}
  ~VlCodecMap() { vl_channel_map_dtor(current_.load()); }
  VlCodecMap(const VlCodecMap&) = delete;
  VlCodecMap& operator=(const VlCodecMap&) = delete;

  // Holds the map current at its construction for as long as it lives.
  class Reader {
   public:
    explicit Reader(const VlCodecMap& holder) : holder_(holder) {
      holder_.readers_.fetch_add(1);
      map_ = holder_.current_.load();
    }
    ~Reader() { holder_.readers_.fetch_sub(1); }
    Reader(const Reader&) = delete;
    Reader& operator=(const Reader&) = delete;
    const VlChannelMap* map() const { return map_; }

   private:
    const VlCodecMap& holder_;
    const VlChannelMap* map_;
  };

  // Installs `map` (not null) and frees the previous one once no reader
  // holds it.
  void replace(VlChannelMapPtr map);

 private:
  std::atomic<VlChannelMap*> current_;
  mutable std::atomic<int> readers_{0};
};

// set_map of every codec: installs a copy of `map` in which ring positions
// beyond the frame (at or above `frame_stride`) are unconnected, so that no
// map can make process read or write outside a ring frame. -1 (the previous
// map stays) for a null or empty map or when the copy cannot be made.
int vl_codec_install_map(VlCodecMap& holder, const VlChannelMap* map, uint32_t frame_stride);
