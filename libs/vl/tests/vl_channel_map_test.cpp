#include "vl/vl_channel_map.h"

#include "vltest/log_capture.h"
#include "vlsys/vl_log.h"
#include "vlutil/vl_json_ref.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdint>
#include <limits>
#include <vector>

namespace {

std::vector<int32_t> entries_of(const VlChannelMap* map) {
  return std::vector<int32_t>(map->entries(), map->entries() + map->count());
}

VlChannelMapPtr make_map(const std::vector<int32_t>& entries) {
  return VlChannelMapPtr(vl_channel_map_ctor(entries.data(), entries.size()));
}

VlChannelMapPtr decode_text(const char* text) {
  VlJsonRef json(json_loads(text, JSON_DECODE_ANY, nullptr));
  return VlChannelMapPtr(vl_channel_map_decode(json.get()));
}

TEST(VlChannelMapCtor, CopiesEntriesOrFillsWithNone) {
  const VlChannelMapPtr copied = make_map({4, -1, 0});
  ASSERT_TRUE(copied);
  EXPECT_EQ(copied->count(), 3u);
  EXPECT_EQ(copied->capacity(), 3u);
  EXPECT_EQ(entries_of(copied.get()), (std::vector<int32_t>{4, -1, 0}));

  const VlChannelMapPtr unconnected(vl_channel_map_ctor(nullptr, 3));
  ASSERT_TRUE(unconnected);
  EXPECT_EQ(entries_of(unconnected.get()), (std::vector<int32_t>{-1, -1, -1}));
}

TEST(VlChannelMapCtor, RefusesCountZeroAndCountsBeyondMemory) {
  vltest::LogCapture capture;
  errno = 0;
  EXPECT_EQ(vl_channel_map_ctor(nullptr, 0), nullptr);
  EXPECT_EQ(errno, EINVAL);
  EXPECT_EQ(capture.count("Can't create channel map of len 0!"), 1);

  // The byte size of this count does not fit in a size_t.
  EXPECT_EQ(vl_channel_map_ctor(nullptr, std::numeric_limits<uint64_t>::max()), nullptr);
  EXPECT_EQ(capture.count("Could not allocate memory for channel map!"), 1);
  vl_channel_map_dtor(nullptr);
}

TEST(VlChannelMapIsEqual, ComparesCountAndEntries) {
  const VlChannelMapPtr a = make_map({1, 2});
  const VlChannelMapPtr b = make_map({1, 2});
  const VlChannelMapPtr longer = make_map({1, 2, 3});
  const VlChannelMapPtr other = make_map({1, 3});
  EXPECT_TRUE(vl_channel_map_is_equal(a.get(), b.get()));
  EXPECT_TRUE(vl_channel_map_is_equal(a.get(), a.get()));
  EXPECT_FALSE(vl_channel_map_is_equal(a.get(), longer.get()));
  EXPECT_FALSE(vl_channel_map_is_equal(longer.get(), a.get()));
  EXPECT_FALSE(vl_channel_map_is_equal(a.get(), other.get()));
  EXPECT_FALSE(vl_channel_map_is_equal(a.get(), nullptr));
  EXPECT_FALSE(vl_channel_map_is_equal(nullptr, a.get()));
  EXPECT_TRUE(vl_channel_map_is_equal(nullptr, nullptr));
}

TEST(VlChannelMapDecode, ReadsOneEntryPerElement) {
  const VlChannelMapPtr map = decode_text("[0, 1, -1, 5]");
  ASSERT_TRUE(map);
  EXPECT_EQ(entries_of(map.get()), (std::vector<int32_t>{0, 1, -1, 5}));

  const VlChannelMapPtr mixed = decode_text("[2, \"x\", 4]");
  ASSERT_TRUE(mixed);
  EXPECT_EQ(entries_of(mixed.get()), (std::vector<int32_t>{2, 0, 4}));
}

TEST(VlChannelMapDecode, KeepsTheLow32BitsOfWideIntegers) {
  const VlChannelMapPtr map = decode_text("[4294967297, 2147483648, -4294967295]");
  ASSERT_TRUE(map);
  EXPECT_EQ(entries_of(map.get()), (std::vector<int32_t>{1, std::numeric_limits<int32_t>::min(), 1}));
}

TEST(VlChannelMapDecode, RefusesNullNonArraysAndEmptyArrays) {
  vltest::LogCapture capture;
  for (const char* text : {"[]", "{}", "{\"a\": [1]}", "7"}) {
    errno = 0;
    EXPECT_FALSE(decode_text(text)) << text;
    EXPECT_EQ(errno, EINVAL) << text;
  }
  errno = 0;
  EXPECT_EQ(vl_channel_map_decode(nullptr), nullptr);
  EXPECT_EQ(errno, EINVAL);
  // A refused input is no allocation failure.
  EXPECT_EQ(capture.count("Could not allocate memory for channel map!"), 0);
}

TEST(VlChannelMapEncode, WritesTheEntriesInOrder) {
  const VlChannelMapPtr map = make_map({0, 1, -1, 5});
  VlJsonRef json(vl_channel_map_encode(map.get()));
  ASSERT_TRUE(json);
  VlJsonRef expected(json_loads("[0, 1, -1, 5]", 0, nullptr));
  EXPECT_TRUE(json_equal(json.get(), expected.get()));

  VlJsonRef empty(vl_channel_map_encode(nullptr));
  ASSERT_TRUE(json_is_array(empty.get()));
  EXPECT_EQ(json_array_size(empty.get()), 0u);
}

TEST(VlChannelMapRemap, ReplacesEntriesInsideTheTableOnly) {
  const VlChannelMapPtr map = make_map({0, 2, -1, 7});
  const int32_t table[] = {10, 11, 12};
  const VlChannelMapPtr remapped(vl_channel_map_remap(map.get(), table, 3));
  ASSERT_TRUE(remapped);
  EXPECT_EQ(entries_of(remapped.get()), (std::vector<int32_t>{10, 12, -1, 7}));
  // An entry equal to the table's count is beyond it.
  const VlChannelMapPtr edge = make_map({3, 2});
  const VlChannelMapPtr edge_remapped(vl_channel_map_remap(edge.get(), table, 3));
  EXPECT_EQ(entries_of(edge_remapped.get()), (std::vector<int32_t>{3, 12}));
  EXPECT_EQ(entries_of(map.get()), (std::vector<int32_t>{0, 2, -1, 7}));
}

TEST(VlChannelMapRemap, WithoutTableCopiesAndWithoutMapFails) {
  const VlChannelMapPtr map = make_map({0, 2, -1, 7});
  const VlChannelMapPtr copy(vl_channel_map_remap(map.get(), nullptr, 8));
  ASSERT_TRUE(copy);
  EXPECT_NE(copy.get(), map.get());
  EXPECT_TRUE(vl_channel_map_is_equal(copy.get(), map.get()));

  errno = 0;
  EXPECT_EQ(vl_channel_map_remap(nullptr, nullptr, 0), nullptr);
  EXPECT_EQ(errno, EINVAL);
}

}  // namespace
