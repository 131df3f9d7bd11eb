// Test analyzers: play devices without a ring that consume every written
// block at once.
#pragma once

#include "generator_analyzer/vl_test_device.h"
#include "vl/vl_mediadrv.h"

#include <memory>

extern const VlMediadrvTypeDescriptor vl_analyzer_ts;

class VlAnalyzer : public VlMediadrvAudio {
 public:
  const VlTypeDescriptor& type() const override { return vl_analyzer_ts; }
  VlClockref* clockref() override { return properties_.clockref; }
  VlCaptureIfc* get_capture_ifc() override { return nullptr; }
  VlPlayIfc* get_play_ifc() override { return &play_; }
  bool store(json_t* json) const override;

  // Consumes `frames` frames from the start of the scratch buffer, written
  // for the media timestamp ts.
  virtual void analyze(uint32_t ts, uint32_t frames);

  const VlMediaProperties& properties() const { return properties_; }
  uint32_t block_frames() const { return properties_.buffer_frames; }
  uint32_t current_timestamp();

 protected:
  explicit VlAnalyzer(VlTestDeviceParts parts);
  const int32_t* samples() const { return samples_.get(); }
  uint32_t channels() const { return properties_.channels; }

 private:
  class Play final : public VlPlayIfc {
   public:
    explicit Play(VlAnalyzer& analyzer) : analyzer_(analyzer) {}
    const VlMediaProperties* properties() override { return &analyzer_.properties_; }
    VlMediaWindow initialise_write(uint32_t ts) override;
    int32_t complete_write(uint32_t ts, const int32_t* samples, int32_t frames) override;
    VlTimestampRelation timestamp_relation() override { return {0, 0}; }
    uint32_t current_timestamp() override { return analyzer_.current_timestamp(); }

   private:
    VlAnalyzer& analyzer_;
  };

  VlMediaProperties properties_;
  std::unique_ptr<int32_t[]> samples_;
  uint32_t last_write_ts_ = 0;
  Play play_{*this};
};

void vl_analyzer_analyze(VlAnalyzer* self, uint32_t ts, uint32_t frames);

// Creates "velanto.analyzer" and registers the file, then the ramp analyzer;
// exit unregisters them in reverse.
void vl_analyzer_init();
void vl_analyzer_exit();
