// What the software sender and receiver share in setting up their streams.
#pragma once

#include "vl/vl_channel_map.h"
#include "vl/vl_media_ifc.h"
#include "vlsys/host_network.h"
#include "vlutil/vl_object.h"

#include <arpa/inet.h>
#include <jansson.h>

namespace rtp_stream {

struct ObjectDeleter {
  void operator()(VlObject* obj) const { vl_object_delete(obj); }
};

// A stream's map in device channel numbers, translated into ring positions
// of the audio interface; null when it cannot be made.
inline VlChannelMapPtr ring_map(const VlChannelMap* map, const VlMediaProperties& properties) {
  return VlChannelMapPtr(vl_channel_map_remap(map, properties.channel_table, properties.channels));
}

// A codec registry callback appending each encoding name to a JSON array.
inline int append_mime(void* array, const char* mime) {
  return json_array_append_new(static_cast<json_t*>(array), json_string(mime));
}

}  // namespace rtp_stream
