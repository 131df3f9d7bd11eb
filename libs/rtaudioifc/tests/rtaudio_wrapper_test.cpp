// The wrapper with no audio server reachable: JACK is pointed at a server
// nobody runs, and no client may start one.
#include "rtaudioifc/rtaudio_wrapper.h"

#include "vltest/log_capture.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <string>

namespace {

class RtawNoServer : public ::testing::Test {
 protected:
  void SetUp() override {
    const std::string server = "vltest_absent_" + std::to_string(getpid());
    setenv("JACK_DEFAULT_SERVER", server.c_str(), 1);
    setenv("JACK_NO_START_SERVER", "1", 1);
  }
  vltest::LogCapture log_;
};

TEST_F(RtawNoServer, ReportsEveryCompiledApi) {
  // Debian's library is built with ALSA, PulseAudio and JACK.
  const uint32_t apis = rtaw_get_apis();
  EXPECT_NE(apis & (1U << rtaw_api_alsa), 0U);
  EXPECT_NE(apis & (1U << rtaw_api_pulse), 0U);
  EXPECT_NE(apis & (1U << rtaw_api_jack), 0U);
  EXPECT_EQ(apis & 1U, 0U);  // "unspecified" is no API
  for (int api = 1; api <= rtaw_api_max; ++api) {
    if ((apis & (1U << api)) == 0) continue;
    rtaw_handle handle(rtaw_create_rtaudio_obj(api));
    EXPECT_NE(handle, nullptr) << "api " << api << ": " << rtaw_create_error();
  }
}

TEST_F(RtawNoServer, RefusesApisThatAreNotCompiledIn) {
  // The library itself would fall back to another API without a word.
  for (int api : {0, rtaw_api_asio, 9, rtaw_api_max + 1, -1}) {
    EXPECT_EQ(rtaw_create_rtaudio_obj(api), nullptr) << "api " << api;
    EXPECT_STRNE(rtaw_create_error(), "");
  }
  rtaw_destroy_rtaudio_obj(nullptr);
}

TEST_F(RtawNoServer, DeviceQueriesBeyondTheCountFail) {
  rtaw_handle jack(rtaw_create_rtaudio_obj(rtaw_api_jack));
  ASSERT_NE(jack, nullptr);
  EXPECT_EQ(rtaw_get_device_count(jack.get()), 0U);
  EXPECT_EQ(rtaw_get_device_info(jack.get(), 0), nullptr);
  rtaw_handle alsa(rtaw_create_rtaudio_obj(rtaw_api_alsa));
  ASSERT_NE(alsa, nullptr);
  EXPECT_EQ(rtaw_get_device_info(alsa.get(), rtaw_get_device_count(alsa.get())), nullptr);
  EXPECT_EQ(log_.count("rtaw_get_device_info: RtAudio::getDeviceInfo failed: "), 2);
}

TEST_F(RtawNoServer, StreamCallsWithoutAStreamReturnFailures) {
  rtaw_handle jack(rtaw_create_rtaudio_obj(rtaw_api_jack));
  ASSERT_NE(jack, nullptr);
  rtaw_stream_parameters output{0, 2, 0};
  rtaw_stream_parameters input{0, 2, 0};
  uint32_t frames = 64;
  auto callback = [](void*, void*, unsigned, double, unsigned, void*) { return 0; };
  EXPECT_FALSE(rtaw_open_stream(jack.get(), &output, &input, rtaw_format_sint32, 48000, &frames, callback,
                                nullptr, nullptr));
  EXPECT_FALSE(rtaw_start_stream(jack.get()));
  EXPECT_EQ(rtaw_get_stream_samplerate(jack.get()), 0U);
  EXPECT_TRUE(rtaw_close_stream(jack.get()));
  EXPECT_FALSE(rtaw_start_stream(nullptr));
  EXPECT_FALSE(rtaw_stop_stream(nullptr));
  EXPECT_EQ(rtaw_get_device_count(nullptr), 0U);
  EXPECT_EQ(rtaw_get_stream_samplerate(nullptr), 0U);
}

}  // namespace
