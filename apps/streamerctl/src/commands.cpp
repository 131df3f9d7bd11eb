#include "commands.h"

#include "views.h"
#include "vlipc/vl_ipc_commands.h"

#include <cstdio>
#include <cstdlib>
#include <sstream>

void run_linked(Context& context, const std::function<int(DaemonLink&)>& action) {
  DaemonLink link;
  context.status = link.open(context.link) ? action(link) : 1;
}

int request_and_show(Context& context, DaemonLink& link, uint32_t command, json_t* parameter,
                     const std::function<std::string(const json_t*)>& show) {
  std::optional<VlJsonRef> result = link.request(command, parameter);
  if (!result) return 1;
  if (context.json)
    print_json(result->get());
  else if (show)
    std::fputs(show(result->get()).c_str(), stdout);
  return 0;
}

json_t* session_id(const std::string& address, uint16_t port) {
  return json_pack("{s:s, s:i}", "session_addr", address.c_str(), "session_port", static_cast<int>(port));
}

VlJsonRef json_argument(const std::string& text, const char* what) {
  json_error_t error;
  VlJsonRef value(json_loads(text.c_str(), JSON_DECODE_ANY, &error));
  if (!value) complain(std::string(what) + " is no JSON: " + error.text);
  return value;
}

VlJsonRef channel_map_argument(const std::string& text) {
  VlJsonRef map(json_array());
  std::stringstream entries(text);
  std::string entry;
  while (std::getline(entries, entry, ',')) {
    char* end = nullptr;
    const long channel = std::strtol(entry.c_str(), &end, 10);
    if (entry.empty() || *end != '\0' || channel < -1 || channel > INT32_MAX) return VlJsonRef();
    json_array_append_new(map.get(), json_integer(channel));
  }
  if (json_array_size(map.get()) == 0) return VlJsonRef();
  return map;
}

namespace {

struct SessionArgs {
  std::string address;
  uint16_t port = 0;
  std::string interface_name;
};

void add_session_position(CLI::App* command, SessionArgs& args) {
  command->add_option("ADDR", args.address, "session address (multicast group or unicast IPv4 address)")
      ->required()
      ->check(CLI::ValidIPV4);
  command->add_option("PORT", args.port, "UDP port of the session's RTP")->required()->check(CLI::Range(1, 65535));
}

std::string json_member_view(const json_t* result, const char* key, std::string (*view)(const json_t*)) {
  return view(json_object_get(result, key));
}

void add_session_commands(CLI::App& app, Context& context) {
  CLI::App* session = app.add_subcommand("session", "Create and delete sessions (RTP destinations)");
  session->require_subcommand(1);

  auto add_args = std::make_shared<SessionArgs>();
  CLI::App* add = session->add_subcommand("add", "Create a session bound to a network interface");
  add_session_position(add, *add_args);
  add->add_option("IFACE", add_args->interface_name, "network interface of the daemon")->required();
  add->callback([&context, add_args] {
    run_linked(context, [&](DaemonLink& link) {
      const VlJsonRef parameter(json_pack("{s:s, s:i, s:s}", "session_addr", add_args->address.c_str(), "session_port",
                                          static_cast<int>(add_args->port), "network_interface_name",
                                          add_args->interface_name.c_str()));
      return request_and_show(context, link, VL_IPC_CMD_SESSION_NEW, parameter.get(), [](const json_t* result) {
        const VlJsonRef list(json_pack("[O]", result));
        return view_sessions(list.get());
      });
    });
  });

  auto del_args = std::make_shared<SessionArgs>();
  CLI::App* del = session->add_subcommand("del", "Delete a session and its streams");
  add_session_position(del, *del_args);
  del->callback([&context, del_args] {
    run_linked(context, [&](DaemonLink& link) {
      const VlJsonRef parameter(json_pack("{s:o}", "session_id", session_id(del_args->address, del_args->port)));
      return request_and_show(context, link, VL_IPC_CMD_SESSION_DEL, parameter.get(), [&](const json_t*) {
        return "deleted session " + del_args->address + ":" + std::to_string(del_args->port) + "\n";
      });
    });
  });
}

}  // namespace

void add_device_commands(CLI::App& app, Context& context) {
  app.add_subcommand("status", "Device, interfaces, PTP, audio devices and sessions on one screen")
      ->callback([&context] {
        run_linked(context, [&](DaemonLink& link) {
          if (context.json)
            print_json(link.device());
          else
            std::fputs(view_status(link.device()).c_str(), stdout);
          return 0;
        });
      });
  app.add_subcommand("sessions", "List the sessions with their streams")->callback([&context] {
    run_linked(context, [&](DaemonLink& link) {
      const json_t* sessions = json_object_get(link.device(), "session_list");
      if (context.json)
        print_json(sessions);
      else
        std::fputs(view_sessions(sessions).c_str(), stdout);
      return 0;
    });
  });
  add_session_commands(app, context);
  app.add_subcommand("info", "RTCP statistics per session: packets, loss, jitter, peers")->callback([&context] {
    run_linked(context, [&](DaemonLink& link) {
      return request_and_show(context, link, VL_IPC_CMD_SESSION_INFO, nullptr, [](const json_t* result) {
        return json_member_view(result, "session_info_list", view_statistics);
      });
    });
  });
  app.add_subcommand("summary", "One line: packets, loss, jitter and peers per stream, and what analyzers find")
      ->callback([&context] {
        run_linked(context, [&](DaemonLink& link) {
          return request_and_show(context, link, VL_IPC_CMD_SESSION_INFO, nullptr, [&](const json_t* result) {
            return view_summary(json_object_get(result, "session_info_list"),
                                json_object_get(link.device(), "audio_device_list"));
          });
        });
      });
}
