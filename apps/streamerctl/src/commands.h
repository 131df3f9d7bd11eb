// The tool's command tree. Each add_* function puts one group of
// subcommands on the application; a subcommand's action runs once the
// command line has been parsed and leaves the exit status in the context:
// 0 success, 1 failure (already reported on standard error).
#pragma once

#include "daemon_link.h"

#include <CLI/CLI.hpp>

#include <jansson.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

struct Context {
  LinkOptions link;
  bool json = false;  // print the daemon's JSON as it arrived
  int status = 0;
};

// Connects (with "init") and runs `action`, whose result is the status.
// The status is 1 when the connection fails.
void run_linked(Context& context, const std::function<int(DaemonLink&)>& action);
// Sends one request and prints its result: the JSON with --json, else
// `show(result)` (nothing when `show` is empty). 0 or 1.
int request_and_show(Context& context, DaemonLink& link, uint32_t command, json_t* parameter,
                     const std::function<std::string(const json_t*)>& show);
// {"session_addr", "session_port"}.
json_t* session_id(const std::string& address, uint16_t port);
// A JSON value from text given on the command line; null (reported) when
// it does not parse.
VlJsonRef json_argument(const std::string& text, const char* what);
// "0,1,-1" -> [0, 1, -1]; null when it is no such list.
VlJsonRef channel_map_argument(const std::string& text);

void add_device_commands(CLI::App& app, Context& context);   // status, sessions, session, info
void add_stream_commands(CLI::App& app, Context& context);   // send, receive, stream, sdp, discover
void add_audio_commands(CLI::App& app, Context& context);    // audio
void add_system_commands(CLI::App& app, Context& context);   // config, ptp, log
void add_events_command(CLI::App& app, Context& context);    // events

// A bash completion script for the command tree.
std::string bash_completion(CLI::App& app);
