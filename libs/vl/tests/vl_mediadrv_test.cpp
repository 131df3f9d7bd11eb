#include "vl/vl_mediadrv.h"

#include "vltest/log_capture.h"
#include "vltest/ring_driver.h"
#include "vlutil/vl_json_ref.h"

#include <gtest/gtest.h>

namespace {

void list_one(json_t* array) { json_array_append_new(array, json_string("one")); }

const VlMediadrvTypeDescriptor listing_ts = {{&vl_mediadrv_audio_ts, "Listing", nullptr}, list_one};
const VlMediadrvTypeDescriptor plain_mediadrv_ts = {{&vl_mediadrv_ts, "PlainMediadrv", nullptr}, list_one};

// A driver that overrides nothing.
struct Bare : VlMediadrvAudio {};

TEST(Mediadrv, DevicelistIsFoundOnlyOnAudioDriverClassesThatHaveOne) {
  EXPECT_EQ(vl_mediadrv_audio_devicelist(&listing_ts), list_one);
  EXPECT_EQ(vl_mediadrv_audio_devicelist(&vltest::ring_driver_ts), nullptr);
  EXPECT_EQ(vl_mediadrv_audio_devicelist(&plain_mediadrv_ts), nullptr);
  EXPECT_EQ(vl_mediadrv_audio_devicelist(&vl_clockref_ts), nullptr);
  EXPECT_EQ(vl_mediadrv_audio_devicelist(nullptr), nullptr);
  VlJsonRef array(json_array());
  vl_mediadrv_audio_devicelist(&listing_ts)(array.get());
  EXPECT_EQ(json_array_size(array.get()), 1u);
}

TEST(Mediadrv, DispatchReachesTheDriver) {
  vltest::RingDriver driver;
  EXPECT_STREQ(vl_mediadrv_name(&driver), "RingDriver");
  EXPECT_EQ(vl_mediadrv_clockref(&driver), driver.clockref());
  EXPECT_EQ(vl_mediadrv_audio_capture_ifc(&driver), driver.get_capture_ifc());
  EXPECT_EQ(vl_mediadrv_audio_play_ifc(&driver), driver.get_play_ifc());
  EXPECT_EQ(vl_mediadrv_audio_capture_ifc(&driver)->properties()->buffer_frames, 8192u);
  EXPECT_TRUE(vl_object_is_a(&driver, vl_controllable_ts));
  VlJsonRef saved(vl_object_save(&driver));
  ASSERT_TRUE(saved);
  EXPECT_STREQ(json_string_value(json_object_get(saved.get(), "typename")), "VltestRingDriver");
}

TEST(MediadrvDeathTest, EmptySlotsAbortWithTheirDispatchName) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  Bare bare;
  const auto to_stderr = vltest::log_to_stderr;
  EXPECT_DEATH((to_stderr(), vl_mediadrv_name(&bare)), "pure virtual function call in vl_mediadrv_name!");
  EXPECT_DEATH((to_stderr(), vl_mediadrv_clockref(&bare)), "pure virtual function call in vl_mediadrv_clockref!");
  EXPECT_DEATH((to_stderr(), vl_mediadrv_audio_capture_ifc(&bare)),
               "pure virtual function call in vl_mediadrv_audio_capture_ifc!");
  EXPECT_DEATH((to_stderr(), vl_mediadrv_audio_play_ifc(&bare)),
               "pure virtual function call in vl_mediadrv_audio_play_ifc!");
}

}  // namespace
