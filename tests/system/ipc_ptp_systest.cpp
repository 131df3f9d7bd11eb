// Commands 20 and 21 against a real streamerd: with the system-clock PTP
// reference, which never has a status and refuses every configuration, and
// with a real ptp4l in the daemon's host.
#include "ipc_command_test.h"
#include "vltest/lab_ptp4l.h"
#include "vltest/wait.h"

#include <string>

namespace {

using namespace std::chrono_literals;
using ipctest::Errors;

class PtpCommands : public ipctest::IpcCommandTest {};

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
  const Errors bad = {{22, "Invalid parameter for ptp config request!"}};
  for (const char* parameter : {"{}", "null", R"({"ptp_configuration": 0})", R"({"ptp_domain": 0})"})
    EXPECT_EQ(errors(20, parameter), bad) << parameter;
}

// The domain check comes before the interface is asked; the system clock
// then refuses.
TEST_F(PtpCommands, ConfigSetRefusesADomainChangeWhileAReservedDeviceNamesAnotherDomain) {
  const std::string reserve = R"({"audio_device_name": "GeneratorRamp", "audio_config": {"ptpDomain": )";
  const Errors refused = {{6, "Could not write ptp configuration!"}};
  const Errors conflict = {
      {17, "Can't change PTP domain, as long as there is an audio device in another domain: GeneratorRamp"}};
  EXPECT_EQ(errors(20, R"({"ptp_configuration": {"ptp_domain": 1}})"), refused);  // nothing reserved
  ASSERT_TRUE(json_is_object(result(14, reserve + "0}}").get()));
  EXPECT_EQ(errors(20, R"({"ptp_configuration": {"ptp_domain": 1}})"), conflict);
  EXPECT_EQ(errors(20, R"({"ptp_configuration": {"ptp_domain": 0, "ptp_prio_1": 5}})"), refused);  // no change
  ASSERT_TRUE(json_is_object(result(17, R"({"audio_device_name": "GeneratorRamp"})").get()));
  ASSERT_TRUE(json_is_object(result(14, reserve + "257}}").get()));  // 257 is domain 1 in 8 bits
  EXPECT_EQ(errors(20, R"({"ptp_configuration": {"ptp_domain": 1}})"), refused);
}

class PtpCommandsOnPtp4l : public ipctest::IpcCommandTest {
 protected:
  void SetUp() override {
    ASSERT_TRUE(vltest::LabPtp4l::available()) << "linuxptp is missing: run scripts/setup.sh";
    ASSERT_TRUE(lab_.ok()) << lab_.error();
    ptp4l_ = std::make_unique<vltest::LabPtp4l>(lab_, vltest::NetLab::A, 100);
    ASSERT_TRUE(ptp4l_->started()) << ptp4l_->process().output();
    start({"-ptp=" + ptp4l_->socket()});
  }
  void TearDown() override {
    client_.reset();
    daemon_.reset();
  }

  // The daemon's PTP status once `done` holds for it.
  template <typename Predicate>
  VlJsonRef status_when(Predicate done) {
    VlJsonRef status;
    vltest::wait_until(
        [&] {
          status = VlJsonRef::borrow(json_object_get(result(21, "{}").get(), "ptp_status"));
          return done(status.get());
        },
        15s, 100ms);
    return status;
  }
  static json_int_t field(const json_t* status, const char* key) {
    return json_integer_value(json_object_get(status, key));
  }

  std::unique_ptr<vltest::LabPtp4l> ptp4l_;
};

TEST_F(PtpCommandsOnPtp4l, StatusGetFollowsPtp4lAndConfigSetChangesItsPriority) {
  const VlJsonRef status = status_when([](const json_t* s) { return field(s, "ptp_domain") == 3; });
  ASSERT_EQ(field(status.get(), "ptp_prio_1"), 100);
  EXPECT_EQ(field(status.get(), "ptp_log_sync"), -3);
  // What ptp4l cannot change at run time stays as it is.
  const std::string configuration = R"({"ptp_configuration": {"ptp_domain": 3, "ptp_prio_1": 90, "ptp_prio_2": )" +
                                    std::to_string(field(status.get(), "ptp_prio_2")) +
                                    R"(, "ptp_log_announce": -2, "ptp_log_sync": -3, "ptp_slave_only": 0, )"
                                    R"("ptp_delay_mechanism": )" +
                                    std::to_string(field(status.get(), "ptp_delay_mechanism")) + "}}";
  EXPECT_EQ(answer(20, configuration), R"({"command": 20, "parameter": {}})");
  EXPECT_NE(ptp4l_->pmc("GET PRIORITY1").find("priority1 90"), std::string::npos);
  EXPECT_EQ(field(status_when([](const json_t* s) { return field(s, "ptp_prio_1") == 90; }).get(), "ptp_prio_1"), 90);
}

}  // namespace
