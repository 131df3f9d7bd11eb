// The frame loops all linear PCM formats share, over a wire form.
#pragma once

#include "pcm_wire.h"
#include "vlcodec/vl_dec.h"
#include "vlcodec/vl_enc.h"

#include <algorithm>
#include <cstring>
#include <strings.h>
#include <new>
#include <cstdint>

namespace pcm {

// Ring frames to wire samples: stream channel i of each frame comes from
// ring position map[i] (silence when negative).
template <typename Wire>
uint8_t* encode_frames(const int32_t* ring, uint32_t stride, const int32_t* map, uint32_t channels,
                       int32_t frames, uint8_t* out) {
  static const int32_t silence = 0;
  for (int32_t f = 0; f < frames; ++f, ring += stride) {
    for (uint32_t i = 0; i < channels; ++i, out += Wire::bytes) {
      const int32_t position = map[i];
      const int32_t* sample = position >= 0 ? ring + position : &silence;
      Wire::put(out, static_cast<uint32_t>(*sample), position >= 0);
    }
  }
  return out;
}

// Wire samples to ring frames: sample i of each frame goes to ring position
// map[i]; a negative entry consumes the sample and writes nothing.
template <typename Wire>
const uint8_t* decode_frames(const uint8_t* in, int32_t* ring, uint32_t stride, const int32_t* map,
                             uint32_t channels, int32_t frames) {
  for (int32_t f = 0; f < frames; ++f, ring += stride) {
    for (uint32_t i = 0; i < channels; ++i, in += Wire::bytes) {
      const int32_t position = map[i];
      if (position >= 0) ring[position] = Wire::get(in);
    }
  }
  return in;
}

template <typename Wire, const VlEncTypeDescriptor& Descriptor>
class Encoder final : public VlEnc {
 public:
  using VlEnc::VlEnc;

  const VlTypeDescriptor& type() const override { return Descriptor; }

  uint64_t get_buffer_size(uint64_t frames) override { return uint64_t{channels()} * Wire::bytes * frames; }

  uint64_t process(uint64_t frames, uint32_t ts, uint8_t* buffer, uint64_t* size) override {
    const VlCodecMap::Reader reader(map_);
    const VlChannelMap* map = reader.map();
    if (!map) return 0;
    const auto channels = static_cast<uint32_t>(map->count());
    const uint64_t frame_bytes = uint64_t{channels} * Wire::bytes;
    const uint64_t wanted = std::min<uint64_t>({frames, *size / frame_bytes, INT32_MAX});
    uint8_t* out = buffer;
    uint64_t done = 0;
    for (int pass = 0; pass < 2 && done < wanted; ++pass) {
      const uint32_t position = ts + static_cast<uint32_t>(done);
      const auto left = static_cast<uint32_t>(wanted - done);
      const VlMediaWindow window = vl_capture_initialise_read_frames(stream_name_, capture_, position, left);
      if (!window.samples || window.frames < 1) return 0;
      const auto n = static_cast<int32_t>(std::min<uint64_t>(static_cast<uint64_t>(window.frames), wanted - done));
      out = encode_frames<Wire>(window.samples, frame_stride_, map->entries(), channels, n, out);
      if (vl_capture_complete_read(stream_name_, capture_, position, window.samples, n) != 0) return 0;
      done += static_cast<uint64_t>(n);
    }
    *size = done * frame_bytes;
    return done;
  }
};

template <typename Wire, const VlDecTypeDescriptor& Descriptor>
class Decoder final : public VlDec {
 public:
  using VlDec::VlDec;

  const VlTypeDescriptor& type() const override { return Descriptor; }

  int32_t process(uint32_t ts, const uint8_t* payload, int32_t length) override {
    const VlCodecMap::Reader reader(map_);
    const VlChannelMap* map = reader.map();
    if (!map || !payload || length <= 0) return 0;
    const auto channels = static_cast<uint32_t>(map->count());
    const auto frames = static_cast<int32_t>((static_cast<uint32_t>(length) / channels) / Wire::bytes);
    const uint32_t stride = play_->properties()->channels;
    const uint8_t* in = payload;
    int32_t written = 0;
    while (written < frames) {
      const uint32_t position = ts + static_cast<uint32_t>(written);
      const VlMediaWindow window = vl_play_initialise_write(stream_name_, play_, position);
      if (!window.samples || window.frames < 1) break;
      const int32_t n = std::min(window.frames, frames - written);
      in = decode_frames<Wire>(in, window.samples, stride, map->entries(), channels, n);
      vl_play_complete_write(stream_name_, play_, position, window.samples, n);
      written += n;
    }
    return written;
  }
};

// Factories for the formats' make slots.
template <typename Codec>
VlEnc* make_encoder(VlCaptureIfc* capture, const VlSdpStream& sdp, const char* ctor_name) {
  auto* codec = new (std::nothrow) Codec(capture);
  if (codec && !codec->configure(sdp, ctor_name)) {
    delete codec;
    return nullptr;
  }
  return codec;
}

template <typename Codec>
VlDec* make_decoder(VlPlayIfc* play, const VlSdpStream& sdp) {
  auto* codec = new (std::nothrow) Codec(play);
  if (codec && !codec->configure(sdp)) {
    delete codec;
    return nullptr;
  }
  return codec;
}

}  // namespace pcm

namespace pcm {

template <const VlDecTypeDescriptor& Descriptor>
vl_dec_make_fn match(const char* encoding) {
  const char* mime = Descriptor.mime;
  return encoding && strncasecmp(encoding, mime, std::strlen(mime)) == 0 ? Descriptor.make : nullptr;
}

}  // namespace pcm
