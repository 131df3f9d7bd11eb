#include "vlutil/vl_rational.h"

#include "vltest/log_capture.h"

#include <gtest/gtest.h>

namespace {

void expect_rational(vl_rational r, int32_t nom, int32_t den) {
  EXPECT_EQ(r.nom, nom);
  EXPECT_EQ(r.den, den);
}

TEST(Rational, ReduceCarriesSignOnNominator) {
  bool exact = false;
  expect_rational(vl_rational_reduce(6, -4, INT32_MAX, &exact), -3, 2);
  EXPECT_TRUE(exact);
  expect_rational(vl_rational_reduce(-6, -4, INT32_MAX, nullptr), 3, 2);
  expect_rational(vl_rational_reduce(0, -5, INT32_MAX, nullptr), 0, 1);
}

TEST(Rational, Arithmetic) {
  expect_rational(vl_rational_mul({2, 3}, {3, 4}), 1, 2);
  expect_rational(vl_rational_add({1, 2}, {1, 3}), 5, 6);
  expect_rational(vl_rational_sub({1, 2}, {1, 3}), 1, 6);
  expect_rational(vl_rational_sub({1, 3}, {1, 2}), -1, 6);
  expect_rational(vl_rational_div({1000, 1}, {48000, 1}), 1, 48);
}

TEST(Rational, SignsCancel) {
  expect_rational(vl_rational_mul({-2, 3}, {3, -4}), 1, 2);
  expect_rational(vl_rational_mul({-2, 3}, {3, 4}), -1, 2);
}

TEST(Rational, DivisionByZeroGivesMarkerWithoutLog) {
  vltest::LogCapture capture;
  expect_rational(vl_rational_div({1, 2}, {0, 1}), 1, 0);
  expect_rational(vl_rational_div({-1, 2}, {0, 1}), -1, 0);
  EXPECT_TRUE(capture.records().empty());
}

TEST(Rational, UnrepresentableResultIsLogged) {
  vltest::LogCapture capture;
  bool exact = true;
  expect_rational(vl_rational_mul({65536, 1}, {65536, 1}), 1, 0);
  EXPECT_EQ(capture.count("Error 22: Rational given can't be represented exactly: nom=4294967296, den=1."), 1);
  expect_rational(vl_rational_reduce(7, 4294967296LL, INT32_MAX, &exact), 1, 0);
  EXPECT_FALSE(exact);
  expect_rational(vl_rational_reduce(-10, 3, 5, &exact), -1, 0);
  EXPECT_FALSE(exact);
}

TEST(Rational, ZeroOverZeroStaysUndefined) {
  expect_rational(vl_rational_reduce(0, 0, INT32_MAX, nullptr), 0, 0);
  expect_rational(vl_rational_mul({0, 0}, {0, 0}), 0, 0);
  expect_rational(vl_rational_add({0, 0}, {1, 2}), 0, 0);
}

TEST(Rational, CompareIsEqualityTest) {
  EXPECT_FALSE(vl_rational_cmp({1, 2}, {2, 4}));
  EXPECT_TRUE(vl_rational_cmp({1, 2}, {1, 3}));
  EXPECT_FALSE(vl_rational_cmp({48000, 1}, {48000, 1}));
}

TEST(Rational, ExtremeTermsDoNotOverflow) {
  vltest::LogCapture capture;
  // The sum of two products exceeds 64 bits; the reduced result is still exact.
  expect_rational(vl_rational_add({INT32_MIN + 1, INT32_MIN + 1}, {INT32_MIN + 1, INT32_MIN + 1}), 2, 1);
  expect_rational(vl_rational_mul({INT32_MAX, 1}, {1, INT32_MAX}), 1, 1);
  expect_rational(vl_rational_add({INT32_MAX, 1}, {INT32_MAX, 1}), 1, 0);
  EXPECT_EQ(capture.count("can't be represented exactly"), 1);
}

}  // namespace
