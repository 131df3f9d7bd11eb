// What a client configured survives a restart once it saved it, and a
// deleted configuration file leaves the defaults.
#include "ipc_control.h"

#include <string>

namespace {

using namespace ipc_control;

constexpr const char* loaded = "Loading last configuration ... success.\n";
constexpr const char* defaults = "Loading last configuration ... failed. Could not read velanto.cfg. Using defaults.\n";
constexpr const char* save_all = R"({"vl_clt_config_file": "*", "vl_clt_config": {}})";
constexpr const char* saved = R"({"command": 3, "parameter": null})";

std::string part(Controlled& daemon, const char* name) {
  return text_of(json_object_get(daemon.describe().get(), name));
}

using Persistence = OneDaemon;

TEST_F(Persistence, SavedSessionsComeBackAndADeletedFileLeavesTheDefaults) {
  add_session();
  ASSERT_EQ(answer(3, save_all), saved);
  const std::string sessions = part(a_, "session_list");
  ASSERT_TRUE(a_.restart()) << a_.daemon().process().output();
  EXPECT_NE(a_.daemon().process().output().find(loaded), std::string::npos) << a_.daemon().process().output();
  EXPECT_EQ(part(a_, "session_list"), sessions);

  ASSERT_EQ(answer(5, R"({"vl_clt_config_file": "*"})"), R"({"command": 5, "parameter": null})");
  ASSERT_TRUE(a_.restart()) << a_.daemon().process().output();
  EXPECT_NE(a_.daemon().process().output().find(defaults), std::string::npos) << a_.daemon().process().output();
  EXPECT_EQ(part(a_, "session_list"), "[]");
}

using StreamPersistence = TwoDaemons;

// Audio configurations of the reserved devices, in list order.
std::string reservations(Controlled& daemon) {
  const VlJsonRef devices = VlJsonRef::borrow(json_object_get(daemon.describe().get(), "audio_device_list"));
  std::string configurations;
  std::size_t index = 0;
  json_t* device = nullptr;
  json_array_foreach(devices.get(), index, device) configurations += text_of(json_object_get(device, "audio_config"));
  return configurations;
}

TEST_F(StreamPersistence, SavedStreamsComeBackAndStreamAgain) {
  set_up_streams();
  ASSERT_TRUE(ramp_arrives());
  std::string before[2][2];
  Controlled* daemons[2] = {&a_, &b_};
  for (int i = 0; i < 2; ++i) {
    ASSERT_EQ(daemons[i]->answer(3, save_all), saved);
    before[i][0] = reservations(*daemons[i]);
    before[i][1] = part(*daemons[i], "session_list");
  }
  for (int i = 0; i < 2; ++i) {
    SCOPED_TRACE(i == 0 ? "sender" : "receiver");
    ASSERT_TRUE(daemons[i]->restart()) << daemons[i]->daemon().process().output();
    EXPECT_NE(daemons[i]->daemon().process().output().find(loaded), std::string::npos);
    EXPECT_EQ(reservations(*daemons[i]), before[i][0]);
    EXPECT_EQ(part(*daemons[i], "session_list"), before[i][1]);
  }
  ASSERT_TRUE(ramp_arrives()) << b_.daemon().process().output();
  const Findings found = analyzer_findings(b_);
  EXPECT_EQ(found.mismatches, 1u);
  EXPECT_EQ(found.offset, exact_offset);
}

}  // namespace
