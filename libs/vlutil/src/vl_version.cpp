#include "vlutil/vl_version.h"

#include "vlsys/vl_log.h"
#include "vlutil/vl_json.h"

#include <cerrno>
#include <cstdio>
#include <new>

VlVersion* vl_version_ctor(int64_t major, int64_t minor, const char* build) {
  auto* version = new (std::nothrow) VlVersion{};
  if (!version) return nullptr;
  version->major = major < 0 ? vl_version_current_major : static_cast<uint32_t>(major);
  version->minor = minor < 0 ? vl_version_current_minor : static_cast<uint32_t>(minor);
  std::snprintf(version->build, sizeof version->build, "%s", build ? build : vl_version_current_build);
  return version;
}

void vl_version_dtor(VlVersion* version) { delete version; }

bool vl_version_eq(const VlVersion* a, const VlVersion* b) {
  if (a == b) return true;
  return a && b && a->major == b->major && a->minor == b->minor;
}

bool vl_version_is(const VlVersion* version, uint32_t number) {
  return version && version->major == number / 100 && version->minor == number % 100;
}

bool vl_version_is_current(const VlVersion* version) {
  return version && version->major == vl_version_current_major &&
         version->minor == vl_version_current_minor;
}

json_t* vl_version_encode(const VlVersion* version) {
  if (!version) return json_object();
  return json_pack("{s:I, s:I, s:s}", vl_json_keys[VL_KEY_VERSION_MAJOR].name, static_cast<json_int_t>(version->major),
                   vl_json_keys[VL_KEY_VERSION_MINOR].name, static_cast<json_int_t>(version->minor),
                   vl_json_keys[VL_KEY_VERSION_BUILD].name, version->build);
}

VlVersion* vl_version_decode(const json_t* json) {
  if (json_object_size(json) == 0) {
    errno = EINVAL;
    return nullptr;
  }
  int64_t major = 0;
  int64_t minor = 0;
  const char* build = nullptr;
  const char* key;
  const json_t* value;
  json_object_foreach(const_cast<json_t*>(json), key, value) {
    switch (vl_json_key("VlVersion", key, value)) {
      case VL_KEY_VERSION_MAJOR:
        major = json_integer_value(value);
        break;
      case VL_KEY_VERSION_MINOR:
        minor = json_integer_value(value);
        break;
      case VL_KEY_VERSION_BUILD:
        build = json_string_value(value);
        break;
      default:
        break;
    }
  }
  VlVersion* version = vl_version_ctor(major, minor, build);
  if (!version) VL_LOG(vl_log_general(), VL_LOG_FATAL, "Could not allocate memory for version information.");
  return version;
}

const char* vl_strversion(const VlVersion* version) {
  static char text[64];
  if (version)
    std::snprintf(text, sizeof text, "%u.%u-%s (%s)", version->major, version->minor, version->build,
                  "unknown");
  else
    std::snprintf(text, sizeof text, "%s.%s-%s (%s)", "1", "3", vl_version_current_build, "unknown");
  return text;
}
