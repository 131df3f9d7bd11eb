// The driver on a real device: the "system" device of a JACK server with
// the dummy backend (48 kHz, 64-frame periods) that each test starts for
// itself, timed by the system-clock PTP reference.
#include "rtaudioifc/rtaudio_buffer.h"

#include "vl/vl_posix_ptp.h"
#include "vl/vl_ptp.h"
#include "vlsys/vl_log.h"
#include "vlsys/vl_time.h"
#include "vlsys/vl_wrap.h"
#include "vltest/jack_server.h"
#include "vltest/log_capture.h"
#include "vltest/wait.h"
#include "vlutil/vl_json_ref.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <filesystem>
#include <map>
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
constexpr int64_t block_ns = 1333333;

__extension__ using wide = unsigned __int128;

uint64_t frames_ns(uint32_t frames) {
  return static_cast<uint64_t>(static_cast<wide>(frames) * 1000000000ULL / 48000U);
}

class JackDevice : public ::testing::Test {
 protected:
  explicit JackDevice(const vltest::JackServerOptions& options = {}) : server_(options) {}

  void SetUp() override {
    ASSERT_TRUE(server_.ready()) << server_.log();
    ASSERT_EQ(vl_ptp_init(), 0);
    ASSERT_TRUE(vl_posix_ptp_init());
  }
  void TearDown() override {
    driver_.reset();
    vl_posix_ptp_exit();
    vl_ptp_exit();
  }

  VlAudioBuffer* open(uint32_t play_channels = 2, uint32_t capture_channels = 2) {
    uint32_t frames = 48;  // the server's period decides
    driver_.reset(vl_rtaudio_buffer_ctor(vl_rtaudio_ring_frames, play_channels, capture_channels, &frames, rate,
                                         nullptr, "system"));
    if (driver_) {
      EXPECT_EQ(frames, block);
      capture_ = vl_mediadrv_audio_capture_ifc(driver_.get());
    } else {
      std::printf("%s\n", server_.log().c_str());
    }
    return driver_.get();
  }

  vltest::LogCapture log_;
  vltest::JackServer server_;
  std::unique_ptr<VlAudioBuffer> driver_;
  VlCaptureIfc* capture_ = nullptr;
};

TEST_F(JackDevice, ListsTheSystemDeviceAndFindsOnlyExactNames) {
  VlJsonRef list(json_array());
  vl_mediadrv_audio_devicelist(&vl_rtaudio_buffer_ts)(list.get());
  json_t* system = nullptr;
  for (size_t i = 0; i < json_array_size(list.get()); ++i) {
    json_t* entry = json_array_get(list.get(), i);
    if (std::string(json_string_value(json_object_get(entry, "devicename"))) == "system") system = entry;
  }
  ASSERT_NE(system, nullptr) << json_dumps(list.get(), 0);
  VlJsonRef expected(json_loads(R"({"typename": "VlAudioBuffer", "devicename": "system",
      "properties": {"channelCountPlay": 2, "channelCountCapture": 2,
                     "audioBlockSize": [32, 64, 128, 256, 512, 1024, 2048], "sampleRate": [48000]}})",
                                0, nullptr));
  EXPECT_TRUE(json_equal(system, expected.get()));

  uint32_t frames = 64;
  errno = 0;
  EXPECT_EQ(vl_rtaudio_buffer_ctor(vl_rtaudio_ring_frames, 2, 2, &frames, rate, nullptr, "System"), nullptr);
  EXPECT_EQ(errno, ENODEV);
  EXPECT_EQ(log_.count("audio device System not found in " + std::to_string(__builtin_popcount(rtaw_get_apis())) +
                       " RtAudio apis"),
            1);
}

TEST_F(JackDevice, CallbackRunsOncePerBlockOf64Frames) {
  vltest::LogPriority debug("velanto.audio.rtaudio", VL_LOG_DEBUG);
  ASSERT_NE(open(), nullptr);
  EXPECT_TRUE(log_.contains("Found device system in api 4"));
  for (const VlMediaProperties* p : {capture_->properties(), vl_mediadrv_audio_play_ifc(driver_.get())->properties()}) {
    EXPECT_EQ(p->block_frames, block);
    EXPECT_EQ(p->buffer_frames, vl_rtaudio_ring_frames);
    EXPECT_EQ(p->channels, 2U);
    EXPECT_EQ(p->clockref, vl_posix_ptp_instance());
  }
  const uint32_t first = capture_->current_timestamp();
  const auto start = Clock::now();
  bool aligned = true;
  while (Clock::now() - start < 2s) {
    aligned = aligned && capture_->current_timestamp() % block == 0;
    std::this_thread::sleep_for(1ms);
  }
  const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
  const double blocks_per_second = (capture_->current_timestamp() - first) / block / seconds;
  EXPECT_TRUE(aligned);
  EXPECT_GT(blocks_per_second, 700.0);
  EXPECT_LT(blocks_per_second, 800.0);
}

// C's PTP time, T0 + L x block duration, stays with the real-time clock.
// The count is kept within one block of the clock at every callback, and
// counts the block just captured: so right after a callback the relation is
// up to two blocks ahead of the clock, and it falls behind only while a
// callback is late. The dummy backend runs without real-time priority on a
// shared machine, so a callback is late now and then: most samples show the
// band, none lies beyond its early edge.
TEST_F(JackDevice, TimestampRelationFollowsTheClockFor5Seconds) {
  ASSERT_NE(open(), nullptr);
  VlTimestampRelation previous = capture_->timestamp_relation();
  std::vector<int64_t> lags;
  const auto start = Clock::now();
  while (Clock::now() - start < 5s) {
    std::this_thread::sleep_for(20ms);
    const uint64_t before = vl_realtime_ns();
    const VlTimestampRelation relation = capture_->timestamp_relation();
    const uint64_t after = vl_realtime_ns();
    ASSERT_GE(static_cast<int64_t>(after - relation.ptp_ns), -2 * block_ns);
    if (after - before < 200000) lags.push_back(static_cast<int64_t>(before - relation.ptp_ns));
    ASSERT_EQ(relation.ts % block, 0U);
    // Both halves of the pair move together.
    const uint64_t moved = frames_ns(relation.ts - previous.ts);
    EXPECT_LE(relation.ptp_ns - previous.ptp_ns - moved + 1, 2U);
    previous = relation;
  }
  ASSERT_GT(lags.size(), 150U);
  std::sort(lags.begin(), lags.end());
  const auto in_band = std::count_if(lags.begin(), lags.end(), [](int64_t lag) { return lag <= block_ns; });
  std::printf("clock minus relation over %zu samples: %lld to %lld ns, median %lld ns, %lld in the band\n",
              lags.size(), static_cast<long long>(lags.front()), static_cast<long long>(lags.back()),
              static_cast<long long>(lags[lags.size() / 2]), static_cast<long long>(in_band));
  EXPECT_GE(static_cast<size_t>(in_band), lags.size() * 9 / 10);
}

struct Fires {
  std::mutex mutex;
  std::vector<uint32_t> ts;
  std::vector<char> tags;
  std::atomic<int> count{0};

  size_t tagged(char tag) {
    std::lock_guard<std::mutex> lock(mutex);
    return static_cast<size_t>(std::count(tags.begin(), tags.end(), tag));
  }
};

struct Tagged {
  Fires* fires;
  char tag;
};

void record(void* user, uint32_t ts, uint64_t, uint32_t current_ts) {
  auto* tagged = static_cast<Tagged*>(user);
  std::lock_guard<std::mutex> lock(tagged->fires->mutex);
  EXPECT_EQ(ts, current_ts);
  tagged->fires->ts.push_back(ts);
  tagged->fires->tags.push_back(tagged->tag);
  ++tagged->fires->count;
}

TEST_F(JackDevice, CaptureTimerIsRaisedToTheBlockAndFiresOncePerBlock) {
  ASSERT_NE(open(), nullptr);
  Fires fires;
  Tagged user{&fires, 'a'};
  uint32_t interval = 48;
  const uint32_t start = capture_->current_timestamp() + 16 * block;
  VlTimerHandle timer = capture_->timer_set(start, &interval, record, &user);
  ASSERT_NE(timer, nullptr);
  EXPECT_EQ(interval, block);
  EXPECT_TRUE(vltest::wait_until([&] { return fires.count.load() > 600; }, 5s));
  ASSERT_TRUE(capture_->timer_remove(timer));

  std::lock_guard<std::mutex> lock(fires.mutex);
  ASSERT_GT(fires.ts.size(), 600U);
  // Not before its start; a callback late under load lets a wait run out early.
  EXPECT_GE(fires.ts.front(), start - 4 * block);
  std::map<uint32_t, int> steps;
  for (size_t i = 1; i < fires.ts.size(); ++i) {
    ASSERT_EQ(fires.ts[i] % block, 0U);
    ASSERT_GE(vl_ts_delta(fires.ts[i - 1], fires.ts[i]), 0) << "fire " << i;
    ++steps[fires.ts[i] - fires.ts[i - 1]];
  }
  for (const auto& [step, count] : steps) std::printf("step %u: %d\n", step, count);
  const size_t blocks = (fires.ts.back() - fires.ts.front()) / block;
  EXPECT_GE(fires.ts.size() - 1, blocks * 9 / 10);
  EXPECT_LE(fires.ts.size() - 1, blocks * 11 / 10);
  // A wait that runs out just before a late callback fires at the old C
  // and serves two blocks next time; most fires are one block apart.
  EXPECT_GE(static_cast<size_t>(steps[block]), (fires.ts.size() - 1) * 6 / 10);
}

TEST_F(JackDevice, TwoTimersAreServedInTheOrderTheyAreDue) {
  ASSERT_NE(open(), nullptr);
  Fires fires;
  Tagged a{&fires, 'A'};
  Tagged b{&fires, 'B'};
  uint32_t every_block = block;
  uint32_t slower = 160;
  const uint32_t start = capture_->current_timestamp() + 4 * block;
  VlTimerHandle first = capture_->timer_set(start, &every_block, record, &a);
  VlTimerHandle second = capture_->timer_set(start + 32, &slower, record, &b);
  ASSERT_NE(first, nullptr);
  ASSERT_NE(second, nullptr);
  EXPECT_EQ(slower, 160U);
  EXPECT_TRUE(vltest::wait_until([&] { return fires.tagged('A') > 600; }, 5s));
  ASSERT_TRUE(capture_->timer_remove(second));
  ASSERT_TRUE(capture_->timer_remove(first));

  std::lock_guard<std::mutex> lock(fires.mutex);
  uint32_t fired_a = 0;
  uint32_t fired_b = 0;
  uint32_t last_due = 0;
  for (char tag : fires.tags) {
    const uint32_t due = tag == 'A' ? start + block * fired_a++ : start + 32 + 160 * fired_b++;
    ASSERT_GE(vl_ts_delta(last_due, due), 0) << "A " << fired_a << ", B " << fired_b;
    last_due = due;
  }
  EXPECT_GT(fired_a, 600U);
  EXPECT_NEAR(static_cast<double>(fired_b), fired_a * 64.0 / 160.0, 10.0);
}

TEST_F(JackDevice, TimerRemoveReturnsWhenNoCallbackRunsOrWillRun) {
  ASSERT_NE(open(), nullptr);
  struct Busy {
    std::atomic<bool> inside{false};
    std::atomic<int> calls{0};
  };
  auto callback = [](void* user, uint32_t, uint64_t, uint32_t) {
    auto* busy = static_cast<Busy*>(user);
    busy->inside = true;
    ++busy->calls;
    std::this_thread::sleep_for(3ms);  // longer than a block: removal often meets a running callback
    busy->inside = false;
  };
  for (int round = 0; round < 10; ++round) {
    Busy busy;
    uint32_t interval = block;
    VlTimerHandle timer = capture_->timer_set(capture_->current_timestamp(), &interval, callback, &busy);
    ASSERT_NE(timer, nullptr);
    const auto deadline = Clock::now() + 2s;
    while (busy.calls.load() == 0 && Clock::now() < deadline) std::this_thread::sleep_for(100us);
    ASSERT_GT(busy.calls.load(), 0);
    // Each round meets the timer at another point of its cycle.
    std::this_thread::sleep_for(std::chrono::microseconds(500 * round));
    const auto start = Clock::now();
    ASSERT_TRUE(capture_->timer_remove(timer));
    EXPECT_LT(Clock::now() - start, 20ms);
    EXPECT_FALSE(busy.inside.load());
    const int calls = busy.calls.load();
    // The capture thread goes on firing another timer: a callback of the
    // removed one still to come would have run by then.
    Fires witness;
    Tagged user{&witness, 'w'};
    VlTimerHandle going_on = capture_->timer_set(capture_->current_timestamp(), &interval, record, &user);
    ASSERT_NE(going_on, nullptr);
    EXPECT_TRUE(vltest::wait_until([&] { return witness.count.load() >= 3; }, 2s));
    ASSERT_TRUE(capture_->timer_remove(going_on));
    EXPECT_EQ(busy.calls.load(), calls);
  }
}

TEST_F(JackDevice, DestructionWithArmedTimersIsCleanAndPrompt) {
  ASSERT_NE(open(), nullptr);
  Fires fires;
  Tagged user{&fires, 'a'};
  uint32_t interval = block;
  ASSERT_NE(capture_->timer_set(capture_->current_timestamp(), &interval, record, &user), nullptr);
  ASSERT_NE(capture_->timer_set(capture_->current_timestamp() + 480000, &interval, record, &user), nullptr);
  ASSERT_TRUE(vltest::wait_until([&] { return fires.count.load() > 0; }, 2s));
  const auto start = Clock::now();
  driver_.reset();
  const auto took = Clock::now() - start;
  std::printf("destruction took %lld us\n",
              static_cast<long long>(std::chrono::duration_cast<std::chrono::microseconds>(took).count()));
  EXPECT_LT(took, 250ms);
  EXPECT_TRUE(log_.contains("rtaudio_buffer destroyed successfully"));
}

size_t entries(const char* dir) {
  return static_cast<size_t>(std::distance(std::filesystem::directory_iterator(dir), {}));
}

TEST_F(JackDevice, TwentyConstructionsAndDestructionsLeaveNothingBehind) {
  // The first one sets up what the JACK library keeps for the process.
  ASSERT_NE(open(), nullptr);
  driver_.reset();
  const size_t descriptors = entries("/proc/self/fd");
  const size_t threads = entries("/proc/self/task");
  for (int cycle = 0; cycle < 20; ++cycle) {
    ASSERT_NE(open(), nullptr) << "cycle " << cycle;
    EXPECT_GT(capture_->current_timestamp(), 0U);
    uint32_t interval = block;
    Fires fires;
    Tagged user{&fires, 'a'};
    ASSERT_NE(capture_->timer_set(capture_->current_timestamp(), &interval, record, &user), nullptr);
    driver_.reset();
  }
  // JACK's client threads end a moment after the client is closed.
  EXPECT_TRUE(vltest::wait_until(
      [&] { return entries("/proc/self/fd") == descriptors && entries("/proc/self/task") == threads; }, 2s))
      << entries("/proc/self/fd") << " descriptors (" << descriptors << " before), " << entries("/proc/self/task")
      << " threads (" << threads << " before)";
}

TEST_F(JackDevice, ChannelsBeyondTheDeviceAreCutBeforeTheRingsAreMade) {
  ASSERT_NE(open(8, 2), nullptr);
  EXPECT_EQ(vl_mediadrv_audio_play_ifc(driver_.get())->properties()->channels, 2U);
  const uint32_t first = capture_->current_timestamp();
  EXPECT_TRUE(vltest::wait_until([&] { return vl_ts_ahead(first, capture_->current_timestamp()) > 100 * block; }, 5s));
}

class JackCaptureOnlyDevice : public JackDevice {
 protected:
  JackCaptureOnlyDevice() : JackDevice({.playback_ports = 0}) {}
};

TEST_F(JackCaptureOnlyDevice, OpensForCaptureWithoutAPlayInterface) {
  ASSERT_NE(open(2, 2), nullptr);
  EXPECT_EQ(vl_mediadrv_audio_play_ifc(driver_.get()), nullptr);
  EXPECT_EQ(capture_->properties()->channels, 2U);
  const uint32_t first = capture_->current_timestamp();
  EXPECT_TRUE(vltest::wait_until([&] { return vl_ts_ahead(first, capture_->current_timestamp()) > 50 * block; }, 5s));
}

// JACK accepts periods that are no power of two; the rings cannot serve them.
class JackOddPeriodDevice : public JackDevice {
 protected:
  JackOddPeriodDevice() : JackDevice({.period_frames = 96}) {}
};

TEST_F(JackOddPeriodDevice, ConstructionFailsAndReleasesTheOpenedStream) {
  // A sanitizer's runtime starts a thread of its own with the first one.
  std::thread([] {}).join();
  const size_t threads = entries("/proc/self/task");
  uint32_t frames = 64;
  errno = 0;
  EXPECT_EQ(vl_rtaudio_buffer_ctor(vl_rtaudio_ring_frames, 2, 2, &frames, rate, nullptr, "system"), nullptr);
  EXPECT_EQ(errno, EINVAL);
  EXPECT_TRUE(log_.contains("rtaudio_buffer: a block of 96 frames does not divide the ring of 8192 frames"));
  EXPECT_EQ(entries("/proc/self/task"), threads);
}

}  // namespace
