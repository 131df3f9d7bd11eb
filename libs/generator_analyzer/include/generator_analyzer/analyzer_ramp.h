// The ramp analyzer "AnalyzerRamp": checks a received ramp (see the ramp
// generator) for gaps and timing offsets. Its findings are attributes that
// control requests read while the stream runs:
//   1 the last good timestamp, 2 the mismatch count, 3 the offset.
#pragma once

#include "generator_analyzer/vl_analyzer.h"

#include <atomic>

extern const VlMediadrvTypeDescriptor vl_analyzer_ramp_ts;

inline constexpr int vl_analyzer_ramp_attr_last_good_ts = 1;
inline constexpr int vl_analyzer_ramp_attr_mismatches = 2;
inline constexpr int vl_analyzer_ramp_attr_offset = 3;

class VlAnalyzerRamp final : public VlAnalyzer {
 public:
  explicit VlAnalyzerRamp(VlTestDeviceParts parts);
  // Reports the mismatches found, if any.
  ~VlAnalyzerRamp() override;

  const VlTypeDescriptor& type() const override { return vl_analyzer_ramp_ts; }
  const char* name() override { return "AnalyzerRamp"; }
  void analyze(uint32_t ts, uint32_t frames) override;
  json_t* get_attr(int attribute_id) override;
  json_t* get_group(const int* attribute_ids, int count) override;

  uint32_t last_good_timestamp() const { return last_good_ts_.load(std::memory_order_relaxed); }
  uint32_t mismatches() const { return mismatches_.load(std::memory_order_relaxed); }
  uint16_t offset() const { return offset_.load(std::memory_order_relaxed); }
  bool silence() const { return silence_; }
  uint32_t next_timestamp() const { return next_ts_; }

 private:
  // The state of one block's check.
  struct Block {
    bool no_good_frame = true;  // neither a good sounding frame nor a mismatch yet
  };

  void check_frame(uint32_t ts, int32_t sample, Block& block);
  void good(uint32_t ts, Block& block, bool sounding);
  void mismatch(uint32_t ts, uint16_t offset, Block& block);
  void silence_stopped(uint32_t ts);

  log4c_category_t* category_;
  uint32_t next_ts_ = 0;
  bool silence_ = false;
  // Read by control requests on another thread while the receiver writes.
  std::atomic<uint32_t> last_good_ts_{0};
  std::atomic<uint32_t> mismatches_{0};
  std::atomic<uint16_t> offset_{0};
};

// Null with errno: EINVAL (rate or block size), ENODEV (no clock reference),
// ENOMEM. The function is not used.
VlAnalyzerRamp* vl_analyzer_ramp_ctor(vl_rational rate, uint32_t block_frames, const json_t* function);
