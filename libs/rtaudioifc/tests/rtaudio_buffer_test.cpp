// The driver's timeline, rings and timers, driven block by block without an
// audio device: the test calls the audio callback itself and sets the clock.
#include "rtaudioifc/rtaudio_buffer.h"

#include "vlsys/vl_log.h"
#include "vltest/log_capture.h"
#include "vltest/manual_clock.h"
#include "vltest/wait.h"
#include "vltest/window_sites.h"
#include "vlutil/vl_json_ref.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

constexpr vl_rational rate = {48000, 1};
constexpr uint32_t block = 64;
constexpr uint32_t ring = 8192;
constexpr uint32_t channels = 2;
constexpr uint64_t t0 = 1700000000ULL * 1000000000ULL;

__extension__ using wide = unsigned __int128;

// PTP time of `blocks` whole blocks after T0, exactly (floor).
uint64_t after_blocks(uint64_t blocks) {
  return t0 + static_cast<uint64_t>(static_cast<wide>(blocks) * block * 1000000000ULL / 48000U);
}

int32_t pattern(uint32_t ts, uint32_t channel) { return static_cast<int32_t>((ts << 8) | channel); }

class Unattached : public ::testing::Test {
 protected:
  void SetUp() override {
    driver_.reset(vl_rtaudio_buffer_ctor_unattached(ring, channels, channels, block, rate, &clock_));
    ASSERT_NE(driver_, nullptr);
    capture_ = vl_mediadrv_audio_capture_ifc(driver_.get());
    play_ = vl_mediadrv_audio_play_ifc(driver_.get());
    ASSERT_NE(capture_, nullptr);
    ASSERT_NE(play_, nullptr);
  }

  // One callback whose input frames carry pattern(ts) from the current C;
  // returns what it played (prefilled with garbage, so silence is written).
  std::vector<int32_t> run_block(uint32_t frames = block) {
    const uint32_t start = capture_->current_timestamp();
    std::vector<int32_t> input(static_cast<std::size_t>(frames) * channels);
    for (uint32_t k = 0; k < frames; ++k)
      for (uint32_t c = 0; c < channels; ++c) input[k * channels + c] = pattern(start + k, c);
    std::vector<int32_t> output(input.size(), 0x7777);
    EXPECT_EQ(rtaudio_callback(output.data(), input.data(), frames, 0.0, 0, driver_.get()), 0);
    return output;
  }

  // A callback with the clock exactly in line with the blocks counted so
  // far: the first one at T0.
  std::vector<int32_t> next_block() {
    clock_.set_now(after_blocks(capture_->current_timestamp() / block));
    return run_block();
  }

  void run_blocks_in_line(uint64_t count) {
    for (uint64_t k = 0; k < count; ++k) next_block();
  }

  void expect_captured(uint32_t ts, uint32_t frames) {
    const VlMediaWindow window = capture_->initialise_read(ts);
    ASSERT_NE(window.samples, nullptr);
    ASSERT_EQ(window.frames, static_cast<int32_t>(frames));
    for (uint32_t k = 0; k < frames; ++k)
      for (uint32_t c = 0; c < channels; ++c)
        ASSERT_EQ(window.samples[k * channels + c], pattern(ts + k, c)) << "frame " << ts + k;
    EXPECT_EQ(capture_->complete_read(ts, window.samples, window.frames), 0);
  }

  void write_block(uint32_t ts, int32_t value) {
    const VlMediaWindow window = play_->initialise_write(ts);
    ASSERT_NE(window.samples, nullptr);
    ASSERT_GE(window.frames, static_cast<int32_t>(block));
    for (std::size_t i = 0; i < block * channels; ++i) window.samples[i] = value;
    EXPECT_EQ(play_->complete_write(ts, window.samples, block), 0);
  }

  // Another timer keeps the capture thread firing: once it has fired a few
  // times, a timer that was still going to fire would have done so.
  void expect_thread_goes_on();

  vltest::LogCapture log_;
  vltest::ManualClock clock_{"rtaudio test clock", t0};
  std::unique_ptr<VlAudioBuffer> driver_;
  VlCaptureIfc* capture_ = nullptr;
  VlPlayIfc* play_ = nullptr;
};

TEST_F(Unattached, FirstCallbackStartsTheTimelineAtZero) {
  EXPECT_EQ(capture_->current_timestamp(), 0U);
  testing::internal::CaptureStdout();
  run_blocks_in_line(1);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "mediaTime = 0\n");
  EXPECT_TRUE(log_.contains("initialised sample zero timestamp to 0x0"));
  EXPECT_EQ(capture_->current_timestamp(), block);
  EXPECT_EQ(play_->current_timestamp(), block);
  const VlMediaProperties* properties = capture_->properties();
  EXPECT_EQ(properties->block_frames, block);
  EXPECT_EQ(properties->buffer_frames, ring);
  EXPECT_EQ(properties->channels, channels);
  EXPECT_EQ(properties->clockref, &clock_);
  EXPECT_EQ(vl_mediadrv_clockref(driver_.get()), &clock_);
}

TEST_F(Unattached, CapturedBlocksLandAtCModuloTheRing) {
  run_blocks_in_line(130);  // one lap and two blocks
  ASSERT_EQ(capture_->current_timestamp(), 130 * block);
  expect_captured(8100, 92);         // to the ring's end
  expect_captured(8192, 130 * block - 8192);
  const VlMediaWindow gone = capture_->initialise_read(130 * block - ring - 1);
  EXPECT_EQ(gone.samples, nullptr);
  EXPECT_EQ(gone.frames, 1);
}

TEST_F(Unattached, PlaysTheBlockAtCAndSilenceWhenNobodyRefilledIt) {
  run_blocks_in_line(1);
  write_block(2 * block, 1234);
  EXPECT_EQ(next_block(), std::vector<int32_t>(block * channels, 0));  // the block at 64
  EXPECT_EQ(next_block(), std::vector<int32_t>(block * channels, 1234));
  for (uint32_t k = 0; k < ring / block - 1; ++k) next_block();
  ASSERT_EQ(capture_->current_timestamp(), 2 * block + ring);
  EXPECT_EQ(next_block(), std::vector<int32_t>(block * channels, 0));
}

TEST_F(Unattached, BlockThatDoesNotFitPlaysSilenceAndKeepsC) {
  run_blocks_in_line(1);
  write_block(2 * block, 99);
  next_block();
  ASSERT_EQ(capture_->current_timestamp(), 2 * block);  // 99 is next
  EXPECT_EQ(run_block(100), std::vector<int32_t>(100 * channels, 0));
  EXPECT_EQ(capture_->current_timestamp(), 2 * block);
  // A size that divides the ring but is not the stream's block would step
  // the counter by the wrong amount.
  EXPECT_EQ(run_block(2 * block), std::vector<int32_t>(2 * block * channels, 0));
  EXPECT_EQ(capture_->current_timestamp(), 2 * block);
  EXPECT_EQ(next_block(), std::vector<int32_t>(block * channels, 99));
  EXPECT_TRUE(log_.contains("rtaudio_callback: block of 100 frames instead of 64, playing silence"));
}

struct Correction {
  uint64_t counted;   // L when the callback 1 s after T0 comes
  uint64_t expected;  // L after it
  bool corrected;
};

void PrintTo(const Correction& c, std::ostream* os) {
  *os << "L " << c.counted << " -> " << c.expected << (c.corrected ? " corrected" : "");
}

std::string correction_name(const ::testing::TestParamInfo<Correction>& info) {
  return "Counted" + std::to_string(info.param.counted);
}

class CounterCorrection : public Unattached, public ::testing::WithParamInterface<Correction> {};

TEST_P(CounterCorrection, OneSecondAfterT0) {
  const Correction& c = GetParam();
  run_blocks_in_line(c.counted);
  ASSERT_EQ(capture_->current_timestamp(), c.counted * block);
  log_.clear();
  clock_.set_now(t0 + 1000000000ULL);
  run_block();
  EXPECT_EQ(capture_->current_timestamp(), c.expected * block);
  const std::string message = "audioLoopCount (old): " + std::to_string(c.counted) + ", audioLoopCount (new): 750";
  EXPECT_EQ(log_.count(message), c.corrected ? 1 : 0);
  EXPECT_EQ(log_.count("rtaudio_callback with correction"), c.corrected ? 1 : 0);
}

INSTANTIATE_TEST_SUITE_P(Rtaudio, CounterCorrection,
                         ::testing::Values(Correction{748, 751, true}, Correction{749, 750, false},
                                           Correction{750, 751, false}, Correction{751, 752, false},
                                           Correction{752, 751, true}),
                         correction_name);

TEST_F(Unattached, ClockReadFailureLeavesTheCountAlone) {
  run_blocks_in_line(10);
  clock_.set_now(vl_clockref_now_failed);
  run_block();
  clock_.set_now(t0 - 1);  // before T0
  run_block();
  EXPECT_EQ(capture_->current_timestamp(), 12 * block);
  EXPECT_FALSE(log_.contains("rtaudio_callback with correction"));
}

TEST_F(Unattached, WrapOfCIsReportedAndTheWindowsHoldAcrossIt) {
  constexpr uint32_t last_block = 4294967232U;
  constexpr uint64_t counted = 67108863;  // blocks up to last_block
  run_blocks_in_line(1);
  clock_.set_now(after_blocks(counted - 1) + 1);  // just past the rounded-down block start
  run_block();
  ASSERT_EQ(capture_->current_timestamp(), last_block);
  EXPECT_TRUE(log_.contains("audioLoopCount (new): 67108862"));

  // The relation holds the exact PTP time of C: whole nanoseconds per block
  // would be 22 ms off by now.
  const VlTimestampRelation relation = capture_->timestamp_relation();
  EXPECT_EQ(relation.ts, last_block);
  EXPECT_EQ(relation.ptp_ns, after_blocks(counted));
  EXPECT_NE(relation.ptp_ns, t0 + counted * 1333333ULL);

  write_block(0, 4242);  // the first block after the wrap
  clock_.set_now(after_blocks(counted));
  run_block();
  EXPECT_EQ(capture_->current_timestamp(), 0U);
  EXPECT_TRUE(log_.contains("sample_zero_time_stamp = 0, prev = 4294967232, audioLoopCount: 67108864"));
  clock_.set_now(after_blocks(counted + 1));
  EXPECT_EQ(run_block(), std::vector<int32_t>(block * channels, 4242));
  ASSERT_EQ(capture_->current_timestamp(), block);

  expect_captured(last_block, block);  // to the ring's end, which is the wrap
  expect_captured(0, block);
  EXPECT_EQ(capture_->complete_read(last_block, nullptr, 2 * block), 0);
  const VlMediaWindow late = play_->initialise_write(last_block + 16);
  EXPECT_EQ(late.frames, -112);
}

// The windows refuse with a usable pointer and a count below 1; through the
// wrappers that is reported, so a stream whose delay is too small does not
// fall silent without a word.
TEST_F(Unattached, RefusedWindowsAreReportedThroughTheWrappers) {
  vltest::WindowSites sites;
  run_blocks_in_line(4);  // C = 256
  EXPECT_EQ(vl_play_initialise_write("r1", play_, 200).frames, -56);
  EXPECT_TRUE(log_.contains(
      "vl_play_initialise_write for stream r1: Timestamp 0x000000c8 is out of bounds by -56 frames (late)."));
  EXPECT_EQ(vl_capture_initialise_read("s1", capture_, 300).frames, -44);
  EXPECT_TRUE(log_.contains(
      "vl_capture_initialise_read for stream s1: Timestamp 0x0000012c is out of bounds by -44 frames (early)."));
}

// Timers, fired by the driver's thread "rtaudio_capture".

struct Fires {
  std::mutex mutex;
  std::condition_variable changed;
  std::vector<uint32_t> ts;
  std::vector<uint64_t> ptp_ns;
  std::vector<char> tags;
  int count = 0;

  bool wait_for(int n, std::chrono::milliseconds timeout) {
    std::unique_lock<std::mutex> lock(mutex);
    return changed.wait_for(lock, timeout, [&] { return count >= n; });
  }
  int fired() {
    std::lock_guard<std::mutex> lock(mutex);
    return count;
  }
};

struct Tagged {
  Fires* fires;
  char tag;
};

void record(void* user, uint32_t ts, uint64_t ptp_ns, uint32_t current_ts) {
  auto* tagged = static_cast<Tagged*>(user);
  Fires& fires = *tagged->fires;
  std::lock_guard<std::mutex> lock(fires.mutex);
  EXPECT_EQ(ts, current_ts);
  fires.ts.push_back(ts);
  fires.ptp_ns.push_back(ptp_ns);
  fires.tags.push_back(tagged->tag);
  ++fires.count;
  fires.changed.notify_all();
}

void Unattached::expect_thread_goes_on() {
  Fires witness;
  Tagged user{&witness, 'w'};
  uint32_t interval = block;
  VlTimerHandle timer = capture_->timer_set(capture_->current_timestamp(), &interval, record, &user);
  ASSERT_NE(timer, nullptr);
  EXPECT_TRUE(witness.wait_for(5, 2s));
  EXPECT_TRUE(capture_->timer_remove(timer));
}

TEST_F(Unattached, TimersAreRefusedBeforeTheFirstCallback) {
  Fires fires;
  Tagged user{&fires, 'a'};
  uint32_t interval = 64;
  errno = 0;
  EXPECT_EQ(capture_->timer_set(0, &interval, record, &user), nullptr);
  EXPECT_EQ(errno, EINVAL);
  EXPECT_TRUE(log_.contains("rtaudioifc::timer_set: not initialised!"));
  int dummy = 0;
  errno = 0;
  EXPECT_FALSE(capture_->timer_remove(&dummy));
  EXPECT_EQ(errno, EINVAL);
  EXPECT_TRUE(log_.contains("rtaudioifc::timer_remove: not initialised!"));
}

TEST_F(Unattached, IntervalBelowTheBlockIsRaised) {
  run_blocks_in_line(1);
  Fires fires;
  Tagged user{&fires, 'a'};
  for (uint32_t asked : {32U, 48U}) {
    uint32_t interval = asked;
    VlTimerHandle timer = capture_->timer_set(1000000, &interval, record, &user);
    ASSERT_NE(timer, nullptr);
    EXPECT_EQ(interval, block);
    EXPECT_TRUE(log_.contains("rtaudioifc::timer_set: interval (" + std::to_string(asked) +
                              ") < block_duration (64)"));
    EXPECT_TRUE(capture_->timer_remove(timer));
  }
  uint32_t kept = 100;
  VlTimerHandle timer = capture_->timer_set(1000000, &kept, record, &user);
  EXPECT_EQ(kept, 100U);
  EXPECT_TRUE(capture_->timer_remove(timer));
  errno = 0;
  EXPECT_FALSE(capture_->timer_remove(timer));  // gone already
  EXPECT_EQ(errno, EINVAL);
}

TEST_F(Unattached, DueTimerFiresWithCAndThePtpTimeOfC) {
  run_blocks_in_line(3);
  Fires fires;
  Tagged user{&fires, 'a'};
  uint32_t interval = block;
  VlTimerHandle timer = capture_->timer_set(2 * block, &interval, record, &user);
  ASSERT_TRUE(fires.wait_for(1, 2s));
  EXPECT_TRUE(capture_->timer_remove(timer));
  std::lock_guard<std::mutex> lock(fires.mutex);
  EXPECT_EQ(fires.ts[0], 3 * block);
  EXPECT_EQ(fires.ptp_ns[0], after_blocks(3));
}

// With C standing still every timer fires when its wait runs out, so the
// order of the calls is the order of the due timestamps alone.
TEST_F(Unattached, TimersAreServedInDueOrder) {
  run_blocks_in_line(1);
  Fires fires;
  Tagged a{&fires, 'A'};
  Tagged b{&fires, 'B'};
  uint32_t every_block = block;  // due 128, 192, 256, ...
  uint32_t every_other = 2 * block;  // due 160, 288, 416, ...
  VlTimerHandle first = capture_->timer_set(2 * block, &every_block, record, &a);
  VlTimerHandle second = capture_->timer_set(2 * block + 32, &every_other, record, &b);
  ASSERT_TRUE(fires.wait_for(9, 3s));
  EXPECT_TRUE(capture_->timer_remove(first));
  EXPECT_TRUE(capture_->timer_remove(second));
  std::lock_guard<std::mutex> lock(fires.mutex);
  EXPECT_EQ(std::string(fires.tags.begin(), fires.tags.begin() + 9), "ABAABAABA");
}

// Half a second ahead is 24000 frames: in 32-bit microsecond arithmetic the
// wait would overflow and end after some 50 ms.
TEST_F(Unattached, FarAheadTimerWaitsTheWholeDistance) {
  run_blocks_in_line(1);
  Fires fires;
  Tagged user{&fires, 'a'};
  uint32_t interval = block;
  const auto start = Clock::now();
  VlTimerHandle timer = capture_->timer_set(block + 24000, &interval, record, &user);
  EXPECT_FALSE(fires.wait_for(1, 400ms));
  EXPECT_TRUE(fires.wait_for(1, 2s));
  EXPECT_GE(Clock::now() - start, 500ms);
  EXPECT_TRUE(capture_->timer_remove(timer));
}

TEST_F(Unattached, RemoveWaitsForARunningCallback) {
  run_blocks_in_line(1);
  struct Slow {
    std::atomic<int> entered{0};
    std::atomic<int> left{0};
  } slow;
  auto callback = [](void* user, uint32_t, uint64_t, uint32_t) {
    auto* s = static_cast<Slow*>(user);
    ++s->entered;
    std::this_thread::sleep_for(200ms);
    ++s->left;
  };
  uint32_t interval = block;
  VlTimerHandle timer = capture_->timer_set(block, &interval, callback, &slow);
  ASSERT_TRUE(vltest::wait_until([&] { return slow.entered.load() > 0; }, 2s));
  ASSERT_EQ(slow.entered.load(), 1);
  EXPECT_TRUE(capture_->timer_remove(timer));
  EXPECT_EQ(slow.left.load(), slow.entered.load());
  const int entered = slow.entered.load();
  expect_thread_goes_on();
  EXPECT_EQ(slow.entered.load(), entered);
}

TEST_F(Unattached, TimerRemovesItselfFromItsCallback) {
  run_blocks_in_line(1);
  struct Self {
    std::mutex handle_set;
    VlCaptureIfc* capture;
    VlTimerHandle handle = nullptr;
    std::atomic<int> calls{0};
    std::atomic<bool> removed{false};
  } self;
  self.capture = capture_;
  auto callback = [](void* user, uint32_t, uint64_t, uint32_t) {
    auto* s = static_cast<Self*>(user);
    std::lock_guard<std::mutex> lock(s->handle_set);
    ++s->calls;
    s->removed = s->capture->timer_remove(s->handle);
  };
  uint32_t interval = block;
  {
    std::lock_guard<std::mutex> lock(self.handle_set);
    self.handle = capture_->timer_set(block, &interval, callback, &self);
    ASSERT_NE(self.handle, nullptr);
  }
  EXPECT_TRUE(vltest::wait_until([&] { return self.removed.load(); }, 2s));
  expect_thread_goes_on();
  EXPECT_EQ(self.calls.load(), 1);
}

TEST_F(Unattached, RemovingAWaitingTimerIsPrompt) {
  run_blocks_in_line(1);
  Fires fires;
  Tagged user{&fires, 'a'};
  uint32_t interval = block;
  // Ten seconds ahead: the thread waits for the first one.
  VlTimerHandle soon = capture_->timer_set(480000, &interval, record, &user);
  VlTimerHandle later = capture_->timer_set(960000, &interval, record, &user);
  std::this_thread::sleep_for(20ms);
  const auto start = Clock::now();
  EXPECT_TRUE(capture_->timer_remove(later));
  EXPECT_TRUE(capture_->timer_remove(soon));
  EXPECT_LT(Clock::now() - start, 100ms);
  EXPECT_EQ(fires.fired(), 0);
}

TEST_F(Unattached, DestructionWithArmedTimersIsPrompt) {
  run_blocks_in_line(1);
  Fires fires;
  Tagged user{&fires, 'a'};
  uint32_t interval = block;
  ASSERT_NE(capture_->timer_set(2 * block, &interval, record, &user), nullptr);
  ASSERT_NE(capture_->timer_set(480000, &interval, record, &user), nullptr);
  ASSERT_TRUE(fires.wait_for(1, 2s));
  const auto start = Clock::now();
  driver_.reset();
  EXPECT_LT(Clock::now() - start, 100ms);
  EXPECT_TRUE(log_.contains("rtaudio_buffer destroyed successfully"));
}

TEST(RtaudioBufferCtor, RefusesArgumentsItCannotWorkWith) {
  vltest::ManualClock clock("rtaudio test clock", t0);
  const auto refused = [&](uint32_t ring_frames, uint32_t play, uint32_t capture, uint32_t frames,
                           vl_rational r, VlClockref* ref) {
    errno = 0;
    std::unique_ptr<VlAudioBuffer> driver(vl_rtaudio_buffer_ctor_unattached(ring_frames, play, capture, frames, r, ref));
    return driver == nullptr && errno == EINVAL;
  };
  EXPECT_TRUE(refused(0, 2, 2, 64, rate, &clock));
  EXPECT_TRUE(refused(6000, 2, 2, 64, rate, &clock));  // not a power of two
  EXPECT_TRUE(refused(ring, 0, 0, 64, rate, &clock));
  EXPECT_TRUE(refused(ring, 2, 2, 0, rate, &clock));
  EXPECT_TRUE(refused(ring, 2, 2, 96, rate, &clock));  // does not divide the ring
  EXPECT_TRUE(refused(ring, 2, 2, 64, {0, 1}, &clock));
  EXPECT_TRUE(refused(ring, 2, 2, 64, {48000, 0}, &clock));
  EXPECT_TRUE(refused(ring, 2, 2, 64, rate, nullptr));

  uint32_t frames = 64;
  errno = 0;
  EXPECT_EQ(vl_rtaudio_buffer_ctor(ring, 2, 2, nullptr, rate, nullptr, "system"), nullptr);
  EXPECT_EQ(errno, EINVAL);
  EXPECT_EQ(vl_rtaudio_buffer_ctor(ring, 2, 2, &frames, {48000, 0}, nullptr, "system"), nullptr);
  EXPECT_EQ(errno, EINVAL);
}

TEST(RtaudioBufferCtor, OneDirectionOnlyHasNoInterfaceForTheOther) {
  vltest::ManualClock clock("rtaudio test clock", t0);
  std::unique_ptr<VlAudioBuffer> capture_only(vl_rtaudio_buffer_ctor_unattached(ring, 0, 2, 64, rate, &clock));
  ASSERT_NE(capture_only, nullptr);
  EXPECT_EQ(vl_mediadrv_audio_play_ifc(capture_only.get()), nullptr);
  ASSERT_NE(vl_mediadrv_audio_capture_ifc(capture_only.get()), nullptr);
  std::vector<int32_t> input(64 * 2, 5);
  EXPECT_EQ(rtaudio_callback(nullptr, input.data(), 64, 0.0, 0, capture_only.get()), 0);
  EXPECT_EQ(vl_mediadrv_audio_capture_ifc(capture_only.get())->current_timestamp(), 64U);
}

TEST(RtaudioBufferCtor, StatusBitsAreLoggedOncePerSecond) {
  vltest::LogCapture log;
  vltest::ManualClock clock("rtaudio test clock", t0);
  std::unique_ptr<VlAudioBuffer> driver(vl_rtaudio_buffer_ctor_unattached(ring, 2, 2, 64, rate, &clock));
  ASSERT_NE(driver, nullptr);
  std::vector<int32_t> input(64 * 2), output(64 * 2);
  for (int k = 0; k < 10; ++k) rtaudio_callback(output.data(), input.data(), 64, 0.0, 3, driver.get());
  EXPECT_EQ(log.count("rtaudio_callback: input overflow"), 1);
  EXPECT_EQ(log.count("rtaudio_callback: output underflow"), 1);
}

// Loading from JSON and the registration, with no audio server reachable:
// the environment points JACK at a server nobody runs.
class RtaudioLoad : public ::testing::Test {
 protected:
  void SetUp() override {
    const std::string server = "vltest_absent_" + std::to_string(getpid());
    setenv("JACK_DEFAULT_SERVER", server.c_str(), 1);
    setenv("JACK_NO_START_SERVER", "1", 1);
    vl_rtaudioifc_init();
  }
  void TearDown() override { vl_rtaudioifc_exit(); }

  VlObject* make(const char* text) {
    VlJsonRef json(json_loads(text, 0, nullptr));
    return vl_object_make(json.get());
  }

  vltest::LogCapture log_;
};

TEST_F(RtaudioLoad, RefusesAMalformedSampleRate) {
  EXPECT_EQ(make(R"({"typename": "VlAudioBuffer", "devicename": "system",
                     "configuration": {"sampleRate": [48000]}})"),
            nullptr);
  EXPECT_EQ(log_.count("could not get sample rate"), 1);
}

TEST_F(RtaudioLoad, RefusesCountsThatAreNoCounts) {
  EXPECT_EQ(make(R"({"typename": "VlAudioBuffer", "devicename": "system",
                     "configuration": {"channelCountPlay": -2}})"),
            nullptr);
  EXPECT_TRUE(log_.contains("invalid channelCountPlay"));
  EXPECT_EQ(make(R"({"typename": "VlAudioBuffer", "devicename": "system",
                     "configuration": {"audioBlockSize": "64"}})"),
            nullptr);
  EXPECT_TRUE(log_.contains("invalid audioBlockSize"));
}

TEST_F(RtaudioLoad, UnknownDeviceFailsAfterEveryApi) {
  const uint32_t apis = rtaw_get_apis();
  errno = 0;
  EXPECT_EQ(make(R"({"typename": "VlAudioBuffer", "devicename": "no such device",
                     "configuration": {"channelCountPlay": 2, "channelCountCapture": 2,
                                       "sampleRate": [48000, 1], "ptpDomain": 0}})"),
            nullptr);
  EXPECT_EQ(errno, ENODEV);
  EXPECT_EQ(log_.count("audio device no such device not found in " + std::to_string(__builtin_popcount(apis)) +
                       " RtAudio apis"),
            1);
}

TEST_F(RtaudioLoad, RegistrationIsUndoneAtExit) {
  vl_rtaudioifc_exit();
  EXPECT_EQ(make(R"({"typename": "VlAudioBuffer", "configuration": {"sampleRate": 1}})"), nullptr);
  EXPECT_FALSE(log_.contains("could not get sample rate"));
  vl_rtaudioifc_init();
}

TEST_F(RtaudioLoad, DeviceListWithoutSoundCardsOrServersIsEmpty) {
  if (access("/dev/snd", F_OK) == 0) GTEST_SKIP() << "this machine has sound devices";
  VlJsonRef list(json_array());
  vl_mediadrv_audio_devicelist(&vl_rtaudio_buffer_ts)(list.get());
  EXPECT_EQ(json_array_size(list.get()), 0U);
}

TEST(CountUpDown, ReportsTheFirstBreakOfThePattern) {
  vltest::LogCapture log;
  vltest::LogPriority debug("velanto", VL_LOG_DEBUG);
  VlCountUpDownCheck check{256};
  std::vector<int32_t> samples;
  for (uint32_t k = 0; k < 16; ++k) {
    samples.push_back(static_cast<int32_t>(k * 256));
    samples.push_back(static_cast<int32_t>(0U - k * 256));
  }
  EXPECT_TRUE(checkMemoryCountUpDown32(&check, "test", samples.data(), 8));
  EXPECT_TRUE(checkMemoryCountUpDown32(&check, "test", samples.data() + 16, 8));
  EXPECT_EQ(log.records().size(), 0U);
  samples[2 * 3 + 1] = 7;  // channel 1, frame 3
  check = VlCountUpDownCheck{256};
  EXPECT_FALSE(checkMemoryCountUpDown32(&check, "test", samples.data(), 16));
  EXPECT_EQ(log.count("test channel 1: sample pos 3: is: 0300, 0007 -> should: 0300, FFFFFD00"), 1);
  EXPECT_EQ(log.count("test: last block had errors: next vals: 1000, FFFFF000"), 1);
}

}  // namespace
