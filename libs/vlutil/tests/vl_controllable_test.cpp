#include "vlutil/vl_controllable.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

struct Plain : VlControllable {};

std::vector<VlControllable*> listed() {
  std::vector<VlControllable*> out;
  vl_controllable_iterate([](void* context, VlControllable* c) {
    static_cast<std::vector<VlControllable*>*>(context)->push_back(c);
    return 7;
  }, &out);
  return out;
}

TEST(Controllable, ListIsNewestFirstAndFollowsLifetimes) {
  EXPECT_EQ(vl_controllable_iterate([](void*, VlControllable*) { return 7; }, nullptr), 0);
  auto* first = new Plain;
  auto* second = new Plain;
  auto* third = new Plain;
  EXPECT_EQ(listed(), (std::vector<VlControllable*>{third, second, first}));
  EXPECT_EQ(vl_controllable_iterate([](void*, VlControllable*) { return 7; }, nullptr), 7);
  vl_object_delete(second);
  EXPECT_EQ(listed(), (std::vector<VlControllable*>{third, first}));
  vl_object_delete(third);
  vl_object_delete(first);
  EXPECT_TRUE(listed().empty());
}

TEST(Controllable, DefaultsReturnNothing) {
  Plain p;
  EXPECT_EQ(vl_controllable_get_attr(&p, 1), nullptr);
  const int ids[] = {1, 2};
  EXPECT_EQ(vl_controllable_get_group(&p, ids, 2), nullptr);
  EXPECT_EQ(vl_controllable_set_attr(&p), 0);
  EXPECT_EQ(vl_controllable_set_group(&p), 0);
  EXPECT_EQ(vl_controllable_subscribe(&p), 0);
  EXPECT_EQ(vl_controllable_unsubscribe(&p), 0);
  EXPECT_TRUE(vl_object_is_a(&p, vl_controllable_ts));
  json_t* saved = vl_object_save(&p);
  EXPECT_STREQ(json_string_value(json_object_get(saved, "typename")), "VlControllable");
  json_decref(saved);
}

}  // namespace
