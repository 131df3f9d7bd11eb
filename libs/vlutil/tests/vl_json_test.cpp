#include "vlutil/vl_json.h"
#include "vlutil/vl_json_ref.h"

#include "vlsys/vl_log.h"
#include "vltest/log_capture.h"
#include "vltest/temp_home.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

namespace {

namespace fs = std::filesystem;

std::string file_text(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

void write_text(const std::string& path, const std::string& text) {
  fs::create_directories(fs::path(path).parent_path());
  std::ofstream(path, std::ios::binary) << text;
}

// The MD5 of `text` as /usr/bin/md5sum computes it.
std::string md5sum(const std::string& text) {
  vltest::TempDir dir;
  const std::string path = dir.path() + "/text";
  write_text(path, text);
  FILE* pipe = popen(("/usr/bin/md5sum " + path).c_str(), "r");
  if (!pipe) return "";
  char digest[33] = {};
  const size_t n = fread(digest, 1, 32, pipe);
  pclose(pipe);
  return std::string(digest, n);
}

TEST(VlJsonKeys, TableHoldsEveryKeyWithItsType) {
  const std::vector<std::pair<const char*, json_type>> expected = {
      {"vl_clt_config_file", JSON_STRING}, {"vl_clt_config", JSON_OBJECT},
      {"vl_version", JSON_OBJECT}, {"vl_version_major", JSON_INTEGER},
      {"vl_version_minor", JSON_INTEGER}, {"vl_version_build", JSON_STRING},
      {"device_id", JSON_OBJECT}, {"serial_number", JSON_STRING},
      {"vendor_id", JSON_STRING}, {"device", JSON_STRING},
      {"device_type", JSON_INTEGER}, {"device_variant", JSON_INTEGER},
      {"ptp_configuration", JSON_OBJECT}, {"ptp_status", JSON_OBJECT},
      {"ptp_domain", JSON_INTEGER}, {"ptp_port_state", JSON_INTEGER},
      {"ptp_slave_only", JSON_INTEGER}, {"ptp_is_syncronized", JSON_INTEGER},
      {"ptp_master_ip", JSON_STRING}, {"ptp_delay_mechanism", JSON_INTEGER},
      {"ptp_gm_id", JSON_STRING}, {"ptp_gm_clock_class", JSON_INTEGER},
      {"ptp_gm_clock_accuracy", JSON_INTEGER}, {"ptp_offset_nsec", JSON_INTEGER},
      {"ptp_offset_sign", JSON_INTEGER}, {"ptp_prio_1", JSON_INTEGER},
      {"ptp_prio_2", JSON_INTEGER}, {"ptp_log_announce", JSON_INTEGER},
      {"ptp_log_sync", JSON_INTEGER}, {"ptp_dscp", JSON_INTEGER},
      {"audio_device", JSON_OBJECT}, {"audio_device_list", JSON_ARRAY},
      {"audio_device_name", JSON_STRING}, {"audio_properties", JSON_OBJECT},
      {"audio_config", JSON_OBJECT}, {"audio_captid", JSON_ARRAY},
      {"audio_playid", JSON_ARRAY}, {"audio_encoder_list", JSON_ARRAY},
      {"session", JSON_OBJECT}, {"session_list", JSON_ARRAY},
      {"session_addr", JSON_STRING}, {"session_port", JSON_INTEGER},
      {"session_id", JSON_OBJECT}, {"session_sender", JSON_OBJECT},
      {"session_receiver", JSON_OBJECT}, {"session_info_list", JSON_ARRAY},
      {"session_sender_info", JSON_OBJECT}, {"session_receiver_info", JSON_OBJECT},
      {"stream", JSON_OBJECT}, {"stream_type", JSON_INTEGER},
      {"stream_sdp_id", JSON_INTEGER}, {"stream_address", JSON_STRING},
      {"stream_port", JSON_INTEGER}, {"stream_clkdomain", JSON_STRING},
      {"stream_payload", JSON_INTEGER}, {"stream_dscp", JSON_INTEGER},
      {"stream_encoding", JSON_STRING}, {"stream_synctime", JSON_INTEGER},
      {"stream_clockdev_num", JSON_INTEGER}, {"stream_clockdev_den", JSON_INTEGER},
      {"stream_channelmap", JSON_ARRAY}, {"stream_end2enddelay", JSON_INTEGER},
      {"stream_packetduration", JSON_INTEGER}, {"stream_seqno", JSON_INTEGER},
      {"stream_sdp", JSON_STRING}, {"rtcp_seqno", JSON_INTEGER},
      {"rtcp_ssrc", JSON_INTEGER}, {"rtcp_cname", JSON_STRING},
      {"rtcp_sender_info", JSON_OBJECT}, {"rtcp_receiver_info", JSON_ARRAY},
      {"rtcp_ntp_sec", JSON_INTEGER}, {"rtcp_ntp_frac", JSON_INTEGER},
      {"rtcp_rtp_ts", JSON_INTEGER}, {"rtcp_psend", JSON_INTEGER},
      {"rtcp_osend", JSON_INTEGER}, {"rtcp_lost", JSON_INTEGER},
      {"rtcp_last_seq", JSON_INTEGER}, {"rtcp_jitter", JSON_INTEGER},
      {"rtcp_lsr", JSON_INTEGER}, {"rtcp_dlsr", JSON_INTEGER},
      {"log_category_list", JSON_OBJECT}, {"log_category", JSON_STRING},
      {"log_priority", JSON_INTEGER}, {"network_interface", JSON_ARRAY},
      {"network_interface_name", JSON_STRING}, {"network_interface_mac", JSON_ARRAY},
      {"network_interface_addr", JSON_INTEGER}, {"network_interface_mask", JSON_INTEGER},
      {"network_interface_type", JSON_INTEGER}, {"event_id", JSON_INTEGER},
      {"event_originator", JSON_STRING}, {"event_exclusive", JSON_INTEGER},
      {"event_data", JSON_STRING}, {"stream_sap", JSON_INTEGER},
      {"sap_list", JSON_ARRAY}, {"rtcp_reporter_ssrc", JSON_INTEGER},
      {"unknown key", JSON_STRING},
  };
  ASSERT_EQ(expected.size(), 97u);
  for (size_t i = 0; i < expected.size(); ++i) {
    EXPECT_STREQ(vl_json_keys[i].name, expected[i].first) << "index " << i;
    EXPECT_EQ(vl_json_keys[i].type, static_cast<uint32_t>(expected[i].second)) << "index " << i;
  }
  // The named indices others use follow the table.
  EXPECT_STREQ(vl_json_keys[VL_KEY_SESSION_PORT].name, "session_port");
  EXPECT_EQ(VL_KEY_SESSION_PORT, 41);
  EXPECT_STREQ(vl_json_keys[VL_KEY_PTP_IS_SYNCRONIZED].name, "ptp_is_syncronized");
  EXPECT_STREQ(vl_json_keys[VL_KEY_RTCP_DLSR].name, "rtcp_dlsr");
  EXPECT_STREQ(vl_json_keys[VL_KEY_EVENT_DATA].name, "event_data");
}

TEST(VlJsonKeys, TypeNames) {
  const char* expected[] = {"JSON object",        "JSON array",          "JSON string",
                            "JSON integer (number)", "JSON real (number)", "JSON true (boolean)",
                            "JSON false (boolean)",  "JSON null"};
  for (int type = 0; type < 8; ++type) EXPECT_STREQ(vl_json_type_name(type), expected[type]);
  EXPECT_STREQ(vl_json_type_name(8), "JSON type unknown");
  EXPECT_STREQ(vl_json_type_name(-1), "JSON type unknown");
}

TEST(VlJsonCheck, ReportsEveryMissingKeyThenOneSummary) {
  vltest::LogCapture log;
  VlJsonRef json(json_pack("{s:s}", "session_addr", "239.1.2.3"));
  EXPECT_FALSE(vl_json_check(json.get(), "session_add", 3, VL_KEY_SESSION_ADDR, VL_KEY_SESSION_PORT,
                             VL_KEY_NETWORK_INTERFACE_NAME));
  const auto records = log.records();
  ASSERT_EQ(records.size(), 3u);
  EXPECT_EQ(records[0].message, "Key \"session_port\" not found.");
  EXPECT_EQ(records[1].message, "Key \"network_interface_name\" not found.");
  EXPECT_EQ(records[2].message, "vl_json_object_check() failed in session_add!");
  for (const auto& r : records) {
    EXPECT_EQ(r.priority, VL_LOG_ERROR);
    EXPECT_EQ(r.category, "velanto");
  }
}

TEST(VlJsonCheck, WrongTypeFailsAndNamesBothTypes) {
  vltest::LogCapture log;
  VlJsonRef json(json_pack("{s:s, s:s}", "session_addr", "239.1.2.3", "session_port", "5004"));
  EXPECT_FALSE(vl_json_check(json.get(), "caller", 2, VL_KEY_SESSION_PORT, VL_KEY_SESSION_ADDR));
  const auto records = log.records();
  ASSERT_EQ(records.size(), 2u);
  EXPECT_EQ(records[0].message, "Key \"session_port\" has wrong type 2, should be 3!");
  EXPECT_EQ(records[1].message, "vl_json_object_check() failed in caller!");
}

TEST(VlJsonCheck, CompleteObjectsPassAndNonObjectsFail) {
  vltest::LogCapture log;
  VlJsonRef json(json_pack("{s:s, s:i, s:s}", "session_addr", "239.1.2.3", "session_port", 5004,
                           "network_interface_name", "eth0"));
  EXPECT_TRUE(vl_json_check(json.get(), "caller", 3, VL_KEY_SESSION_ADDR, VL_KEY_SESSION_PORT,
                            VL_KEY_NETWORK_INTERFACE_NAME));
  VlJsonRef empty(json_object());
  EXPECT_TRUE(vl_json_check(empty.get(), "caller", 0));
  EXPECT_TRUE(log.records().empty());

  VlJsonRef array(json_array());
  EXPECT_FALSE(vl_json_check(array.get(), "array_caller", 0));
  EXPECT_FALSE(vl_json_check(nullptr, "null_caller", 1, VL_KEY_SESSION_PORT));
  EXPECT_EQ(log.count("No json object given from array_caller!"), 1);
  EXPECT_EQ(log.count("No json object given from null_caller!"), 1);
}

TEST(VlJsonCheck, IndicesOutsideTheTableFailInsteadOfReadingPastIt) {
  vltest::LogCapture log;
  VlJsonRef json(json_object());
  EXPECT_FALSE(vl_json_check(json.get(), "caller", 2, -1, VL_KEY_COUNT));
  EXPECT_EQ(log.count("out of range"), 2);
  EXPECT_EQ(log.count("failed in caller!"), 1);
}

TEST(VlJsonKey, MapsNamesWithTheirTypeToIndices) {
  vltest::LogCapture log;
  VlJsonRef port(json_integer(5004));
  VlJsonRef text(json_string("x"));
  EXPECT_EQ(vl_json_key("caller", "session_port", port.get()), VL_KEY_SESSION_PORT);
  EXPECT_EQ(vl_json_key("caller", "vl_clt_config_file", text.get()), VL_KEY_CLT_CONFIG_FILE);
  EXPECT_EQ(vl_json_key("caller", "event_data", text.get()), VL_KEY_EVENT_DATA);
  EXPECT_TRUE(log.records().empty());
}

TEST(VlJsonKey, WrongTypeIsLoggedWithTypeNames) {
  vltest::LogCapture log;
  VlJsonRef text(json_string("5004"));
  EXPECT_EQ(vl_json_key("VlSession", "session_port", text.get()), VL_KEY_UNKNOWN);
  const auto records = log.records();
  ASSERT_EQ(records.size(), 1u);
  EXPECT_EQ(records[0].message,
            "VlSession: Illegal type of key session_port. Should be JSON integer (number), but is JSON string!");
  EXPECT_EQ(records[0].priority, VL_LOG_ERROR);
}

TEST(VlJsonKey, UnknownNamesIncludingTheSentinelAreNotFound) {
  vltest::LogCapture log;
  VlJsonRef text(json_string("x"));
  for (const char* key : {"unknown key", "session_por", "session_port_", "Session_port", ""})
    EXPECT_EQ(vl_json_key("caller", key, text.get()), VL_KEY_UNKNOWN) << key;
  EXPECT_EQ(log.count("caller: Unknown key unknown key inside json object!"), 1);
  EXPECT_EQ(log.count("Unknown key"), 5);
  EXPECT_EQ(log.count("Illegal type"), 0);
}

TEST(VlJsonFile, SavedFileIsIndentedTextInOrderThenItsDigest) {
  vltest::TempHome home;
  VlJsonRef json(json_pack("{s:i, s:{s:s, s:[i, i]}}", "zeta", 1, "alpha", "b", "x", "a", 1, 2));
  ASSERT_EQ(vl_json_save_file(json.get(), "test.cfg"), 0);

  const std::string expected_text =
      "{\n"
      "  \"zeta\": 1,\n"
      "  \"alpha\": {\n"
      "    \"b\": \"x\",\n"
      "    \"a\": [\n"
      "      1,\n"
      "      2\n"
      "    ]\n"
      "  }\n"
      "}";
  const std::string digest = md5sum(expected_text);
  ASSERT_TRUE(std::regex_match(digest, std::regex("[0-9a-f]{32}"))) << digest;
  EXPECT_EQ(file_text(home.config_path("test.cfg")), expected_text + "\n" + digest + "\n");

  VlJsonRef loaded(vl_json_load_file("test.cfg"));
  ASSERT_TRUE(loaded);
  EXPECT_TRUE(json_equal(loaded.get(), json.get()));
}

TEST(VlJsonFile, LoadingIgnoresTheDigestLineAndTrailingText) {
  vltest::TempHome home;
  write_text(home.config_path("edited.cfg"),
             "{\n  \"session_port\": 5004\n}\n0123456789abcdef0123456789abcdef\nanything { not json\n");
  VlJsonRef loaded(vl_json_load_file("edited.cfg"));
  ASSERT_TRUE(loaded);
  EXPECT_EQ(json_integer_value(json_object_get(loaded.get(), "session_port")), 5004);

  write_text(home.config_path("trailing.cfg"), "[1, 2] [3]");
  VlJsonRef trailing(vl_json_load_file("trailing.cfg"));
  ASSERT_TRUE(json_is_array(trailing.get()));
  EXPECT_EQ(json_array_size(trailing.get()), 2u);
}

TEST(VlJsonFile, LoadingFallsBackToTheBackup) {
  vltest::TempHome home;
  VlJsonRef first(json_pack("{s:i}", "generation", 1));
  VlJsonRef second(json_pack("{s:i}", "generation", 2));
  ASSERT_EQ(vl_json_save_file(first.get(), "velanto.cfg"), 0);
  ASSERT_EQ(vl_json_save_file(second.get(), "velanto.cfg"), 0);
  ASSERT_TRUE(fs::remove(home.config_path("velanto.cfg")));
  VlJsonRef loaded(vl_json_load_file("velanto.cfg"));
  ASSERT_TRUE(loaded);
  EXPECT_TRUE(json_equal(loaded.get(), first.get()));
}

TEST(VlJsonFile, FailuresAreLoggedAtInfo) {
  vltest::TempHome home;
  vltest::LogCapture log;
  EXPECT_EQ(vl_json_load_file("missing.cfg"), nullptr);
  EXPECT_EQ(log.count("Could not open file missing.cfg: No such file or directory!"), 1);

  write_text(home.config_path("broken.cfg"), "{\"a\": ");
  EXPECT_EQ(vl_json_load_file("broken.cfg"), nullptr);
  EXPECT_EQ(log.count("Could not read file broken.cfg: "), 1);

  // A bare number is no document: jansson dumps nothing for it.
  VlJsonRef number(json_integer(3));
  EXPECT_EQ(vl_json_save_file(number.get(), "number.cfg"), -1);
  EXPECT_EQ(log.count("Did not find any information to save!"), 1);

  VlJsonRef object(json_object());
  EXPECT_EQ(vl_json_save_file(object.get(), "a/b"), -1);
  EXPECT_EQ(log.count("Could not write file a/b: Invalid argument!"), 1);
  for (const auto& r : log.records()) EXPECT_EQ(r.priority, VL_LOG_INFO) << r.message;
}

TEST(VlJsonRef, ReleasesItsReferenceUnlessHandedOn) {
  json_t* value = json_object();
  {
    VlJsonRef first = VlJsonRef::borrow(value);
    EXPECT_EQ(value->refcount, 2u);
    VlJsonRef moved(std::move(first));
    EXPECT_EQ(first.get(), nullptr);
    EXPECT_EQ(moved.get(), value);
    EXPECT_EQ(value->refcount, 2u);
  }
  EXPECT_EQ(value->refcount, 1u);
  VlJsonRef owner(value);
  json_t* handed = owner.release();
  EXPECT_FALSE(owner);
  EXPECT_EQ(handed->refcount, 1u);
  owner.reset(handed);
}

}  // namespace
