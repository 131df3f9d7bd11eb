// Encoders: frames of a capture ring into one RTP payload, and the registry
// through which a payload format is found by its encoding name.
#pragma once

#include "vl/vl_capture_ifc.h"
#include "vl/vl_channel_map.h"
#include "vlcodec/vl_codec_map.h"
#include "vlsys/vl_log.h"
#include "vlutil/vl_object.h"
#include "vlutil/vl_rational.h"
#include "vlutil/vl_sdp_stream.h"

#include <cstdint>

class VlEnc;

// A format's factory: a new encoder reading from `capture` for the stream
// the SDP describes, or null (errno EINVAL).
using vl_enc_make_fn = VlEnc* (*)(VlCaptureIfc* capture, const VlSdpStream& sdp);

struct VlEncTypeDescriptor : VlTypeDescriptor {
  const char* mime;  // the format's encoding name, such as "L24"
  vl_enc_make_fn make;
};

extern const VlEncTypeDescriptor vl_enc_ts;

inline constexpr int vl_codec_stream_name_size = vl_sdp_stream_name_size;
inline constexpr uint32_t vl_codec_max_channels = vl_channel_map_max_count;

class VlEnc : public VlObject {
 public:
  explicit VlEnc(VlCaptureIfc* capture);

  const VlTypeDescriptor& type() const override { return vl_enc_ts; }

  // Stream channels: the entries of the channel map.
  virtual uint32_t channels();
  virtual vl_rational timescale();
  // Installs a copy of `map`; 0, or -1 (the previous map stays) when the
  // copy cannot be made or the map is empty.
  virtual int set_map(const VlChannelMap* map);
  // A new copy of the map; the caller frees it.
  virtual VlChannelMap* get_map();
  // Payload bytes that `frames` frames need.
  virtual uint64_t get_buffer_size(uint64_t frames);
  // Encodes up to `frames` frames from capture timestamp `ts` into `buffer`
  // (capacity *size bytes). Returns the frames encoded and stores the payload
  // bytes in *size; 0 with *size untouched when the capture window is not
  // available.
  virtual uint64_t process(uint64_t frames, uint32_t ts, uint8_t* buffer, uint64_t* size);

  // Takes encoding, payload type and stream name from the SDP, checks the
  // rate against the capture interface and sizes the map; logs failures
  // under `ctor_name`. False (errno EINVAL) on failure.
  bool configure(const VlSdpStream& sdp, const char* ctor_name);

 protected:
  VlCaptureIfc* capture_;
  VlCodecMap map_;
  vl_rational timescale_ = {0, 0};
  uint32_t frame_stride_ = 0;
  char stream_name_[vl_codec_stream_name_size] = {};
};

uint32_t vl_enc_channels(VlEnc* enc);
vl_rational vl_enc_timescale(VlEnc* enc);
int vl_enc_set_map(VlEnc* enc, const VlChannelMap* map);
VlChannelMap* vl_enc_get_map(VlEnc* enc);
uint64_t vl_enc_get_buffer_size(VlEnc* enc, uint64_t frames);
uint64_t vl_enc_process(VlEnc* enc, uint64_t frames, uint32_t ts, uint8_t* buffer, uint64_t* size);

// Registry, most recently registered first.
int vl_encoders_init();
void vl_encoders_done();
int vl_register_encoders();
int vl_enc_register(const char* name, const VlEncTypeDescriptor* descriptor);
void vl_enc_unregister_all();
// The factory of the first format whose mime is a prefix of `encoding`
// ("L24/48000/8" finds L24), or null with "Invalid encoder: %s".
vl_enc_make_fn vl_enc_find(const char* encoding);
using vl_codec_mime_fn = int (*)(void* arg, const char* mime);
int vl_enc_foreach_mime(void* arg, vl_codec_mime_fn fn);

log4c_category_t* vl_encoder_category();
