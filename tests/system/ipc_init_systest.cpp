// Commands 1 to 5 of a running daemon: the device description, good-bye, and
// the configuration file with the clients' stored settings.
#include "ipc_control.h"

#include <sys/stat.h>

#include <string>
#include <vector>

namespace {

using namespace ipc_control;

constexpr int init = 1, done = 2, save_config = 3, load_config = 4, del_config = 5;

class ConfigCommands : public OneDaemon {
 protected:
  std::string save(const std::string& name, const std::string& settings) {
    return answer(save_config, R"({"vl_clt_config_file": ")" + name + R"(", "vl_clt_config": )" + settings + "}");
  }
  std::string load(const std::string& name) {
    return answer(load_config, R"({"vl_clt_config_file": ")" + name + R"("})");
  }
  std::string del(const std::string& name) {
    return answer(del_config, R"({"vl_clt_config_file": ")" + name + R"("})");
  }
  // The "additional" object of the written configuration file.
  VlJsonRef saved_settings() {
    VlJsonRef file(json_load_file(a_.config_path().c_str(), JSON_DISABLE_EOF_CHECK, nullptr));
    return VlJsonRef::borrow(json_object_get(file.get(), "additional"));
  }
};

std::vector<std::string> keys_of(const json_t* object) {
  std::vector<std::string> keys;
  const char* key = nullptr;
  json_t* value = nullptr;
  json_object_foreach(const_cast<json_t*>(object), key, value) keys.emplace_back(key);
  return keys;
}

TEST_F(ConfigCommands, InitDescribesTheDeviceWhateverTheParameter) {
  const std::string version =
      R"({"command": 1, "parameter": {"vl_version": {"vl_version_major": 1, "vl_version_minor": 3, )"
      R"("vl_version_build": "8727D"}, "device_id": {)";
  for (const char* parameter : {"null", "{}", "7", R"({"session_id": 1})"}) {
    SCOPED_TRACE(parameter);
    const std::string body = answer(init, parameter);
    EXPECT_TRUE(body.starts_with(version)) << body;
    VlJsonRef description(json_loads(body.c_str(), 0, nullptr));
    const json_t* parts = json_object_get(description.get(), "parameter");
    EXPECT_EQ(keys_of(parts), (std::vector<std::string>{"vl_version", "device_id", "network_interface", "ptp_status",
                                                        "audio_device_list", "session_list"}));
    // No reserved device, so no driver attributes.
    const json_t* first_device = json_array_get(json_object_get(parts, "audio_device_list"), 0);
    EXPECT_EQ(keys_of(first_device), (std::vector<std::string>{"audio_device_name", "audio_properties", "audio_config",
                                                               "audio_captid", "audio_playid"}));
  }
}

// A reserved driver's attributes show while it runs: the ramp analyzer's
// last good timestamp, mismatch count and offset; a generator has none.
TEST_F(ConfigCommands, InitShowsTheAttributesOfReservedDrivers) {
  if (!a_.can_reserve()) GTEST_SKIP() << "this daemon has no audio_rsv (command 14) yet";
  ASSERT_TRUE(a_.reserve("AnalyzerRamp"));
  ASSERT_TRUE(a_.reserve("GeneratorRamp"));
  const VlJsonRef description = a_.describe();
  std::size_t index = 0;
  json_t* device = nullptr;
  int reserved = 0;
  json_array_foreach(json_object_get(description.get(), "audio_device_list"), index, device) {
    const std::string name = text_of(json_object_get(device, "audio_device_name"));
    SCOPED_TRACE(name);
    EXPECT_EQ(text_of(json_object_get(device, "audio_attributes")), name == R"("AnalyzerRamp")" ? "[0, 0, 0]" : "");
    reserved += json_object_size(json_object_get(device, "audio_config")) > 0;
  }
  EXPECT_EQ(reserved, 2);
}

TEST_F(ConfigCommands, DoneAnswersNullWhateverTheParameter) {
  for (const char* parameter : {"null", "{}", "[1]"})
    EXPECT_EQ(answer(done, parameter), R"({"command": 2, "parameter": null})");
}

TEST_F(ConfigCommands, SaveRefusesAParameterWithoutItsKeys) {
  for (const char* parameter :
       {"{}", R"("ui")", R"({"vl_clt_config_file": "ui"})", R"({"vl_clt_config": {}})",
        R"({"vl_clt_config_file": 1, "vl_clt_config": {}})", R"({"vl_clt_config_file": "ui", "vl_clt_config": []})"})
    EXPECT_TRUE(refused(answer(save_config, parameter), save_config, 22, "Invalid parameter for save command!"));
  EXPECT_FALSE(file_exists(a_.config_path()));
}

TEST_F(ConfigCommands, SaveKeepsANamedObjectAndWritesItToTheFile) {
  EXPECT_EQ(save("ui", R"({"volume": 3, "names": ["a", "b"]})"), R"({"command": 3, "parameter": null})");
  EXPECT_EQ(load("ui"), R"({"command": 4, "parameter": {"vl_clt_config": {"volume": 3, "names": ["a", "b"]}}})");
  EXPECT_EQ(json_integer_value(json_object_get(json_object_get(saved_settings().get(), "ui"), "volume")), 3);
  EXPECT_EQ(save("ui", R"({"volume": 4})"), R"({"command": 3, "parameter": null})");
  EXPECT_EQ(load("ui"), R"({"command": 4, "parameter": {"vl_clt_config": {"volume": 4}}})");
  EXPECT_EQ(json_integer_value(json_object_get(json_object_get(saved_settings().get(), "ui"), "volume")), 4);
}

TEST_F(ConfigCommands, SaveUnderStarOrOfAnEmptyObjectOnlyWritesTheFile) {
  const struct {
    const char* name;
    const char* settings;
  } cases[] = {{"*", R"({"volume": 3})"}, {"ui", "{}"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_EQ(del("*"), R"({"command": 5, "parameter": null})");
    EXPECT_EQ(save(c.name, c.settings), R"({"command": 3, "parameter": null})");
    EXPECT_TRUE(file_exists(a_.config_path()));
    EXPECT_TRUE(
        refused(load(c.name), load_config, 22, std::string("Could not get requested value for key: ") + c.name + "!"));
    EXPECT_EQ(json_object_size(saved_settings().get()), 0u);
  }
}

// The client is told when its settings did not reach the disk; they stay
// stored in the daemon.
TEST_F(ConfigCommands, SaveReportsAFileThatCannotBeWritten) {
  ASSERT_EQ(mkdir((a_.daemon().home() + "/.Velanto").c_str(), 0700), 0);
  ASSERT_EQ(mkdir(a_.config_path().c_str(), 0700), 0);  // a directory where the file belongs
  EXPECT_TRUE(refused(save("ui", R"({"volume": 3})"), save_config, 5, "Could not save configuration to velanto.cfg!"));
  EXPECT_EQ(load("ui"), R"({"command": 4, "parameter": {"vl_clt_config": {"volume": 3}}})");
}

TEST_F(ConfigCommands, LoadRefusesAMissingKeyAndAnUnknownName) {
  for (const char* parameter : {"{}", "null", R"({"vl_clt_config_file": 5})"})
    EXPECT_TRUE(refused(answer(load_config, parameter), load_config, 22, "Invalid parameter for load command!"));
  EXPECT_TRUE(refused(load("never"), load_config, 22, "Could not get requested value for key: never!"));
}

TEST_F(ConfigCommands, DelRefusesAParameterWithoutItsKey) {
  for (const char* parameter : {"{}", "[]", R"({"vl_clt_config_file": null})"})
    EXPECT_TRUE(refused(answer(del_config, parameter), del_config, 22, "Invalid parameter for delete command!"));
}

TEST_F(ConfigCommands, DelForgetsANamedEntryAndAnswersNullForAnUnknownOne) {
  ASSERT_EQ(save("ui", R"({"volume": 3})"), R"({"command": 3, "parameter": null})");
  EXPECT_EQ(del("ui"), R"({"command": 5, "parameter": null})");
  EXPECT_TRUE(refused(load("ui"), load_config, 22, "Could not get requested value for key: ui!"));
  EXPECT_EQ(del("never"), R"({"command": 5, "parameter": null})");
  EXPECT_TRUE(file_exists(a_.config_path()));  // the file changes with the next save
}

TEST_F(ConfigCommands, DelStarRemovesTheFileAndTheNextUnchangedSaveWritesItAgain) {
  ASSERT_EQ(save("*", "{}"), R"({"command": 3, "parameter": null})");
  ASSERT_TRUE(file_exists(a_.config_path()));
  EXPECT_EQ(del("*"), R"({"command": 5, "parameter": null})");
  EXPECT_FALSE(file_exists(a_.config_path()));
  EXPECT_EQ(save("*", "{}"), R"({"command": 3, "parameter": null})");
  EXPECT_TRUE(file_exists(a_.config_path()));
}

}  // namespace
