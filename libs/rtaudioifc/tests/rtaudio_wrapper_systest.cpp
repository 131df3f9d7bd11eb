// The wrapper on a real device: the "system" device of a JACK server with
// the dummy backend that each test starts for itself.
#include "rtaudioifc/rtaudio_wrapper.h"

#include "vltest/jack_server.h"
#include "vltest/log_capture.h"
#include "vltest/wait.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

namespace {

using namespace std::chrono_literals;

struct Seen {
  std::atomic<int> calls{0};
  std::atomic<bool> output{false};
  std::atomic<bool> input{false};
  std::atomic<unsigned> frames{0};
};

int count_callback(void* output, void* input, unsigned frames, double, unsigned, void* user) {
  auto* seen = static_cast<Seen*>(user);
  seen->output = output != nullptr;
  seen->input = input != nullptr;
  seen->frames = frames;
  ++seen->calls;
  return 0;
}

// The index of the JACK device "system", or the count when there is none.
unsigned system_device(rtaudio_t* jack) {
  const unsigned count = rtaw_get_device_count(jack);
  for (unsigned index = 0; index < count; ++index) {
    const auto info = rtaw_get_device_info(jack, index);
    if (info && info->name == "system") return index;
  }
  return count;
}

class RtawJack : public ::testing::Test {
 protected:
  explicit RtawJack(uint32_t playback_ports = 2) : server_(vltest::JackServerOptions{.playback_ports = playback_ports}) {}

  void SetUp() override {
    ASSERT_TRUE(server_.ready()) << server_.log();
    jack_.reset(rtaw_create_rtaudio_obj(rtaw_api_jack));
    ASSERT_NE(jack_, nullptr);
    device_ = system_device(jack_.get());
    ASSERT_LT(device_, rtaw_get_device_count(jack_.get()));
  }

  // Opens "system" for the given channels with the driver's options.
  bool open(rtaw_stream_parameters* output, rtaw_stream_parameters* input, uint32_t* frames) {
    const rtaw_stream_options options{rtaw_flag_schedule_realtime, 2, "", INT32_MAX};
    return rtaw_open_stream(jack_.get(), output, input, rtaw_format_sint32, 48000, frames, count_callback, &seen_,
                            &options);
  }

  vltest::LogCapture log_;
  vltest::JackServer server_;
  rtaw_handle jack_;
  unsigned device_ = 0;
  Seen seen_;
};

TEST_F(RtawJack, DescribesTheSystemDevice) {
  const auto info = rtaw_get_device_info(jack_.get(), device_);
  ASSERT_NE(info, nullptr);
  EXPECT_EQ(info->output_channels, 2U);
  EXPECT_EQ(info->input_channels, 2U);
  EXPECT_EQ(info->sample_rates, std::vector<uint32_t>{48000});
  EXPECT_EQ(rtaw_get_device_info(jack_.get(), rtaw_get_device_count(jack_.get())), nullptr);
  EXPECT_TRUE(log_.contains("rtaw_get_device_info: RtAudio::getDeviceInfo failed: RtApiJack::getDeviceInfo: "
                            "device ID is invalid!"));
}

TEST_F(RtawJack, CutsOutputChannelsToTheDeviceAndStopsCallbacksAtClose) {
  rtaw_stream_parameters output{device_, 8, 0};
  rtaw_stream_parameters input{device_, 2, 0};
  uint32_t frames = 256;
  ASSERT_TRUE(open(&output, &input, &frames));
  EXPECT_EQ(output.channel_count, 2U);
  EXPECT_EQ(input.channel_count, 2U);
  EXPECT_EQ(frames, 64U);  // the server's period
  EXPECT_EQ(rtaw_get_stream_samplerate(jack_.get()), 48000U);
  ASSERT_TRUE(rtaw_start_stream(jack_.get()));
  EXPECT_TRUE(vltest::wait_until([&] { return seen_.calls.load() > 50; }, 5s));
  EXPECT_TRUE(seen_.output.load());
  EXPECT_TRUE(seen_.input.load());
  EXPECT_EQ(seen_.frames.load(), 64U);
  EXPECT_TRUE(rtaw_stop_stream(jack_.get()));
  EXPECT_TRUE(rtaw_close_stream(jack_.get()));
  const int calls = seen_.calls.load();
  std::this_thread::sleep_for(50ms);
  EXPECT_EQ(seen_.calls.load(), calls);
  EXPECT_EQ(rtaw_get_stream_samplerate(jack_.get()), 0U);
}

class RtawJackInputOnly : public RtawJack {
 protected:
  RtawJackInputOnly() : RtawJack(0) {}
};

TEST_F(RtawJackInputOnly, OpensAnInputOnlyDeviceWithInputsOnly) {
  rtaw_stream_parameters output{device_, 2, 0};
  rtaw_stream_parameters input{device_, 2, 0};
  uint32_t frames = 64;
  ASSERT_TRUE(open(&output, &input, &frames));
  EXPECT_EQ(output.channel_count, 0U);
  EXPECT_EQ(input.channel_count, 2U);
  ASSERT_TRUE(rtaw_start_stream(jack_.get()));
  EXPECT_TRUE(vltest::wait_until([&] { return seen_.calls.load() > 10; }, 5s));
  EXPECT_FALSE(seen_.output.load());
  EXPECT_TRUE(seen_.input.load());
  EXPECT_TRUE(rtaw_stop_stream(jack_.get()));
  EXPECT_TRUE(rtaw_close_stream(jack_.get()));
}

}  // namespace
