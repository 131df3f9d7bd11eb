// A channel map replaced while the packet thread runs process.
#include "vlcodec/dec_l24.h"
#include "vlcodec/enc_l24.h"
#include "vlcodec/vl_codec_map.h"

#include "codec_test_support.h"
#include "vltest/ring_driver.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

namespace {

TEST(CodecMap, ReplaceWaitsForReadersOfTheOldMap) {
  const int32_t first[] = {0, 1};
  const int32_t second[] = {1, 0, 1};
  VlCodecMap holder(VlChannelMapPtr(vl_channel_map_ctor(first, 2)));
  std::atomic<bool> reading{false};
  std::atomic<bool> release{false};
  std::atomic<uint64_t> seen_count{0};
  std::thread reader([&] {
    const VlCodecMap::Reader r(holder);
    reading = true;
    while (!release) std::this_thread::yield();
    seen_count = r.map()->count();  // still the old map, not freed under us
  });
  while (!reading) std::this_thread::yield();
  std::atomic<bool> replaced{false};
  std::thread writer([&] {
    holder.replace(VlChannelMapPtr(vl_channel_map_ctor(second, 3)));
    replaced = true;
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_FALSE(replaced);  // waits for the reader of the old map
  release = true;
  reader.join();
  writer.join();
  EXPECT_EQ(seen_count, 2u);
  const VlCodecMap::Reader after(holder);
  EXPECT_EQ(after.map()->count(), 3u);
}

// Every payload the encoder produces comes from one whole map: with the two
// maps below a frame is either (ch0, ch1) or (ch1, ch0) of the ring, never a
// mix, and the byte count always matches the channel count of that map.
TEST(CodecMap, SetMapWhileProcessRunsNeverTearsOrFrees) {
  vltest::RingDriver driver;
  driver.fill_capture(0, 4096, [](uint32_t, uint32_t c) { return c == 0 ? 0x11111100 : 0x22222200; });
  driver.set_current_timestamp(4096);
  VlEnc* enc = vl_enc_l24_ctor(driver.get_capture_ifc(), codec_test::sdp("L24/48000/2"));
  ASSERT_NE(enc, nullptr);
  const int32_t straight[] = {0, 1};
  const int32_t crossed[] = {1, 0, 1, 0};
  VlChannelMapPtr a(vl_channel_map_ctor(straight, 2));
  VlChannelMapPtr b(vl_channel_map_ctor(crossed, 4));
  ASSERT_EQ(vl_enc_set_map(enc, a.get()), 0);
  std::atomic<bool> stop{false};
  std::atomic<int> torn{0};
  std::atomic<int> packets{0};
  std::thread packet_thread([&] {
    std::vector<uint8_t> out(1024);
    while (!stop) {
      uint64_t size = out.size();
      const uint64_t frames = vl_enc_process(enc, 48, 100, out.data(), &size);
      const uint64_t channels = size / (3 * frames);
      if (channels != 2 && channels != 4) ++torn;
      for (uint64_t k = 0; k + 3 <= size; k += 3) {
        const bool even = (k / 3) % 2 == 0;
        const uint8_t expected = (channels == 2) == even ? 0x11 : 0x22;
        if (out[k] != expected) ++torn;
      }
      ++packets;
    }
  });
  // Swap until the packet thread has run through many packets meanwhile.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  for (int i = 0; packets < 2000 && std::chrono::steady_clock::now() < deadline; ++i)
    ASSERT_EQ(vl_enc_set_map(enc, (i % 2 ? a : b).get()), 0);
  stop = true;
  packet_thread.join();
  EXPECT_EQ(torn, 0);
  EXPECT_GT(packets, 0);
  vl_object_delete(enc);
}

TEST(CodecMap, DecoderSetMapWhileProcessRuns) {
  vltest::RingDriver driver;
  driver.set_current_timestamp(0);
  VlDec* dec = vl_dec_l24_ctor(driver.get_play_ifc(), codec_test::sdp("L24/48000/2"));
  ASSERT_NE(dec, nullptr);
  const int32_t one[] = {0, 1};
  const int32_t other[] = {1, -1, 0};
  VlChannelMapPtr a(vl_channel_map_ctor(one, 2));
  VlChannelMapPtr b(vl_channel_map_ctor(other, 3));
  std::atomic<bool> stop{false};
  std::atomic<int> packets{0};
  std::thread packet_thread([&] {
    const std::vector<uint8_t> payload(288, 0x5A);
    while (!stop) {
      const int32_t frames = vl_dec_process(dec, 100, payload.data(), static_cast<int32_t>(payload.size()));
      if (frames != 48 && frames != 32) ADD_FAILURE() << frames;
      ++packets;
    }
  });
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  for (int i = 0; packets < 2000 && std::chrono::steady_clock::now() < deadline; ++i)
    vl_dec_set_map(dec, (i % 2 ? a : b).get());
  stop = true;
  packet_thread.join();
  vl_object_delete(dec);
}

}  // namespace
