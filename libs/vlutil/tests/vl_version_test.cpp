#include "vlutil/vl_version.h"

#include "vlutil/vl_json_ref.h"
#include "vltest/log_capture.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <memory>

namespace {

struct VersionDeleter {
  void operator()(VlVersion* version) const { vl_version_dtor(version); }
};
using VersionPtr = std::unique_ptr<VlVersion, VersionDeleter>;

TEST(VlVersion, DefaultsAreTheCurrentVersion) {
  VersionPtr version(vl_version_ctor(-1, -1, nullptr));
  ASSERT_TRUE(version);
  EXPECT_EQ(version->major, 1u);
  EXPECT_EQ(version->minor, 3u);
  EXPECT_STREQ(version->build, "8727D");
  EXPECT_STREQ(vl_strversion(version.get()), "1.3-8727D (unknown)");
  EXPECT_STREQ(vl_strversion(nullptr), "1.3-8727D (unknown)");
  EXPECT_TRUE(vl_version_is_current(version.get()));
  EXPECT_TRUE(vl_version_is(version.get(), 103));
}

TEST(VlVersion, ComparisonsUseMajorAndMinorOnly) {
  VersionPtr old_version(vl_version_ctor(0, 30, "1234"));
  EXPECT_TRUE(vl_version_is(old_version.get(), 30));
  EXPECT_FALSE(vl_version_is(old_version.get(), 300));
  EXPECT_FALSE(vl_version_is(nullptr, 30));
  EXPECT_FALSE(vl_version_is_current(old_version.get()));

  VersionPtr other_build(vl_version_ctor(1, 3, "other"));
  VersionPtr current(vl_version_ctor(-1, -1, nullptr));
  EXPECT_TRUE(vl_version_is_current(other_build.get()));
  EXPECT_TRUE(vl_version_eq(other_build.get(), current.get()));
  EXPECT_FALSE(vl_version_eq(old_version.get(), current.get()));
  EXPECT_TRUE(vl_version_eq(nullptr, nullptr));
  EXPECT_FALSE(vl_version_eq(current.get(), nullptr));
}

TEST(VlVersion, EncodeDecodeRoundTrip) {
  VersionPtr version(vl_version_ctor(2, 17, "ABC12"));
  VlJsonRef json(vl_version_encode(version.get()));
  char* text = json_dumps(json.get(), JSON_COMPACT | JSON_PRESERVE_ORDER);
  EXPECT_STREQ(text, "{\"vl_version_major\":2,\"vl_version_minor\":17,\"vl_version_build\":\"ABC12\"}");
  free(text);

  VersionPtr decoded(vl_version_decode(json.get()));
  ASSERT_TRUE(decoded);
  EXPECT_EQ(decoded->major, 2u);
  EXPECT_EQ(decoded->minor, 17u);
  EXPECT_STREQ(decoded->build, "ABC12");

  VlJsonRef none(vl_version_encode(nullptr));
  EXPECT_TRUE(json_is_object(none.get()));
  EXPECT_EQ(json_object_size(none.get()), 0u);
}

TEST(VlVersion, DecodeFillsAbsentMembersAndPassesOverOthers) {
  vltest::LogCapture log;
  VlJsonRef major_only(json_pack("{s:i}", "vl_version_major", 4));
  VersionPtr version(vl_version_decode(major_only.get()));
  ASSERT_TRUE(version);
  EXPECT_EQ(version->major, 4u);
  EXPECT_EQ(version->minor, 0u);
  EXPECT_STREQ(version->build, "8727D");

  VlJsonRef odd(json_pack("{s:s, s:i, s:i}", "vl_version_minor", "9", "vl_version_major", 1, "color", 3));
  VersionPtr passed_over(vl_version_decode(odd.get()));
  ASSERT_TRUE(passed_over);
  EXPECT_EQ(passed_over->minor, 0u);
  EXPECT_EQ(log.count("VlVersion: Illegal type of key vl_version_minor."), 1);
  EXPECT_EQ(log.count("VlVersion: Unknown key color inside json object!"), 1);
}

TEST(VlVersion, DecodeOfAnEmptyObjectGivesNone) {
  VlJsonRef empty(json_object());
  errno = 0;
  EXPECT_EQ(vl_version_decode(empty.get()), nullptr);
  EXPECT_EQ(errno, EINVAL);
  errno = 0;
  EXPECT_EQ(vl_version_decode(nullptr), nullptr);
  EXPECT_EQ(errno, EINVAL);
}

}  // namespace
