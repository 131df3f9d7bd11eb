#include "vlutil/vl_sdp.h"

#include "vlsys/vl_log.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <string_view>

namespace {

__extension__ typedef unsigned __int128 uwide;

// --- Lines and sections -------------------------------------------------------

// Lines end at "\n" or at the record's terminator.
const char* line_end(const char* p) {
  while (*p != '\0' && *p != '\n') ++p;
  return p;
}

// Start of the line after `line`, or null at the end of the record.
const char* next_line(const char* line) {
  const char* end = line_end(line);
  if (*end == '\0' || end[1] == '\0') return nullptr;
  return end + 1;
}

bool is_media_line(const char* line) { return line[0] == 'm' && line[1] == '='; }

const char* section_start(const char* sdp, int media) {
  if (!sdp || media < 0) return nullptr;
  if (media == 0) return sdp;
  int seen = 0;
  for (const char* line = sdp; line; line = next_line(line))
    if (is_media_line(line) && ++seen == media) return line;
  return nullptr;
}

// First line of the section for which `match` holds. A section ends before
// the next line that begins with "m"; a media section starts with its own.
template <typename Match>
const char* find_in_section(const char* sdp, int media, Match match) {
  const char* line = section_start(sdp, media);
  if (!line) return nullptr;
  if (media > 0) {
    if (match(line)) return line;
    line = next_line(line);
  }
  for (; line && *line != 'm'; line = next_line(line))
    if (match(line)) return line;
  return nullptr;
}

// Value of `line` when it is the attribute `name`, else null. A name followed
// by the line end (also "\r\n") has an empty value at that line end, so that
// no value is ever read from the following line or past the terminator.
const char* attribute_value(const char* line, std::string_view name) {
  if (name.empty() || line[0] != 'a' || line[1] != '=') return nullptr;
  const char* p = line + 2;
  for (const char c : name) {
    if (*p != c) return nullptr;
    ++p;
  }
  switch (*p) {
    case ':':
    case ' ':
      return p + 1;
    case '\r':
    case '\n':
    case '\0':
      return p;
    default:
      return nullptr;
  }
}

const char* lookup(const char* sdp, int media, std::string_view name) {
  const char* value = nullptr;
  find_in_section(sdp, media, [&](const char* line) {
    value = attribute_value(line, name);
    return value != nullptr;
  });
  return value;
}

const char* lookup_media_then_session(const char* sdp, std::string_view name) {
  const char* value = lookup(sdp, 1, name);
  return value ? value : lookup(sdp, 0, name);
}

// --- Reading values -----------------------------------------------------------

bool is_blank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f'; }

int digit_value(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool is_decimal_digit(char c) { return c >= '0' && c <= '9'; }

// A decimal number such as 0.333, kept exactly as numerator / denominator
// (digits beyond about the 17th are dropped: far below one frame).
struct Decimal {
  uint64_t numerator;
  uint64_t denominator;
};

// Reads one line the way the sscanf conversions "%s", "%d", "%i" and "%f"
// read text, but never beyond the end of that line.
class LineScanner {
 public:
  explicit LineScanner(const char* text) : pos_(text), end_(line_end(text)) {}

  // A blank in `pattern` skips any blanks, other characters must match.
  bool expect(std::string_view pattern) {
    for (const char c : pattern) {
      if (c == ' ') {
        skip_blanks();
      } else {
        if (pos_ == end_ || *pos_ != c) return false;
        ++pos_;
      }
    }
    return true;
  }

  // The next blank-delimited word; empty at the line end.
  std::string_view word() {
    skip_blanks();
    const char* start = pos_;
    while (pos_ != end_ && !is_blank(*pos_)) ++pos_;
    return {start, static_cast<std::size_t>(pos_ - start)};
  }

  // A number in [min, max]: decimal, or with `any_base` also 0x-hexadecimal
  // and 0-octal (as "%i"). Out-of-range numbers are refused.
  bool integer(int64_t min, int64_t max, int64_t* value, bool any_base = false) {
    const char* start = pos_;
    Digits digits;
    if (!read_digits(&digits, any_base)) return false;
    if (!digits.overflow && digits.magnitude <= static_cast<uint64_t>(INT64_MAX)) {
      const auto magnitude = static_cast<int64_t>(digits.magnitude);
      const int64_t v = digits.negative ? -magnitude : magnitude;
      if (v >= min && v <= max) {
        *value = v;
        return true;
      }
    }
    pos_ = start;
    return false;
  }

  // A number of any size whose value nobody needs.
  bool skip_integer() {
    Digits digits;
    return read_digits(&digits, true);
  }

  // A positive-signed decimal with an optional fraction ("1", "0.125",
  // ".5"); exponents are refused.
  bool decimal(Decimal* value) {
    constexpr uint64_t growth_limit = 100000000000000000ULL;  // 10^17
    skip_blanks();
    const char* p = pos_;
    if (p != end_ && *p == '+') ++p;
    Decimal d = {0, 1};
    bool any_digit = false;
    for (; p != end_ && is_decimal_digit(*p); ++p) {
      if (d.numerator >= growth_limit) return false;
      d.numerator = d.numerator * 10 + static_cast<uint64_t>(*p - '0');
      any_digit = true;
    }
    if (p != end_ && *p == '.') {
      for (++p; p != end_ && is_decimal_digit(*p); ++p) {
        any_digit = true;
        if (d.numerator >= growth_limit || d.denominator > growth_limit) continue;
        d.numerator = d.numerator * 10 + static_cast<uint64_t>(*p - '0');
        d.denominator *= 10;
      }
    }
    if (!any_digit || (p != end_ && (*p == 'e' || *p == 'E'))) return false;
    pos_ = p;
    *value = d;
    return true;
  }

 private:
  struct Digits {
    bool negative = false;
    uint64_t magnitude = 0;
    bool overflow = false;
  };

  void skip_blanks() {
    while (pos_ != end_ && is_blank(*pos_)) ++pos_;
  }

  bool read_digits(Digits* digits, bool any_base) {
    skip_blanks();
    const char* p = pos_;
    if (p != end_ && (*p == '+' || *p == '-')) digits->negative = *p++ == '-';
    int base = 10;
    if (any_base && p != end_ && *p == '0') {
      base = 8;
      if (end_ - p > 2 && (p[1] == 'x' || p[1] == 'X') && digit_value(p[2]) >= 0) {
        base = 16;
        p += 2;
      }
    }
    const char* first = p;
    for (int d; p != end_ && (d = digit_value(*p)) >= 0 && d < base; ++p) {
      const auto ubase = static_cast<uint64_t>(base);
      const auto udigit = static_cast<uint64_t>(d);
      if (digits->magnitude > (UINT64_MAX - udigit) / ubase)
        digits->overflow = true;
      else
        digits->magnitude = digits->magnitude * ubase + udigit;
    }
    if (p == first) return false;
    pos_ = p;
    return true;
  }

  const char* pos_;
  const char* end_;
};

// A field of decimal digits only, at most `max`.
bool parse_decimal_field(std::string_view field, int64_t max, int64_t* value) {
  if (field.empty()) return false;
  int64_t v = 0;
  for (const char c : field) {
    if (!is_decimal_digit(c)) return false;
    v = v * 10 + (c - '0');
    if (v > max) return false;
  }
  *value = v;
  return true;
}

void clear_field(char* field, std::size_t size) {
  if (size > 0) std::memset(field, 0, size);
}

// Copies a non-empty word into a zeroed field of `size` bytes, terminated;
// a word that does not fit is refused.
bool store_word(std::string_view word, char* field, std::size_t size) {
  if (word.empty() || word.size() >= size) return false;
  std::memcpy(field, word.data(), word.size());
  return true;
}

bool store_address(std::string_view word, char* addr) {
  return store_word(word, addr, vl_sdp_addr_size);
}

// errno's text for the "Scanning" messages, formatted only when logged.
class ErrnoText {
 public:
  ErrnoText() { vl_strerror(errno, text_, sizeof text_); }
  const char* c_str() const { return text_; }

 private:
  char text_[128];
};

// --- Accessor parts -----------------------------------------------------------

// "<address>[/<ttl>[/<count>]]", leading "/" skipped; returns the TTL (1 when
// none is given) or -1.
int read_connection_address(std::string_view word, char* addr) {
  const std::size_t start = word.find_first_not_of('/');
  if (start == std::string_view::npos) return -1;
  word.remove_prefix(start);
  const std::size_t slash = word.find('/');
  const std::string_view address = word.substr(0, slash);
  int64_t ttl = 1;
  if (slash != std::string_view::npos) {
    std::string_view rest = word.substr(slash);
    const std::size_t ttl_start = rest.find_first_not_of('/');
    rest.remove_prefix(ttl_start == std::string_view::npos ? rest.size() : ttl_start);
    if (!rest.empty() && !parse_decimal_field(rest.substr(0, rest.find('/')), 255, &ttl))
      return -1;
  }
  if (!store_address(address, addr)) return -1;
  return static_cast<int>(ttl);
}

bool write_clock_domain(std::string_view name, int64_t domain, char* out, std::size_t size) {
  if (name.empty() || name.size() > vl_sdp_clock_name_max) return false;
  const int written = std::snprintf(out, size, "%.*s %d", static_cast<int>(name.size()),
                                    name.data(), static_cast<int>(domain));
  if (written < 0 || static_cast<std::size_t>(written) >= size) {
    clear_field(out, size);
    return false;
  }
  return true;
}

bool velanto_clock_domain(const char* sdp, char* out, std::size_t size) {
  const char* value = lookup_media_then_session(sdp, "clock-domain");
  if (!value) {
    VL_LOG(vl_log_general(), VL_LOG_WARN,
           "Unable to find velanto compatible clock domain field in sdp record!");
    return false;
  }
  LineScanner scan(value);
  const std::string_view name = scan.word();
  int64_t domain = 0;
  if (!scan.integer(INT_MIN, INT_MAX, &domain) || !write_clock_domain(name, domain, out, size)) {
    errno = EINVAL;
    VL_LOG(vl_log_general(), VL_LOG_ERROR, "Scanning sdp for velanto clock domain failed: %s\n",
           ErrnoText().c_str());
    return false;
  }
  return true;
}

// Splits "version:identity:domain" of a PTP reference clock at its first two colons.
bool split_ptp_server(std::string_view server, std::string_view fields[3]) {
  for (int i = 0; i < 2; ++i) {
    const std::size_t colon = server.find(':');
    if (colon == std::string_view::npos) return false;
    fields[i] = server.substr(0, colon);
    server.remove_prefix(colon + 1);
  }
  fields[2] = server;
  return true;
}

bool write_ptp_clock_domain(std::string_view server, char* out, std::size_t size) {
  std::string_view fields[3];
  int64_t domain = 0;
  if (!split_ptp_server(server, fields) || fields[1].empty() ||
      fields[1].size() > vl_sdp_clock_name_max || !parse_decimal_field(fields[2], INT_MAX, &domain))
    return false;
  return write_clock_domain(fields[0], domain, out, size);
}

bool aes67_clock_domain(const char* sdp, char* out, std::size_t size) {
  const char* value = lookup_media_then_session(sdp, "ts-refclk");
  if (!value) {
    VL_LOG(vl_log_general(), VL_LOG_WARN,
           "Unable to find aes67 compatible clock domain field in sdp record!");
    return false;
  }
  LineScanner scan(value);
  return scan.expect("ptp=") && write_ptp_clock_domain(scan.word(), out, size);
}

// False when the velanto frame count is absent, unreadable or negative.
bool velanto_frame_count(const char* sdp, int* frames) {
  const char* value = lookup(sdp, 1, "framecount");
  if (!value) {
    VL_LOG(vl_log_general(), VL_LOG_WARN,
           "Unable to find velanto style frame count information in sdp record!");
    return false;
  }
  int64_t count = 0;
  if (!LineScanner(value).integer(INT_MIN, INT_MAX, &count)) {
    errno = EINVAL;
    VL_LOG(vl_log_general(), VL_LOG_WARN, "Scanning sdp for velanto style frame count failed: %s\n",
           ErrnoText().c_str());
    return false;
  }
  if (count < 0) return false;
  *frames = static_cast<int>(count);
  return true;
}

// The sample rate of an encoding such as L24/48000/8.
bool encoding_rate(std::string_view encoding, int64_t* rate) {
  const std::size_t slash = encoding.find('/');
  if (slash == std::string_view::npos) return false;
  encoding.remove_prefix(slash + 1);
  return parse_decimal_field(encoding.substr(0, encoding.find('/')), INT_MAX, rate) && *rate > 0;
}

// Frames in `ptime` milliseconds at `rate`, rounded to the nearest frame;
// -1 when that exceeds an int.
int64_t frames_in(const Decimal& ptime, int64_t rate) {
  const uwide product = static_cast<uwide>(rate) * ptime.numerator;
  const uwide divisor = static_cast<uwide>(ptime.denominator) * 1000;
  const uwide frames = (2 * product + divisor) / (2 * divisor);
  return frames > INT_MAX ? -1 : static_cast<int64_t>(frames);
}

int aes67_frame_count(const char* sdp) {
  const char* value = lookup(sdp, 1, "ptime");
  if (!value) {
    errno = EINVAL;
    VL_LOG(vl_log_general(), VL_LOG_ERROR,
           "Unable to find aes67 style frame count information in sdp record!");
    return -1;
  }
  Decimal ptime = {0, 1};
  if (!LineScanner(value).decimal(&ptime) || ptime.numerator == 0) {
    errno = EINVAL;
    VL_LOG(vl_log_general(), VL_LOG_ERROR, "Scanning sdp for aes67 style frame count failed: %s\n",
           ErrnoText().c_str());
    return -1;
  }
  char encoding[vl_sdp_encoding_max];
  int64_t rate = 0;
  if (vl_sdp_encoding(sdp, encoding, sizeof encoding) != 0 || !encoding_rate(encoding, &rate)) {
    errno = EINVAL;
    VL_LOG(vl_log_general(), VL_LOG_ERROR, "Scanning sdp for aes67 style encoding failed: %s\n",
           ErrnoText().c_str());
    return -1;
  }
  const int64_t frames = frames_in(ptime, rate);
  if (frames < 0) {
    errno = EINVAL;
    VL_LOG(vl_log_general(), VL_LOG_ERROR, "Scanning sdp for aes67 style frame count failed: %s\n",
           ErrnoText().c_str());
    return -1;
  }
  return static_cast<int>(frames);
}

int no_originator() {
  errno = EINVAL;
  VL_LOG(vl_log_general(), VL_LOG_ERROR, "No valid originator ip found in sdp record.");
  return -1;
}

}  // namespace

const char* vl_sdp_find_line(const char* sdp, char type, int media, int occurrence) {
  if (occurrence < 0 || type == '\0') return nullptr;
  if (occurrence == 0) return section_start(sdp, media);
  int seen = 0;
  return find_in_section(sdp, media, [&](const char* line) {
    return line[0] == type && line[1] == '=' && ++seen == occurrence;
  });
}

const char* vl_sdp_lookup_attr(const char* sdp, int media, const char* name) {
  if (!name) return nullptr;
  return lookup(sdp, media, name);
}

int vl_sdp_version(const char* sdp) {
  const char* line = vl_sdp_find_line(sdp, 'v', 0, 1);
  int64_t version = 0;
  if (!line || !LineScanner(line + 2).integer(0, INT_MAX, &version, true)) {
    errno = EINVAL;
    return -1;
  }
  return static_cast<int>(version);
}

int vl_sdp_originator(const char* sdp, char addr[vl_sdp_addr_size]) {
  if (!addr) {
    errno = EFAULT;
    return -1;
  }
  clear_field(addr, vl_sdp_addr_size);
  const char* line = vl_sdp_find_line(sdp, 'o', 0, 1);
  if (!line) return no_originator();
  LineScanner scan(line);
  const bool fields_read = scan.expect("o=- ") && !scan.word().empty() && scan.skip_integer() &&
                           scan.expect(" IN IP4 ");
  const std::string_view address = fields_read ? scan.word() : std::string_view{};
  if (address.empty()) return 0;
  return store_address(address, addr) ? 0 : no_originator();
}

int vl_sdp_stream_name(const char* sdp, char* name, std::size_t size) {
  if (!name && size > 0) {
    errno = EFAULT;
    return -1;
  }
  clear_field(name, size);
  const char* line = vl_sdp_find_line(sdp, 's', 0, 1);
  if (!line) {
    errno = EINVAL;
    VL_LOG(vl_log_general(), VL_LOG_ERROR, "No valid stream name found in sdp record.");
    return -1;
  }
  const char* begin = line + 2;
  const char* end = begin;
  while (*end != '\0' && *end != '\n' && *end != '\r') ++end;
  const auto length = static_cast<std::size_t>(end - begin);
  if (size < length) return length > INT_MAX ? INT_MAX : static_cast<int>(length);
  if (length > 0) std::memcpy(name, begin, length);
  return 0;
}

int vl_sdp_dst_addr(const char* sdp, char addr[vl_sdp_addr_size]) {
  if (!addr) {
    errno = EFAULT;
    return -1;
  }
  clear_field(addr, vl_sdp_addr_size);
  // A session-level connection is the default of every media.
  const char* line = vl_sdp_find_line(sdp, 'c', 1, 1);
  if (!line) line = vl_sdp_find_line(sdp, 'c', 0, 1);
  if (!line) {
    errno = EINVAL;
    VL_LOG(vl_log_general(), VL_LOG_ERROR, "No valid ip address found in sdp record.");
    return -1;
  }
  LineScanner scan(line);
  const int ttl = scan.expect("c=IN IP4 ") ? read_connection_address(scan.word(), addr) : -1;
  if (ttl < 0) {
    errno = EINVAL;
    VL_LOG(vl_log_general(), VL_LOG_ERROR, "Invalid ip address in sdp record!");
    return -1;
  }
  return ttl;
}

int vl_sdp_dst_port(const char* sdp) {
  const char* line = vl_sdp_find_line(sdp, 'm', 1, 0);
  if (!line) {
    errno = EINVAL;
    VL_LOG(vl_log_general(), VL_LOG_ERROR, "No valid port found in sdp record.");
    return 0;
  }
  LineScanner scan(line);
  int64_t port = 0;
  if (!scan.expect("m=audio ") || !scan.integer(0, 65535, &port)) {
    errno = EINVAL;
    return 0;
  }
  return static_cast<int>(port);
}

int vl_sdp_src_addr(const char* sdp, char addr[vl_sdp_addr_size]) {
  if (!addr) {
    errno = EFAULT;
    return -1;
  }
  clear_field(addr, vl_sdp_addr_size);
  const char* value = lookup(sdp, 1, "source-filter");
  if (!value) {
    errno = EINVAL;
    VL_LOG(vl_log_general(), VL_LOG_ERROR, "Unable to find stream source address in sdp record!");
    return -1;
  }
  LineScanner scan(value);
  const bool filter_read = scan.expect(" incl IN IP4 ") && !scan.word().empty();  // destination
  if (!filter_read || !store_address(scan.word(), addr)) {
    errno = EINVAL;
    VL_LOG(vl_log_general(), VL_LOG_ERROR, "Scanning SDP for stream source address failed: %s\n",
           ErrnoText().c_str());
    return -1;
  }
  return 0;
}

int vl_sdp_encoding(const char* sdp, char* encoding, std::size_t size) {
  if (!encoding || size == 0) {
    errno = EFAULT;
    return -1;
  }
  clear_field(encoding, size);
  const char* value = lookup(sdp, 1, "rtpmap");
  if (!value) {
    errno = EINVAL;
    VL_LOG(vl_log_general(), VL_LOG_ERROR, "Unable to find encoding information in sdp record!");
    return -1;
  }
  LineScanner scan(value);
  int64_t payload = 0;
  if (!scan.integer(INT_MIN, INT_MAX, &payload) || !store_word(scan.word(), encoding, size)) {
    errno = EINVAL;
    VL_LOG(vl_log_general(), VL_LOG_ERROR, "Scanning sdp for encoding failed: %s\n",
           ErrnoText().c_str());
    return -1;
  }
  return 0;
}

int vl_sdp_rtp_payload(const char* sdp) {
  const char* value = lookup(sdp, 1, "rtpmap");
  if (!value) {
    errno = EINVAL;
    VL_LOG(vl_log_general(), VL_LOG_ERROR,
           "Unable to find RTP payload information in sdp record!");
    return -1;
  }
  int64_t payload = 0;
  if (!LineScanner(value).integer(0, 127, &payload)) {
    errno = EINVAL;
    VL_LOG(vl_log_general(), VL_LOG_ERROR, "Scanning sdp for RTP payload failed: %s\n",
           ErrnoText().c_str());
    return -1;
  }
  return static_cast<int>(payload);
}

int vl_sdp_clock_domain(const char* sdp, char* out, std::size_t size) {
  if (!out || size == 0) {
    errno = EFAULT;
    return -1;
  }
  clear_field(out, size);
  if (velanto_clock_domain(sdp, out, size) || aes67_clock_domain(sdp, out, size)) return 0;
  errno = EINVAL;
  return -1;
}

int vl_sdp_sync_time(const char* sdp, uint32_t* out) {
  if (!out) {
    errno = EFAULT;
    return -1;
  }
  int64_t value = 0;
  if (const char* sync_time = lookup(sdp, 1, "sync-time")) {
    if (LineScanner(sync_time).integer(0, UINT32_MAX, &value)) {
      *out = static_cast<uint32_t>(value);
      return 0;
    }
    errno = EINVAL;
    VL_LOG(vl_log_general(), VL_LOG_WARN,
           "Scanning sdp for velanto type synchronization time failed: %s\n", ErrnoText().c_str());
  }
  const char* mediaclk = lookup_media_then_session(sdp, "mediaclk");
  if (!mediaclk) {
    errno = EINVAL;
    return -1;
  }
  LineScanner scan(mediaclk);
  if (scan.expect("direct=") && scan.integer(0, UINT32_MAX, &value)) {
    *out = static_cast<uint32_t>(value);
    return 0;
  }
  errno = EINVAL;
  VL_LOG(vl_log_general(), VL_LOG_ERROR,
         "Scanning sdp for aes67 type synchronization time failed: %s\n", ErrnoText().c_str());
  return -1;
}

int vl_sdp_frame_count(const char* sdp) {
  int frames = 0;
  if (velanto_frame_count(sdp, &frames)) return frames;
  return aes67_frame_count(sdp);
}
