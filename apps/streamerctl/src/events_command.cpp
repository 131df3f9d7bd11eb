// events: subscribes to daemon events and prints each as it arrives, until
// SIGINT or SIGTERM (or the connection's end).
#include "commands.h"

#include "vlipc/vl_ipc_clt.h"
#include "vlipc/vl_ipc_commands.h"
#include "vlutil/vl_event.h"

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <vector>

namespace {

constexpr const char* originator = "streamerctl";
constexpr long end_poll_ns = 200'000'000;

bool print_as_json = false;

// Runs on the event system's publisher threads; one call writes one line.
void print_event(json_t* notification) {
  std::string line;
  if (print_as_json) {
    char* text = json_dumps(notification, JSON_COMPACT | JSON_PRESERVE_ORDER);
    line = text ? text : "";
    std::free(text);
  } else {
    char* data = json_dumps(json_object_get(notification, "event_data"), JSON_COMPACT | JSON_ENCODE_ANY);
    line = "event " + std::to_string(json_integer_value(json_object_get(notification, "event_id"))) + ": " +
           (data ? data : "null");
    std::free(data);
  }
  line += "\n";
  std::fputs(line.c_str(), stdout);
  std::fflush(stdout);
}

int subscribe(Context& context, DaemonLink& link, uint32_t command, uint32_t id) {
  const VlJsonRef parameter(json_pack("{s:i, s:s, s:i}", "event_id", static_cast<int>(id), "event_originator",
                                      originator, "event_exclusive", 1));
  return request_and_show(context, link, command, parameter.get(), {});
}

// Until a stop signal (0) or the end of the connection (1).
int wait_for_stop(const sigset_t& stop) {
  const timespec poll{0, end_poll_ns};
  for (;;) {
    if (sigtimedwait(&stop, nullptr, &poll) > 0) return 0;
    if (!vl_ipc_client_connected()) {
      complain("the connection to the daemon was lost");
      return 1;
    }
  }
}

int watch(Context& context, DaemonLink& link, const std::vector<uint32_t>& ids, const sigset_t& stop) {
  const bool as_json = context.json;
  context.json = false;  // the subscriptions' own answers are not printed
  // Set before the publisher threads start, which read it with every event.
  print_as_json = as_json;
  int status = 0;
  for (uint32_t id : ids) {
    vl_event_hdl_register(static_cast<int32_t>(id), originator, print_event, true);
    status |= subscribe(context, link, VL_IPC_CMD_EVENT_HDL_ADD, id);
  }
  if (status == 0) status = wait_for_stop(stop);
  for (uint32_t id : ids) {
    if (vl_ipc_client_connected()) subscribe(context, link, VL_IPC_CMD_EVENT_HDL_DEL, id);
    vl_event_hdl_unregister(static_cast<int32_t>(id), originator);
  }
  return status;
}

}  // namespace

void add_events_command(CLI::App& app, Context& context) {
  auto ids = std::make_shared<std::vector<uint32_t>>();
  CLI::App* events = app.add_subcommand("events", "Print the daemon's events as they arrive, until interrupted");
  events->add_option("ID", *ids, "event numbers, 201 to 399 (daemon event N is N + 200)")
      ->required()
      ->check(CLI::Range(201, 399));
  events->callback([&context, ids] {
    // Blocked before the reader thread starts, so that only the wait below
    // takes these signals.
    sigset_t stop;
    sigemptyset(&stop);
    sigaddset(&stop, SIGINT);
    sigaddset(&stop, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stop, nullptr);
    run_linked(context, [&](DaemonLink& link) { return watch(context, link, *ids, stop); });
  });
}
