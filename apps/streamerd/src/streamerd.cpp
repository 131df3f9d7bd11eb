// streamerd: carries multichannel PCM audio between the machine's audio
// devices and the network as RTP streams.
#include "command_line.h"

#include "streamer/vl_platform.h"
#include "streamer/vl_streamer.h"
#include "vlipc/vl_ipc_srv.h"
#include "vlipc/vlipc_handlers.h"
#include "vlsys/vl_log.h"
#include "vlsys/vl_semaphore.h"
#include "vlsys/vl_ticker.h"
#include "vlutil/vl_version.h"

#include <cerrno>
#include <cstdarg>
#include <csignal>
#include <cstdio>

namespace {

constexpr const char* configuration_file = "velanto.cfg";

vl_semaphore stop_semaphore;

void signal_handler(int) { sem_post(&stop_semaphore.handle); }

// The lines are read through pipes by supervisors; flush every piece.
void say(const char* format, ...) __attribute__((format(printf, 1, 2)));
void say(const char* format, ...) {
  va_list args;
  va_start(args, format);
  std::vprintf(format, args);
  va_end(args);
  std::fflush(stdout);
}

}  // namespace

int main(int argc, char** argv) {
  const CommandLine line = parse_command_line(argc, argv);
  if (line.usage_requested) {
    print_usage();
    return 0;
  }
  if (!line.error.empty()) {
    std::fprintf(stderr, "streamerd: %s\n", line.error.c_str());
    return 2;
  }
  if (line.timer_threads > 0) vl_ticker_set_lanes(line.timer_threads);

  if (!vl_log_init("velanto_streamer")) {
    say("VELANTO-streamer %s couldn't initialize logging facility!\n", vl_strversion(nullptr));
    return 1;
  }
  VL_LOG(vl_log_general(), VL_LOG_NOTICE, "Running VELANTO-streamer %s", vl_strversion(nullptr));
  say("Running VELANTO-streamer %s\n", vl_strversion(nullptr));

  if (!vl_semaphore_ctor(&stop_semaphore, 0)) {
    say("Error: Couldn't create semaphore! errno = %d", errno);
    vl_log_exit();
    return 1;
  }
  if (line.has_interface) say("Using ethernet interface %s\n", line.interface_name.c_str());
  std::signal(SIGINT, signal_handler);
  std::signal(SIGTERM, signal_handler);
  say("Press Ctrl+C to quit ...\n\n");

  if (line.has_ptp_socket) vl_platform_set_ptp_socket(line.ptp_socket.c_str());
  VlDevice* device = vl_streamer_startup(line.has_interface ? line.interface_name.c_str() : nullptr);
  if (!device) {
    say("Error: Couldn't startup streamer! errno = %d", errno);
    vl_semaphore_dtor(&stop_semaphore);
    vl_log_exit();
    return 1;
  }

  say("Initializing velanto IPC ...");
  vlipc_register_handlers();
  if (vl_ipc_server_start(device, &device->control_lock, line.ipc_address.c_str()) < 0) {
    say(" failed.\n");
    vl_streamer_shutdown(device);
    vl_semaphore_dtor(&stop_semaphore);
    vl_log_exit();
    return 1;
  }
  say(" success.\n");

  say("Loading last configuration ...");
  if (vl_streamer_load(device, configuration_file) < 0)
    say(" failed. Could not read %s. Using defaults.\n", configuration_file);
  else
    say(" success.\n");

  // One post ends the wait; an interrupted wait ends it too.
  sem_wait(&stop_semaphore.handle);

  vl_ipc_server_stop();
  vl_streamer_shutdown(device);
  vl_semaphore_dtor(&stop_semaphore);
  vl_log_exit();
  return 0;
}
