// Sessions of a device in lab host A, which streams on veth0 and veth2 and
// has a vn0 interface that no RTP engine serves.
#include "vl/vl_session.h"

#include "vl/vl_device.h"
#include "vltest/device_lab.h"
#include "vltest/log_capture.h"
#include "vltest/rtp_lab.h"
#include "vlutil/vl_json_ref.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <thread>

namespace {

using Sender = std::unique_ptr<VlStreamSender, VlStreamDeleter>;
using Receiver = std::unique_ptr<VlStreamReceiver, VlStreamDeleter>;

std::string sdp(const char* group, int port) {
  return std::string("v=0\no=- 1 1 IN IP4 198.18.0.1\ns=Session lab\nt=0 0\nm=audio ") + std::to_string(port) +
         " RTP/AVP 98\nc=IN IP4 " + group + "/32\na=rtpmap:98 L24/48000/2\na=sync-time:0\n";
}

class SessionLab : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(lab_.ok()) << lab_.net().error();
    ASSERT_TRUE(lab_.net().add_second_link()) << lab_.net().error();
    ASSERT_TRUE(lab_.net().add_link(vltest::NetLab::A, "vn0", "10.1.2.1/24")) << lab_.net().error();
    device_ = lab_.make_device(vltest::NetLab::A, "veth2");
    ASSERT_NE(device_, nullptr);
    ASSERT_NE(lab_.reserve(device_, "GeneratorRamp"), nullptr);
    ASSERT_NE(lab_.reserve(device_, "AnalyzerRamp"), nullptr);
  }

  VlSession* add(const char* interface, const char* address, json_int_t port) {
    VlSession* session = nullptr;
    lab_.run_in(vltest::NetLab::A, [&] { session = vl_device_add_session(device_, interface, address, port); });
    return session;
  }
  VlStreamSender* sender(VlSession* session, const char* group = "239.77.2.1", int port = 5020) {
    VlStreamSender* stream = nullptr;
    lab_.run_in(vltest::NetLab::A, [&] {
      stream = vl_stream_sender_ctor(session->interface, sdp(group, port).c_str(),
                                     vl_device_audio_find(device_, "GeneratorRamp"), vl_session_ssrc(session), 0, 48, 34);
    });
    return stream;
  }
  VlStreamReceiver* receiver(VlSession* session) {
    VlStreamReceiver* stream = nullptr;
    lab_.run_in(vltest::NetLab::A, [&] {
      stream = vl_stream_receiver_ctor(session->interface, sdp("239.77.2.2", 5022).c_str(),
                                       vl_device_audio_find(device_, "AnalyzerRamp"), 96);
    });
    return stream;
  }
  int session_count() {
    VlJsonRef list(vl_session_list_encode(device_->sessions.get()));
    return static_cast<int>(json_array_size(list.get()));
  }

  vltest::DeviceLab lab_;
  vltest::LogCapture log_;
  VlDevice* device_ = nullptr;
};

TEST_F(SessionLab, ASessionIsReusedOnItsInterfaceAndRefusedOnAnother) {
  VlSession* session = add("veth0", "239.77.2.1", 5020);
  ASSERT_NE(session, nullptr);
  EXPECT_NE(session->rtcp.socket, nullptr);
  EXPECT_EQ(add("veth0", "239.77.2.1", 5020), session);
  EXPECT_EQ(log_.count("Reusing existing session 239.77.2.1:5020"), 1);
  EXPECT_EQ(add("veth2", "239.77.2.1", 5020), nullptr);
  EXPECT_EQ(log_.count("Found session 239.77.2.1:5020 using veth0 instead of requested veth2 interface, aborting here!"),
            1);
  VlSessionId id{};
  ASSERT_TRUE(vl_session_id_make("239.77.2.1", 5020, &id));
  EXPECT_EQ(vl_device_find_session(device_, id), session);
  vl_device_del_session(device_, session);
  EXPECT_EQ(vl_device_find_session(device_, id), nullptr);
}

// Identities that could never be addressed again are refused, not cut.
TEST_F(SessionLab, IdentitiesThatCannotBeAddressedAreRefused) {
  const struct {
    const char* address;
    json_int_t port;
  } refused[] = {{"239.77.2.1", 0}, {"239.77.2.1", 65536}, {"239.77.2.1", -1}, {"239.77.2.100.200", 5020}};
  for (const auto& r : refused) EXPECT_EQ(add("veth0", r.address, r.port), nullptr) << r.address << ":" << r.port;
  EXPECT_EQ(session_count(), 0);
  VlJsonRef zero_port(json_pack("{s:s, s:i}", "session_addr", "239.77.2.1", "session_port", 0));
  VlSessionId id{};
  EXPECT_FALSE(vl_session_id_decode(zero_port.get(), &id));
  EXPECT_EQ(log_.count("Invalid session id object."), 5);
}

TEST_F(SessionLab, AnInterfaceWithoutRtpEngineHasSessionsWithoutRtcp) {
  VlSession* session = add("vn0", "239.77.2.1", 5020);
  ASSERT_NE(session, nullptr);
  EXPECT_EQ(session->rtcp.socket, nullptr);
  EXPECT_FALSE(session->rtcp.thread_running);
}

TEST_F(SessionLab, OneSenderAndOneReceiverPerSession) {
  VlSession* session = add("veth0", "239.77.2.1", 5020);
  ASSERT_NE(session, nullptr);
  Sender first(sender(session));
  ASSERT_EQ(vl_session_add_send(session, first.get()), 0);
  first.release();
  Sender second(sender(session, "239.77.2.9", 5030));
  ASSERT_NE(second, nullptr);
  EXPECT_EQ(vl_session_add_send(session, second.get()), -1);
  EXPECT_EQ(log_.count("There is already a sender stream inside this session!"), 1);
  Receiver beside(receiver(session));
  ASSERT_EQ(vl_session_add_recv(session, beside.get()), 0);
  beside.release();
  Receiver another(receiver(session));
  ASSERT_NE(another, nullptr);
  EXPECT_EQ(vl_session_add_recv(session, another.get()), -1);
  EXPECT_EQ(log_.count("There is already a receiver stream inside this session!"), 1);
}

// Deleting a session stops its streams: nothing more reaches the wire.
TEST_F(SessionLab, DeletingASessionDestroysItsStreams) {
  rtp_lab::WireTap tap(lab_.net(), "239.77.2.1", 5020);
  VlSession* session = add("veth0", "239.77.2.1", 5020);
  ASSERT_NE(session, nullptr);
  Sender stream(sender(session));
  const int32_t entries[] = {0, 0};
  VlChannelMapPtr map(vl_channel_map_ctor(entries, 2));
  ASSERT_EQ(vl_stream_set_channel_map(stream.get(), map.get(), nullptr), 0);
  ASSERT_EQ(vl_session_add_send(session, stream.release()), 0);
  ASSERT_FALSE(tap.next(500).empty());
  vl_device_del_session(device_, session);
  while (!tap.next(20).empty()) {
  }
  EXPECT_TRUE(tap.next(200).empty());
}

// Creation is one step under the session list lock: two requests for one
// identity at once end with one session.
TEST_F(SessionLab, TwoThreadsCreatingTheSameSessionEndWithOne) {
  for (int round = 0; round < 20; ++round) {
    const int port = 6000 + 2 * round;
    VlSession* made[2] = {};
    std::thread other([&] { made[1] = add("veth0", "239.77.3.1", port); });
    made[0] = add("veth0", "239.77.3.1", port);
    other.join();
    ASSERT_NE(made[0], nullptr);
    EXPECT_EQ(made[0], made[1]);
  }
  EXPECT_EQ(session_count(), 20);
}

}  // namespace
