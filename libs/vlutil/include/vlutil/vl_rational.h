// Exact fractions for media clock rates, packet times and tone frequencies.
#pragma once

#include <cstdint>

struct vl_rational {
  int32_t nom;
  int32_t den;
};

inline constexpr int64_t vl_rational_max = INT32_MAX;

// nom/den in lowest terms with both magnitudes at most `max`; otherwise +-1/0
// (and *exact false). `exact` may be null.
vl_rational vl_rational_reduce(int64_t nom, int64_t den, int64_t max, bool* exact);

// False when a and b are equal, true when they differ (memcmp manner).
bool vl_rational_cmp(vl_rational a, vl_rational b);

vl_rational vl_rational_mul(vl_rational a, vl_rational b);
vl_rational vl_rational_div(vl_rational a, vl_rational b);
vl_rational vl_rational_add(vl_rational a, vl_rational b);
vl_rational vl_rational_sub(vl_rational a, vl_rational b);
