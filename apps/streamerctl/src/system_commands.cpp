// config, ptp and log: stored client configurations, PTP settings and the
// daemon's log priorities.
#include "commands.h"
#include "views.h"

#include "vlipc/vl_ipc_commands.h"

#include <cstdio>
#include <optional>

namespace {

struct ConfigArgs {
  std::string name;
  std::string data = "{}";
};

// Settings "ptp set" changes; the others keep the daemon's current values.
struct PtpArgs {
  std::optional<int> domain, priority1, priority2, announce, sync, dscp;
  std::optional<std::string> delay_mechanism, slave_only;
};

struct LogArgs {
  std::string category;
  std::string priority;
};

void add_config(CLI::App& app, Context& context) {
  CLI::App* config = app.add_subcommand("config", "Save, load and delete configurations");
  config->require_subcommand(1);
  auto args = std::make_shared<ConfigArgs>();

  CLI::App* save = config->add_subcommand(
      "save", "Store client data under NAME and write the daemon's state to velanto.cfg (NAME '*': only write)");
  save->add_option("NAME", args->name, "name of the client data")->required();
  save->add_option("--data", args->data, "the client data as a JSON object")->capture_default_str();
  save->callback([&context, args] {
    run_linked(context, [&](DaemonLink& link) {
      const VlJsonRef data = json_argument(args->data, "--data");
      if (!data) return 1;
      const VlJsonRef parameter(
          json_pack("{s:s, s:O}", "vl_clt_config_file", args->name.c_str(), "vl_clt_config", data.get()));
      return request_and_show(context, link, VL_IPC_CMD_SAVE_CONFIG, parameter.get(),
                              [](const json_t*) { return std::string("saved\n"); });
    });
  });

  CLI::App* load = config->add_subcommand("load", "Show the client data stored under NAME");
  load->add_option("NAME", args->name, "name of the client data")->required();
  load->callback([&context, args] {
    run_linked(context, [&](DaemonLink& link) {
      const VlJsonRef parameter(json_pack("{s:s}", "vl_clt_config_file", args->name.c_str()));
      return request_and_show(context, link, VL_IPC_CMD_LOAD_CONFIG, parameter.get(), [](const json_t* result) {
        char* text = json_dumps(json_object_get(result, "vl_clt_config"), JSON_INDENT(2) | JSON_PRESERVE_ORDER);
        std::string shown = text ? std::string(text) + "\n" : "";
        std::free(text);
        return shown;
      });
    });
  });

  CLI::App* del = config->add_subcommand("delete", "Forget the client data NAME (NAME '*': delete velanto.cfg)");
  del->add_option("NAME", args->name, "name of the client data")->required();
  del->callback([&context, args] {
    run_linked(context, [&](DaemonLink& link) {
      const VlJsonRef parameter(json_pack("{s:s}", "vl_clt_config_file", args->name.c_str()));
      return request_and_show(context, link, VL_IPC_CMD_DEL_CONFIG, parameter.get(),
                              [](const json_t*) { return std::string("deleted\n"); });
    });
  });
}

void set_member(json_t* object, const char* key, const std::optional<int>& value) {
  if (value) json_object_set_new(object, key, json_integer(*value));
}

// The daemon reads a missing setting as 0, so every setting is sent: the
// current ones from its status, changed where the options say.
VlJsonRef ptp_configuration(const json_t* status, const PtpArgs& args) {
  VlJsonRef configuration(json_object());
  for (const char* key : {"ptp_domain", "ptp_prio_1", "ptp_prio_2", "ptp_log_announce", "ptp_log_sync",
                          "ptp_slave_only", "ptp_delay_mechanism", "ptp_dscp"})
    json_object_set_new(configuration.get(), key, json_integer(json_integer_value(json_object_get(status, key))));
  set_member(configuration.get(), "ptp_domain", args.domain);
  set_member(configuration.get(), "ptp_prio_1", args.priority1);
  set_member(configuration.get(), "ptp_prio_2", args.priority2);
  set_member(configuration.get(), "ptp_log_announce", args.announce);
  set_member(configuration.get(), "ptp_log_sync", args.sync);
  set_member(configuration.get(), "ptp_dscp", args.dscp);
  if (args.delay_mechanism)
    json_object_set_new(configuration.get(), "ptp_delay_mechanism", json_integer(*args.delay_mechanism == "P2P" ? 2 : 1));
  if (args.slave_only) json_object_set_new(configuration.get(), "ptp_slave_only", json_integer(*args.slave_only == "on"));
  return configuration;
}

void add_ptp(CLI::App& app, Context& context) {
  CLI::App* ptp = app.add_subcommand("ptp", "PTP status and settings");
  ptp->require_subcommand(1);
  ptp->add_subcommand("status", "Show the PTP status")->callback([&context] {
    run_linked(context, [&](DaemonLink& link) {
      return request_and_show(context, link, VL_IPC_CMD_PTP_STATUS_GET, nullptr, [](const json_t* result) {
        return view_ptp(json_object_get(result, "ptp_status"));
      });
    });
  });

  auto args = std::make_shared<PtpArgs>();
  CLI::App* set = ptp->add_subcommand("set", "Change PTP settings; the others stay as they are");
  set->add_option("--domain", args->domain, "PTP domain")->check(CLI::Range(0, 127));
  set->add_option("--priority1", args->priority1, "priority 1")->check(CLI::Range(0, 255));
  set->add_option("--priority2", args->priority2, "priority 2")->check(CLI::Range(0, 255));
  set->add_option("--announce", args->announce, "announce interval, log2 seconds")->check(CLI::Range(-7, 7));
  set->add_option("--sync", args->sync, "sync interval, log2 seconds")->check(CLI::Range(-7, 7));
  set->add_option("--delay-mechanism", args->delay_mechanism, "E2E or P2P")->check(CLI::IsMember({"E2E", "P2P"}));
  set->add_option("--slave-only", args->slave_only, "on or off")->check(CLI::IsMember({"on", "off"}));
  set->add_option("--dscp", args->dscp, "DSCP of PTP messages")->check(CLI::Range(0, 63));
  set->callback([&context, args] {
    run_linked(context, [&](DaemonLink& link) {
      const VlJsonRef configuration = ptp_configuration(json_object_get(link.device(), "ptp_status"), *args);
      const VlJsonRef parameter(json_pack("{s:O}", "ptp_configuration", configuration.get()));
      return request_and_show(context, link, VL_IPC_CMD_PTP_CONFIG_SET, parameter.get(),
                              [](const json_t*) { return std::string("PTP settings changed\n"); });
    });
  });
}

void add_log(CLI::App& app, Context& context) {
  CLI::App* log = app.add_subcommand("log", "The daemon's log categories and priorities");
  log->require_subcommand(1);
  log->add_subcommand("list", "List the log categories with their priorities")->callback([&context] {
    run_linked(context, [&](DaemonLink& link) {
      return request_and_show(context, link, VL_IPC_CMD_LOG_CATEGORIES, nullptr, [](const json_t* result) {
        return view_log_categories(json_object_get(result, "log_category_list"));
      });
    });
  });
  auto args = std::make_shared<LogArgs>();
  CLI::App* set = log->add_subcommand("set", "Set a category's priority");
  set->add_option("CATEGORY", args->category, "log category, such as velanto.rtp.sw_sender")->required();
  set->add_option("PRIORITY", args->priority,
                  "fatal, alert, crit, error, warn, notice, info, debug, trace, or a number")
      ->required()
      ->check([](const std::string& value) {
        return log_priority_from_text(value) < 0 ? std::string("unknown priority ") + value : std::string();
      });
  set->callback([&context, args] {
    run_linked(context, [&](DaemonLink& link) {
      const VlJsonRef parameter(json_pack("{s:s, s:i}", "log_category", args->category.c_str(), "log_priority",
                                          log_priority_from_text(args->priority)));
      return request_and_show(context, link, VL_IPC_CMD_LOG_PRIORITY_SET, parameter.get(), [&](const json_t*) {
        return args->category + " logs at " + args->priority + "\n";
      });
    });
  });
}

}  // namespace

void add_system_commands(CLI::App& app, Context& context) {
  add_config(app, context);
  add_ptp(app, context);
  add_log(app, context);
}
