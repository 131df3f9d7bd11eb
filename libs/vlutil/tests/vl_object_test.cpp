#include "vlutil/vl_object.h"

#include "vltest/log_capture.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

// A small class tree in the system's manner: each class has one descriptor.
VlObject* load_generator(const json_t*);
VlObject* load_sine(const json_t*);

const VlTypeDescriptor test_generator_ts = {&vl_object_ts, "VlGenerator", load_generator};
const VlTypeDescriptor test_sine_ts = {&test_generator_ts, "VlGeneratorSine", load_sine};

class TestGenerator : public VlObject {
 public:
  const VlTypeDescriptor& type() const override { return test_generator_ts; }
  virtual int channels() const { vl_object_abort("vl_test_generator_channels"); }
};

class TestSine : public TestGenerator {
 public:
  explicit TestSine(int frequency) : frequency_(frequency) {}
  const VlTypeDescriptor& type() const override { return test_sine_ts; }
  bool store(json_t* json) const override {
    json_object_set_new(json, "frequency", json_integer(frequency_));
    return TestGenerator::store(json);
  }
  int frequency() const { return frequency_; }

 private:
  int frequency_;
};

VlObject* load_generator(const json_t*) { return new TestGenerator; }
VlObject* load_sine(const json_t* json) {
  const json_t* frequency = json_object_get(json, "frequency");
  return json_is_integer(frequency) ? new TestSine(static_cast<int>(json_integer_value(frequency))) : nullptr;
}

std::vector<VlTypeDescriptor> descriptors(int n) {
  std::vector<VlTypeDescriptor> list;
  for (int i = 0; i < n; ++i) list.push_back({&vl_object_ts, "VlNumbered", load_generator});
  return list;
}

std::vector<const VlTypeDescriptor*> registered() {
  std::vector<const VlTypeDescriptor*> seen;
  vl_object_iterate([](void* context, const VlTypeDescriptor* d, int index) {
    auto* out = static_cast<std::vector<const VlTypeDescriptor*>*>(context);
    EXPECT_EQ(index, static_cast<int>(out->size()));
    out->push_back(d);
  }, &seen);
  return seen;
}

void unregister_all() {
  for (const VlTypeDescriptor* d : registered()) vl_object_unregister(d);
}

class ObjectRegistry : public ::testing::Test {
 protected:
  void TearDown() override { unregister_all(); }
};

TEST_F(ObjectRegistry, GrowsFrom6To9To13) {
  const auto list = descriptors(10);
  for (int i = 0; i < 6; ++i) EXPECT_EQ(vl_object_register(&list[i]), i + 1);
  EXPECT_EQ(vl_object_registry_capacity(), 6);
  vl_object_register(&list[6]);
  EXPECT_EQ(vl_object_registry_capacity(), 9);
  vl_object_register(&list[7]);
  vl_object_register(&list[8]);
  EXPECT_EQ(vl_object_registry_capacity(), 9);
  EXPECT_EQ(vl_object_register(&list[9]), 10);
  EXPECT_EQ(vl_object_registry_capacity(), 13);
  const auto seen = registered();
  ASSERT_EQ(seen.size(), 10u);
  for (int i = 0; i < 10; ++i) EXPECT_EQ(seen[i], &list[i]);
}

TEST_F(ObjectRegistry, UnregisteringTheMiddleKeepsOrder) {
  const auto list = descriptors(3);
  for (const auto& d : list) vl_object_register(&d);
  vl_object_unregister(&list[1]);
  const auto seen = registered();
  ASSERT_EQ(seen.size(), 2u);
  EXPECT_EQ(seen[0], &list[0]);
  EXPECT_EQ(seen[1], &list[2]);
}

TEST_F(ObjectRegistry, UnregisterFailuresAreLogged) {
  vltest::LogCapture capture;
  vl_object_unregister(&test_sine_ts);
  EXPECT_EQ(capture.count("Attempt to unregister type from empty object type registry"), 1);
  vl_object_register(&test_generator_ts);
  vl_object_unregister(&test_sine_ts);
  EXPECT_EQ(capture.count("Type not found in object type registry: VlGeneratorSine"), 1);
  vl_object_unregister(nullptr);
  EXPECT_EQ(capture.count("Type not found in object type registry: ???"), 1);
}

TEST_F(ObjectRegistry, InvalidDescriptorsAreLogged) {
  vltest::LogCapture capture;
  EXPECT_EQ(vl_object_register(nullptr), -1);
  EXPECT_EQ(capture.count("Attempt to register invalid object type ???"), 1);
  const VlTypeDescriptor unloadable = {&vl_object_ts, "VlUnloadable", nullptr};
  EXPECT_EQ(vl_object_register(&unloadable), 1);  // registered all the same
  EXPECT_EQ(capture.count("Attempt to register invalid object type VlUnloadable"), 1);
  json_t* json = json_pack("{s:s}", "typename", "VlUnloadable");
  EXPECT_EQ(vl_object_make(json), nullptr);
  EXPECT_EQ(capture.count("don't know how to load type VlUnloadable"), 1);
  json_decref(json);
}

TEST_F(ObjectRegistry, IterateToleratesCallbacksThatUnregister) {
  const auto list = descriptors(4);
  for (const auto& d : list) vl_object_register(&d);
  int calls = 0;
  vl_object_iterate([](void* context, const VlTypeDescriptor* d, int) {
    ++*static_cast<int*>(context);
    vl_object_unregister(d);
  }, &calls);
  EXPECT_EQ(calls, 2);  // every second one is skipped as the rest move down
  EXPECT_EQ(vl_object_registry_count(), 2);
}

TEST_F(ObjectRegistry, MakeMatchesExactNameOnly) {
  vltest::LogCapture capture;
  vl_object_register(&test_sine_ts);
  json_t* prefix = json_pack("{s:s}", "typename", "VlGenerator");
  EXPECT_EQ(vl_object_make(prefix), nullptr);
  EXPECT_EQ(capture.count("don't know how to load type VlGenerator"), 1);
  json_decref(prefix);

  json_t* sine = json_pack("{s:s, s:i}", "typename", "VlGeneratorSine", "frequency", 1000);
  VlObject* made = vl_object_make(sine);
  ASSERT_NE(made, nullptr);
  EXPECT_EQ(&made->type(), &test_sine_ts);
  EXPECT_EQ(static_cast<TestSine*>(made)->frequency(), 1000);
  vl_object_delete(made);
  json_decref(sine);
}

TEST_F(ObjectRegistry, MakeWithoutTypenameOrJson) {
  vltest::LogCapture capture;
  vl_object_register(&test_sine_ts);
  json_t* empty = json_object();
  EXPECT_EQ(vl_object_make(empty), nullptr);
  EXPECT_EQ(capture.count("don't know how to load type"), 1);
  json_decref(empty);
  EXPECT_EQ(vl_object_make(nullptr), nullptr);
  EXPECT_EQ(capture.count("don't know what to construct here"), 1);
}

TEST(Object, SaveStoresOwnKeysAndTypename) {
  TestSine sine(440);
  json_t* saved = vl_object_save(&sine);
  ASSERT_NE(saved, nullptr);
  EXPECT_STREQ(json_string_value(json_object_get(saved, "typename")), "VlGeneratorSine");
  EXPECT_EQ(json_integer_value(json_object_get(saved, "frequency")), 440);
  json_decref(saved);

  json_t* root_only = json_object();
  EXPECT_TRUE(vl_object_store(&sine, root_only));
  EXPECT_EQ(json_object_size(root_only), 1u);
  json_decref(root_only);
}

TEST(Object, DerivationFollowsParents) {
  EXPECT_TRUE(vl_object_is_derived_from(&test_sine_ts, &test_generator_ts));
  EXPECT_TRUE(vl_object_is_derived_from(&test_sine_ts, &vl_object_ts));
  EXPECT_TRUE(vl_object_is_derived_from(&test_sine_ts, &test_sine_ts));
  EXPECT_FALSE(vl_object_is_derived_from(&test_generator_ts, &test_sine_ts));
  EXPECT_FALSE(vl_object_is_derived_from(&test_sine_ts, nullptr));
  TestSine sine(1);
  EXPECT_TRUE(vl_object_is_a(&sine, test_generator_ts));
  EXPECT_FALSE(vl_object_is_a(nullptr, test_generator_ts));
}

// Through the base pointer the most derived destructor runs; null is ignored.
TEST(Object, DeleteDestroysTheWholeObjectAndIgnoresNull) {
  class Counted : public TestSine {
   public:
    explicit Counted(int* destroyed) : TestSine(440), destroyed_(destroyed) {}
    ~Counted() override { ++*destroyed_; }

   private:
    int* destroyed_;
  };
  int destroyed = 0;
  vl_object_delete(new Counted(&destroyed));
  EXPECT_EQ(destroyed, 1);
  vl_object_delete(nullptr);
  EXPECT_EQ(destroyed, 1);
}

TEST(ObjectDeathTest, AbstractOperationEndsTheProcess) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_DEATH(
      {
        vltest::log_to_stderr();
        TestGenerator generator;
        generator.channels();
      },
      "pure virtual function call in vl_test_generator_channels!");
}

}  // namespace
