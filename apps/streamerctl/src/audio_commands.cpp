// audio: the daemon's audio devices, their reservation and channel names.
#include "commands.h"
#include "views.h"

#include "vlipc/vl_ipc_commands.h"

#include <cstdio>
#include <sstream>

namespace {

constexpr uint32_t default_block_frames = 1024;
constexpr uint32_t default_rate = 48000;

struct AudioArgs {
  std::string device;
  std::string config;
  uint32_t block_frames = default_block_frames;
  uint32_t rate = default_rate;
  std::string capture;
  std::string playback;
};

const json_t* find_device(const json_t* description, const std::string& name) {
  std::size_t index = 0;
  const json_t* audio = nullptr;
  json_array_foreach(json_object_get(description, "audio_device_list"), index, audio) {
    const char* value = json_string_value(json_object_get(audio, "audio_device_name"));
    if (value && name == value) return audio;
  }
  return nullptr;
}

// A configuration from the device's own properties: its channel counts,
// the block size, the rate and the current PTP domain.
VlJsonRef default_config(const json_t* description, const json_t* audio, const AudioArgs& args) {
  const json_t* properties = json_object_get(audio, "audio_properties");
  const json_t* ptp = json_object_get(description, "ptp_status");
  return VlJsonRef(json_pack("{s:I, s:I, s:i, s:[i, i], s:I}", "channelCountCapture",
                             json_integer_value(json_object_get(properties, "channelCountCapture")), "channelCountPlay",
                             json_integer_value(json_object_get(properties, "channelCountPlay")), "audioBlockSize",
                             static_cast<int>(args.block_frames), "sampleRate", static_cast<int>(args.rate), 1,
                             "ptpDomain", json_integer_value(json_object_get(ptp, "ptp_domain"))));
}

// "a,b,c" as a JSON array of strings; the device's current names when empty.
VlJsonRef names_argument(const std::string& text, const json_t* current) {
  if (text.empty()) return VlJsonRef::borrow(const_cast<json_t*>(current));
  VlJsonRef names(json_array());
  std::stringstream parts(text);
  std::string name;
  while (std::getline(parts, name, ',')) json_array_append_new(names.get(), json_string(name.c_str()));
  return names;
}

int reserve(Context& context, DaemonLink& link, const AudioArgs& args) {
  const json_t* audio = find_device(link.device(), args.device);
  if (!audio) {
    complain("the daemon has no audio device '" + args.device + "'");
    return 1;
  }
  const VlJsonRef config = args.config.empty() ? default_config(link.device(), audio, args)
                                               : json_argument(args.config, "--config");
  if (!config) return 1;
  const VlJsonRef parameter(
      json_pack("{s:s, s:O}", "audio_device_name", args.device.c_str(), "audio_config", config.get()));
  return request_and_show(context, link, VL_IPC_CMD_AUDIO_RSV, parameter.get(), [](const json_t* result) {
    const VlJsonRef list(json_pack("[O]", result));
    return view_audio_devices(list.get());
  });
}

int set_names(Context& context, DaemonLink& link, const AudioArgs& args) {
  const json_t* audio = find_device(link.device(), args.device);
  if (!audio) {
    complain("the daemon has no audio device '" + args.device + "'");
    return 1;
  }
  if (args.capture.empty() && args.playback.empty()) {
    if (context.json)
      print_json(audio);
    else
      std::fputs(view_channel_names(audio).c_str(), stdout);
    return 0;
  }
  const VlJsonRef capture = names_argument(args.capture, json_object_get(audio, "audio_captid"));
  const VlJsonRef playback = names_argument(args.playback, json_object_get(audio, "audio_playid"));
  const VlJsonRef parameter(json_pack("{s:s, s:O, s:O}", "audio_device_name", args.device.c_str(), "audio_captid",
                                      capture.get(), "audio_playid", playback.get()));
  return request_and_show(context, link, VL_IPC_CMD_AUDIO_SET_NAMES, parameter.get(), {});
}

}  // namespace

void add_audio_commands(CLI::App& app, Context& context) {
  CLI::App* audio = app.add_subcommand("audio", "The daemon's audio devices");
  audio->require_subcommand(1);
  auto args = std::make_shared<AudioArgs>();

  audio->add_subcommand("list", "List the audio devices")->callback([&context] {
    run_linked(context, [&](DaemonLink& link) {
      const json_t* list = json_object_get(link.device(), "audio_device_list");
      if (context.json)
        print_json(list);
      else
        std::fputs(view_audio_devices(list).c_str(), stdout);
      return 0;
    });
  });

  CLI::App* reserve_command = audio->add_subcommand("reserve", "Reserve an audio device for streams");
  reserve_command->add_option("DEVICE", args->device, "audio device")->required();
  CLI::Option* config = reserve_command->add_option("--config", args->config, "the configuration as JSON");
  config->excludes(reserve_command->add_option("--block-size", args->block_frames, "frames per audio block"));
  config->excludes(reserve_command->add_option("--rate", args->rate, "sample rate in Hz"));
  reserve_command->callback([&context, args] {
    run_linked(context, [&](DaemonLink& link) { return reserve(context, link, *args); });
  });

  audio->add_subcommand("config", "Apply the audio configuration; show the reserved devices' settings")
      ->callback([&context] {
        run_linked(context, [&](DaemonLink& link) {
          return request_and_show(context, link, VL_IPC_CMD_AUDIO_CFG, nullptr, [&](const json_t*) {
            return view_audio_configs(json_object_get(link.device(), "audio_device_list"));
          });
        });
      });

  CLI::App* names = audio->add_subcommand("names", "Show or set the channel names of an audio device");
  names->add_option("DEVICE", args->device, "audio device")->required();
  names->add_option("--capture", args->capture, "capture channel names, comma-separated");
  names->add_option("--playback", args->playback, "playback channel names, comma-separated");
  names->callback([&context, args] {
    run_linked(context, [&](DaemonLink& link) { return set_names(context, link, *args); });
  });

  CLI::App* release = audio->add_subcommand("release", "Release a reserved audio device");
  release->add_option("DEVICE", args->device, "audio device")->required();
  release->callback([&context, args] {
    run_linked(context, [&](DaemonLink& link) {
      const VlJsonRef parameter(json_pack("{s:s}", "audio_device_name", args->device.c_str()));
      return request_and_show(context, link, VL_IPC_CMD_AUDIO_RLS, parameter.get(),
                              [&](const json_t*) { return "released " + args->device + "\n"; });
    });
  });
}
