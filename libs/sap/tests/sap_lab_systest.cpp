#include "sap_lab.h"

#include "vlsys/vl_time.h"
#include "vltest/log_capture.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <net/if.h>
#include <poll.h>

namespace {

using namespace saptest;

VlSapAnnouncerOptions slow_announcer() {
  VlSapAnnouncerOptions options;
  options.interval = 60s;  // only the first announcement comes within a test
  return options;
}

struct SapLab : ::testing::Test {
  void SetUp() override { ASSERT_TRUE(lab.ok()) << lab.error(); }

  // A directory on B's link with the default time-outs, so that whatever
  // goes from it within a test was deleted.
  void listen(const VlSapDirectoryOptions& options = {}) {
    directory = directory_in(lab, NetLab::B, {lab_interface(NetLab::B)}, options);
    ASSERT_TRUE(directory);
  }

  NetLab lab;
  std::unique_ptr<VlSapDirectory> directory;
};

TEST_F(SapLab, AnnouncedStreamIsListedWithItsFields) {
  listen();
  auto announcer = VlSapAnnouncer::create(slow_announcer());
  const std::string sdp = aes67_sdp("Stage box 1", "239.1.2.3", 5004);
  const uint64_t before = vl_realtime_ns();
  const VlSapStreamId id = add_in(lab, NetLab::A, *announcer, stream_in_a(sdp));
  ASSERT_NE(id, 0U);
  const uint16_t hash = announcer->msg_id_hash(id);
  ASSERT_TRUE(wait_listed(*directory, hash));

  const VlSapEntry e = *find_entry(*directory, hash);
  EXPECT_EQ(e.sap_origin, "198.18.0.1");
  EXPECT_EQ(e.interface, "veth1");
  EXPECT_EQ(e.announce_group, "239.255.255.255");
  EXPECT_EQ(e.fields.sdp_origin, "198.18.0.1");
  EXPECT_EQ(e.fields.session_name, "Stage box 1");
  EXPECT_EQ(e.fields.group, "239.1.2.3");
  EXPECT_EQ(e.fields.port, 5004);
  EXPECT_EQ(e.fields.encoding, "L24/48000/8");
  EXPECT_EQ(e.fields.channels, 8);
  EXPECT_DOUBLE_EQ(e.fields.ptime, 1.0);
  EXPECT_EQ(e.fields.clock_reference, "ptp=IEEE1588-2008:00-1D-C1-FF-FE-12-34-56:0");
  EXPECT_GE(e.last_seen_ns, before);
  EXPECT_LE(e.last_seen_ns, vl_realtime_ns());
  EXPECT_EQ(e.sdp, sdp);
  EXPECT_EQ(directory->list().size(), 1U);
}

TEST_F(SapLab, AnnouncementsRepeatAtTheInterval) {
  listen();
  VlSapAnnouncerOptions options;
  options.interval = 100ms;
  options.bandwidth_limit_bps = 0;
  auto announcer = VlSapAnnouncer::create(options);
  const auto start = std::chrono::steady_clock::now();
  ASSERT_NE(add_in(lab, NetLab::A, *announcer, stream_in_a(aes67_sdp("a", "239.1.2.3", 5004))), 0U);
  ASSERT_TRUE(vltest::wait_until([&] { return directory->stats().announcements >= 6; }, 5s));
  // Five intervals of at least 2/3 of 100 ms each.
  EXPECT_GE(std::chrono::steady_clock::now() - start, 5 * 66ms);
}

TEST_F(SapLab, RemovalDeletesTheEntryAtOnce) {
  listen();
  auto announcer = VlSapAnnouncer::create(slow_announcer());
  const VlSapStreamId keep = add_in(lab, NetLab::A, *announcer, stream_in_a(aes67_sdp("keep", "239.1.2.3", 5004)));
  const VlSapStreamId gone = add_in(lab, NetLab::A, *announcer, stream_in_a(aes67_sdp("gone", "239.1.2.4", 5004)));
  ASSERT_TRUE(wait_listed(*directory, announcer->msg_id_hash(keep)));
  ASSERT_TRUE(wait_listed(*directory, announcer->msg_id_hash(gone)));
  const uint16_t gone_hash = announcer->msg_id_hash(gone);

  EXPECT_TRUE(announcer->remove(gone));
  EXPECT_TRUE(wait_gone(*directory, gone_hash, 2s));
  EXPECT_TRUE(find_entry(*directory, announcer->msg_id_hash(keep)));
  EXPECT_EQ(directory->stats().deletions, 1U);
  EXPECT_FALSE(announcer->remove(gone));
  EXPECT_EQ(announcer->size(), 1U);
}

TEST_F(SapLab, SwitchingOffDeletesAndOnAnnouncesAtOnce) {
  listen();
  auto announcer = VlSapAnnouncer::create(slow_announcer());
  VlSapStreamConfig config = stream_in_a(aes67_sdp("switched", "239.1.2.3", 5004));
  config.enabled = false;
  const VlSapStreamId id = add_in(lab, NetLab::A, *announcer, config);
  ASSERT_NE(id, 0U);
  const uint16_t hash = announcer->msg_id_hash(id);

  EXPECT_TRUE(announcer->set_enabled(id, true));
  ASSERT_TRUE(wait_listed(*directory, hash, 2s));
  EXPECT_TRUE(announcer->set_enabled(id, false));
  EXPECT_TRUE(wait_gone(*directory, hash, 2s));
  EXPECT_TRUE(announcer->set_enabled(id, true));
  EXPECT_TRUE(wait_listed(*directory, hash, 2s));
  EXPECT_EQ(directory->stats().announcements, 2U);
}

TEST_F(SapLab, NewDescriptionReplacesTheOldVersion) {
  listen();
  auto announcer = VlSapAnnouncer::create(slow_announcer());
  const VlSapStreamId id = add_in(lab, NetLab::A, *announcer, stream_in_a(aes67_sdp("old", "239.1.2.3", 5004)));
  const uint16_t old_hash = announcer->msg_id_hash(id);
  ASSERT_TRUE(wait_listed(*directory, old_hash));

  ASSERT_TRUE(announcer->set_sdp(id, aes67_sdp("new", "239.1.2.3", 5004)));
  const uint16_t new_hash = announcer->msg_id_hash(id);
  EXPECT_NE(new_hash, old_hash);
  ASSERT_TRUE(wait_listed(*directory, new_hash, 2s));
  EXPECT_TRUE(wait_gone(*directory, old_hash, 2s));
  EXPECT_EQ(find_entry(*directory, new_hash)->fields.session_name, "new");
}

TEST_F(SapLab, StoppingDeletesEveryStream) {
  listen();
  auto announcer = VlSapAnnouncer::create(slow_announcer());
  for (const char* group : {"239.1.2.3", "239.1.2.4"})
    ASSERT_NE(add_in(lab, NetLab::A, *announcer, stream_in_a(aes67_sdp(group, group, 5004))), 0U);
  ASSERT_TRUE(vltest::wait_until([&] { return directory->list().size() == 2; }, 5s));

  announcer->stop();
  EXPECT_TRUE(vltest::wait_until([&] { return directory->list().empty(); }, 2s));
  EXPECT_EQ(directory->stats().deletions, 2U);
  int error = 0;
  EXPECT_EQ(add_in(lab, NetLab::A, *announcer, stream_in_a(aes67_sdp("late", "239.1.2.5", 5004)), &error), 0U);
  EXPECT_EQ(error, ESHUTDOWN);
}

TEST_F(SapLab, InvalidStreamsAreRefused) {
  auto announcer = VlSapAnnouncer::create(slow_announcer());
  const std::string sdp = aes67_sdp("x", "239.1.2.3", 5004);
  struct Case {
    const char* name;
    VlSapStreamConfig config;
    int error;
  };
  const Case cases[] = {
      {"no interface", {"", "198.18.0.1", sdp, 1, 0, true}, EINVAL},
      {"no address", {"veth0", "", sdp, 1, 0, true}, EINVAL},
      {"IPv6 address", {"veth0", "::1", sdp, 1, 0, true}, EINVAL},
      {"no SDP", {"veth0", "198.18.0.1", "", 1, 0, true}, EINVAL},
      {"SDP too large", {"veth0", "198.18.0.1", std::string(vl_sap_max_datagram, 'a'), 1, 0, true}, ENOBUFS},
  };
  for (const Case& c : cases) {
    int error = 0;
    EXPECT_EQ(add_in(lab, NetLab::A, *announcer, c.config, &error), 0U) << c.name;
    EXPECT_EQ(error, c.error) << c.name;
  }
  EXPECT_EQ(announcer->size(), 0U);
}

// Three announcements 100 ms apart give a period of 100 ms: the entry stays
// ten periods, beyond the shorter minimum, and then goes.
TEST_F(SapLab, SilenceRemovesTheEntryAfterTenPeriods) {
  VlSapDirectoryOptions options;
  options.min_timeout = 300ms;
  listen(options);
  RawSender sender(lab, vl_sap_group_aes67);
  const std::string sdp = aes67_sdp("silent", "239.1.2.3", 5004);
  for (int i = 0; i < 3; ++i) {
    if (i) std::this_thread::sleep_for(100ms);  // the announcer's pace, not a wait for a result
    ASSERT_TRUE(sender.send(announcement(0x1111, sdp)));
    ASSERT_TRUE(vltest::wait_until([&] { return directory->stats().announcements == static_cast<uint64_t>(i + 1); },
                                   2s));
  }
  const auto silent_since = std::chrono::steady_clock::now();
  ASSERT_TRUE(wait_gone(*directory, 0x1111, 5s));
  EXPECT_GE(std::chrono::steady_clock::now() - silent_since, 800ms);
  EXPECT_EQ(directory->stats().expired, 1U);
}

TEST_F(SapLab, EntryHeardOnceGoesAfterTheMinimumTimeOut) {
  VlSapDirectoryOptions options;
  options.min_timeout = 300ms;
  listen(options);
  RawSender sender(lab, vl_sap_group_aes67);
  ASSERT_TRUE(sender.send(announcement(0x2222, aes67_sdp("once", "239.1.2.3", 5004))));
  ASSERT_TRUE(wait_listed(*directory, 0x2222));
  const auto heard = std::chrono::steady_clock::now();
  ASSERT_TRUE(wait_gone(*directory, 0x2222, 5s));
  EXPECT_GE(std::chrono::steady_clock::now() - heard, 250ms);
}

TEST_F(SapLab, FloodOfBadPacketsLeavesTheDirectoryWorking) {
  vltest::LogCapture log;
  listen();
  auto announcer = VlSapAnnouncer::create(slow_announcer());
  const VlSapStreamId id = add_in(lab, NetLab::A, *announcer, stream_in_a(aes67_sdp("steady", "239.1.2.3", 5004)));
  const uint16_t hash = announcer->msg_id_hash(id);
  ASSERT_TRUE(wait_listed(*directory, hash));
  const VlSapEntry before = *find_entry(*directory, hash);

  const std::vector<Bytes> bad = bad_datagrams(hash);
  RawSender sender(lab, vl_sap_group_aes67);
  constexpr int rounds = 100;
  for (int round = 0; round < rounds; ++round)
    for (const Bytes& datagram : bad) ASSERT_TRUE(sender.send(datagram));
  // A good announcement after the flood shows the thread still reads. It
  // is repeated, as a socket buffer the flood filled drops datagrams.
  const Bytes good = announcement(0x4444, aes67_sdp("after", "239.1.2.9", 5004));
  ASSERT_TRUE(vltest::wait_until([&] { return sender.send(good) && find_entry(*directory, 0x4444); }, 5s, 50ms))
      << directory->stats().datagrams << " datagrams read";

  const VlSapEntry after = *find_entry(*directory, hash);
  EXPECT_EQ(after.sdp, before.sdp);
  EXPECT_EQ(after.fields.session_name, "steady");
  EXPECT_EQ(directory->list().size(), 2U);
  const VlSapDirectoryStats s = directory->stats();
  EXPECT_GT(s.malformed, 0U);
  EXPECT_GT(s.oversized, 0U);
  EXPECT_GT(s.compressed, 0U);
  EXPECT_GT(s.encrypted, 0U);
  EXPECT_GT(s.not_sdp, 0U);
  EXPECT_GT(s.no_hash, 0U);
  EXPECT_EQ(s.deletions, 0U);
  // Limited to about one line a second per kind, however many packets came.
  EXPECT_GE(log.count("Skipping"), 1);
  EXPECT_LE(log.count("Skipping"), 10);
  EXPECT_LE(log.count("Ignoring"), 10);
}

TEST_F(SapLab, TableStopsGrowingAtItsLimit) {
  VlSapDirectoryOptions options;
  options.max_entries = 3;
  listen(options);
  RawSender sender(lab, vl_sap_group_aes67);
  for (uint16_t hash = 1; hash <= 5; ++hash) ASSERT_TRUE(sender.send(announcement(hash, aes67_sdp("n", "239.1.2.3", 5004))));
  ASSERT_TRUE(vltest::wait_until([&] { return directory->stats().table_full == 2; }, 5s));
  EXPECT_EQ(directory->list().size(), 3U);
}

// The stream's interface is the second link: the packets must leave there,
// with the stream's TTL and DSCP, although A's multicast route is the first.
TEST_F(SapLab, PacketsLeaveOnlyThroughTheStreamsInterface) {
  ASSERT_TRUE(lab.add_second_link()) << lab.error();
  directory = directory_in(lab, NetLab::B,
                           {lab_interface(NetLab::B), {NetLab::second_link_device[NetLab::B],
                                                       NetLab::second_link_address[NetLab::B]}});
  ASSERT_TRUE(directory);
  int tap = -1;
  lab.run_in(NetLab::B, [&] {
    tap = socket(AF_INET, SOCK_DGRAM, 0);
    const int one = 1;
    setsockopt(tap, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    setsockopt(tap, IPPROTO_IP, IP_RECVTTL, &one, sizeof one);
    setsockopt(tap, IPPROTO_IP, IP_RECVTOS, &one, sizeof one);
    sockaddr_in at{};
    at.sin_family = AF_INET;
    at.sin_port = htons(vl_sap_port);
    inet_pton(AF_INET, vl_sap_group_aes67, &at.sin_addr);
    bind(tap, reinterpret_cast<sockaddr*>(&at), sizeof at);
    ip_mreq join{};
    inet_pton(AF_INET, vl_sap_group_aes67, &join.imr_multiaddr);
    inet_pton(AF_INET, NetLab::second_link_address[NetLab::B], &join.imr_interface);
    setsockopt(tap, IPPROTO_IP, IP_ADD_MEMBERSHIP, &join, sizeof join);
  });

  auto announcer = VlSapAnnouncer::create(slow_announcer());
  const VlSapStreamConfig config{NetLab::second_link_device[NetLab::A], NetLab::second_link_address[NetLab::A],
                                 aes67_sdp("second", "239.1.2.3", 5004), 7, 46, true};
  const VlSapStreamId id = add_in(lab, NetLab::A, *announcer, config);
  ASSERT_NE(id, 0U);
  const uint16_t hash = announcer->msg_id_hash(id);
  ASSERT_TRUE(wait_listed(*directory, hash));
  const VlSapEntry e = *find_entry(*directory, hash);
  EXPECT_EQ(e.interface, "veth3");
  EXPECT_EQ(e.sap_origin, "198.18.1.1");
  EXPECT_EQ(directory->stats().announcements, 1U);

  pollfd pfd{tap, POLLIN, 0};
  ASSERT_EQ(poll(&pfd, 1, 2000), 1);
  uint8_t buffer[vl_sap_max_datagram];
  alignas(cmsghdr) char control[256];
  iovec iov{buffer, sizeof buffer};
  msghdr msg{nullptr, 0, &iov, 1, control, sizeof control, 0};
  ASSERT_GT(recvmsg(tap, &msg, 0), 0);
  int ttl = -1;
  int tos = -1;
  for (cmsghdr* c = CMSG_FIRSTHDR(&msg); c; c = CMSG_NXTHDR(&msg, c)) {
    if (c->cmsg_level == IPPROTO_IP && c->cmsg_type == IP_TTL) std::memcpy(&ttl, CMSG_DATA(c), sizeof ttl);
    if (c->cmsg_level == IPPROTO_IP && c->cmsg_type == IP_TOS) tos = *CMSG_DATA(c);
  }
  EXPECT_EQ(ttl, 7);
  EXPECT_EQ(tos, 46 << 2);
  close(tap);
}

}  // namespace
