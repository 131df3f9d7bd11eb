// The registry shape encoders and decoders share: format descriptors found
// by encoding name, most recently registered first.
#pragma once

#include "vlsys/vl_log.h"

#include <cstring>
#include <strings.h>
#include <new>
#include <string>
#include <vector>

template <typename Descriptor>
class CodecRegistry {
 public:
  using Make = decltype(Descriptor::make);

  bool add(const char* name, const Descriptor* descriptor) {
    try {
      entries_.push_back({name ? name : "", descriptor});
      return true;
    } catch (const std::bad_alloc&) {
      return false;
    }
  }

  void clear() { entries_.clear(); }

  // The factory of the newest format whose mime is a prefix of `encoding`.
  Make find(const char* encoding) const {
    if (!encoding) return nullptr;
    for (auto it = entries_.rbegin(); it != entries_.rend(); ++it) {
      const char* mime = it->descriptor->mime;
      if (strncasecmp(mime, encoding, std::strlen(mime)) == 0) return it->descriptor->make;
    }
    return nullptr;
  }

  template <typename Fn>
  int foreach_mime(void* arg, Fn fn) const {
    int result = 0;
    for (auto it = entries_.rbegin(); it != entries_.rend(); ++it) result = fn(arg, it->descriptor->mime);
    return result;
  }

 private:
  struct Entry {
    std::string name;
    const Descriptor* descriptor;
  };
  std::vector<Entry> entries_;
};
