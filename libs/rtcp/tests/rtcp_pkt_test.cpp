#include "rtcp/rtcp_pkt.h"

#include "rtcp_test_support.h"
#include "vltest/log_capture.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <linux/filter.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <string>
#include <vector>

namespace {

using rtcptest::Bytes;
using rtcptest::RecordingSink;

constexpr uint32_t local_ssrc = 0x11223344;
constexpr uint32_t peer_ssrc = 0x55667788;
const char* const cname_10 = "a@10.0.0.1";

const VlSenderInfo sender_info{0xAAAAAAAA, 0xE1000001, 0x80000000, 0x00012345, 100, 28800};
const VlReceiverInfo receiver_info{peer_ssrc, 0x01000002, 0x0001FFFF, 7, 0x12345678, 0x00010000, 0, "peer", 0, 0,
                                   nullptr};
const VlReceiverInfo* const one_receiver[] = {&receiver_info};
const VlReceiverInfo* const unavailable_receiver[] = {nullptr};

#define SENDER_INFO_BYTES \
  0xE1, 0x00, 0x00, 0x01, 0x80, 0x00, 0x00, 0x00, 0x00, 0x01, 0x23, 0x45, 0x00, 0x00, 0x00, 0x64, 0x00, 0x00, 0x70, 0x80
#define BLOCK_BYTES                                                                                                 \
  0x55, 0x66, 0x77, 0x88, 0x01, 0x00, 0x00, 0x02, 0x00, 0x01, 0xFF, 0xFF, 0x00, 0x00, 0x00, 0x07, 0x12, 0x34, 0x56, \
      0x78, 0x00, 0x01, 0x00, 0x00
#define LOCAL_SSRC_BYTES 0x11, 0x22, 0x33, 0x44
#define PEER_SSRC_BYTES 0x55, 0x66, 0x77, 0x88

VlRtcpReport report(bool has_sender, const VlSenderInfo* info, std::span<const VlReceiverInfo* const> receivers,
                    bool closed = false) {
  return VlRtcpReport{local_ssrc, cname_10, has_sender, info, closed, receivers};
}

Bytes write(uint8_t type, const VlRtcpReport& rtcp_report) {
  Bytes out(vl_rtcp_compound_size, 0xEE);
  const int size = vl_rtcppacket_write(type, rtcp_report, out);
  out.resize(size < 0 ? 0 : static_cast<std::size_t>(size));
  return out;
}

Bytes concat(const std::vector<Bytes>& parts) {
  Bytes all;
  for (const Bytes& part : parts) all.insert(all.end(), part.begin(), part.end());
  return all;
}

std::vector<std::string> evaluate(const Bytes& datagram, uint32_t ssrc = local_ssrc) {
  RecordingSink sink;
  // An exact-size copy, so that the sanitizer sees any read past the datagram.
  const Bytes exact(datagram);
  evaluate_rtcp_pkt(exact, VlRtcpEndpoint{ssrc, "239.1.2.3", 5005}, sink);
  return sink.events;
}

struct WriteCase {
  const char* name;
  uint8_t type;
  VlRtcpReport report;
  Bytes expected;
};

const Bytes sr_count_0 = {0x80, 0xC8, 0x00, 0x06, LOCAL_SSRC_BYTES, SENDER_INFO_BYTES};
const Bytes sdes_10 = {0x81, 0xCA, 0x00, 0x05, LOCAL_SSRC_BYTES, 0x01, 0x0A, 'a', '@', '1', '0', '.', '0', '.',
                       '0',  '.',  '1',  0x00, 0x00, 0x00,      0x00};
const Bytes bye = {0x81, 0xCB, 0x00, 0x01, LOCAL_SSRC_BYTES};

TEST(RtcpPacketWrite, GoldenPackets) {
  const WriteCase cases[] = {
      {"SR with count 0", vl_rtcp_sr, report(true, &sender_info, {}), sr_count_0},
      {"SR with a block", vl_rtcp_sr, report(true, &sender_info, one_receiver),
       {0x81, 0xC8, 0x00, 0x0C, LOCAL_SSRC_BYTES, SENDER_INFO_BYTES, BLOCK_BYTES}},
      {"SR without sender statistics", vl_rtcp_sr, report(true, nullptr, one_receiver), {0x80, 0xC8, 0x00, 0x00}},
      {"RR with one block", vl_rtcp_rr, report(false, nullptr, one_receiver),
       {0x81, 0xC9, 0x00, 0x07, LOCAL_SSRC_BYTES, BLOCK_BYTES}},
      {"RR without receiver statistics", vl_rtcp_rr, report(false, nullptr, unavailable_receiver),
       concat({{0x81, 0xC9, 0x00, 0x07, LOCAL_SSRC_BYTES}, Bytes(24, 0)})},
      {"RR without receivers", vl_rtcp_rr, report(false, nullptr, {}), {0x80, 0xC9, 0x00, 0x01, LOCAL_SSRC_BYTES}},
      {"SDES for a 10-character CNAME", vl_rtcp_sdes, report(false, nullptr, {}), sdes_10},
      {"BYE of a closed sender", vl_rtcp_bye, report(true, &sender_info, {}, true), bye},
      {"no BYE for an open sender", vl_rtcp_bye, report(true, &sender_info, {}), {}},
      {"no BYE without a sender", vl_rtcp_bye, report(false, nullptr, one_receiver, true), {}},
  };
  for (const WriteCase& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(write(c.type, c.report), c.expected);
  }
}

TEST(RtcpPacketWrite, RefusesOtherTypesAndShortBuffers) {
  Bytes out(sr_count_0.size() - 1);
  errno = 0;
  EXPECT_EQ(vl_rtcppacket_write(204, report(true, &sender_info, {}), out), -1);
  EXPECT_EQ(errno, EINVAL);
  EXPECT_EQ(vl_rtcppacket_write(vl_rtcp_sr, report(true, &sender_info, {}), out), -1);
  EXPECT_EQ(errno, ENOBUFS);
  out.push_back(0);
  EXPECT_EQ(vl_rtcppacket_write(vl_rtcp_sr, report(true, &sender_info, {}), out), 28);
  EXPECT_EQ(out, sr_count_0);
}

TEST(RtcpPacketWrite, SdesCutsTheCnameTo126Characters) {
  const std::string long_cname(200, 'c');
  VlRtcpReport rtcp_report = report(false, nullptr, {});
  rtcp_report.cname = long_cname.c_str();
  const Bytes packet = write(vl_rtcp_sdes, rtcp_report);
  ASSERT_EQ(packet.size(), 140u);  // header, SSRC, item header, 126 characters, end, padding
  EXPECT_EQ(packet[3], 140 / 4 - 1);
  EXPECT_EQ(packet[9], 126);
  EXPECT_EQ(packet[10 + 125], 'c');
  EXPECT_EQ(packet[10 + 126], 0);
}

TEST(RtcpPacketWrite, ReportsOn31ReceiversAtMost) {
  const std::vector<const VlReceiverInfo*> receivers(40, &receiver_info);
  const Bytes packet = write(vl_rtcp_rr, report(false, nullptr, receivers));
  ASSERT_EQ(packet.size(), 8u + 31 * 24);
  EXPECT_EQ(packet[0], 0x80 | 31);
}

TEST(RtcpCompoundWrite, FirstPacketThenSdesThenByeWhenDue) {
  Bytes out(vl_rtcp_compound_size);
  const int closed_size = vl_rtcp_compound_write(report(true, &sender_info, {}, true), out);
  ASSERT_GT(closed_size, 0);
  out.resize(static_cast<std::size_t>(closed_size));
  EXPECT_EQ(out, concat({sr_count_0, sdes_10, bye}));

  Bytes receiver_only(vl_rtcp_compound_size);
  const int rr_size = vl_rtcp_compound_write(report(false, nullptr, {}), receiver_only);
  ASSERT_GT(rr_size, 0);
  receiver_only.resize(static_cast<std::size_t>(rr_size));
  EXPECT_EQ(receiver_only, concat({{0x80, 0xC9, 0x00, 0x01, LOCAL_SSRC_BYTES}, sdes_10}));

  // Nothing sent yet: no SR, whose timing a peer would take.
  VlSenderInfo nothing_sent{};
  Bytes before_first(vl_rtcp_compound_size);
  const int before_size = vl_rtcp_compound_write(report(true, &nothing_sent, {}), before_first);
  ASSERT_GT(before_size, 0);
  before_first.resize(static_cast<std::size_t>(before_size));
  EXPECT_EQ(before_first, concat({{0x80, 0xC9, 0x00, 0x01, LOCAL_SSRC_BYTES}, sdes_10}));

  Bytes too_small(sr_count_0.size() + sdes_10.size());
  errno = 0;
  EXPECT_EQ(vl_rtcp_compound_write(report(true, &sender_info, {}, true), too_small), -1);
  EXPECT_EQ(errno, ENOBUFS);
}

// What the session's peer finds in the report it sends.
TEST(RtcpCompoundWrite, EvaluatesBackToTheStatisticsItWasWrittenFrom) {
  Bytes out(vl_rtcp_compound_size);
  const int size = vl_rtcp_compound_write(report(true, &sender_info, one_receiver, true), out);
  ASSERT_GT(size, 0);
  out.resize(static_cast<std::size_t>(size));
  EXPECT_EQ(evaluate(out, peer_ssrc), (std::vector<std::string>{
                                          "sr 11223344: e1000001 80000000 12345 64 7080",
                                          "block 11223344: 55667788 1000002 1ffff 7 12345678 10000",
                                          "cname 11223344 a@10.0.0.1",
                                          "bye 11223344",
                                      }));
}

struct EvaluateCase {
  const char* name;
  Bytes datagram;
  std::vector<std::string> expected;
};

TEST(RtcpEvaluate, GoldenDatagrams) {
  const EvaluateCase cases[] = {
      {"compound SR + SDES + BYE",
       {0x81, 0xC8, 0x00, 0x0C, PEER_SSRC_BYTES, SENDER_INFO_BYTES, LOCAL_SSRC_BYTES, 0x01, 0x00, 0x00, 0x02, 0x00,
        0x01, 0xFF, 0xFF, 0x00, 0x00, 0x00, 0x07, 0x12, 0x34, 0x56, 0x78, 0x00, 0x01, 0x00, 0x00,  //
        0x81, 0xCA, 0x00, 0x04, PEER_SSRC_BYTES, 0x01, 0x09, 'p', 'e', 'e', 'r', '@', 'h', 'o', 's', 't', 0x00,  //
        0x81, 0xCB, 0x00, 0x01, PEER_SSRC_BYTES},
       {"sr 55667788: e1000001 80000000 12345 64 7080", "block 55667788: 11223344 1000002 1ffff 7 12345678 10000",
        "cname 55667788 peer@host", "bye 55667788"}},
      {"RR passes on only the block about the local source",
       {0x82, 0xC9, 0x00, 0x0D, PEER_SSRC_BYTES,                                                         //
        0x99, 0x99, 0x99, 0x99, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9,             //
        LOCAL_SSRC_BYTES, 0, 0, 0, 1, 0, 0, 0, 2, 0, 0, 0, 3, 0, 0, 0, 4, 0, 0, 0, 5},
       {"block 55667788: 11223344 1 2 3 4 5"}},
      {"SDES with CNAME then NAME",
       {0x81, 0xCA, 0x00, 0x04, PEER_SSRC_BYTES, 0x01, 0x04, 'a', 'b', 'c', 'd', 0x02, 0x03, 'B', 'o', 'b', 0x00},
       {"cname 55667788 abcd"}},
      {"SDES with two chunks",
       {0x82, 0xCA, 0x00, 0x05, PEER_SSRC_BYTES, 0x01, 0x01, 'x', 0x00,  //
        0x99, 0x99, 0x99, 0x99, 0x01, 0x02, 'y', 'z', 0x00, 0x00, 0x00, 0x00},
       {"cname 55667788 x", "cname 99999999 yz"}},
      {"unknown type skipped",
       {0x80, 0xCC, 0x00, 0x01, 0, 0, 0, 0, 0x81, 0xCB, 0x00, 0x01, PEER_SSRC_BYTES},
       {"bye 55667788"}},
      {"SR with count 31 at the end",
       {0x9F, 0xC8, 0x00, 0x06, PEER_SSRC_BYTES, SENDER_INFO_BYTES},
       {"sr 55667788: e1000001 80000000 12345 64 7080"}},
      {"RR with count 31 at the end", {0x9F, 0xC9, 0x00, 0x01, PEER_SSRC_BYTES}, {}},
      {"RR with count 31 and no SSRC", {0x9F, 0xC9, 0x00, 0x00, 0x81, 0xCB, 0x00, 0x01, PEER_SSRC_BYTES},
       {"bye 55667788"}},
      {"BYE with count 31 at the end", {0x9F, 0xCB, 0x00, 0x01, PEER_SSRC_BYTES}, {"bye 55667788"}},
      {"SR shorter than its sender information",
       {0x80, 0xC8, 0x00, 0x03, PEER_SSRC_BYTES, 0, 0, 0, 0, 0, 0, 0, 0, 0x81, 0xCB, 0x00, 0x01, PEER_SSRC_BYTES},
       {"bye 55667788"}},
      {"SDES item running past the body",
       {0x81, 0xCA, 0x00, 0x03, PEER_SSRC_BYTES, 0x01, 0x02, 'a', 'b', 0x01, 0xFF, 'x', 'y'},
       {"cname 55667788 ab"}},
      {"SDES item list without its end", {0x81, 0xCA, 0x00, 0x02, PEER_SSRC_BYTES, 0x01, 0x02, 'a', 'b'},
       {"cname 55667788 ab"}},
      {"SDES item type in the body's last byte", {0x81, 0xCA, 0x00, 0x02, PEER_SSRC_BYTES, 0x01, 0x01, 'a', 0x03},
       {"cname 55667788 a"}},
      {"packet running past the datagram",
       {0x81, 0xCB, 0x00, 0x01, PEER_SSRC_BYTES, 0x80, 0xC8, 0x00, 0x06, PEER_SSRC_BYTES},
       {"bye 55667788"}},
  };
  for (const EvaluateCase& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(evaluate(c.datagram), c.expected);
  }
}

TEST(RtcpEvaluate, CnameLongerThanItsRecordIsCut) {
  Bytes sdes = {0x81, 0xCA, 0x00, 52, PEER_SSRC_BYTES, 0x01, 200};
  sdes.resize(sdes.size() + 200, 'c');
  sdes.resize(212, 0);  // end of the list and padding
  EXPECT_EQ(evaluate(sdes), (std::vector<std::string>{"cname 55667788 " + std::string(126, 'c')}));
}

// A datagram of four bytes can only hold a bare header; that it is not
// evaluated at all shows in the log.
TEST(RtcpEvaluate, IgnoresDatagramsUnderFiveBytes) {
  vltest::LogCapture capture;
  const rtcptest::RtcpLogPriority debug(VL_LOG_DEBUG);
  EXPECT_EQ(evaluate({0x80, 0xC9, 0x00, 0x00}), std::vector<std::string>{});
  EXPECT_FALSE(capture.contains("Received receiver report"));
  EXPECT_EQ(evaluate({0x80, 0xC9, 0x00, 0x00, 0x80, 0xC9, 0x00, 0x00}), std::vector<std::string>{});
  EXPECT_EQ(capture.count("Received receiver report for session: 239.1.2.3:5005"), 2);
}

// The session's port carries RTP too: behind the filter only RTCP arrives.
TEST(RtcpSocketFilter, KeepsOnlyRtcp) {
  const struct {
    const char* name;
    Bytes datagram;
    bool kept;
  } cases[] = {
      {"receiver report", {0x80, 0xC9, 0x00, 0x01, PEER_SSRC_BYTES}, true},
      {"sender report with blocks", {0x81, 0xC8, 0x00, 0x01, PEER_SSRC_BYTES}, true},
      {"RTP, payload type 98", {0x80, 0x62, 0x00, 0xC9, 0, 0, 0, 0, PEER_SSRC_BYTES}, false},
      {"RTP with marker", {0x80, 0xE2, 0x00, 0xC9, 0, 0, 0, 0, PEER_SSRC_BYTES}, false},
      {"version 1", {0x40, 0xC9, 0x00, 0x01, PEER_SSRC_BYTES}, false},
      {"one byte", {0x80}, false},
  };
  const int receiver = socket(AF_INET, SOCK_DGRAM, 0);
  const int sender = socket(AF_INET, SOCK_DGRAM, 0);
  ASSERT_GE(receiver, 0);
  ASSERT_EQ(setsockopt(receiver, SOL_SOCKET, SO_ATTACH_FILTER, vl_rtcp_socket_filter(), sizeof(sock_fprog)), 0);
  sockaddr_in at{};
  at.sin_family = AF_INET;
  at.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof at;
  ASSERT_EQ(bind(receiver, reinterpret_cast<sockaddr*>(&at), sizeof at), 0);
  ASSERT_EQ(getsockname(receiver, reinterpret_cast<sockaddr*>(&at), &length), 0);
  const timeval wait{0, 200000};
  setsockopt(receiver, SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof wait);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_EQ(sendto(sender, c.datagram.data(), c.datagram.size(), 0, reinterpret_cast<sockaddr*>(&at), sizeof at),
              static_cast<ssize_t>(c.datagram.size()));
    const Bytes marker = {0x80, 0xCA, 0x00, 0x00, 0x01};  // an SDES that always passes, after each case
    sendto(sender, marker.data(), marker.size(), 0, reinterpret_cast<sockaddr*>(&at), sizeof at);
    uint8_t got[64];
    ssize_t n = recv(receiver, got, sizeof got, 0);
    if (c.kept) {
      EXPECT_EQ(Bytes(got, got + std::max<ssize_t>(n, 0)), c.datagram);
      n = recv(receiver, got, sizeof got, 0);
    }
    EXPECT_EQ(Bytes(got, got + std::max<ssize_t>(n, 0)), marker);
  }
  close(sender);
  close(receiver);
}

}  // namespace
