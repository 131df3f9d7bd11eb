// Stream objects without managers: channel counts from the SDP, the stored
// forms, the receiver list and the RTCP statistics records.
#include "vl/vl_stream_receiver.h"
#include "vl/vl_stream_sender.h"

#include "vltest/log_capture.h"
#include "vlutil/vl_json_ref.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace {

std::string sdp(const std::string& encoding) {
  return "v=0\no=- 1 1 IN IP4 10.0.0.1\ns=Stream\nt=0 0\nm=audio 5004 RTP/AVP 98\nc=IN IP4 239.1.2.3/16\n"
         "a=rtpmap:98 " + encoding + "\n";
}

std::string dumped(const json_t* json) {
  char* text = json_dumps(json, JSON_COMPACT | JSON_PRESERVE_ORDER);
  std::string result = text ? text : "";
  std::free(text);
  return result;
}

using Sender = std::unique_ptr<VlStreamSender, VlStreamDeleter>;
using Receiver = std::unique_ptr<VlStreamReceiver, VlStreamDeleter>;

TEST(StreamChannels, CountFromTheEncodingIsBounded) {
  const struct {
    const char* encoding;
    uint32_t count;
  } cases[] = {{"L24/48000/8", 8},  {"L16/48000/1024", 1024}, {"L24/48000/1025", 0},
               {"L24/48000/0", 0},  {"L24/48000/1000000000", 0}, {"L24/48000/x8", 0},
               {"L24/48000/-1", 0}, {"L24/48000", 1},         {"L24/48000/", 0}};
  for (const auto& c : cases) EXPECT_EQ(vl_stream_channel_count(sdp(c.encoding).c_str()), c.count) << c.encoding;
}

TEST(StreamChannels, HostileCountsMakeNoStream) {
  vltest::LogCapture log;
  EXPECT_EQ(vl_stream_sender_ctor(nullptr, sdp("L24/48000/1000000000").c_str(), nullptr, 1, 0, 48, 46), nullptr);
  EXPECT_EQ(log.count("Could not get channel map count!"), 1);
  EXPECT_EQ(vl_stream_receiver_ctor(nullptr, sdp("L24/48000/0").c_str(), nullptr, 0), nullptr);
  EXPECT_EQ(log.count("Could not get channel map size!"), 1);
}

// Without an interface the stream is detached: all of its map unconnected,
// no manager entry, so its map cannot change.
TEST(StreamObjects, ADetachedSenderHasAnUnconnectedMapAndRefusesChanges) {
  Sender stream(vl_stream_sender_ctor(nullptr, sdp("L24/48000/8").c_str(), nullptr, 0x1234, 0, 48, 34));
  ASSERT_NE(stream, nullptr);
  VlJsonRef map_json(vl_channel_map_encode(stream->channel_map()));
  EXPECT_EQ(dumped(map_json.get()), "[-1,-1,-1,-1,-1,-1,-1,-1]");
  const int32_t entries[8] = {0, 1, 2, 3, 4, 5, 6, 7};
  VlChannelMapPtr map(vl_channel_map_ctor(entries, 8));
  EXPECT_EQ(vl_stream_set_channel_map(stream.get(), map.get(), nullptr), -1);
  EXPECT_EQ(vl_stream_ttl(stream.get()), 16);
  EXPECT_EQ(vl_stream_sender_stat(stream.get()), nullptr);
}

TEST(StreamObjects, EncodingsRoundTrip) {
  const std::string text = sdp("L24/48000/2");
  VlJsonRef sender_json(json_pack("{s:s, s:s, s:[i,i], s:i, s:i, s:i}", "stream_sdp", text.c_str(),
                                  "audio_device_name", "GeneratorRamp", "stream_channelmap", 1, -1, "stream_dscp", 34,
                                  "stream_packetduration", 48, "stream_sap", 0));
  Sender sender(vl_stream_sender_decode(sender_json.get()));
  ASSERT_NE(sender, nullptr);
  EXPECT_FALSE(sender->sap_enabled());
  EXPECT_EQ(vl_stream_sender_dscp(sender.get()), 34);
  EXPECT_EQ(vl_stream_sender_packet_duration(sender.get()), 48u);
  VlJsonRef sender_again(vl_stream_sender_encode(sender.get()));
  EXPECT_EQ(dumped(sender_again.get()), dumped(sender_json.get()));
  const int32_t entries[2] = {0, 1};
  VlChannelMapPtr map(vl_channel_map_ctor(entries, 2));
  EXPECT_EQ(vl_stream_set_channel_map(sender.get(), map.get(), nullptr), -1);  // decoded: detached

  VlJsonRef receiver_json(json_pack("{s:s, s:s, s:[i,i], s:i}", "stream_sdp", text.c_str(), "audio_device_name",
                                    "AnalyzerRamp", "stream_channelmap", 0, 1, "stream_end2enddelay", 480));
  Receiver receiver(vl_stream_receiver_decode(receiver_json.get()));
  ASSERT_NE(receiver, nullptr);
  EXPECT_EQ(vl_stream_receiver_delay(receiver.get()), 480);
  VlJsonRef receiver_again(vl_stream_receiver_encode(receiver.get()));
  EXPECT_EQ(dumped(receiver_again.get()), dumped(receiver_json.get()));

  VlJsonRef empty(json_object());
  EXPECT_EQ(vl_stream_sender_decode(empty.get()), nullptr);
  VlJsonRef without_sdp(json_pack("{s:[i]}", "stream_channelmap", 0));
  EXPECT_EQ(vl_stream_receiver_decode(without_sdp.get()), nullptr);
}

TEST(StreamObjects, ReceiverListsPushPopAndLoadInReverse) {
  const std::string text = sdp("L24/48000/1");
  VlJsonRef array(json_array());
  for (int delay : {1, 2, 3})
    json_array_append_new(array.get(), json_pack("{s:s, s:[i], s:i}", "stream_sdp", text.c_str(),
                                                 "stream_channelmap", 0, "stream_end2enddelay", delay));
  VlStreamReceiver* head = vl_stream_receiver_list_load(array.get());
  std::vector<int32_t> delays;
  for (VlStreamReceiver* r = head; r; r = vl_stream_receiver_next(r)) delays.push_back(vl_stream_receiver_delay(r));
  EXPECT_EQ(delays, (std::vector<int32_t>{3, 2, 1}));

  VlJsonRef stored(json_array());
  ASSERT_TRUE(head->store(stored.get()));
  EXPECT_EQ(json_array_size(stored.get()), 3u);
  EXPECT_EQ(json_integer_value(json_object_get(json_array_get(stored.get(), 0), "stream_end2enddelay")), 3);

  VlStreamReceiver* r3 = head;
  VlStreamReceiver* r2 = vl_stream_receiver_next(r3);
  VlStreamReceiver* r1 = vl_stream_receiver_next(r2);
  VlStreamReceiver* outsider = vl_stream_receiver_decode(json_array_get(array.get(), 0));
  EXPECT_EQ(vl_stream_receiver_pop(r3, outsider), r3);
  EXPECT_EQ(vl_stream_receiver_pop(r3, r3), r2);  // the head's successor leads
  EXPECT_EQ(vl_stream_receiver_pop(r2, r1), r2);
  EXPECT_EQ(vl_stream_receiver_next(r2), nullptr);
  for (VlStreamReceiver* r : {r1, r2, r3, outsider}) vl_object_delete(r);
  VlJsonRef not_an_array(json_object());
  EXPECT_EQ(vl_stream_receiver_list_load(not_an_array.get()), nullptr);
}

TEST(StreamStatistics, ASenderKeepsOneEntryPerRemoteReceiver) {
  Sender stream(vl_stream_sender_ctor(nullptr, sdp("L24/48000/2").c_str(), nullptr, 0x1234, 0, 48, 34));
  ASSERT_NE(stream, nullptr);
  const uint32_t block[vl_report_block_words] = {0x1234, 5, 100, 7, 0, 0};
  vl_stream_update_receiver_info(stream.get(), 0xAAAA, block);
  vl_stream_update_receiver_info(stream.get(), 0xBBBB, block);
  vl_stream_update_receiver_info(stream.get(), 0xAAAA, block);
  vl_stream_update_cname(stream.get(), 0xBBBB, "b@198.18.0.2");
  VlReceiverInfo* copy = nullptr;
  ASSERT_NE(vl_stream_receiver_info(stream.get(), &copy), nullptr);
  VlReceiverInfoPtr owned(copy);
  ASSERT_NE(copy->next, nullptr);
  EXPECT_EQ(copy->next->next, nullptr);
  vl_stream_remove_outdated_receiver_info(stream.get());  // both were updated: both stay
  vl_stream_cleanup_info(stream.get(), 0xBBBB);
  vl_stream_remove_outdated_receiver_info(stream.get());  // A was not updated since: gone
  EXPECT_EQ(vl_stream_receiver_info(stream.get(), &copy), nullptr);
}

// A receiver's statistics follow the source it receives; a peer's CNAME
// is kept within its record.
TEST(StreamStatistics, AReceiverTakesReportsOfItsOwnSource) {
  Receiver stream(vl_stream_receiver_ctor(nullptr, sdp("L24/48000/2").c_str(), nullptr, 0));
  ASSERT_NE(stream, nullptr);
  VlJsonRef info(json_pack("{s:[{s:i, s:s, s:i, s:i, s:i, s:i, s:i, s:i}]}", "rtcp_receiver_info", "rtcp_seqno", 0,
                           "rtcp_cname", "", "rtcp_ssrc", 0x5EED, "rtcp_lost", 0, "rtcp_last_seq", 0, "rtcp_jitter", 0,
                           "rtcp_lsr", 0, "rtcp_dlsr", 0));
  ASSERT_EQ(vl_stream_decode_info(stream.get(), info.get()), 0);
  const uint32_t report[vl_sender_report_words] = {1, 2, 3, 4, 5};
  vl_stream_update_sender_info(stream.get(), 0x0BAD, report);
  VlSenderInfo* sender = nullptr;
  EXPECT_EQ(vl_stream_sender_info(stream.get(), &sender), nullptr);
  vl_stream_update_sender_info(stream.get(), 0x5EED, report);
  ASSERT_NE(vl_stream_sender_info(stream.get(), &sender), nullptr);
  EXPECT_EQ(sender->rtp_ts, 3u);
  vl_sender_info_dtor(sender);

  vl_stream_update_cname(stream.get(), 0x5EED, std::string(300, 'c').c_str());
  VlReceiverInfo* reception = nullptr;
  ASSERT_NE(vl_stream_receiver_info(stream.get(), &reception), nullptr);
  EXPECT_EQ(std::strlen(reception->cname), 126u);
  vl_receiver_info_dtor(reception);

  vl_stream_cleanup_info(stream.get(), 0x5EED);
  EXPECT_EQ(vl_stream_receiver_info(stream.get(), &reception), nullptr);
  EXPECT_EQ(vl_stream_sender_info(stream.get(), &sender), nullptr);
}

}  // namespace
