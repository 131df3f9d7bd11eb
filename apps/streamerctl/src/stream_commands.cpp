// send, receive, stream and sdp: streams of a session and the SDP records
// that describe them.
#include "commands.h"
#include "sdp_writer.h"
#include "views.h"

#include "vlipc/vl_ipc_commands.h"

#include <arpa/inet.h>

#include <cstdio>
#include <ctime>
#include <fstream>
#include <iostream>
#include <iterator>
#include <random>
#include <sstream>

namespace {

constexpr uint32_t default_dscp = 34;     // AF41, the usual class for AES67 media
constexpr int32_t default_delay = 480;    // 10 ms at 48 kHz
constexpr uint32_t default_channels = 2;

struct SdpArgs {
  SdpOptions options;
  double ptime_ms = 0;
  std::string file;  // --sdp
  bool clock_from_daemon = false;
};

struct StreamArgs {
  std::string address;
  uint16_t port = 0;
  std::string device;
  std::string direction;  // snd or rcv
  std::string map;
  SdpArgs sdp;
  uint32_t seqno = 0;
  uint32_t dscp = default_dscp;
  int32_t delay = default_delay;
};

void add_stream_position(CLI::App* command, StreamArgs& args, bool with_device) {
  command->add_option("ADDR", args.address, "session address")->required()->check(CLI::ValidIPV4);
  command->add_option("PORT", args.port, "session port")->required()->check(CLI::Range(1, 65535));
  if (with_device) command->add_option("DEVICE", args.device, "audio device of the daemon")->required();
}

// The options that describe a sender's SDP; the destination and the port
// come from the caller.
std::vector<CLI::Option*> add_sdp_options(CLI::App* command, SdpArgs& args) {
  SdpOptions& o = args.options;
  std::vector<CLI::Option*> added = {
      command->add_option("--source", o.source, "the sender's own address (default: its interface's)")
          ->check(CLI::ValidIPV4),
      command->add_option("--channels", o.channels, "channels in the stream")->check(CLI::Range(1, 1024)),
      command->add_option("--encoding", o.encoding, "payload format")
          ->check(CLI::IsMember({"L16", "L24", "L32", "AM824"})),
      command->add_option("--rate", o.rate, "sample rate in Hz")->check(CLI::Range(8000, 384000)),
      command->add_option("--ptime", args.ptime_ms, "packet time in milliseconds (instead of --frames)"),
      command->add_option("--sync-time", o.sync_time, "RTP timestamp at the PTP epoch (media clock offset)"),
      command->add_option("--clock-domain", o.clock_domain, "PTP domain of the media clock")->check(CLI::Range(0, 127)),
      command->add_option("--name", o.name, "session name"),
      command->add_option("--ttl", o.ttl, "multicast time to live")->check(CLI::Range(1, 255)),
      command->add_option("--payload-type", o.payload_type, "RTP payload type")->check(CLI::Range(96, 127)),
      command->add_option("--grandmaster", o.grandmaster, "PTP grandmaster identity, such as 00-1D-C1-FF-FE-12-34-56"),
  };
  for (CLI::Option* option : added) option->group("SDP options");
  return added;
}

CLI::Option* add_frames_option(CLI::App* command, SdpArgs& args) {
  return command->add_option("--frames", args.options.frames, "frames per packet")->check(CLI::Range(8, 65536));
}

std::string read_text(const std::string& path) {
  if (path == "-") return std::string(std::istreambuf_iterator<char>(std::cin), {});
  std::ifstream file(path);
  if (!file) return "";
  std::stringstream text;
  text << file.rdbuf();
  return text.str();
}

// The frame count from --ptime when it was given; false after saying why.
bool settle_frames(SdpArgs& args, bool frames_given) {
  if (args.ptime_ms <= 0) return true;
  if (frames_given) {
    complain("give --ptime or --frames, not both");
    return false;
  }
  args.options.frames = sdp_frames_for_ptime(args.ptime_ms, args.options.rate);
  if (args.options.frames == 0) complain("--ptime must be a whole number of frames at the sample rate");
  return args.options.frames != 0;
}

// The record from the options; empty after saying why.
std::string written_sdp(SdpArgs& args, bool frames_given) {
  if (!settle_frames(args, frames_given)) return "";
  if (args.options.session_id == 0) args.options.session_id = static_cast<uint64_t>(std::time(nullptr));
  const std::string problem = sdp_check(args.options);
  if (!problem.empty()) {
    complain(problem);
    return "";
  }
  return sdp_write(args.options);
}

std::string text_of(const json_t* json, const char* key) {
  const char* value = json_string_value(json_object_get(json, key));
  return value ? value : "";
}

// The address of the interface that carries the session, from "init".
std::string interface_address(const json_t* device, const std::string& address, uint16_t port) {
  std::string name;
  std::size_t index = 0;
  const json_t* session = nullptr;
  json_array_foreach(json_object_get(device, "session_list"), index, session) {
    const json_t* id = json_object_get(session, "session_id");
    if (text_of(id, "session_addr") == address && json_integer_value(json_object_get(id, "session_port")) == port)
      name = text_of(session, "network_interface_name");
  }
  const json_t* node = nullptr;
  json_array_foreach(json_object_get(device, "network_interface"), index, node) {
    if (!name.empty() && text_of(node, "network_interface_name") != name) continue;
    in_addr word{static_cast<in_addr_t>(json_integer_value(json_object_get(node, "network_interface_addr")))};
    char text[INET_ADDRSTRLEN] = {};
    return inet_ntop(AF_INET, &word, text, sizeof text) ? text : "";
  }
  return "";
}

// The capture channel count of the daemon's audio device, or the default.
uint32_t device_channels(const json_t* device, const std::string& name) {
  std::size_t index = 0;
  const json_t* audio = nullptr;
  json_array_foreach(json_object_get(device, "audio_device_list"), index, audio) {
    if (text_of(audio, "audio_device_name") != name) continue;
    const json_int_t count = json_integer_value(json_object_get(json_object_get(audio, "audio_properties"), "channelCountCapture"));
    if (count > 0) return static_cast<uint32_t>(count);
  }
  return default_channels;
}

// The grandmaster and domain of the daemon's PTP status for a record's
// reference clock, unless the options name them. A zero identity is no
// grandmaster: the record then says "traceable".
void take_daemon_clock(SdpOptions& o, const json_t* device, bool domain_given) {
  const json_t* status = json_object_get(device, "ptp_status");
  const std::string grandmaster = text_of(status, "ptp_gm_id");
  if (!o.grandmaster.empty() || grandmaster.find_first_not_of("0-") == std::string::npos) return;
  o.grandmaster = grandmaster;
  if (!domain_given) o.clock_domain = static_cast<uint32_t>(json_integer_value(json_object_get(status, "ptp_domain")));
}

// The sender's SDP: the file, or one written from the options with the
// session as destination; empty after saying why.
std::string sender_sdp(StreamArgs& args, const json_t* device, const CLI::App& command) {
  const bool frames_given = command.count("--frames") > 0;
  if (!args.sdp.file.empty()) {
    const std::string sdp = read_text(args.sdp.file);
    if (sdp.empty()) complain("cannot read an SDP record from '" + args.sdp.file + "'");
    if (!sdp.empty() && !frames_given) args.sdp.options.frames = sdp_frame_count(sdp);
    if (!sdp.empty() && args.sdp.options.frames == 0) {
      complain("the SDP record gives no frame count: give --frames");
      return "";
    }
    return sdp;
  }
  SdpOptions& o = args.sdp.options;
  o.destination = args.address;
  o.port = args.port;
  if (o.source.empty()) o.source = interface_address(device, args.address, args.port);
  if (command.count("--channels") == 0) o.channels = device_channels(device, args.device);
  take_daemon_clock(o, device, command.count("--clock-domain") > 0);
  return written_sdp(args.sdp, frames_given);
}

uint32_t stream_type(const std::string& direction) { return direction == "snd" ? 1 : 2; }

// Applies a channel map given with the add; 0 or 1.
int apply_map(Context& context, DaemonLink& link, const StreamArgs& args) {
  if (args.map.empty()) return 0;
  const VlJsonRef map = channel_map_argument(args.map);
  if (!map) {
    complain("the channel map must be a comma-separated list of channels (-1: none)");
    return 1;
  }
  const VlJsonRef parameter(json_pack("{s:o, s:i, s:O, s:s}", "session_id", session_id(args.address, args.port),
                                      "stream_type", static_cast<int>(stream_type(args.direction)),
                                      "stream_channelmap", map.get(), "audio_device_name", args.device.c_str()));
  return request_and_show(context, link, VL_IPC_CMD_STREAM_CHANGE, parameter.get(), {});
}

std::string added_text(const char* what, const StreamArgs& args) {
  return std::string(what) + " added to " + args.address + ":" + std::to_string(args.port) + " with " + args.device + "\n";
}

void add_send(CLI::App& app, Context& context) {
  CLI::App* send = app.add_subcommand("send", "Sender streams");
  send->require_subcommand(1);
  auto args = std::make_shared<StreamArgs>();
  args->direction = "snd";
  args->seqno = std::random_device{}() & 0xffff;
  CLI::App* add = send->add_subcommand("add", "Send audio of a device to a session (give --sdp FILE or SDP options)");
  add_stream_position(add, *args, true);
  CLI::Option* file = add->add_option("--sdp", args->sdp.file, "the stream's SDP record ('-': standard input)");
  for (CLI::Option* option : add_sdp_options(add, args->sdp)) file->excludes(option);
  add_frames_option(add, args->sdp);
  add->add_option("--seqno", args->seqno, "first RTP sequence number (default: random)")->check(CLI::Range(0, 65535));
  add->add_option("--dscp", args->dscp, "DSCP of the packets")->check(CLI::Range(0, 63));
  add->add_option("--map", args->map, "channel map to apply, such as 0,1,-1 (default: none connected)");
  add->callback([&context, args, add] {
    run_linked(context, [&](DaemonLink& link) {
      const std::string sdp = sender_sdp(*args, link.device(), *add);
      if (sdp.empty()) return 1;
      const VlJsonRef parameter(json_pack("{s:o, s:s, s:s, s:i, s:i, s:i}", "session_id",
                                          session_id(args->address, args->port), "audio_device_name",
                                          args->device.c_str(), "stream_sdp", sdp.c_str(), "stream_seqno",
                                          static_cast<int>(args->seqno), "stream_dscp", static_cast<int>(args->dscp),
                                          "stream_packetduration", static_cast<int>(args->sdp.options.frames)));
      if (request_and_show(context, link, VL_IPC_CMD_STREAM_ADD_SND, parameter.get(),
                           [&](const json_t*) { return added_text("sender", *args); }) != 0)
        return 1;
      return apply_map(context, link, *args);
    });
  });
}

void add_receive(CLI::App& app, Context& context) {
  CLI::App* receive = app.add_subcommand("receive", "Receiver streams");
  receive->require_subcommand(1);
  auto args = std::make_shared<StreamArgs>();
  args->direction = "rcv";
  CLI::App* add = receive->add_subcommand("add", "Play a session's stream on a device");
  add_stream_position(add, *args, true);
  add->add_option("--sdp", args->sdp.file, "the sender's SDP record ('-': standard input)")->required();
  add->add_option("--delay", args->delay, "end-to-end delay in frames")->check(CLI::Range(0, 1 << 20));
  add->add_option("--map", args->map, "channel map to apply, such as 0,1,-1 (default: none connected)");
  add->callback([&context, args] {
    run_linked(context, [&](DaemonLink& link) {
      const std::string sdp = read_text(args->sdp.file);
      if (sdp.empty()) {
        complain("cannot read an SDP record from '" + args->sdp.file + "'");
        return 1;
      }
      const VlJsonRef parameter(json_pack("{s:o, s:s, s:s, s:i}", "session_id", session_id(args->address, args->port),
                                          "audio_device_name", args->device.c_str(), "stream_sdp", sdp.c_str(),
                                          "stream_end2enddelay", static_cast<int>(args->delay)));
      if (request_and_show(context, link, VL_IPC_CMD_STREAM_ADD_RCV, parameter.get(),
                           [&](const json_t*) { return added_text("receiver", *args); }) != 0)
        return 1;
      return apply_map(context, link, *args);
    });
  });
}

void add_stream(CLI::App& app, Context& context) {
  CLI::App* stream = app.add_subcommand("stream", "Change and delete the streams of a session");
  stream->require_subcommand(1);

  auto map_args = std::make_shared<StreamArgs>();
  CLI::App* map = stream->add_subcommand("map", "Connect a stream's channels to device channels");
  add_stream_position(map, *map_args, false);
  map->add_option("DIRECTION", map_args->direction, "snd (sender) or rcv (receiver)")
      ->required()
      ->check(CLI::IsMember({"snd", "rcv"}));
  map->add_option("DEVICE", map_args->device, "audio device of the stream")->required();
  map->add_option("MAP", map_args->map, "device channel per stream channel, such as 0,1,-1 (-1: none)")->required();
  map->callback([&context, map_args] {
    run_linked(context, [&](DaemonLink& link) { return apply_map(context, link, *map_args); });
  });

  auto del_args = std::make_shared<StreamArgs>();
  CLI::App* del = stream->add_subcommand("del", "Remove a session's sender or receiver");
  add_stream_position(del, *del_args, false);
  del->add_option("DIRECTION", del_args->direction, "snd (sender) or rcv (receiver)")
      ->required()
      ->check(CLI::IsMember({"snd", "rcv"}));
  del->callback([&context, del_args] {
    run_linked(context, [&](DaemonLink& link) {
      const uint32_t type = stream_type(del_args->direction);
      const VlJsonRef parameter(json_pack("{s:o, s:i}", "session_id", session_id(del_args->address, del_args->port),
                                          "stream_type", static_cast<int>(type)));
      return request_and_show(context, link, type == 1 ? VL_IPC_CMD_STREAM_DEL_SND : VL_IPC_CMD_STREAM_DEL_RCV,
                              parameter.get(), [&](const json_t*) {
                                return std::string(type == 1 ? "sender" : "receiver") + " removed from " +
                                       del_args->address + ":" + std::to_string(del_args->port) + "\n";
                              });
    });
  });
}

void add_sdp(CLI::App& app, Context& context) {
  auto args = std::make_shared<SdpArgs>();
  CLI::App* sdp = app.add_subcommand("sdp", "Write an AES67-style SDP record for a sender (needs no daemon)");
  sdp->add_option("--destination,--group", args->options.destination, "multicast group or unicast receiver")
      ->required()
      ->check(CLI::ValidIPV4);
  sdp->add_option("--port", args->options.port, "UDP port")->check(CLI::Range(1, 65535));
  add_sdp_options(sdp, *args);
  sdp->get_option("--source")->required();
  CLI::Option* frames = add_frames_option(sdp, *args);
  sdp->add_flag("--clock-from-daemon", args->clock_from_daemon,
                "take the grandmaster and PTP domain from the daemon's PTP status");
  sdp->callback([&context, args, frames, sdp] {
    const auto write = [&] {
      const std::string record = written_sdp(*args, frames->count() > 0);
      if (!record.empty()) std::fputs(record.c_str(), stdout);
      return record.empty() ? 1 : 0;
    };
    if (!args->clock_from_daemon) {
      context.status = write();
      return;
    }
    run_linked(context, [&](DaemonLink& link) {
      take_daemon_clock(args->options, link.device(), sdp->count("--clock-domain") > 0);
      return write();
    });
  });
}

}  // namespace

void add_stream_commands(CLI::App& app, Context& context) {
  add_send(app, context);
  add_receive(app, context);
  add_stream(app, context);
  add_sdp(app, context);
}
