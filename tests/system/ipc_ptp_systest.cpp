// Commands 20 and 21 against a real streamerd: with the system-clock PTP
// reference, which never has a status and refuses every configuration, and
// with a real ptp4l in the daemon's host.
#include "ipc_control.h"
#include "vltest/lab_ptp4l.h"

#include <memory>
#include <string>

namespace {

using namespace std::chrono_literals;
using ipc_control::refused;

class PtpCommands : public ipc_control::OneDaemon {};

TEST_F(PtpCommands, StatusGetAnswersTheZeroedStatusOfTheSystemClock) {
  for (const char* parameter : {"{}", "null"})
    EXPECT_EQ(answer(21, parameter),
              R"({"command": 21, "parameter": {"ptp_status": {"ptp_domain": 0, "ptp_port_state": 0, )"
              R"("ptp_slave_only": 0, "ptp_is_syncronized": 0, "ptp_master_ip": "", "ptp_delay_mechanism": 0, )"
              R"("ptp_gm_id": "", "ptp_gm_clock_class": 0, "ptp_gm_clock_accuracy": 0, "ptp_offset_nsec": 0, )"
              R"("ptp_offset_sign": 0, "ptp_prio_1": 0, "ptp_prio_2": 0, "ptp_log_announce": 0, )"
              R"("ptp_log_sync": 0, "ptp_dscp": 0}}})")
        << parameter;
}

TEST_F(PtpCommands, ConfigSetRefusesBadParameters) {
  for (const char* parameter : {"{}", "null", R"({"ptp_configuration": 0})", R"({"ptp_domain": 0})"})
    EXPECT_TRUE(refused(answer(20, parameter), 20, 22, "Invalid parameter for ptp config request!")) << parameter;
}

// The domain check comes before the interface is asked; the system clock
// then refuses.
TEST_F(PtpCommands, ConfigSetRefusesADomainChangeWhileAReservedDeviceNamesAnotherDomain) {
  const std::string reserve = R"({"audio_device_name": "GeneratorRamp", "audio_config": {"ptpDomain": )";
  const std::string refused_text = "Could not write ptp configuration!";
  const std::string conflict_text =
      "Can't change PTP domain, as long as there is an audio device in another domain: GeneratorRamp";
  const std::string to_domain_1 = R"({"ptp_configuration": {"ptp_domain": 1}})";
  EXPECT_TRUE(refused(answer(20, to_domain_1), 20, 6, refused_text));  // nothing reserved
  ASSERT_TRUE(json_is_object(a_.result(14, reserve + "0}}").get()));
  EXPECT_TRUE(refused(answer(20, to_domain_1), 20, 17, conflict_text));
  EXPECT_TRUE(refused(answer(20, R"({"ptp_configuration": {"ptp_domain": 0, "ptp_prio_1": 5}})"), 20, 6,
                      refused_text));  // the current domain: no check
  ASSERT_TRUE(json_is_object(a_.result(17, R"({"audio_device_name": "GeneratorRamp"})").get()));
  ASSERT_TRUE(json_is_object(a_.result(14, reserve + "257}}").get()));  // 257 is domain 1 in 8 bits
  EXPECT_TRUE(refused(answer(20, to_domain_1), 20, 6, refused_text));
}

// A ptp4l on the daemon's link, reached through its management socket.
class PtpCommandsOnPtp4l : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(vltest::LabPtp4l::available()) << "linuxptp is missing: run scripts/setup.sh";
    ASSERT_TRUE(lab_.ok()) << lab_.error();
    ASSERT_TRUE(ptp4l_.started()) << ptp4l_.process().output();
    daemon_ = std::make_unique<ipc_control::Controlled>(lab_, vltest::NetLab::A,
                                                        std::vector<std::string>{"-ptp=" + ptp4l_.socket()});
    ASSERT_TRUE(daemon_->connect()) << daemon_->daemon().process().output();
  }
  void TearDown() override { EXPECT_TRUE(daemon_->stop()) << daemon_->daemon().process().output(); }

  // The daemon's PTP status once `done` holds for it.
  template <typename Predicate>
  VlJsonRef status_when(Predicate done) {
    VlJsonRef status;
    vltest::wait_until(
        [&] {
          status = VlJsonRef::borrow(json_object_get(daemon_->result(21, "{}").get(), "ptp_status"));
          return done(status.get());
        },
        15s, 100ms);
    return status;
  }
  static json_int_t field(const json_t* status, const char* key) {
    return json_integer_value(json_object_get(status, key));
  }
  static std::string text(json_int_t value) { return std::to_string(value); }

  vltest::NetLab lab_;
  vltest::LabPtp4l ptp4l_{lab_, vltest::NetLab::A, 100};
  std::unique_ptr<ipc_control::Controlled> daemon_;
};

TEST_F(PtpCommandsOnPtp4l, StatusGetFollowsPtp4lAndConfigSetChangesItsPriority) {
  const VlJsonRef status = status_when([](const json_t* s) { return field(s, "ptp_domain") == 3; });
  ASSERT_EQ(field(status.get(), "ptp_prio_1"), 100);
  EXPECT_EQ(field(status.get(), "ptp_log_sync"), -3);
  // What ptp4l cannot change at run time stays as it is.
  const std::string configuration =
      R"({"ptp_configuration": {"ptp_domain": 3, "ptp_prio_1": 90, "ptp_prio_2": )" +
      text(field(status.get(), "ptp_prio_2")) + R"(, "ptp_log_announce": )" +
      text(field(status.get(), "ptp_log_announce")) + R"(, "ptp_log_sync": -3, "ptp_slave_only": 0, )"
      R"("ptp_delay_mechanism": )" + text(field(status.get(), "ptp_delay_mechanism")) + "}}";
  EXPECT_EQ(daemon_->answer(20, configuration), R"({"command": 20, "parameter": {}})");
  EXPECT_NE(ptp4l_.pmc("GET PRIORITY1").find("priority1 90"), std::string::npos);
  EXPECT_EQ(field(status_when([](const json_t* s) { return field(s, "ptp_prio_1") == 90; }).get(), "ptp_prio_1"), 90);
}

// A master ptp4l beside the daemon's slave: its identity, domain and time
// scale reach "ptp_status_get", and so does its departure.
TEST_F(PtpCommandsOnPtp4l, StatusGetShowsTheMasterAndItsDeparture) {
  vltest::LabPtp4l master(lab_, vltest::NetLab::B, 50);
  ASSERT_TRUE(master.started()) << master.process().output();
  ASSERT_TRUE(master.announce_ptp_timescale(37));
  const auto gm_is = [](const json_t* s, const char* id) {
    const char* gm = json_string_value(json_object_get(s, "ptp_gm_id"));
    return gm && std::string(gm) == id;
  };
  // Free running, ptp4l keeps its slave uncalibrated; the offset comes once
  // the path delay is measured and holds the UTC offset.
  const VlJsonRef slave = status_when([&](const json_t* s) {
    return field(s, "ptp_port_state") == 8 && field(s, "ptp_offset_nsec") > 1000000000 &&
           gm_is(s, "02-76-6C-FF-FE-00-00-02");
  });
  EXPECT_EQ(field(slave.get(), "ptp_port_state"), 8);
  EXPECT_EQ(field(slave.get(), "ptp_domain"), vltest::LabPtp4l::default_domain);
  EXPECT_EQ(field(slave.get(), "ptp_gm_clock_class"), 248);
  EXPECT_EQ(field(slave.get(), "ptp_offset_sign"), 0);
  EXPECT_NEAR(static_cast<double>(field(slave.get(), "ptp_offset_nsec")), 37e9, 1e7);
  EXPECT_EQ(field(slave.get(), "ptp_is_syncronized"), 0);

  master.stop();
  const VlJsonRef alone =
      status_when([&](const json_t* s) { return field(s, "ptp_port_state") == 6 && gm_is(s, "02-76-6C-FF-FE-00-00-01"); });
  EXPECT_TRUE(gm_is(alone.get(), "02-76-6C-FF-FE-00-00-01"));
}

}  // namespace
