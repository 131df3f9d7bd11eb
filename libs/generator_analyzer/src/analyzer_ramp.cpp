#include "generator_analyzer/analyzer_ramp.h"

#include "vlsys/vl_log.h"
#include "vlutil/vl_json_ref.h"

#include <cerrno>
#include <cstdio>
#include <new>

namespace {

VL_LOG_CATEGORY(category, "velanto.analyzer")

VlObject* load(const json_t* json) {
  VlTestDeviceConfig config{};
  if (!vl_test_device_read_config(json, category(), &config)) return nullptr;
  VlAnalyzerRamp* analyzer = vl_analyzer_ramp_ctor(config.rate, config.block_frames, config.function);
  if (!analyzer) VL_LOG(category(), VL_LOG_ERROR, "vl_analyzer_ramp_ctor failed with errno %d", errno);
  return analyzer;
}

void devicelist(json_t* array) {
  vl_test_device_list_entry(array, vl_analyzer_ramp_ts.type_name, "AnalyzerRamp", 1, 0);
}

}  // namespace

const VlMediadrvTypeDescriptor vl_analyzer_ramp_ts = {{&vl_analyzer_ts, "VlAnalyzerRamp", load}, devicelist};

VlAnalyzerRamp::VlAnalyzerRamp(VlTestDeviceParts parts) : VlAnalyzer(std::move(parts)), category_(category()) {}

VlAnalyzerRamp::~VlAnalyzerRamp() {
  const uint32_t found = mismatches();
  if (found == 0) return;
  std::printf("vl_analyzer_ramp_dtor found %u mismatches\n", found);
  std::fflush(stdout);  // a daemon's stdout is often a pipe: show the result now, not at exit
  VL_LOG(category_, VL_LOG_INFO, "vl_analyzer_ramp result on destruction: last_good_ts=%u mismatch=%u offset=%u",
         last_good_timestamp(), found, static_cast<unsigned>(offset()));
}

// Only the first channel of each frame is checked.
void VlAnalyzerRamp::analyze(uint32_t ts, uint32_t frames) {
  Block block;
  const int32_t* frame = samples();
  for (uint32_t k = 0; k < frames; ++k, frame += channels()) check_frame(ts + k, *frame, block);
  next_ts_ = ts + frames;
  // A block without a good sounding frame and without a mismatch is silence.
  silence_ = block.no_good_frame;
}

// A sample carries the low 16 bits of the generator's timestamp in its upper
// half; the offset is that minus the receiver's timestamp, in 16 bits.
void VlAnalyzerRamp::check_frame(uint32_t ts, int32_t sample, Block& block) {
  const uint32_t carried = static_cast<uint32_t>(sample) >> 16;
  const auto found = static_cast<uint16_t>(carried - ts);
  const bool matches = found == offset();
  const bool silent = carried == 0;
  if (!silent) {
    if (matches) return good(ts, block, true);
    if (silence_) silence_stopped(ts);
    return mismatch(ts, found, block);
  }
  if (silence_) {
    if (block.no_good_frame) return;
    if (matches) return good(ts, block, false);
    silence_stopped(ts);
    return mismatch(ts, found, block);
  }
  if (matches) return good(ts, block, false);
  if (block.no_good_frame) {
    VL_LOG(category_, VL_LOG_DEBUG, "At timestamp %u silence started", ts);
    silence_ = true;
    return;
  }
  mismatch(ts, found, block);
}

void VlAnalyzerRamp::good(uint32_t ts, Block& block, bool sounding) {
  last_good_ts_.store(ts, std::memory_order_relaxed);
  if (sounding) block.no_good_frame = false;
}

void VlAnalyzerRamp::mismatch(uint32_t ts, uint16_t found, Block& block) {
  VL_LOG(category_, VL_LOG_DEBUG, "At timestamp %u offset was %u set to %u", ts, static_cast<unsigned>(offset()),
         static_cast<unsigned>(found));
  mismatches_.fetch_add(1, std::memory_order_relaxed);
  offset_.store(found, std::memory_order_relaxed);
  block.no_good_frame = false;
}

void VlAnalyzerRamp::silence_stopped(uint32_t ts) {
  VL_LOG(category_, VL_LOG_DEBUG, "At timestamp %u silence stopped", ts);
  silence_ = false;
}

json_t* VlAnalyzerRamp::get_attr(int attribute_id) {
  switch (attribute_id) {
    case vl_analyzer_ramp_attr_last_good_ts:
      return json_integer(last_good_timestamp());
    case vl_analyzer_ramp_attr_mismatches:
      return json_integer(mismatches());
    case vl_analyzer_ramp_attr_offset:
      return json_integer(offset());
    default:
      return nullptr;
  }
}

json_t* VlAnalyzerRamp::get_group(const int* attribute_ids, int count) {
  if (count < 0 || (count > 0 && !attribute_ids)) return nullptr;
  VlJsonRef group(json_array());
  if (!group) return nullptr;
  for (int i = 0; i < count; ++i) {
    json_t* value = get_attr(attribute_ids[i]);
    if (json_array_append_new(group.get(), value ? value : json_null()) != 0) return nullptr;
  }
  return group.release();
}

VlAnalyzerRamp* vl_analyzer_ramp_ctor(vl_rational rate, uint32_t block_frames, const json_t*) {
  VlTestDeviceParts parts;
  if (!vl_test_device_prepare(rate, block_frames, 1, &parts)) return nullptr;
  auto* analyzer = new (std::nothrow) VlAnalyzerRamp(std::move(parts));
  if (!analyzer) errno = ENOMEM;
  return analyzer;
}
