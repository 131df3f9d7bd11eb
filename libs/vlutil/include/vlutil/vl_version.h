// The version record of the system (1.3, build "8727D").
#pragma once

#include <jansson.h>

#include <cstdint>

struct VlVersion {
  uint32_t major;
  uint32_t minor;
  char build[16];
};

inline constexpr uint32_t vl_version_current_major = 1;
inline constexpr uint32_t vl_version_current_minor = 3;
inline constexpr const char* vl_version_current_build = "8727D";

// Negative major or minor and a null build take the current version's value.
VlVersion* vl_version_ctor(int64_t major, int64_t minor, const char* build);
void vl_version_dtor(VlVersion* version);

bool vl_version_eq(const VlVersion* a, const VlVersion* b);
// True when major == number / 100 and minor == number % 100.
bool vl_version_is(const VlVersion* version, uint32_t number);
bool vl_version_is_current(const VlVersion* version);

// New JSON object {"vl_version_major", "vl_version_minor", "vl_version_build"};
// an empty object for null.
json_t* vl_version_encode(const VlVersion* version);
// A new record from such an object (absent members: 0, 0 and the current
// build); null with errno EINVAL for an object without members.
VlVersion* vl_version_decode(const json_t* json);

// "1.3-8727D (unknown)" style text in one static buffer (not thread-safe);
// null gives the current version.
const char* vl_strversion(const VlVersion* version);
