// The client of ptp4l's management socket against the scripted responder.
#include "linuxptp/ptp4l_client.h"

#include "ptp4l_test_support.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <memory>

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using ptp4ltest::Fault;
using ptp4ltest::ScriptedPtp4l;

class Ptp4lClient : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(responder_->ok()); }

  std::size_t files_in_dir() const {
    std::size_t n = 0;
    for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(dir_.dir.path())) ++n;
    return n;
  }

  ptp4ltest::ScriptedPtp4lDir dir_;
  std::unique_ptr<ScriptedPtp4l> responder_ = std::make_unique<ScriptedPtp4l>(dir_.socket);
  VlPtp4lClient client_{dir_.socket};
};

TEST_F(Ptp4lClient, SilenceEndsAtTheDeadlineAndTheOwnSocketGoes) {
  responder_->set_fault(Fault::silent);
  VlPtp4lAnswer answer;
  const auto start = Clock::now();
  EXPECT_EQ(client_.get(0, vl_ptp_mid_port_data_set, &answer), VlPtp4lResult::timeout);
  const auto took = Clock::now() - start;
  EXPECT_GE(took, std::chrono::milliseconds(vl_ptp4l_answer_timeout_ms));
  EXPECT_LT(took, std::chrono::milliseconds(vl_ptp4l_answer_timeout_ms) + 200ms);
  EXPECT_EQ(files_in_dir(), 1u);  // ptp4l's socket only
  responder_->set_fault(Fault::none);
  EXPECT_EQ(client_.get(0, vl_ptp_mid_port_data_set, &answer), VlPtp4lResult::ok);
}

TEST_F(Ptp4lClient, BadAnswersAreRefused) {
  struct Case {
    Fault fault;
    VlPtpMgmtParse why;
  };
  const Case cases[] = {
      {Fault::truncated, VlPtpMgmtParse::too_short},
      {Fault::oversized, VlPtpMgmtParse::bad_length},
      {Fault::garbage, VlPtpMgmtParse::not_management},
      {Fault::length_beyond_datagram, VlPtpMgmtParse::too_short},
      {Fault::unknown_tlv, VlPtpMgmtParse::unknown_tlv},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(static_cast<int>(c.fault));
    responder_->set_fault(c.fault);
    VlPtp4lAnswer answer;
    EXPECT_EQ(client_.get(0, vl_ptp_mid_port_data_set, &answer), VlPtp4lResult::bad_answer);
    EXPECT_EQ(answer.parse, c.why);
  }
}

// ptp4l removes its socket when it ends; a new one takes the same path.
TEST_F(Ptp4lClient, ReachesARestartedPtp4l) {
  VlPtp4lAnswer answer;
  ASSERT_EQ(client_.get(0, vl_ptp_mid_port_data_set, &answer), VlPtp4lResult::ok);
  responder_.reset();
  const auto start = Clock::now();
  EXPECT_EQ(client_.get(0, vl_ptp_mid_port_data_set, &answer), VlPtp4lResult::unreachable);
  EXPECT_LT(Clock::now() - start, 50ms);
  responder_ = std::make_unique<ScriptedPtp4l>(dir_.socket);
  EXPECT_EQ(client_.get(0, vl_ptp_mid_port_data_set, &answer), VlPtp4lResult::ok);
}

TEST_F(Ptp4lClient, FindsTheDomainPtp4lAnswersIn) {
  ptp4ltest::Ptp4lState state;
  state.domain = 200;
  responder_->set(state);
  EXPECT_EQ(client_.find_domain(0), 200);
  EXPECT_EQ(responder_->answered(), 1);
  EXPECT_GE(responder_->ignored(), 200);  // every domain before it was asked first
  responder_->set_fault(Fault::silent);
  const auto start = Clock::now();
  EXPECT_EQ(client_.find_domain(200), -1);
  EXPECT_LT(Clock::now() - start, std::chrono::milliseconds(vl_ptp4l_domain_search_ms) + 200ms);
}

}  // namespace
