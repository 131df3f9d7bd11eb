// Decoders: one RTP payload into frames of a play ring, and their registry.
#pragma once

#include "vl/vl_channel_map.h"
#include "vl/vl_play_ifc.h"
#include "vlcodec/vl_codec_map.h"
#include "vlcodec/vl_enc.h"
#include "vlutil/vl_object.h"
#include "vlutil/vl_rational.h"

#include <cstdint>

class VlDec;

// A format's factory: a new decoder writing to `play` for the stream the
// SDP describes, or null (errno EINVAL).
using vl_dec_make_fn = VlDec* (*)(VlPlayIfc* play, const VlSdpStream& sdp);

struct VlDecTypeDescriptor : VlTypeDescriptor {
  const char* mime;
  vl_dec_make_fn make;
};

extern const VlDecTypeDescriptor vl_dec_ts;

class VlDec : public VlObject {
 public:
  explicit VlDec(VlPlayIfc* play);

  const VlTypeDescriptor& type() const override { return vl_dec_ts; }

  virtual uint32_t channels();
  virtual vl_rational timescale();
  virtual int set_map(const VlChannelMap* map);
  virtual VlChannelMap* get_map();
  // Writes the payload's frames into the play ring from timestamp `ts`;
  // returns the frames written.
  virtual int32_t process(uint32_t ts, const uint8_t* payload, int32_t length);

  // Takes encoding, payload type and stream name from the SDP, checks the
  // rate against the play interface and sizes the map. False (errno EINVAL)
  // on failure.
  bool configure(const VlSdpStream& sdp);

 protected:
  VlPlayIfc* play_;
  VlCodecMap map_;
  vl_rational timescale_ = {0, 0};
  char stream_name_[vl_codec_stream_name_size] = {};
};

uint32_t vl_dec_channels(VlDec* dec);
vl_rational vl_dec_timescale(VlDec* dec);
int vl_dec_set_map(VlDec* dec, const VlChannelMap* map);
VlChannelMap* vl_dec_get_map(VlDec* dec);
int32_t vl_dec_process(VlDec* dec, uint32_t ts, const uint8_t* payload, int32_t length);

int vl_decoders_init();
void vl_decoders_done();
int vl_register_decoders();
int vl_dec_register(const char* name, const VlDecTypeDescriptor* descriptor);
void vl_dec_unregister_all();
vl_dec_make_fn vl_dec_find(const char* encoding);
int vl_dec_foreach_mime(void* arg, vl_codec_mime_fn fn);

log4c_category_t* vl_decoder_category();
