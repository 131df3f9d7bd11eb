// streamerctl: drives a running streamerd over its control protocol.
#include "commands.h"

#include "vlsys/vl_log.h"

#include <cstdio>

namespace {

constexpr int usage_status = 2;

void add_completion_command(CLI::App& app) {
  app.add_subcommand("completion", "Print the bash completion script (source it, or install it)")
      ->callback([&app] { std::fputs(bash_completion(app).c_str(), stdout); });
}

}  // namespace

int main(int argc, char** argv) {
  // The library's records go to the system log, never to the terminal.
  vl_log_init("streamerctl");
  Context context;
  CLI::App app{"streamerctl: controls a running streamerd over its control port (TCP 42538)", "streamerctl"};
  app.require_subcommand(1);
  app.fallthrough();
  app.add_flag("--json", context.json, "print the daemon's JSON answers as they arrive");
  app.add_option("--host", context.link.host, "the daemon's host (default: VELANTO_IPC_SRV_ADDR, else 127.0.0.1)");
  app.add_option("--timeout", context.link.timeout_s, "seconds to wait for the daemon")
      ->capture_default_str()
      ->check(CLI::Range(0.1, 3600.0));
  add_device_commands(app, context);
  add_stream_commands(app, context);
  add_audio_commands(app, context);
  add_system_commands(app, context);
  add_events_command(app, context);
  add_completion_command(app);
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& error) {
    return app.exit(error) == 0 ? 0 : usage_status;
  }
  vl_log_exit();
  return context.status;
}
