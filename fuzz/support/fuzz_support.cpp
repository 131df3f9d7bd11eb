#include "fuzz_support.h"

#include "vlsys/log4c_velanto_layout.h"
#include "vlsys/vl_log.h"
#include "vltest/media_platform.h"
#include "vltest/netlab.h"
#include "vltest/process.h"
#include "vltest/temp_home.h"
#include "vlutil/vl_event.h"
#include "vlutil/vl_json_ref.h"

#include <sched.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <vector>

namespace fuzz {
namespace {

int drop_record(log4c_appender_t*, const log4c_logging_event_t*) { return 0; }

const log4c_appender_type_t drop_type = {"fuzz_drop", nullptr, drop_record, nullptr};

void run_ip(const std::vector<std::string>& args) {
  std::vector<std::string> argv = {vltest::ip_program()};
  argv.insert(argv.end(), args.begin(), args.end());
  const vltest::ProcessResult result = vltest::run_process(argv, std::chrono::seconds(10));
  if (result.status == 0) return;
  std::fprintf(stderr, "fuzz: ip %s failed: %s\n", args.empty() ? "" : args[0].c_str(), result.output.c_str());
  std::abort();
}

struct Lab {
  vltest::TempHome home;
  vltest::MediaPlatform platform;
  VlDevice* device = nullptr;
  json_t* priorities = nullptr;  // as they were before the first input
};

Lab* lab = nullptr;

}  // namespace

void quiet_logging() {
  if (!vl_log_general()) vl_log_init("fuzz");
  log4c_appender_type_set(&drop_type);
  // FUZZ_LOG=1 shows the records, for looking into a finding.
  const bool shown = std::getenv("FUZZ_LOG") != nullptr;
  log4c_appender_t* appender = log4c_appender_get(shown ? "stderr" : "fuzz_drop");
  if (!shown) log4c_appender_set_type(appender, &drop_type);
  log4c_layout_t* layout = log4c_layout_get("fuzz_velanto");
  log4c_layout_set_type(layout, &log4c_layout_type_velanto);
  log4c_appender_set_layout(appender, layout);
  log4c_category_t* root = vl_log_category("root");
  log4c_category_set_appender(root, appender);
  log4c_category_set_priority(root, VL_LOG_TRACE);
}

void enter_private_network() {
  if (unshare(CLONE_NEWNET) != 0) {
    std::perror("fuzz: unshare(CLONE_NEWNET) (run as root)");
    std::abort();
  }
  run_ip({"link", "set", "lo", "up"});
  run_ip({"link", "add", link_device, "address", "02:66:7a:00:00:01", "type", "veth", "peer", "name", "fz1"});
  run_ip({"addr", "add", std::string(link_address) + "/24", "dev", link_device});
  run_ip({"link", "set", link_device, "up"});
  run_ip({"link", "set", "fz1", "up"});
  run_ip({"route", "add", vltest::NetLab::multicast_route, "dev", link_device});
}

std::unique_ptr<char[]> text_of(const uint8_t* data, std::size_t size) {
  const auto* end = static_cast<const uint8_t*>(std::memchr(data, 0, size));
  const std::size_t length = end ? static_cast<std::size_t>(end - data) : size;
  std::unique_ptr<char[]> text(new char[length + 1]);
  std::memcpy(text.get(), data, length);
  text[length] = '\0';
  return text;
}

VlDevice* lab_device() {
  if (lab) return lab->device;
  // Every configuration save syncs its file: on tmpfs that costs nothing.
  if (access("/dev/shm", W_OK) == 0) setenv("TMPDIR", "/dev/shm", 0);
  lab = new Lab;
  lab->device = vltest::make_device(link_device);
  require(lab->device != nullptr, "the lab device could not be made");
  lab->priorities = vl_log_get_category_list();
  return lab->device;
}

void reset_lab_device() {
  VlDevice* device = lab->device;
  VlLock lock(device->control_lock);
  vl_device_del_sessions(device);
  // A fresh list: no reservation and no channel name survives.
  vl_device_audio_done(device);
  require(vl_device_audio_init(device) == 0, "the lab device's audio devices could not be listed again");
  device->additional.reset(json_object());
  device->kept_audio_devices.reset(json_array());
  device->kept_sessions.reset(json_array());
  // Files go directly: the configuration delete syncs every file system.
  device->last_saved_configuration.clear();
  std::error_code ignored;
  std::filesystem::remove_all(lab->home.path() + "/.Velanto", ignored);
  vl_event_exit();
  // Categories made since stay (log4c keeps them) but inherit again.
  const VlJsonRef now(vl_log_get_category_list());
  const char* name = nullptr;
  json_t* priority = nullptr;
  json_object_foreach(now.get(), name, priority) {
    const json_t* before = json_object_get(lab->priorities, name);
    vl_log_priority_set(name, before ? static_cast<int>(json_integer_value(before)) : LOG4C_PRIORITY_NOTSET);
  }
}

void require(bool condition, const char* what) {
  if (condition) return;
  std::fprintf(stderr, "fuzz: %s\n", what);
  std::abort();
}

void require_equal(const std::string& expected, const std::string& actual, const char* what) {
  if (expected == actual) return;
  std::fprintf(stderr, "fuzz: expected:\n%s\nfuzz: actual:\n%s\n", expected.c_str(), actual.c_str());
  require(false, what);
}

}  // namespace fuzz
