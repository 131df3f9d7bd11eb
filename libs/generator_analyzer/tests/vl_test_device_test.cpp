#include "generator_analyzer/vl_test_device.h"

#include "generator_analyzer/analyzer_file.h"
#include "generator_analyzer/analyzer_ramp.h"
#include "generator_analyzer/generator_ramp.h"
#include "generator_analyzer/generator_sine.h"
#include "vltest/log_capture.h"
#include "vltest/manual_clock.h"
#include "vltest/temp_dir.h"
#include "vlutil/vl_json_ref.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

const VlMediadrvTypeDescriptor* const test_devices[] = {&vl_generator_sine_ts, &vl_generator_ramp_ts,
                                                        &vl_analyzer_file_ts, &vl_analyzer_ramp_ts};

std::vector<std::string> registered_names() {
  std::vector<std::string> names;
  vl_object_iterate(
      [](void* context, const VlTypeDescriptor* descriptor, int) {
        static_cast<std::vector<std::string>*>(context)->push_back(descriptor->type_name);
      },
      &names);
  return names;
}

struct ObjectDeleter {
  void operator()(VlObject* obj) const { vl_object_delete(obj); }
};
using ObjectPtr = std::unique_ptr<VlObject, ObjectDeleter>;

// Made by type name the way the audio device registry does.
class TestDevices : public ::testing::Test {
 protected:
  void SetUp() override {
    previous_ = fs::current_path();
    fs::current_path(dir_.path());
    vl_generator_init();
    vl_analyzer_init();
  }
  void TearDown() override {
    vl_analyzer_exit();
    vl_generator_exit();
    fs::current_path(previous_);
  }

  static ObjectPtr make(const char* type_name, const char* configuration_json) {
    VlJsonRef json(json_pack("{s:s, s:s, s:o}", "typename", type_name, "devicename", "ignored", "configuration",
                             json_loads(configuration_json, 0, nullptr)));
    return ObjectPtr(vl_object_make(json.get()));
  }

  vltest::LogCapture log_;
  vltest::ManualClock clock_{"PTPv2 0"};
  vltest::TempDir dir_;
  fs::path previous_;
};

TEST_F(TestDevices, RegistersGeneratorsThenAnalyzersAndUnregistersThem) {
  EXPECT_EQ(registered_names(),
            (std::vector<std::string>{"VlGeneratorSine", "VlGeneratorRamp", "VlAnalyzerFile", "VlAnalyzerRamp"}));
  vl_analyzer_exit();
  EXPECT_EQ(registered_names(), (std::vector<std::string>{"VlGeneratorSine", "VlGeneratorRamp"}));
  vl_analyzer_init();
}

TEST_F(TestDevices, ListOneDeviceEach) {
  VlJsonRef list(json_array());
  for (const VlMediadrvTypeDescriptor* descriptor : test_devices) {
    ASSERT_NE(vl_mediadrv_audio_devicelist(descriptor), nullptr) << descriptor->type_name;
    vl_mediadrv_audio_devicelist(descriptor)(list.get());
  }
  VlJsonRef expected(json_loads(R"([
    {"typename": "VlGeneratorSine", "devicename": "GeneratorSine",
     "properties": {"channelCountPlay": 0, "channelCountCapture": 1, "sampleRate": [48000]}},
    {"typename": "VlGeneratorRamp", "devicename": "GeneratorRamp",
     "properties": {"channelCountPlay": 0, "channelCountCapture": 1, "sampleRate": [48000]}},
    {"typename": "VlAnalyzerFile", "devicename": "AnalyzerFile",
     "properties": {"channelCountPlay": 1, "channelCountCapture": 0, "sampleRate": [48000]}},
    {"typename": "VlAnalyzerRamp", "devicename": "AnalyzerRamp",
     "properties": {"channelCountPlay": 1, "channelCountCapture": 0, "sampleRate": [48000]}}
  ])", 0, nullptr));
  ASSERT_TRUE(expected);
  EXPECT_TRUE(json_equal(list.get(), expected.get())) << json_dumps(list.get(), 0);
  EXPECT_EQ(vl_mediadrv_audio_devicelist(&vl_generator_ts), nullptr);
  EXPECT_EQ(vl_mediadrv_audio_devicelist(&vl_analyzer_ts), nullptr);
}

TEST_F(TestDevices, LoadReadsRateBlockSizeAndFunction) {
  ObjectPtr sine = make("VlGeneratorSine",
                        R"({"sampleRate": [96000, 1], "audioBlockSize": 512, "function": {"freq": [1000, 1]}})");
  ASSERT_NE(sine, nullptr);
  auto* generator = static_cast<VlGeneratorSine*>(sine.get());
  EXPECT_EQ(generator->properties().rate.nom, 96000);
  EXPECT_EQ(generator->block_frames(), 512u);
  EXPECT_EQ(generator->frequency().nom, 1000);

  ObjectPtr ramp = make("VlGeneratorRamp", R"({"audioBlockSize": 0})");
  ASSERT_NE(ramp, nullptr);
  EXPECT_EQ(static_cast<VlGenerator*>(ramp.get())->block_frames(), 1024u);
  EXPECT_EQ(static_cast<VlGenerator*>(ramp.get())->properties().rate.nom, 48000);

  ObjectPtr file = make("VlAnalyzerFile", R"({})");
  ASSERT_NE(file, nullptr);
  EXPECT_TRUE(fs::exists(fs::path(dir_.path()) / "analyzer.bin"));
  ObjectPtr analyzer = make("VlAnalyzerRamp", R"({"audioBlockSize": 128})");
  ASSERT_NE(analyzer, nullptr);
  EXPECT_EQ(static_cast<VlAnalyzer*>(analyzer.get())->block_frames(), 128u);
}

TEST_F(TestDevices, GeneratorsDoNotPlayAndAnalyzersDoNotCapture) {
  ObjectPtr ramp = make("VlGeneratorRamp", R"({})");
  ObjectPtr sine = make("VlGeneratorSine", R"({"function": {"freq": [1, 1]}})");
  ObjectPtr file = make("VlAnalyzerFile", R"({})");
  ObjectPtr analyzer = make("VlAnalyzerRamp", R"({})");
  for (VlObject* generator : {ramp.get(), sine.get()}) {
    ASSERT_TRUE(vl_object_is_a(generator, vl_generator_ts));
    EXPECT_EQ(vl_mediadrv_audio_play_ifc(static_cast<VlMediadrvAudio*>(generator)), nullptr);
    EXPECT_NE(vl_mediadrv_audio_capture_ifc(static_cast<VlMediadrvAudio*>(generator)), nullptr);
  }
  for (VlObject* sink : {file.get(), analyzer.get()}) {
    ASSERT_TRUE(vl_object_is_a(sink, vl_analyzer_ts));
    EXPECT_EQ(vl_mediadrv_audio_capture_ifc(static_cast<VlMediadrvAudio*>(sink)), nullptr);
    EXPECT_NE(vl_mediadrv_audio_play_ifc(static_cast<VlMediadrvAudio*>(sink)), nullptr);
  }
}

TEST_F(TestDevices, ABadSampleRateIsRefused) {
  for (const VlMediadrvTypeDescriptor* descriptor : test_devices) {
    for (const char* configuration :
         {R"({"sampleRate": [48000]})", R"({"sampleRate": [48000, 1, 1]})", R"({"sampleRate": "48000"})",
          R"({"sampleRate": [0, 1]})", R"({"sampleRate": [48000, 0]})", R"({"sampleRate": [4294967296, 1]})"}) {
      log_.clear();
      EXPECT_EQ(make(descriptor->type_name, configuration), nullptr) << descriptor->type_name << configuration;
      EXPECT_EQ(log_.count("Illegal sample rate given"), 1) << descriptor->type_name << configuration;
    }
  }
}

TEST_F(TestDevices, AnUnusableBlockSizeFailsConstruction) {
  EXPECT_EQ(make("VlGeneratorRamp", R"({"audioBlockSize": -1})"), nullptr);
  EXPECT_TRUE(log_.contains("vl_generator_ramp_ctor failed with errno 22"));
  EXPECT_EQ(make("VlAnalyzerRamp", R"({"audioBlockSize": 100000000})"), nullptr);
  EXPECT_TRUE(log_.contains("vl_analyzer_ramp_ctor failed with errno 22"));
  EXPECT_EQ(make("VlGeneratorSine", R"({"function": {"freq": [0, 1]}})"), nullptr);
  EXPECT_TRUE(log_.contains("vl_generator_sine_ctor failed with errno 22"));
}

TEST(TestDevicesWithoutClock, FailWithNoDevice) {
  vltest::LogCapture log;
  VlJsonRef json(json_pack("{s:s, s:{}}", "typename", "VlAnalyzerRamp", "configuration"));
  EXPECT_EQ(vl_analyzer_ramp_ts.load(json.get()), nullptr);
  EXPECT_TRUE(log.contains("vl_analyzer_ramp_ctor failed with errno 19"));
}

}  // namespace
