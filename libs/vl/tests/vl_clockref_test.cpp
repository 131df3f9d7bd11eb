#include "vl/vl_clockref.h"

#include "vltest/log_capture.h"

#include <gtest/gtest.h>

#include <string>

namespace {

// A reference that only names itself.
class NamedReference : public VlClockref {
 public:
  explicit NamedReference(std::string name) : name_(std::move(name)) {}
  const char* description() override { return name_.c_str(); }

 private:
  std::string name_;
};

struct NotAReference : VlControllable {};

TEST(ClockrefFind, MatchesDescriptionAndPrefersTheFirstRegistered) {
  EXPECT_EQ(vl_clockref_find("PTPv2 0"), nullptr);
  NotAReference other;
  NamedReference first("PTPv2 0");
  NamedReference unrelated("PTPv2 1");
  NamedReference second("PTPv2 0");
  EXPECT_EQ(vl_clockref_find("PTPv2 0"), &first);
  EXPECT_EQ(vl_clockref_find("PTPv2 1"), &unrelated);
  EXPECT_EQ(vl_clockref_find("PTPv2"), nullptr);
  EXPECT_EQ(vl_clockref_find(nullptr), nullptr);
}

TEST(ClockrefFind, ForgetsDestroyedReferences) {
  {
    NamedReference gone("PTPv2 0");
    EXPECT_EQ(vl_clockref_find("PTPv2 0"), &gone);
  }
  EXPECT_EQ(vl_clockref_find("PTPv2 0"), nullptr);
}

TEST(ClockrefDeathTest, AbstractOperationsAbortWithTheirDispatchName) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  NamedReference reference("x");
  const auto to_stderr = vltest::log_to_stderr;
  EXPECT_DEATH((to_stderr(), vl_clockref_now(&reference, nullptr)), "pure virtual function call in vl_clockref_now!");
  EXPECT_DEATH((to_stderr(), vl_clockref_timer_create(&reference, 0, 1, nullptr, nullptr)),
               "pure virtual function call in vl_clockref_timer_create!");
  EXPECT_DEATH((to_stderr(), vl_clockref_compatible(&reference, "x")),
               "pure virtual function call in vl_clockref_compatible!");
}

TEST(ClockrefDeathTest, FindAbortsOnAReferenceWithoutDescription) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  struct Nameless : VlClockref {};
  EXPECT_DEATH(
      {
        vltest::log_to_stderr();
        Nameless nameless;
        vl_clockref_find("PTPv2 0");
      },
      "pure virtual function call in vl_clockref_description!");
}

}  // namespace
