// Test helpers for the RTCP modules: a sink that records what evaluation
// finds, and a scoped log priority for the RTCP category.
#pragma once

#include "rtcp/rtcp_pkt.h"

#include "vlsys/vl_log.h"

#include <cstdio>
#include <string>
#include <vector>

namespace rtcptest {

using Bytes = std::vector<uint8_t>;

// Keeps every call as one line of text, in call order.
class RecordingSink : public VlRtcpSink {
 public:
  void sender_report(uint32_t sender_ssrc, const uint32_t report[vl_sender_report_words]) override {
    add("sr " + hex(sender_ssrc) + ":" + words(report, vl_sender_report_words));
  }
  void report_block(uint32_t reporter_ssrc, const uint32_t block[vl_report_block_words]) override {
    add("block " + hex(reporter_ssrc) + ":" + words(block, vl_report_block_words));
  }
  void cname(uint32_t ssrc, const char* cname) override { add("cname " + hex(ssrc) + " " + cname); }
  void bye(uint32_t ssrc) override { add("bye " + hex(ssrc)); }

  std::vector<std::string> events;

 private:
  static std::string hex(uint32_t word) {
    char text[12];
    std::snprintf(text, sizeof text, "%x", word);
    return text;
  }
  static std::string words(const uint32_t* words, int count) {
    std::string text;
    for (int i = 0; i < count; ++i) text += " " + hex(words[i]);
    return text;
  }
  void add(std::string event) { events.push_back(std::move(event)); }
};

// Sets the priority of "velanto.rtcp" while alive.
class RtcpLogPriority {
 public:
  explicit RtcpLogPriority(int priority)
      : category_(log4c_category_get("velanto.rtcp")), before_(log4c_category_get_priority(category_)) {
    log4c_category_set_priority(category_, priority);
  }
  ~RtcpLogPriority() { log4c_category_set_priority(category_, before_); }
  RtcpLogPriority(const RtcpLogPriority&) = delete;
  RtcpLogPriority& operator=(const RtcpLogPriority&) = delete;

 private:
  log4c_category_t* category_;
  int before_;
};

}  // namespace rtcptest
