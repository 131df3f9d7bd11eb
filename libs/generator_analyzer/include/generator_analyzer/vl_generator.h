// Test generators: capture devices without a ring that compute each
// requested block from its media timestamp. Their media timestamps follow
// the clock reference's time at their rate, so a signal sent from one system
// can be checked for its timing by another.
#pragma once

#include "generator_analyzer/vl_test_device.h"
#include "vl/vl_mediadrv.h"
#include "vlsys/vl_yielding_mutex.h"

#include <memory>
#include <vector>

extern const VlMediadrvTypeDescriptor vl_generator_ts;

class VlGenerator : public VlMediadrvAudio {
 public:
  ~VlGenerator() override;

  const VlTypeDescriptor& type() const override { return vl_generator_ts; }
  VlClockref* clockref() override { return properties_.clockref; }
  VlCaptureIfc* get_capture_ifc() override { return &capture_; }
  VlPlayIfc* get_play_ifc() override { return nullptr; }
  bool store(json_t* json) const override;

  // Fills the first `frames` frames of the sample buffer (at most the
  // block) with the signal from ts on; returns the frames written.
  virtual uint32_t generate(uint32_t ts, uint32_t frames);

  const VlMediaProperties& properties() const { return properties_; }
  uint32_t block_frames() const { return properties_.buffer_frames; }
  // The media timestamp of the clock reference's time.
  uint32_t current_timestamp();

 protected:
  explicit VlGenerator(VlTestDeviceParts parts);
  // Where generate writes: the frames of the ticker whose timers this
  // thread is calling, else the generator's own.
  int32_t* samples() { return made_here().samples.get(); }
  uint32_t channels() const { return properties_.channels; }

 public:
  // Public for the thread's record of the ticker it serves.
  struct Ticker;

 private:
  struct Timer;
  // A sample buffer and what it holds: the frames made at its last read
  // from its timestamp on. The streams of one ticker read the same frames
  // in one tick, and a repeated read is served without making them again.
  struct Made {
    std::unique_ptr<int32_t[]> samples;  // channels times block_frames
    uint32_t ts = 0;
    uint32_t frames = 0;
  };

  class Capture final : public VlCaptureIfc {
   public:
    explicit Capture(VlGenerator& generator) : generator_(generator) {}
    const VlMediaProperties* properties() override { return &generator_.properties_; }
    VlMediaWindow initialise_read(uint32_t ts) override;
    VlMediaWindow initialise_read_frames(uint32_t ts, uint32_t wanted) override;
    int32_t complete_read(uint32_t ts, const int32_t* samples, int32_t frames) override;
    VlTimestampRelation timestamp_relation() override { return {0, 0}; }
    uint32_t current_timestamp() override { return generator_.current_timestamp(); }
    VlTimerHandle timer_set(uint32_t start_ts, uint32_t* interval, vl_capture_timer_callback callback,
                            void* user) override;
    bool timer_remove(VlTimerHandle handle) override;

   private:
    VlGenerator& generator_;
  };

  Made& made_here();
  // The samples from ts on, at least `frames` of them (at most the block).
  VlMediaWindow read(uint32_t ts, uint32_t frames);
  static void tick(void* ticker);
  VlTimerHandle add_timer(uint32_t start_ts, uint32_t interval, vl_capture_timer_callback callback, void* user);
  bool remove_timer(Timer* timer);
  Ticker* ticker_to_join(uint64_t period_ns) const;
  static void attach(Ticker* ticker, Timer* timer);
  Ticker* start_ticker(uint64_t period_ns, uint32_t start_ts, uint32_t interval, Timer* timer);

  VlMediaProperties properties_;
  Made own_;  // for reads outside a tick
  Capture capture_{*this};
  // Guards tickers_, their timer counts and timers_; taken before a
  // ticker's mutex.
  VlYieldingMutex timers_mutex_;
  std::vector<Ticker*> tickers_;
  std::vector<Timer*> timers_;  // the live ones: a handle already removed is refused
};

// generate of a whole block.
uint32_t vl_generator_generate(VlGenerator* self, uint32_t ts);

// Creates "velanto.generator" and registers the sine, then the ramp
// generator; exit unregisters them in reverse.
void vl_generator_init();
void vl_generator_exit();
