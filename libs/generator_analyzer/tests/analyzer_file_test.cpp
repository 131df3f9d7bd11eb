#include "generator_analyzer/analyzer_file.h"

#include "vltest/log_capture.h"
#include "vltest/manual_clock.h"
#include "vltest/temp_dir.h"
#include "vlutil/vl_json_ref.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

constexpr vl_rational rate = {48000, 1};

// Runs each test in a working directory of its own, one level below a
// directory the analyzer must never write to.
class FileAnalyzer : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(root_.path().empty());
    work_ = fs::path(root_.path()) / "work";
    fs::create_directory(work_);
    previous_ = fs::current_path();
    fs::current_path(work_);
  }
  void TearDown() override { fs::current_path(previous_); }

  std::unique_ptr<VlAnalyzerFile> make(const char* function_json, uint32_t block = 1024) {
    VlJsonRef function(function_json ? json_loads(function_json, 0, nullptr) : nullptr);
    return std::unique_ptr<VlAnalyzerFile>(vl_analyzer_file_ctor(rate, block, function.get()));
  }

  VlObject* load(const char* function_json) {
    VlJsonRef json(json_pack("{s:s, s:{s:o}}", "typename", "VlAnalyzerFile", "configuration", "function",
                             json_loads(function_json, 0, nullptr)));
    return vl_analyzer_file_ts.load(json.get());
  }

  static std::vector<int32_t> samples_in(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::vector<int32_t> samples(bytes.size() / sizeof(int32_t));
    std::memcpy(samples.data(), bytes.data(), samples.size() * sizeof(int32_t));
    return samples;
  }

  static void write(VlPlayIfc* play, uint32_t ts, const std::vector<int32_t>& samples) {
    const VlMediaWindow window = play->initialise_write(ts);
    ASSERT_GE(window.frames, static_cast<int32_t>(samples.size()));
    std::copy(samples.begin(), samples.end(), window.samples);
    ASSERT_EQ(play->complete_write(ts, window.samples, static_cast<int32_t>(samples.size())), 0);
  }

  vltest::LogCapture log_;
  vltest::ManualClock clock_{"PTPv2 0"};
  vltest::TempDir root_;
  fs::path work_;
  fs::path previous_;
};

TEST_F(FileAnalyzer, WritesRawHostOrderSamplesOfEveryBlock) {
  auto analyzer = make(R"({"filename": "out.bin"})", 4);
  ASSERT_NE(analyzer, nullptr);
  VlPlayIfc* play = vl_mediadrv_audio_play_ifc(analyzer.get());
  ASSERT_NE(play, nullptr);
  EXPECT_EQ(vl_mediadrv_audio_capture_ifc(analyzer.get()), nullptr);
  EXPECT_EQ(play->properties()->channels, 1u);
  write(play, 100, {1, -2, 0x7FFFFFFF, static_cast<int32_t>(0x80000000)});
  write(play, 104, {5, 6});
  EXPECT_EQ(analyzer->next_timestamp(), 106u);
  analyzer.reset();
  EXPECT_EQ(samples_in(work_ / "out.bin"),
            (std::vector<int32_t>{1, -2, 0x7FFFFFFF, static_cast<int32_t>(0x80000000), 5, 6}));
}

TEST_F(FileAnalyzer, AcceptsOnlyAPlainFileName) {
  for (const char* function : {R"({"filename": "../escaped.bin"})", R"({"filename": "sub/x.bin"})",
                               R"({"filename": "/tmp/vltest-analyzer-absolute.bin"})", R"({"filename": ".."})",
                               R"({"filename": "."})", R"({"filename": ""})", R"({"filename": 7})"}) {
    errno = 0;
    EXPECT_EQ(load(function), nullptr) << function;
    EXPECT_EQ(errno, EINVAL) << function;
  }
  EXPECT_EQ(log_.count("vl_analyzer_file_ctor failed with errno 22"), 7);
  EXPECT_FALSE(fs::exists(fs::path(root_.path()) / "escaped.bin"));
  EXPECT_FALSE(fs::exists("/tmp/vltest-analyzer-absolute.bin"));
  EXPECT_TRUE(fs::is_empty(work_));
  const std::string too_long = R"({"filename": ")" + std::string(256, 'a') + R"("})";
  EXPECT_EQ(make(too_long.c_str()), nullptr);
  EXPECT_NE(make(("{\"filename\": \"" + std::string(255, 'a') + "\"}").c_str()), nullptr);
}

TEST_F(FileAnalyzer, NeverFollowsALinkOrWritesIntoADirectory) {
  const fs::path target = fs::path(root_.path()) / "target";
  std::ofstream(target) << "keep";
  fs::create_symlink(target, work_ / "link.bin");
  errno = 0;
  EXPECT_EQ(make(R"({"filename": "link.bin"})"), nullptr);
  EXPECT_EQ(errno, ELOOP);
  std::ifstream in(target);
  std::string content;
  in >> content;
  EXPECT_EQ(content, "keep");

  fs::create_directory(work_ / "dir.bin");
  EXPECT_EQ(make(R"({"filename": "dir.bin"})"), nullptr);
  EXPECT_TRUE(log_.contains("analyzer couldn't open file dir.bin (errno = "));
}

TEST_F(FileAnalyzer, AWriteLargerThanTheBlockIsRefusedWhole) {
  auto analyzer = make(R"({"filename": "big.bin"})");
  ASSERT_NE(analyzer, nullptr);
  VlPlayIfc* play = vl_mediadrv_audio_play_ifc(analyzer.get());
  const VlMediaWindow window = play->initialise_write(0);
  EXPECT_EQ(window.frames, 1024);
  EXPECT_EQ(play->complete_write(0, window.samples, 2048), 1024);
  EXPECT_EQ(analyzer->next_timestamp(), 0u);
  analyzer.reset();
  EXPECT_EQ(fs::file_size(work_ / "big.bin"), 0u);
}

TEST_F(FileAnalyzer, OnlyTheScratchBufferIsAnalyzed) {
  auto analyzer = make(R"({"filename": "foreign.bin"})");
  ASSERT_NE(analyzer, nullptr);
  VlPlayIfc* play = vl_mediadrv_audio_play_ifc(analyzer.get());
  const VlMediaWindow window = play->initialise_write(0);
  std::vector<int32_t> elsewhere(1024);
  // A whole block from elsewhere is not reported as done.
  EXPECT_EQ(play->complete_write(0, elsewhere.data(), 1024), 1024);
  EXPECT_EQ(play->complete_write(0, elsewhere.data(), 10), 10);
  EXPECT_EQ(play->complete_write(0, window.samples, -5), -5);
  EXPECT_EQ(play->complete_write(0, window.samples, 0), 0);
  analyzer.reset();
  EXPECT_EQ(fs::file_size(work_ / "foreign.bin"), 0u);
}

}  // namespace
