#include "vlutil/vl_rational.h"

#include "vlsys/vl_log.h"

#include <cerrno>

namespace {

// Sums of two 64-bit products can exceed 64 bits, so reduction works on
// 128-bit terms.
__extension__ typedef __int128 wide;
__extension__ typedef unsigned __int128 uwide;

uwide magnitude(wide v) { return v < 0 ? 0 - static_cast<uwide>(v) : static_cast<uwide>(v); }

uwide gcd(uwide a, uwide b) {
  while (b != 0) {
    const uwide r = a % b;
    a = b;
    b = r;
  }
  return a;
}

vl_rational reduce_wide(wide nom, wide den, int64_t max, bool* exact) {
  const bool negative = (nom < 0) != (den < 0);
  const uwide n = magnitude(nom);
  const uwide d = magnitude(den);
  const uwide g = d != 0 ? gcd(n, d) : n;
  const uwide rn = g != 0 ? n / g : n;
  const uwide rd = g != 0 ? d / g : d;

  const uwide bound = max < 0 ? 0 : static_cast<uwide>(max);
  if (rd > bound || rn > bound) {
    if (exact) *exact = false;
    if (rd != 0)
      VL_LOG(vl_log_general(), VL_LOG_ERROR,
             "Error %d: Rational given can't be represented exactly: nom=%lld, den=%lld.", EINVAL,
             static_cast<long long>(nom), static_cast<long long>(den));
    return {negative ? -1 : 1, 0};
  }
  if (exact) *exact = true;
  const auto rnom = static_cast<int32_t>(rn);
  return {negative ? -rnom : rnom, static_cast<int32_t>(rd)};
}

vl_rational reduce_fixed(wide nom, wide den) { return reduce_wide(nom, den, vl_rational_max, nullptr); }

wide term(int32_t v) { return static_cast<wide>(v); }

}  // namespace

vl_rational vl_rational_reduce(int64_t nom, int64_t den, int64_t max, bool* exact) {
  return reduce_wide(nom, den, max, exact);
}

bool vl_rational_cmp(vl_rational a, vl_rational b) {
  return term(a.nom) * term(b.den) != term(b.nom) * term(a.den);
}

vl_rational vl_rational_mul(vl_rational a, vl_rational b) {
  return reduce_fixed(term(a.nom) * term(b.nom), term(a.den) * term(b.den));
}

vl_rational vl_rational_div(vl_rational a, vl_rational b) {
  return reduce_fixed(term(a.nom) * term(b.den), term(a.den) * term(b.nom));
}

vl_rational vl_rational_add(vl_rational a, vl_rational b) {
  return reduce_fixed(term(a.den) * term(b.nom) + term(b.den) * term(a.nom),
                      term(a.den) * term(b.den));
}

vl_rational vl_rational_sub(vl_rational a, vl_rational b) {
  return reduce_fixed(term(b.den) * term(a.nom) - term(a.den) * term(b.nom),
                      term(a.den) * term(b.den));
}
