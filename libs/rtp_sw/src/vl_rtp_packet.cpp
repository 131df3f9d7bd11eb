#include "rtp_sw/vl_rtp_packet.h"

int vl_rtp_parse(const uint8_t* b, std::size_t n, VlRtpHeader* out) {
  if (n < vl_rtp_header_size) return vl_rtp_error_size;
  if ((b[0] & vl_rtp_version_mask) != vl_rtp_version_2) return vl_rtp_error_header;
  std::size_t length = vl_rtp_header_size + 4 * static_cast<std::size_t>(b[0] & vl_rtp_csrc_count_mask);
  if (b[0] & vl_rtp_extension_bit) {
    // The extension's own header: profile word and length in words.
    if (n < length + 4) return vl_rtp_error_header;
    length += 4 + 4 * std::size_t{vl_rtp_get16(b + length + 2)};
  }
  if (length >= n) return vl_rtp_error_size;
  std::size_t padding = 0;
  if (b[0] & vl_rtp_padding_bit) {
    // The count includes its own byte, so 0 cannot be.
    padding = b[n - 1];
    if (padding == 0 || length + padding >= n) return vl_rtp_error_size;
  }
  out->layout = static_cast<uint8_t>(b[0] & ~vl_rtp_padding_bit);
  out->payload_type = b[1] & vl_rtp_payload_type_mask;
  out->seqno = vl_rtp_seqno(b);
  out->timestamp = vl_rtp_timestamp(b);
  out->ssrc = vl_rtp_ssrc(b);
  out->header_length = static_cast<uint32_t>(length);
  out->payload_length = static_cast<uint32_t>(n - length - padding);
  return 0;
}
