// SDP text as a control client hands it in: every reader accessor, the
// stream reading that the engine does once per stream, the encoding parser,
// and the encoder and decoder that the text would make on a ring driver.
#include "fuzz_support.h"

#include "vl/vl_mediadrv.h"
#include "vl/vl_stream.h"
#include "vlcodec/codec.h"
#include "vlcodec/vl_dec.h"
#include "vlcodec/vl_enc.h"
#include "vlutil/vl_object.h"
#include "vlutil/vl_sdp.h"
#include "vlutil/vl_sdp_stream.h"
#include "vltest/ring_driver.h"

#include <cstring>

namespace {

vltest::RingDriver* driver = nullptr;

// A field of exactly `size` bytes on the heap: a write past it is caught.
struct Field {
  explicit Field(std::size_t n) : size(n), bytes(new char[n]) { std::memset(bytes.get(), 0x5A, n); }
  // Text results are terminated inside their field.
  void require_terminated(const char* what) const { fuzz::require(strnlen(bytes.get(), size) < size, what); }
  std::size_t size;
  std::unique_ptr<char[]> bytes;
};

void read_lines(const char* sdp) {
  static const char types[] = {'v', 'o', 's', 'c', 'm', 'a', 't'};
  for (const char type : types)
    for (int media = 0; media <= 2; ++media)
      for (int occurrence = 0; occurrence <= 2; ++occurrence) vl_sdp_find_line(sdp, type, media, occurrence);
  static const char* const names[] = {"rtpmap",       "sync-time", "mediaclk", "framecount", "ptime",
                                      "clock-domain", "ts-refclk", "source-filter", "recvonly"};
  for (const char* name : names)
    for (int media = 0; media <= 1; ++media) vl_sdp_lookup_attr(sdp, media, name);
}

void read_accessors(const char* sdp) {
  vl_sdp_version(sdp);
  Field addr(vl_sdp_addr_size);
  if (vl_sdp_originator(sdp, addr.bytes.get()) == 0) addr.require_terminated("originator address unterminated");
  if (vl_sdp_dst_addr(sdp, addr.bytes.get()) >= 0) addr.require_terminated("destination address unterminated");
  if (vl_sdp_src_addr(sdp, addr.bytes.get()) == 0) addr.require_terminated("source address unterminated");
  for (const std::size_t size : {std::size_t{1}, std::size_t{12}, vl_sdp_stream_name_size - 1}) {
    Field name(size);
    vl_sdp_stream_name(sdp, name.bytes.get(), size);
  }
  for (const std::size_t size : {std::size_t{4}, vl_sdp_encoding_max}) {
    Field encoding(size);
    if (vl_sdp_encoding(sdp, encoding.bytes.get(), size) == 0) {
      encoding.require_terminated("encoding unterminated");
      vl_rational timescale{};
      uint32_t channels = 0;
      vl_codec_mime_decode(static_cast<uint8_t>(vl_sdp_rtp_payload(sdp)), encoding.bytes.get(), &timescale, &channels);
    }
  }
  vl_sdp_dst_port(sdp);
  vl_sdp_rtp_payload(sdp);
  for (const std::size_t size : {std::size_t{6}, vl_sdp_clock_domain_max}) {
    Field domain(size);
    if (vl_sdp_clock_domain(sdp, domain.bytes.get(), size) == 0) domain.require_terminated("clock domain unterminated");
  }
  uint32_t sync = 0;
  vl_sdp_sync_time(sdp, &sync);
  vl_sdp_frame_count(sdp);
}

void read_stream(const char* sdp) {
  VlSdpStream stream;
  std::memset(&stream, 0x5A, sizeof stream);
  vl_sdp_stream_read(sdp, &stream);
  fuzz::require(strnlen(stream.name, sizeof stream.name) < sizeof stream.name, "stream name unterminated");
  fuzz::require(strnlen(stream.dst_addr, sizeof stream.dst_addr) < sizeof stream.dst_addr, "address unterminated");
  fuzz::require(strnlen(stream.encoding, sizeof stream.encoding) < sizeof stream.encoding, "encoding unterminated");
  fuzz::require(strnlen(stream.clock_domain, sizeof stream.clock_domain) < sizeof stream.clock_domain,
                "clock domain unterminated");
  vl_stream_channel_count(sdp);

  // What a sender and a receiver of this text would be made with.
  if (vl_enc_make_fn make = vl_enc_find(stream.encoding))
    vl_object_delete(make(vl_mediadrv_audio_capture_ifc(driver), stream));
  if (vl_dec_make_fn make = vl_dec_find(stream.encoding))
    vl_object_delete(make(vl_mediadrv_audio_play_ifc(driver), stream));
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz::quiet_logging();
  vl_encoders_init();
  vl_decoders_init();
  vltest::RingDriver::Config config;
  config.capture_channels = 8;
  config.play_channels = 8;
  driver = new vltest::RingDriver(config);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  const std::unique_ptr<char[]> sdp = fuzz::text_of(data, size);
  read_lines(sdp.get());
  read_accessors(sdp.get());
  read_stream(sdp.get());
  return 0;
}
