#include "vlutil/vl_sdp.h"

#include "vlsys/vl_log.h"
#include "vltest/log_capture.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <string_view>

namespace {

// The record in a heap block of exactly its size, so that the sanitizer
// build reports any read past its terminator.
class Record {
 public:
  explicit Record(std::string_view text) : size_(text.size()), data_(new char[text.size() + 1]) {
    std::memcpy(data_.get(), text.data(), text.size());
    data_[text.size()] = '\0';
  }
  const char* c_str() const { return data_.get(); }
  const char* terminator() const { return data_.get() + size_; }

 private:
  std::size_t size_;
  std::unique_ptr<char[]> data_;
};

// An output field between canary bytes, filled with 'x' so that zeroing shows.
template <std::size_t N>
struct Guarded {
  static constexpr unsigned char canary = 0xA5;
  unsigned char before[16];
  char field[N];
  unsigned char after[16];

  Guarded() {
    std::memset(before, canary, sizeof before);
    std::memset(field, 'x', N);
    std::memset(after, canary, sizeof after);
  }
  bool intact() const {
    for (std::size_t i = 0; i < sizeof before; ++i)
      if (before[i] != canary || after[i] != canary) return false;
    return true;
  }
  bool zeroed(std::size_t n = N) const {
    for (std::size_t i = 0; i < n; ++i)
      if (field[i] != '\0') return false;
    return true;
  }
  bool terminated() const { return strnlen(field, N) < N; }
  std::string text() const { return std::string(field, strnlen(field, N)); }
};

using Addr = Guarded<vl_sdp_addr_size>;

std::string lines(std::initializer_list<std::string_view> list, std::string_view eol = "\n") {
  std::string text;
  for (std::string_view line : list) text.append(line).append(eol);
  return text;
}

const char* const stage_box_velanto = "a=clock-domain:PTPv2 0";

std::string stage_box(bool velanto_attributes) {
  std::string text = lines({"v=0", "o=- 1311738121 1311738121 IN IP4 192.168.1.10", "s=Stage box 1",
                            "t=0 0"});
  if (velanto_attributes) text += lines({stage_box_velanto});
  text += lines({"m=audio 5004 RTP/AVP 98", "c=IN IP4 239.1.2.3/32", "a=rtpmap:98 L24/48000/8",
                 "a=source-filter:incl IN IP4 239.1.2.3 192.168.1.10"});
  if (velanto_attributes) text += lines({"a=sync-time:0", "a=framecount:48"});
  text += lines({"a=ptime:1", "a=ts-refclk:ptp=IEEE1588-2008:00-1D-C1-FF-FE-12-34-56:0",
                 "a=mediaclk:direct=0", "a=recvonly"});
  return text;
}

// A minimal AES67 media section around `attributes`.
std::string aes67_record(std::initializer_list<std::string_view> attributes,
                         std::string_view eol = "\n") {
  std::string text = lines({"v=0", "o=- 1 1 IN IP4 10.0.0.1", "s=Test", "t=0 0",
                            "m=audio 5004 RTP/AVP 96", "c=IN IP4 239.0.0.1/32"},
                           eol);
  return text + lines(attributes, eol);
}

std::string clock_domain(const Record& record) {
  Guarded<vl_sdp_clock_domain_max> out;
  const int rc = vl_sdp_clock_domain(record.c_str(), out.field, sizeof out.field);
  EXPECT_TRUE(out.intact());
  return rc == 0 ? out.text() : "failed";
}

std::string encoding(const Record& record) {
  Guarded<vl_sdp_encoding_max> out;
  const int rc = vl_sdp_encoding(record.c_str(), out.field, sizeof out.field);
  EXPECT_TRUE(out.intact());
  return rc == 0 ? out.text() : "failed";
}

int frame_count_with(std::string_view rtpmap, std::string_view ptime) {
  const Record record(aes67_record({rtpmap, ptime}));
  return vl_sdp_frame_count(record.c_str());
}

TEST(SdpWorkedExample, FullRecord) {
  vltest::LogCapture capture;
  const Record record(stage_box(true));
  const char* sdp = record.c_str();
  EXPECT_EQ(vl_sdp_version(sdp), 0);

  Addr addr;
  EXPECT_EQ(vl_sdp_originator(sdp, addr.field), 0);
  EXPECT_EQ(addr.text(), "192.168.1.10");

  Guarded<128> name;
  EXPECT_EQ(vl_sdp_stream_name(sdp, name.field, 127), 0);
  EXPECT_EQ(name.text(), "Stage box 1");

  Addr dst;
  EXPECT_EQ(vl_sdp_dst_addr(sdp, dst.field), 32);
  EXPECT_EQ(dst.text(), "239.1.2.3");
  EXPECT_EQ(vl_sdp_dst_port(sdp), 5004);

  Addr src;
  EXPECT_EQ(vl_sdp_src_addr(sdp, src.field), 0);
  EXPECT_EQ(src.text(), "192.168.1.10");

  EXPECT_EQ(encoding(record), "L24/48000/8");
  EXPECT_EQ(vl_sdp_rtp_payload(sdp), 98);
  EXPECT_EQ(clock_domain(record), "PTPv2 0");

  uint32_t sync = 99;
  EXPECT_EQ(vl_sdp_sync_time(sdp, &sync), 0);
  EXPECT_EQ(sync, 0u);
  EXPECT_EQ(vl_sdp_frame_count(sdp), 48);

  const char* ptime = vl_sdp_lookup_attr(sdp, 1, "ptime");
  ASSERT_NE(ptime, nullptr);
  EXPECT_EQ(std::string(ptime, 2), "1\n");
  EXPECT_TRUE(capture.records().empty());
  EXPECT_TRUE(addr.intact() && name.intact() && dst.intact() && src.intact());
}

TEST(SdpWorkedExample, WithoutVelantoAttributesFallsBackToAes67) {
  vltest::LogCapture capture;
  const Record record(stage_box(false));
  const char* sdp = record.c_str();

  EXPECT_EQ(clock_domain(record), "IEEE1588-2008 0");
  EXPECT_EQ(capture.count("Unable to find velanto compatible clock domain field in sdp record!"), 1);

  // AES67 devices write mediaclk at media level.
  uint32_t sync = 99;
  EXPECT_EQ(vl_sdp_sync_time(sdp, &sync), 0);
  EXPECT_EQ(sync, 0u);

  // One packet of 1 ms at 48 kHz is 48 frames.
  EXPECT_EQ(vl_sdp_frame_count(sdp), 48);
  EXPECT_EQ(capture.count("Unable to find velanto style frame count information in sdp record!"), 1);
  EXPECT_EQ(capture.records().size(), 2u);
}

TEST(SdpLines, SectionsAndOccurrences) {
  const Record record(lines({"v=0", "a=x", "a=y", "m=audio 1 RTP/AVP 96", "a=z",
                             "m=audio 2 RTP/AVP 97", "a=w"}));
  const char* sdp = record.c_str();
  EXPECT_EQ(vl_sdp_find_line(sdp, 'v', 0, 0), sdp);
  EXPECT_EQ(vl_sdp_find_line(sdp, 'a', 0, 2), std::strstr(sdp, "a=y"));
  EXPECT_EQ(vl_sdp_find_line(sdp, 'a', 0, 3), nullptr);
  EXPECT_EQ(vl_sdp_find_line(sdp, 'm', 0, 1), nullptr);
  EXPECT_EQ(vl_sdp_find_line(sdp, 'm', 1, 0), std::strstr(sdp, "m=audio 1"));
  EXPECT_EQ(vl_sdp_find_line(sdp, 'm', 1, 1), std::strstr(sdp, "m=audio 1"));
  EXPECT_EQ(vl_sdp_find_line(sdp, 'm', 1, 2), nullptr);
  EXPECT_EQ(vl_sdp_find_line(sdp, 'a', 1, 1), std::strstr(sdp, "a=z"));
  EXPECT_EQ(vl_sdp_find_line(sdp, 'a', 2, 1), std::strstr(sdp, "a=w"));
  EXPECT_EQ(vl_sdp_find_line(sdp, 'a', 3, 0), nullptr);
  EXPECT_EQ(vl_sdp_find_line(sdp, 'a', -1, 1), nullptr);
  EXPECT_EQ(vl_sdp_find_line(sdp, 'a', 0, -1), nullptr);
  EXPECT_EQ(vl_sdp_find_line(nullptr, 'v', 0, 1), nullptr);
}

TEST(SdpLines, AttributeNamesMatchWhole) {
  const Record record(aes67_record({"a=ptimex:5", "a=ptime 2", "a=recvonly\r", "a=framecount"}));
  const char* sdp = record.c_str();
  const char* ptime = vl_sdp_lookup_attr(sdp, 1, "ptime");
  ASSERT_NE(ptime, nullptr);
  EXPECT_EQ(*ptime, '2');
  EXPECT_EQ(vl_sdp_lookup_attr(sdp, 1, "ptim"), nullptr);
  EXPECT_EQ(vl_sdp_lookup_attr(sdp, 1, ""), nullptr);
  EXPECT_EQ(vl_sdp_lookup_attr(sdp, 1, nullptr), nullptr);

  // Flag attributes have an empty value at their own line end.
  const char* recvonly = vl_sdp_lookup_attr(sdp, 1, "recvonly");
  ASSERT_NE(recvonly, nullptr);
  EXPECT_EQ(*recvonly, '\r');
  const char* last = vl_sdp_lookup_attr(sdp, 1, "framecount");
  ASSERT_NE(last, nullptr);
  EXPECT_EQ(*last, '\n');
}

TEST(SdpLines, AttributeNameAtEndOfRecord) {
  vltest::LogCapture capture;
  const Record record(aes67_record({"a=rtpmap:96 L24/48000/2"}) + "a=ptime");
  EXPECT_EQ(vl_sdp_lookup_attr(record.c_str(), 1, "ptime"), record.terminator());
  EXPECT_EQ(vl_sdp_frame_count(record.c_str()), -1);
  EXPECT_EQ(capture.count("Scanning sdp for aes67 style frame count failed: "), 1);

  const Record cut(aes67_record({}) + "a=rtpm");
  EXPECT_EQ(vl_sdp_lookup_attr(cut.c_str(), 1, "rtpmap"), nullptr);
  EXPECT_EQ(encoding(cut), "failed");
}

TEST(SdpLines, SecondMediaSectionIsNeverConsulted) {
  vltest::LogCapture capture;
  const Record record(lines({"v=0", "s=Two", "m=audio 5004 RTP/AVP 96", "m=audio 6000 RTP/AVP 97",
                             "c=IN IP4 239.9.9.9/8", "a=rtpmap:97 L16/48000/2", "a=ptime:1",
                             "a=framecount:64", "a=sync-time:7",
                             "a=source-filter:incl IN IP4 239.9.9.9 10.0.0.9",
                             "a=clock-domain:PTPv2 1", "a=ts-refclk:ptp=IEEE1588-2008:aa:1"}));
  const char* sdp = record.c_str();
  Addr addr;
  uint32_t sync = 0;
  EXPECT_EQ(vl_sdp_dst_port(sdp), 5004);
  EXPECT_EQ(vl_sdp_dst_addr(sdp, addr.field), -1);
  EXPECT_EQ(vl_sdp_src_addr(sdp, addr.field), -1);
  EXPECT_EQ(encoding(record), "failed");
  EXPECT_EQ(vl_sdp_rtp_payload(sdp), -1);
  EXPECT_EQ(vl_sdp_frame_count(sdp), -1);
  EXPECT_EQ(vl_sdp_sync_time(sdp, &sync), -1);
  EXPECT_EQ(clock_domain(record), "failed");
  EXPECT_EQ(capture.count("Unable to find aes67 compatible clock domain field in sdp record!"), 1);
}

TEST(SdpSession, VersionOriginatorAndPort) {
  vltest::LogCapture capture;
  EXPECT_EQ(vl_sdp_version(nullptr), -1);
  EXPECT_EQ(vl_sdp_version(Record("v=x\n").c_str()), -1);
  EXPECT_EQ(vl_sdp_version(Record("s=no version\n").c_str()), -1);
  EXPECT_EQ(vl_sdp_version(Record("v=1").c_str()), 1);

  Addr addr;
  EXPECT_EQ(vl_sdp_originator(Record("o=- 1 3913204581 IN IP4 10.1.2.3\r\n").c_str(), addr.field), 0);
  EXPECT_EQ(addr.text(), "10.1.2.3");
  EXPECT_EQ(vl_sdp_originator(Record("o=alice 1 1 IN IP4 10.1.2.3\n").c_str(), addr.field), 0);
  EXPECT_TRUE(addr.zeroed());
  EXPECT_EQ(vl_sdp_originator(Record("v=0\n").c_str(), addr.field), -1);
  EXPECT_EQ(vl_sdp_originator(nullptr, addr.field), -1);
  EXPECT_EQ(capture.count("No valid originator ip found in sdp record."), 2);
  EXPECT_TRUE(addr.intact());

  EXPECT_EQ(vl_sdp_dst_port(Record("v=0\n").c_str()), 0);
  EXPECT_EQ(capture.count("No valid port found in sdp record."), 1);
  EXPECT_EQ(vl_sdp_dst_port(Record("m=video 5004 RTP/AVP 96\n").c_str()), 0);
  EXPECT_EQ(vl_sdp_dst_port(Record("m=audio 70000 RTP/AVP 96\n").c_str()), 0);
  EXPECT_EQ(vl_sdp_dst_port(Record("m=audio\n5004\n").c_str()), 0);
  EXPECT_EQ(vl_sdp_dst_port(Record("m=audio 5004/2 RTP/AVP 96").c_str()), 5004);
}

TEST(SdpSession, StreamName) {
  vltest::LogCapture capture;
  Guarded<32> name;
  const Record twenty("s=ABCDEFGHIJKLMNOPQRST\n");
  EXPECT_EQ(vl_sdp_stream_name(twenty.c_str(), name.field, 10), 20);
  EXPECT_TRUE(name.zeroed(10));
  EXPECT_EQ(name.field[10], 'x');  // only `size` bytes are touched

  // A name that fills the field exactly is copied without a terminator.
  Guarded<20> exact;
  EXPECT_EQ(vl_sdp_stream_name(twenty.c_str(), exact.field, 20), 0);
  EXPECT_EQ(std::string(exact.field, 20), "ABCDEFGHIJKLMNOPQRST");
  EXPECT_TRUE(exact.intact());

  Guarded<32> crlf;
  EXPECT_EQ(vl_sdp_stream_name(Record("v=0\r\ns=Desk\r\nt=0 0\r\n").c_str(), crlf.field, 31), 0);
  EXPECT_EQ(crlf.text(), "Desk");

  // A carriage return on a later line does not stretch the name.
  Guarded<64> later;
  EXPECT_EQ(vl_sdp_stream_name(Record("s=Desk\nt=0 0\r\n").c_str(), later.field, 63), 0);
  EXPECT_EQ(later.text(), "Desk");

  // The last line may end without a newline, however long it is.
  const std::string long_name(40, 'n');
  Guarded<64> at_end;
  EXPECT_EQ(vl_sdp_stream_name(Record("v=0\ns=" + long_name).c_str(), at_end.field, 63), 0);
  EXPECT_EQ(at_end.text(), long_name);

  Guarded<8> none;
  EXPECT_EQ(vl_sdp_stream_name(Record("v=0\n").c_str(), none.field, 8), -1);
  EXPECT_EQ(capture.count("No valid stream name found in sdp record."), 1);
  EXPECT_TRUE(name.intact() && crlf.intact() && later.intact() && at_end.intact() && none.intact());
}

TEST(SdpConnection, AddressAndTtl) {
  vltest::LogCapture capture;
  auto dst = [](std::string_view connection, std::string* address) {
    Addr addr;
    const int ttl =
        vl_sdp_dst_addr(Record(lines({"v=0", "m=audio 5004 RTP/AVP 96", connection})).c_str(), addr.field);
    EXPECT_TRUE(addr.intact());
    EXPECT_TRUE(ttl >= 0 || addr.zeroed());
    *address = addr.text();
    return ttl;
  };
  std::string address;
  EXPECT_EQ(dst("c=IN IP4 239.1.2.3", &address), 1);
  EXPECT_EQ(address, "239.1.2.3");
  EXPECT_EQ(dst("c=IN IP4 239.1.2.3/16/4", &address), 16);
  EXPECT_EQ(address, "239.1.2.3");
  EXPECT_EQ(dst("c=IN IP4 //239.1.2.3//8\r", &address), 8);
  EXPECT_EQ(address, "239.1.2.3");
  EXPECT_EQ(dst("c=IN IP4 239.1.2.3/", &address), 1);
  EXPECT_EQ(dst("c=IN IP4 255.255.255.255/255", &address), 255);
  EXPECT_EQ(address, "255.255.255.255");
  EXPECT_EQ(capture.records().size(), 0u);

  EXPECT_EQ(dst("c=IN IP4 //", &address), -1);
  EXPECT_EQ(dst("c=IN IP4 ", &address), -1);
  EXPECT_EQ(dst("c=IN IP6 ff15::1", &address), -1);
  EXPECT_EQ(dst("c=IN IP4 239.1.2.3/300", &address), -1);
  EXPECT_EQ(dst("c=IN IP4 239.1.2.3/3x", &address), -1);
  EXPECT_EQ(dst("c=IN IP4 1239.100.200.300/32", &address), -1);
  EXPECT_EQ(capture.count("Invalid ip address in sdp record!"), 6);

  // A session-level connection line is the default of the media section,
  // which overrides it with its own.
  Addr addr;
  const Record session_only(lines({"v=0", "c=IN IP4 239.1.2.3/32", "m=audio 5004 RTP/AVP 96"}));
  EXPECT_EQ(vl_sdp_dst_addr(session_only.c_str(), addr.field), 32);
  EXPECT_EQ(addr.text(), "239.1.2.3");
  const Record both(lines({"v=0", "c=IN IP4 239.1.2.3/32", "m=audio 5004 RTP/AVP 96", "c=IN IP4 239.9.9.9/8"}));
  EXPECT_EQ(vl_sdp_dst_addr(both.c_str(), addr.field), 8);
  EXPECT_EQ(addr.text(), "239.9.9.9");
  capture.clear();
  const Record none(lines({"v=0", "m=audio 5004 RTP/AVP 96"}));
  EXPECT_EQ(vl_sdp_dst_addr(none.c_str(), addr.field), -1);
  EXPECT_EQ(capture.count("No valid ip address found in sdp record."), 1);
}

TEST(SdpConnection, SourceFilter) {
  vltest::LogCapture capture;
  auto src = [](std::string_view filter, std::string* address) {
    Addr addr;
    const int rc = vl_sdp_src_addr(Record(aes67_record({filter})).c_str(), addr.field);
    EXPECT_TRUE(addr.intact());
    *address = addr.text();
    return rc;
  };
  std::string address;
  EXPECT_EQ(src("a=source-filter:incl IN IP4 239.1.2.3 192.168.1.10\r", &address), 0);
  EXPECT_EQ(address, "192.168.1.10");
  EXPECT_EQ(src("a=source-filter: incl IN IP4 239.1.2.3 192.168.1.10", &address), 0);  // the blank RFC 4570 writes
  EXPECT_EQ(address, "192.168.1.10");
  EXPECT_EQ(src("a=source-filter:incl IN IP4 239.1.2.3\n192.168.1.10", &address), -1);
  EXPECT_EQ(address, "");
  EXPECT_EQ(src("a=source-filter:incl IN IP4 239.1.2.3 1192.168.100.100", &address), -1);
  EXPECT_EQ(capture.count("Scanning SDP for stream source address failed: "), 2);
  EXPECT_EQ(src("a=recvonly", &address), -1);
  EXPECT_EQ(capture.count("Unable to find stream source address in sdp record!"), 1);
}

TEST(SdpMedia, EncodingAndPayload) {
  vltest::LogCapture capture;
  const Record crlf(aes67_record({"a=rtpmap:97 L24/48000/8"}, "\r\n"));
  EXPECT_EQ(encoding(crlf), "L24/48000/8");
  EXPECT_EQ(vl_sdp_rtp_payload(crlf.c_str()), 97);

  // The word must fit with its terminator.
  const Record record(aes67_record({"a=rtpmap:96 AM824/48000/8"}));
  Guarded<14> fits;
  Guarded<13> short_by_one;
  EXPECT_EQ(vl_sdp_encoding(record.c_str(), fits.field, sizeof fits.field), 0);
  EXPECT_EQ(fits.text(), "AM824/48000/8");
  EXPECT_EQ(vl_sdp_encoding(record.c_str(), short_by_one.field, sizeof short_by_one.field), -1);
  EXPECT_TRUE(short_by_one.zeroed());
  EXPECT_TRUE(fits.intact() && short_by_one.intact());
  EXPECT_EQ(capture.count("Scanning sdp for encoding failed: Invalid argument\n"), 1);

  // The value never continues on the next line.
  const Record split(aes67_record({"a=rtpmap:96", "L24/48000/8"}));
  EXPECT_EQ(encoding(split), "failed");
  EXPECT_EQ(vl_sdp_rtp_payload(split.c_str()), 96);
  EXPECT_EQ(vl_sdp_rtp_payload(Record(aes67_record({"a=rtpmap:200 L24/48000/8"})).c_str()), -1);
  EXPECT_EQ(vl_sdp_rtp_payload(Record(aes67_record({"a=rtpmap: L24/48000/8"})).c_str()), -1);
  EXPECT_EQ(capture.count("Scanning sdp for RTP payload failed: "), 2);

  const Record none(aes67_record({}));
  EXPECT_EQ(encoding(none), "failed");
  EXPECT_EQ(vl_sdp_rtp_payload(none.c_str()), -1);
  EXPECT_EQ(capture.count("Unable to find encoding information in sdp record!"), 1);
  EXPECT_EQ(capture.count("Unable to find RTP payload information in sdp record!"), 1);
}

TEST(SdpClock, DomainDialects) {
  vltest::LogCapture capture;
  EXPECT_EQ(clock_domain(Record(lines({"v=0", "a=clock-domain:PTPv2 1", "m=audio 1 RTP/AVP 96",
                                       "a=clock-domain:PTPv2 2"}))),
            "PTPv2 2");
  EXPECT_EQ(clock_domain(Record(aes67_record({"a=ts-refclk:ptp=IEEE1588-2008:39-A7-94-FF-FE-07-CB-D0:5\r"},
                                             "\r\n"))),
            "IEEE1588-2008 5");
  EXPECT_TRUE(capture.contains("Unable to find velanto compatible clock domain field"));

  // An unreadable velanto value gives way to the AES67 one.
  capture.clear();
  EXPECT_EQ(clock_domain(Record(aes67_record({"a=clock-domain:PTPv2", "a=ts-refclk:ptp=IEEE1588-2008:aa:0"}))),
            "IEEE1588-2008 0");
  EXPECT_EQ(capture.count("Scanning sdp for velanto clock domain failed: "), 1);

  // Not of the form ptp=version:identity:domain.
  EXPECT_EQ(clock_domain(Record(aes67_record({"a=ts-refclk:ptp=IEEE1588-2008:traceable"}))), "failed");
  EXPECT_EQ(clock_domain(Record(aes67_record({"a=ts-refclk:localmac=00-11-22-33-44-55"}))), "failed");
  EXPECT_EQ(clock_domain(Record(aes67_record({"a=ts-refclk:ptp=IEEE1588-2008::0"}))), "failed");
  EXPECT_EQ(clock_domain(Record(aes67_record({"a=ts-refclk:ptp=IEEE1588-2008:aa:0:1"}))), "failed");
  EXPECT_EQ(clock_domain(Record(aes67_record({"a=ts-refclk:ptp=IEEE1588-2008:aa:x"}))), "failed");

  capture.clear();
  EXPECT_EQ(clock_domain(Record(aes67_record({}))), "failed");
  EXPECT_EQ(capture.count("Unable to find velanto compatible clock domain field in sdp record!"), 1);
  EXPECT_EQ(capture.count("Unable to find aes67 compatible clock domain field in sdp record!"), 1);
}

TEST(SdpClock, DomainFitsItsField) {
  const Record record(aes67_record({"a=clock-domain:PTPv2 0"}));
  Guarded<8> fits;  // "PTPv2 0" and its terminator
  Guarded<7> too_small;
  EXPECT_EQ(vl_sdp_clock_domain(record.c_str(), fits.field, sizeof fits.field), 0);
  EXPECT_EQ(fits.text(), "PTPv2 0");
  EXPECT_EQ(vl_sdp_clock_domain(record.c_str(), too_small.field, sizeof too_small.field), -1);
  EXPECT_TRUE(too_small.zeroed());
  EXPECT_TRUE(fits.intact() && too_small.intact());
  EXPECT_EQ(vl_sdp_clock_domain(record.c_str(), nullptr, 8), -1);
  EXPECT_EQ(errno, EFAULT);

  const std::string name(vl_sdp_clock_name_max, 'N');
  EXPECT_EQ(clock_domain(Record(aes67_record({"a=clock-domain:" + name + " 3"}))), name + " 3");
  EXPECT_EQ(clock_domain(Record(aes67_record({"a=clock-domain:" + name + "N 3"}))), "failed");
  EXPECT_EQ(clock_domain(Record(aes67_record({"a=ts-refclk:ptp=" + name + "N:aa:0"}))), "failed");
  EXPECT_EQ(clock_domain(Record(aes67_record({"a=ts-refclk:ptp=IEEE1588-2008:" + name + "N:0"}))),
            "failed");
}

TEST(SdpClock, SyncTime) {
  vltest::LogCapture capture;
  auto sync = [](const std::string& text, uint32_t* value) {
    return vl_sdp_sync_time(Record(text).c_str(), value);
  };
  uint32_t value = 0;
  EXPECT_EQ(sync(aes67_record({"a=sync-time:4294967295\r"}), &value), 0);
  EXPECT_EQ(value, 4294967295u);
  EXPECT_EQ(sync(lines({"v=0", "a=mediaclk:direct=1234567890 rate=48000/1", "m=audio 1 RTP/AVP 96"}),
                 &value),
            0);
  EXPECT_EQ(value, 1234567890u);
  // Where AES67 devices put it: at media level, before the session's.
  EXPECT_EQ(sync(lines({"v=0", "a=mediaclk:direct=5", "m=audio 1 RTP/AVP 96", "a=mediaclk:direct=7"}), &value), 0);
  EXPECT_EQ(value, 7u);
  EXPECT_TRUE(capture.records().empty());

  // An unreadable velanto value gives way to the session-level mediaclk.
  const std::string fallback =
      lines({"v=0", "a=mediaclk:direct=5", "m=audio 1 RTP/AVP 96", "a=sync-time:-1"});
  EXPECT_EQ(sync(fallback, &value), 0);
  EXPECT_EQ(value, 5u);
  EXPECT_EQ(capture.count("Scanning sdp for velanto type synchronization time failed: "), 1);

  value = 77;
  EXPECT_EQ(sync(aes67_record({"a=sync-time:4294967296"}), &value), -1);
  EXPECT_EQ(sync(lines({"v=0", "a=mediaclk:sender", "m=audio 1 RTP/AVP 96"}), &value), -1);
  EXPECT_EQ(sync(lines({"v=0", "a=mediaclk:direct=", "0"}), &value), -1);
  EXPECT_EQ(capture.count("Scanning sdp for aes67 type synchronization time failed: "), 2);
  EXPECT_EQ(value, 77u);
  EXPECT_EQ(vl_sdp_sync_time(Record("v=0\n").c_str(), nullptr), -1);
}

TEST(SdpFrameCount, PacketTimesRoundToNearestFrame) {
  EXPECT_EQ(frame_count_with("a=rtpmap:96 L24/48000/8", "a=ptime:1"), 48);
  EXPECT_EQ(frame_count_with("a=rtpmap:96 L24/48000/8", "a=ptime:0.125"), 6);
  EXPECT_EQ(frame_count_with("a=rtpmap:96 L24/48000/8", "a=ptime:0.333"), 16);
  EXPECT_EQ(frame_count_with("a=rtpmap:96 L24/48000/8", "a=ptime:0.250"), 12);
  EXPECT_EQ(frame_count_with("a=rtpmap:96 L24/48000/8", "a=ptime:4"), 192);
  EXPECT_EQ(frame_count_with("a=rtpmap:96 L16/44100/2", "a=ptime:1"), 44);
  EXPECT_EQ(frame_count_with("a=rtpmap:96 L16/44100/2", "a=ptime:0.02"), 1);  // 0.882
  EXPECT_EQ(frame_count_with("a=rtpmap:96 L24/96000/2", "a=ptime:1"), 96);
  EXPECT_EQ(frame_count_with("a=rtpmap:96 L24/96000", "a=ptime:.5"), 48);
  EXPECT_EQ(frame_count_with("a=rtpmap:96 L24/48000/2", "a=ptime:1.\r"), 48);
  EXPECT_EQ(frame_count_with("a=rtpmap:96 L24/48000/2", "a=ptime:0." + std::string(10000, '3')), 16);
}

TEST(SdpFrameCount, VelantoCountWinsAndNegativeFallsBackSilently) {
  vltest::LogCapture capture;
  const std::string rtpmap = "a=rtpmap:96 L24/48000/8";
  EXPECT_EQ(vl_sdp_frame_count(Record(aes67_record({rtpmap, "a=ptime:1", "a=framecount:64"})).c_str()), 64);
  EXPECT_EQ(vl_sdp_frame_count(Record(aes67_record({"a=framecount:0"})).c_str()), 0);
  EXPECT_EQ(vl_sdp_frame_count(Record(aes67_record({rtpmap, "a=ptime:1", "a=framecount:-1"})).c_str()), 48);
  EXPECT_TRUE(capture.records().empty());

  EXPECT_EQ(vl_sdp_frame_count(Record(aes67_record({rtpmap, "a=ptime:1", "a=framecount:many"})).c_str()), 48);
  EXPECT_EQ(vl_sdp_frame_count(
                Record(aes67_record({rtpmap, "a=ptime:1", "a=framecount:99999999999"})).c_str()),
            48);
  EXPECT_EQ(capture.count("Scanning sdp for velanto style frame count failed: "), 2);
}

TEST(SdpFrameCount, FailuresOfThePacketTime) {
  vltest::LogCapture capture;
  auto count = [](std::initializer_list<std::string_view> attributes) {
    return vl_sdp_frame_count(Record(aes67_record(attributes)).c_str());
  };
  EXPECT_EQ(count({"a=rtpmap:96 L24/48000/8"}), -1);
  EXPECT_EQ(capture.count("Unable to find aes67 style frame count information in sdp record!"), 1);

  EXPECT_EQ(count({"a=rtpmap:96 L24/48000/8", "a=ptime:abc"}), -1);
  EXPECT_EQ(count({"a=rtpmap:96 L24/48000/8", "a=ptime:-1"}), -1);
  EXPECT_EQ(count({"a=rtpmap:96 L24/48000/8", "a=ptime:0"}), -1);
  EXPECT_EQ(count({"a=rtpmap:96 L24/48000/8", "a=ptime:1e1"}), -1);
  EXPECT_EQ(count({"a=rtpmap:96 L24/48000/8", "a=ptime:", "1"}), -1);
  EXPECT_EQ(count({"a=rtpmap:96 L24/48000/8", "a=ptime:" + std::string(10000, '9')}), -1);
  EXPECT_EQ(capture.count("Scanning sdp for aes67 style frame count failed: "), 6);

  EXPECT_EQ(count({"a=rtpmap:96 L24", "a=ptime:1"}), -1);
  EXPECT_EQ(count({"a=rtpmap:96 L24/", "a=ptime:1"}), -1);
  EXPECT_EQ(count({"a=rtpmap:96 L24/0/2", "a=ptime:1"}), -1);
  EXPECT_EQ(count({"a=ptime:1"}), -1);
  EXPECT_EQ(capture.count("Scanning sdp for aes67 style encoding failed: "), 4);
  EXPECT_EQ(capture.count("Unable to find encoding information in sdp record!"), 1);
}

// Records as AES67 equipment publishes them: no velanto attribute, CRLF line
// ends, clock attributes at either level.
TEST(SdpAes67Records, ParseWithoutVelantoAttributes) {
  struct Case {
    std::string text;
    std::string name, address, encoding, domain;
    int ttl, port, payload, frames;
    long long sync;  // -1 for none
  };
  const Case cases[] = {
      {lines({"v=0", "o=- 38 41 IN IP4 192.168.0.20", "s=Console out 1-8", "t=0 0",
              "a=ts-refclk:ptp=IEEE1588-2008:00-0A-35-FF-FE-00-11-22:0", "a=mediaclk:direct=0",
              "m=audio 5004 RTP/AVP 96", "c=IN IP4 239.69.0.20/32", "a=rtpmap:96 L24/48000/8",
              "a=ptime:1", "a=recvonly"},
             "\r\n"),
       "Console out 1-8", "239.69.0.20", "L24/48000/8", "IEEE1588-2008 0", 32, 5004, 96, 48, 0},
      {lines({"v=0", "o=- 1700000000 1700000001 IN IP4 10.10.1.5", "s=Stage rack : 2", "t=0 0",
              "a=mediaclk:direct=2768935512", "m=audio 5006 RTP/AVP 98",
              "c=IN IP4 239.10.1.5/15", "a=rtpmap:98 L24/48000/2", "a=ptime:0.125",
              "a=ts-refclk:ptp=IEEE1588-2008:AC-DE-48-FF-FE-23-45-67:3",
              "a=source-filter:incl IN IP4 239.10.1.5 10.10.1.5"},
             "\r\n"),
       "Stage rack : 2", "239.10.1.5", "L24/48000/2", "IEEE1588-2008 3", 15, 5006, 98, 6,
       2768935512},
      {lines({"v=0", "o=- 5 5 IN IP4 172.16.0.9", "s=Mic pre", "t=0 0", "m=audio 5004 RTP/AVP 97",
              "c=IN IP4 239.16.0.9/64", "a=rtpmap:97 L16/48000/2", "a=ptime:4",
              "a=ts-refclk:ptp=IEEE1588-2008:00-11-22-FF-FE-33-44-55:127", "a=recvonly"},
             "\r\n"),
       "Mic pre", "239.16.0.9", "L16/48000/2", "IEEE1588-2008 127", 64, 5004, 97, 192, -1},
      {lines({"v=0", "o=- 77 77 IN IP4 192.168.5.5", "s=Playback", "t=0 0",
              "a=mediaclk:direct=123", "m=audio 5004 RTP/AVP 100", "c=IN IP4 239.5.5.5/32",
              "a=rtpmap:100 L24/48000/16", "a=ptime:0.333",
              "a=ts-refclk:ptp=IEEE1588-2008:00-11-22-FF-FE-33-44-66:0"}),
       "Playback", "239.5.5.5", "L24/48000/16", "IEEE1588-2008 0", 32, 5004, 100, 16, 123},
      {lines({"v=0", "o=- 8 8 IN IP4 192.168.7.7", "s=Hi-res", "t=0 0", "m=audio 5008 RTP/AVP 101",
              "c=IN IP4 239.7.7.7", "a=rtpmap:101 L24/96000/2", "a=ptime:1",
              "a=ts-refclk:ptp=IEEE1588-2008:00-11-22-FF-FE-33-44-77:1"},
             "\r\n"),
       "Hi-res", "239.7.7.7", "L24/96000/2", "IEEE1588-2008 1", 1, 5008, 101, 96, -1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const Record record(c.text);
    const char* sdp = record.c_str();
    Guarded<128> name;
    Addr dst;
    EXPECT_EQ(vl_sdp_version(sdp), 0);
    EXPECT_EQ(vl_sdp_stream_name(sdp, name.field, 127), 0);
    EXPECT_EQ(name.text(), c.name);
    EXPECT_EQ(vl_sdp_dst_addr(sdp, dst.field), c.ttl);
    EXPECT_EQ(dst.text(), c.address);
    EXPECT_EQ(vl_sdp_dst_port(sdp), c.port);
    EXPECT_EQ(encoding(record), c.encoding);
    EXPECT_EQ(vl_sdp_rtp_payload(sdp), c.payload);
    EXPECT_EQ(clock_domain(record), c.domain);
    EXPECT_EQ(vl_sdp_frame_count(sdp), c.frames);
    uint32_t sync = 0;
    EXPECT_EQ(vl_sdp_sync_time(sdp, &sync), c.sync < 0 ? -1 : 0);
    if (c.sync >= 0) {
      EXPECT_EQ(sync, c.sync);
    }
    EXPECT_TRUE(name.intact() && dst.intact());
  }
}

template <std::size_t N>
void expect_clean_word(const Guarded<N>& out) {
  EXPECT_TRUE(out.intact());
  EXPECT_TRUE(out.terminated());
  EXPECT_EQ(out.text().find_first_of(" \t\r\n"), std::string::npos);
}

// Every accessor on one record: results within their ranges, output fields
// terminated and their neighbours untouched.
void check_all_accessors(const Record& record) {
  const char* sdp = record.c_str();
  EXPECT_GE(vl_sdp_version(sdp), -1);

  Addr origin, dst, src;
  EXPECT_GE(vl_sdp_originator(sdp, origin.field), -1);
  const int ttl = vl_sdp_dst_addr(sdp, dst.field);
  EXPECT_TRUE(ttl >= -1 && ttl <= 255) << ttl;
  EXPECT_TRUE(ttl < 0 ? dst.zeroed() : !dst.text().empty());
  EXPECT_GE(vl_sdp_src_addr(sdp, src.field), -1);
  for (const Addr* a : {&origin, &dst, &src}) expect_clean_word(*a);
  EXPECT_EQ(dst.text().find('/'), std::string::npos);

  Guarded<32> name;
  const int name_rc = vl_sdp_stream_name(sdp, name.field, 31);
  EXPECT_GE(name_rc, -1);
  EXPECT_TRUE(name.intact());
  EXPECT_EQ(name.text().find_first_of("\r\n"), std::string::npos);

  const int port = vl_sdp_dst_port(sdp);
  EXPECT_TRUE(port >= 0 && port <= 65535);
  const int payload = vl_sdp_rtp_payload(sdp);
  EXPECT_TRUE(payload >= -1 && payload <= 127);

  Guarded<vl_sdp_encoding_max> enc;
  EXPECT_GE(vl_sdp_encoding(sdp, enc.field, sizeof enc.field), -1);
  Guarded<vl_sdp_clock_domain_max> domain;
  EXPECT_GE(vl_sdp_clock_domain(sdp, domain.field, sizeof domain.field), -1);
  expect_clean_word(enc);
  EXPECT_TRUE(domain.intact() && domain.terminated());
  EXPECT_EQ(domain.text().find_first_of("\r\n"), std::string::npos);

  uint32_t sync = 0;
  EXPECT_GE(vl_sdp_sync_time(sdp, &sync), -1);
  EXPECT_GE(vl_sdp_frame_count(sdp), -1);

  for (const char* attr : {"ptime", "rtpmap", "framecount", "x"}) {
    const char* value = vl_sdp_lookup_attr(sdp, 1, attr);
    EXPECT_TRUE(!value || (value > sdp && value <= record.terminator()));
  }
}

// Keeps the thousands of expected failures out of the log.
class QuietLog {
 public:
  QuietLog() {
    if (!vl_log_general()) vl_log_init("vltest");
    category_ = log4c_category_get("velanto");
    saved_ = log4c_category_get_priority(category_);
    log4c_category_set_priority(category_, VL_LOG_FATAL);
  }
  ~QuietLog() { log4c_category_set_priority(category_, saved_); }

 private:
  log4c_category_t* category_;
  int saved_;
};

TEST(SdpHostile, LongTokens) {
  QuietLog quiet;
  const std::string huge(5000, '9');
  const std::string word(5000, 'w');
  const std::string records[] = {
      "o=- " + word + " 1 IN IP4 " + huge + "\n",
      "s=" + word + "\n",
      "m=audio " + huge + " RTP/AVP 96\nc=IN IP4 " + huge + "/" + huge + "\n",
      "m=audio 1 RTP/AVP 96\nc=IN IP4 1.2.3.4/" + huge + "\n",
      "m=audio 1 RTP/AVP 96\na=rtpmap:" + huge + " " + word + "\na=ptime:" + huge + "\n",
      "m=audio 1 RTP/AVP 96\na=rtpmap:96 L24/" + huge + "/2\na=ptime:1\n",
      "m=audio 1 RTP/AVP 96\na=source-filter:incl IN IP4 " + word + " " + word + "\n",
      "a=clock-domain:" + word + " " + huge + "\na=ts-refclk:ptp=" + word + ":" + word + ":" + huge,
      "v=0\nm=audio 1 RTP/AVP 96\na=sync-time:" + huge + "\na=framecount:" + huge + "\n",
      "a=mediaclk:direct=" + huge + "\nm=audio 1 RTP/AVP 96\na=" + std::string(10000, 'a'),
      "v=0\nm=audio 1 RTP/AVP 96\na=ptime:" + std::string(10000, ' '),
      std::string(10000, 'a') + "\n" + std::string(10000, 'm'),
  };
  for (const std::string& text : records) {
    SCOPED_TRACE(text.substr(0, 40));
    check_all_accessors(Record(text));
  }
  Guarded<128> name;
  EXPECT_EQ(vl_sdp_stream_name(Record("s=" + word + "\n").c_str(), name.field, 127), 5000);
  EXPECT_TRUE(name.zeroed(127));
  Addr addr;
  EXPECT_EQ(vl_sdp_originator(Record("o=- 1 1 IN IP4 " + word).c_str(), addr.field), -1);
  EXPECT_EQ(vl_sdp_originator(Record("o=- 1 1 IN IP4 1234567890123456").c_str(), addr.field), -1);
  EXPECT_EQ(vl_sdp_originator(Record("o=- 1 1 IN IP4 123456789012345").c_str(), addr.field), 0);
  EXPECT_TRUE(addr.intact());
}

TEST(SdpHostile, MissingNewlinesAndTruncation) {
  QuietLog quiet;
  const std::string full = stage_box(true);
  std::string flat = full;
  for (char& c : flat)
    if (c == '\n') c = ' ';
  check_all_accessors(Record(flat));
  EXPECT_EQ(vl_sdp_frame_count(Record(flat).c_str()), -1);

  // Every prefix of the record, so that each accessor meets the terminator
  // at every position of its line.
  for (std::size_t n = 0; n <= full.size(); ++n) check_all_accessors(Record(full.substr(0, n)));
  for (std::size_t n = 0; n <= full.size(); ++n) {
    std::string crlf = lines({full.substr(0, n)}, "\r");
    check_all_accessors(Record(crlf));
  }
}

TEST(SdpHostile, RandomBytesAndMutations) {
  QuietLog quiet;
  std::mt19937 random(20240611);
  auto below = [&](std::size_t n) { return std::uniform_int_distribution<std::size_t>(0, n - 1)(random); };

  for (int round = 0; round < 400; ++round) {
    std::string garbage(below(300), '\0');
    for (char& c : garbage) c = static_cast<char>(1 + below(255));
    check_all_accessors(Record(garbage));
  }

  const std::string pieces[] = {"\n", "\r\n", "\r", " ", ":", "/", "=", "a=", "m=", "c=", "s=",
                                "o=- ", "IN IP4 ", "incl ", "ptp=", "direct=", "-", "0", "9",
                                "4294967296", "/32", "rtpmap", "ptime", "framecount", "sync-time",
                                "clock-domain", "ts-refclk", "mediaclk", "source-filter"};
  const std::string base = stage_box(true);
  for (int round = 0; round < 2000; ++round) {
    std::string text = base;
    for (std::size_t edits = 1 + below(6); edits > 0; --edits) {
      const std::size_t at = below(text.size() + 1);
      switch (below(3)) {
        case 0:
          text.insert(at, pieces[below(std::size(pieces))]);
          break;
        case 1:
          text.erase(at, below(12));
          break;
        default:
          if (at < text.size()) text[at] = static_cast<char>(1 + below(255));
      }
    }
    check_all_accessors(Record(text));
    if (HasFailure()) {
      ADD_FAILURE() << "record: " << text;
      break;
    }
  }
}

}  // namespace
