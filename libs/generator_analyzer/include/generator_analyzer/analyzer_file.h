// The file analyzer "AnalyzerFile": writes what it receives to a file as raw
// 32-bit samples in host byte order, channels interleaved.
//
// The file name arrives from control clients, so only a plain name is
// accepted ("filename" of the function, default "analyzer.bin"): no '/',
// not "." or "..", created in the daemon's working directory.
#pragma once

#include "generator_analyzer/vl_analyzer.h"
#include "vlsys/vl_log_ratelimit.h"

#include <cstdio>
#include <memory>
#include <string>

extern const VlMediadrvTypeDescriptor vl_analyzer_file_ts;

inline constexpr const char* vl_analyzer_file_default_name = "analyzer.bin";

class VlAnalyzerFile final : public VlAnalyzer {
 public:
  struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
  };
  using File = std::unique_ptr<std::FILE, FileCloser>;

  VlAnalyzerFile(VlTestDeviceParts parts, File file);

  const VlTypeDescriptor& type() const override { return vl_analyzer_file_ts; }
  const char* name() override { return "AnalyzerFile"; }
  void analyze(uint32_t ts, uint32_t frames) override;

  uint32_t next_timestamp() const { return next_ts_; }

 private:
  File file_;
  uint32_t next_ts_ = 0;
  VlRateLimit short_write_limit_;
};

// True for the names the analyzer may create: non-empty, at most NAME_MAX
// bytes, no '/', not "." or "..".
bool vl_analyzer_file_name_allowed(const char* name);

// Null with errno: EINVAL (rate, block size or file name), ENODEV (no clock
// reference), ENOMEM, or the error of opening the file.
VlAnalyzerFile* vl_analyzer_file_ctor(vl_rational rate, uint32_t block_frames, const json_t* function);
