#include "vlcodec/codec.h"

#include "vlcodec/dec_am824.h"
#include "vlcodec/dec_l16.h"
#include "vlcodec/dec_l24.h"
#include "vlcodec/dec_raw.h"
#include "vlcodec/enc_am824.h"
#include "vlcodec/enc_l16.h"
#include "vlcodec/enc_l24.h"
#include "vlcodec/enc_raw.h"
#include "vlsys/vl_log.h"

#include <cerrno>
#include <cstring>

namespace {

constexpr uint8_t first_dynamic_type = 96;
constexpr uint8_t last_payload_type = 127;

// Unsigned decimal digits from `text`; *end is the first other character.
// Values beyond 32 bits read as 0, which no codec accepts.
uint32_t read_decimal(const char* text, const char** end) {
  uint64_t value = 0;
  for (; *text >= '0' && *text <= '9'; ++text)
    if (value <= UINT32_MAX) value = value * 10 + static_cast<uint64_t>(*text - '0');
  *end = text;
  return value <= UINT32_MAX ? static_cast<uint32_t>(value) : 0;
}

// Registered oldest first, so that lookups see L16, L24, AM824, L32.
template <typename Descriptor>
int register_all(int (*add)(const char*, const Descriptor*), log4c_category_t* category, const char* kind,
                 const Descriptor* const* descriptors, int count) {
  int result = 0;
  for (int i = 0; i < count; ++i) {
    const char* name = descriptors[i]->type_name;
    if (add(name, descriptors[i]) != 0) {
      VL_LOG(category, VL_LOG_ERROR, "Cannot register %s %s", kind, name);
      result = -1;
    }
  }
  return result;
}

}  // namespace

int vl_register_encoders() {
  static const VlEncTypeDescriptor* const formats[] = {&vl_enc_raw_ts, &vl_enc_am824_ts, &vl_enc_l24_ts,
                                                       &vl_enc_l16_ts};
  return register_all(vl_enc_register, vl_encoder_category(), "encoder", formats, 4);
}

int vl_register_decoders() {
  static const VlDecTypeDescriptor* const formats[] = {&vl_dec_raw_ts, &vl_dec_am824_ts, &vl_dec_l24_ts,
                                                       &vl_dec_l16_ts};
  return register_all(vl_dec_register, vl_decoder_category(), "decoder", formats, 4);
}

int vl_codec_mime_decode(uint8_t payload_type, const char* encoding, vl_rational* timescale, uint32_t* channels) {
  *timescale = {0, 0};
  *channels = 0;
  if (payload_type > last_payload_type) {
    errno = EINVAL;
    return -1;
  }
  if (payload_type < first_dynamic_type) {
    if (payload_type != 10 && payload_type != 11) return -1;
    *timescale = {44100, 1};
    *channels = payload_type == 10 ? 2 : 1;
    return 0;
  }
  if (!encoding) return -1;
  const char* slash = std::strchr(encoding, '/');
  if (!slash) return static_cast<int>(std::strlen(encoding));
  const char* end = nullptr;
  const uint32_t rate = read_decimal(slash + 1, &end);
  *timescale = {rate <= INT32_MAX ? static_cast<int32_t>(rate) : 0, 1};
  // Without a channel count the stream has one channel (RFC 4566).
  if (*end == '/')
    *channels = read_decimal(end + 1, &end);
  else if (*end == '\0')
    *channels = 1;
  return static_cast<int>(slash - encoding);
}
