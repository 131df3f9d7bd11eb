#include "vlutil/vl_version.h"

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

const char* vl_strversion(const VlVersion* version) {
  static char text[64];
  if (version)
    std::snprintf(text, sizeof text, "%u.%u-%s (%s)", version->major, version->minor, version->build,
                  "unknown");
  else
    std::snprintf(text, sizeof text, "%s.%s-%s (%s)", "1", "3", vl_version_current_build, "unknown");
  return text;
}
