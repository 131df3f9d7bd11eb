// RTCP datagrams as any peer of a session can send them: evaluation, applied
// as a session applies it to its sender and receiver stream's statistics,
// those statistics through their JSON form and back, and the compound
// report written from what was learnt, evaluated once more.
#include "fuzz_support.h"

#include "rtcp/rtcp_pkt.h"
#include "vl/vl_stream_receiver.h"
#include "vl/vl_stream_sender.h"
#include "vlutil/vl_json_ref.h"

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr uint32_t local_ssrc = 0x11223344;
// The source the receiver stream receives: SRs of it are taken.
constexpr uint32_t source_ssrc = 0x55667788;
constexpr const char* sdp =
    "v=0\no=- 1 1 IN IP4 198.18.0.1\ns=Stream\nt=0 0\nm=audio 5004 RTP/AVP 98\nc=IN IP4 239.1.2.3/16\n"
    "a=rtpmap:98 L24/48000/2\n";

using Sender = std::unique_ptr<VlStreamSender, VlStreamDeleter>;
using Receiver = std::unique_ptr<VlStreamReceiver, VlStreamDeleter>;

// What a session does with an evaluation, on streams without managers.
class StreamSink final : public VlRtcpSink {
 public:
  StreamSink(VlStream* sender, VlStream* receiver) : sender_(sender), receiver_(receiver) {}
  void sender_report(uint32_t ssrc, const uint32_t report[vl_sender_report_words]) override {
    vl_stream_update_sender_info(receiver_, ssrc, report);
  }
  void report_block(uint32_t reporter, const uint32_t block[vl_report_block_words]) override {
    vl_stream_update_receiver_info(sender_, reporter, block);
  }
  void cname(uint32_t ssrc, const char* cname) override {
    fuzz::require(std::strlen(cname) < vl_cname_size, "CNAME longer than 126 characters");
    vl_stream_update_cname(receiver_, ssrc, cname);
    vl_stream_update_cname(sender_, ssrc, cname);
  }
  void bye(uint32_t ssrc) override {
    vl_stream_cleanup_info(receiver_, ssrc);
    vl_stream_cleanup_info(sender_, ssrc);
  }

 private:
  VlStream* sender_;
  VlStream* receiver_;
};

// Remembers what an evaluation delivers.
class RecordingSink final : public VlRtcpSink {
 public:
  void sender_report(uint32_t ssrc, const uint32_t report[vl_sender_report_words]) override {
    senders.push_back(ssrc);
    words.assign(report, report + vl_sender_report_words);
  }
  void report_block(uint32_t, const uint32_t block[vl_report_block_words]) override { blocks.push_back(block[0]); }
  void cname(uint32_t ssrc, const char* text) override {
    cname_ssrc = ssrc;
    cnames.push_back(text);
  }
  void bye(uint32_t ssrc) override { byes.push_back(ssrc); }

  std::vector<uint32_t> senders;
  std::vector<uint32_t> words;
  std::vector<uint32_t> blocks;
  uint32_t cname_ssrc = 0;
  std::vector<std::string> cnames;
  std::vector<uint32_t> byes;
};

std::string dumped(const json_t* json) {
  char* text = json_dumps(json, JSON_COMPACT | JSON_PRESERVE_ORDER);
  std::string result = text ? text : "";
  std::free(text);
  return result;
}

Receiver make_receiver() {
  Receiver receiver(vl_stream_receiver_ctor(nullptr, sdp, nullptr, 0));
  fuzz::require(receiver != nullptr, "no receiver stream");
  const VlJsonRef info(json_pack("{s:[{s:i, s:s, s:i, s:i, s:i, s:i, s:i, s:i}]}", "rtcp_receiver_info", "rtcp_seqno",
                                 0, "rtcp_cname", "", "rtcp_ssrc", source_ssrc, "rtcp_lost", 0, "rtcp_last_seq", 0,
                                 "rtcp_jitter", 0, "rtcp_lsr", 0, "rtcp_dlsr", 0));
  fuzz::require(vl_stream_decode_info(receiver.get(), info.get()) == 0, "receiver statistics refused");
  return receiver;
}

// The statistics in their JSON form decode to what encodes the same again.
void round_trip(VlStream* stream, VlStream* fresh) {
  const VlJsonRef info(vl_stream_encode_info(stream));
  if (vl_stream_decode_info(fresh, info.get()) != 0) return;
  const VlJsonRef again(vl_stream_encode_info(fresh));
  fuzz::require_equal(dumped(info.get()), dumped(again.get()), "statistics changed on their way through JSON");
}

// The report a session with these streams would send, evaluated by a peer.
void report_back(VlStream* receiver) {
  VlReceiverInfo* list = nullptr;
  VlReceiverInfoPtr own(vl_stream_receiver_info(receiver, &list));
  VlSenderInfo* remote = nullptr;
  std::unique_ptr<VlSenderInfo, void (*)(VlSenderInfo*)> sender_info(vl_stream_sender_info(receiver, &remote),
                                                                     vl_sender_info_dtor);
  const VlReceiverInfo* const receivers[] = {own.get()};
  VlRtcpReport report;
  report.ssrc = local_ssrc;
  report.cname = own ? own->cname : "";
  // An SR without sender information would carry no blocks: an RR then.
  report.has_sender = sender_info != nullptr;
  report.sender_info = sender_info.get();
  report.receivers = receivers;
  uint8_t packet[vl_rtcp_compound_size];
  const int size = vl_rtcp_compound_write(report, packet);
  fuzz::require(size > 0, "no compound report");

  RecordingSink peer;
  evaluate_rtcp_pkt(std::span<const uint8_t>(packet, static_cast<std::size_t>(size)), {source_ssrc, "peer", 5005},
                    peer);
  fuzz::require(peer.cnames.size() == 1 && peer.cname_ssrc == local_ssrc, "the SDES did not come back");
  fuzz::require(peer.cnames[0] == std::string(report.cname).substr(0, vl_cname_size - 1), "the CNAME changed");
  // A sender that has sent nothing reports as a receiver.
  if (sender_info && sender_info->psend != 0) {
    fuzz::require(peer.senders.size() == 1 && peer.senders[0] == local_ssrc, "the SR did not come back");
    const uint32_t sent[] = {sender_info->ntp_sec, sender_info->ntp_frac, sender_info->rtp_ts, sender_info->psend,
                             sender_info->osend};
    fuzz::require(std::equal(peer.words.begin(), peer.words.end(), sent), "the sender information changed");
  }
  if (own && own->ssrc == source_ssrc) fuzz::require(peer.blocks.size() == 1, "the report block did not come back");
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz::quiet_logging();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  // What the session's receive buffer holds of a longer datagram.
  const std::size_t length = std::min(size, vl_rtcp_receive_size);
  const std::unique_ptr<uint8_t[]> datagram(new uint8_t[length]);
  if (length > 0) std::memcpy(datagram.get(), data, length);

  Sender sender(vl_stream_sender_ctor(nullptr, sdp, nullptr, local_ssrc, 0, 48, 34));
  fuzz::require(sender != nullptr, "no sender stream");
  Receiver receiver = make_receiver();
  StreamSink sink(sender.get(), receiver.get());
  evaluate_rtcp_pkt(std::span<const uint8_t>(datagram.get(), length), {local_ssrc, "239.1.2.3", 5005}, sink);

  Sender fresh_sender(vl_stream_sender_ctor(nullptr, sdp, nullptr, local_ssrc, 0, 48, 34));
  Receiver fresh_receiver(vl_stream_receiver_ctor(nullptr, sdp, nullptr, 0));
  round_trip(sender.get(), fresh_sender.get());
  round_trip(receiver.get(), fresh_receiver.get());
  report_back(receiver.get());
  // The report cycle's sweep: twice without news empties the list.
  vl_stream_remove_outdated_receiver_info(sender.get());
  vl_stream_remove_outdated_receiver_info(sender.get());
  VlReceiverInfo* left = nullptr;
  fuzz::require(vl_stream_receiver_info(sender.get(), &left) == nullptr, "outdated reports survived two sweeps");
  return 0;
}
