#include "generator_analyzer/vl_analyzer.h"

#include "generator_analyzer/analyzer_file.h"
#include "generator_analyzer/analyzer_ramp.h"
#include "vlsys/vl_log.h"
#include "vlsys/vl_time.h"

const VlMediadrvTypeDescriptor vl_analyzer_ts = {{&vl_mediadrv_audio_ts, "VlAnalyzer", nullptr}, nullptr};

VlAnalyzer::VlAnalyzer(VlTestDeviceParts parts)
    : properties_{parts.rate,        parts.clockref, parts.channels, parts.block_frames, nullptr,
                  vl_test_device_processing_frames},
      samples_(std::move(parts.samples)) {}

bool VlAnalyzer::store(json_t* json) const {
  return VlMediadrvAudio::store(json) && vl_test_device_store(json, block_frames());
}

void VlAnalyzer::analyze(uint32_t, uint32_t) { vl_object_abort("vl_analyzer_analyze"); }

uint32_t VlAnalyzer::current_timestamp() {
  return vl_time_ns2ts(vl_clockref_now(properties_.clockref, nullptr), properties_.rate);
}

VlMediaWindow VlAnalyzer::Play::initialise_write(uint32_t ts) {
  analyzer_.last_write_ts_ = ts;
  return {analyzer_.samples_.get(), static_cast<int32_t>(analyzer_.block_frames())};
}

// Only what was written into the scratch buffer, at most one block, is
// analyzed; anything else is reported and dropped whole, so that a write
// from elsewhere never counts as done.
int32_t VlAnalyzer::Play::complete_write(uint32_t ts, const int32_t* samples, int32_t frames) {
  const auto block = static_cast<int32_t>(analyzer_.block_frames());
  if (frames > block) return frames - block;
  if (frames < 0 || (samples != analyzer_.samples_.get() && frames > 0)) return frames;
  if (frames > 0) vl_analyzer_analyze(&analyzer_, ts, static_cast<uint32_t>(frames));
  return 0;
}

void vl_analyzer_analyze(VlAnalyzer* self, uint32_t ts, uint32_t frames) { self->analyze(ts, frames); }

void vl_analyzer_init() {
  vl_log_category("velanto.analyzer");
  vl_object_register(&vl_analyzer_file_ts);
  vl_object_register(&vl_analyzer_ramp_ts);
}

void vl_analyzer_exit() {
  vl_object_unregister(&vl_analyzer_ramp_ts);
  vl_object_unregister(&vl_analyzer_file_ts);
}
