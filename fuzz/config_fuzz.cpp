// "velanto.cfg" as a damaged or hostile file may hold it: the input is the
// file, loaded into the lab device as start-up loads it (reservations,
// sessions and streams in the private network). Nothing it held may be
// lost: what one save writes, a fresh load and save give back unchanged.
#include "fuzz_support.h"

#include "vl/vl_device_config.h"
#include "vlsys/host_config.h"
#include "vlutil/vl_json_ref.h"

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

constexpr const char* file = "velanto.cfg";
constexpr const char* saved_file = "velanto_saved.cfg";

std::string dumped(const json_t* json) {
  char* text = json_dumps(json, JSON_INDENT(1) | JSON_PRESERVE_ORDER);
  std::string result = text ? text : "";
  std::free(text);
  return result;
}

std::string path_of(const char* name) { return std::string(std::getenv("HOME")) + "/.Velanto/" + name; }

std::string contents(const char* name) {
  std::ifstream in(path_of(name), std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// The saved JSON with its lists in a fixed order: each load reverses the
// order of the sessions, and elements kept for the next save follow the
// restored ones.
std::string canonical(const std::string& saved) {
  json_error_t error;
  const VlJsonRef json(json_loadb(saved.data(), saved.size(), JSON_DISABLE_EOF_CHECK, &error));
  fuzz::require(static_cast<bool>(json), "a saved configuration is not JSON");
  for (const char* list : {"session_list", "audio_device_list"}) {
    json_t* array = json_object_get(json.get(), list);
    std::vector<std::string> elements;
    std::size_t index = 0;
    json_t* element = nullptr;
    json_array_foreach(array, index, element) elements.push_back(dumped(element));
    std::sort(elements.begin(), elements.end());
    json_array_clear(array);
    for (const std::string& text : elements) json_array_append_new(array, json_loads(text.c_str(), 0, &error));
  }
  return dumped(json.get());
}

int load(VlDevice* device, const char* name) {
  VlLock lock(device->control_lock);
  return vl_device_load_configuration(device, name);
}

int save(VlDevice* device, const char* name) {
  VlLock lock(device->control_lock);
  device->last_saved_configuration.clear();
  return vl_device_save_configuration(device, name);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz::quiet_logging();
  fuzz::enter_private_network();
  fuzz::lab_device();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  VlDevice* device = fuzz::lab_device();
  fuzz::require(vl_config_save(file, data, size) == 0, "the input could not be written");
  if (load(device, file) == 0) {
    fuzz::require(save(device, saved_file) == 0, "a loaded configuration could not be saved");
    const std::string first = contents(saved_file);
    const std::string first_canonical = canonical(first);
    fuzz::reset_lab_device();
    fuzz::require(vl_config_save(file, first.data(), first.size()) == 0, "the saved file could not be copied");
    fuzz::require(load(device, file) == 0, "a saved configuration does not load");
    fuzz::require(save(device, saved_file) == 0, "a reloaded configuration could not be saved");
    fuzz::require_equal(first_canonical, canonical(contents(saved_file)),
                        "a save and load lost or changed what was saved");
  }
  fuzz::reset_lab_device();
  return 0;
}
