#include "vltest/daemon.h"

#include <unistd.h>

#include <csignal>

namespace vltest {

Daemon::Daemon(const NetLab& lab, NetLab::Host host, const std::string& program, const std::vector<std::string>& args,
               const std::vector<std::string>& environment)
    : lab_(lab), host_(host), argv_{program}, environment_(environment) {
  argv_.insert(argv_.end(), args.begin(), args.end());
  start();
}

void Daemon::start() {
  ProcessOptions options{{"HOME=" + home_.path(), "JACK_NO_START_SERVER=1",
                          "JACK_DEFAULT_SERVER=vltest_absent_" + std::to_string(getpid())},
                         work_.path()};
  options.environment.insert(options.environment.end(), environment_.begin(), environment_.end());
  process_ = std::make_unique<Process>(lab_.command(host_, argv_), options);
}

bool Daemon::wait_started(std::chrono::milliseconds timeout) {
  const std::string loading = "Loading last configuration ...";
  return process_->wait_for_output(
      [&](const std::string& output) {
        const std::size_t at = output.find(loading);
        return at != std::string::npos && output.find('\n', at) != std::string::npos;
      },
      timeout);
}

std::unique_ptr<ipc_test::WireClient> Daemon::connect(NetLab::Host from, int receive_buffer) const {
  std::unique_ptr<ipc_test::WireClient> client;
  lab_.run_in(from, [&] { client = std::make_unique<ipc_test::WireClient>(address(), 42538, receive_buffer); });
  return client->connected() ? std::move(client) : nullptr;
}

int Daemon::stop(std::chrono::milliseconds timeout) {
  process_->signal(SIGTERM);
  return process_->wait_exit(timeout);
}

int Daemon::restart(std::chrono::milliseconds timeout) {
  const int status = stop(timeout);
  process_.reset();
  start();
  return status;
}

std::optional<VlJsonRef> exchange(ipc_test::WireClient& client, int command, const json_t* parameter,
                                  std::chrono::milliseconds timeout) {
  VlJsonRef body(json_pack("{s:i, s:O}", "command", command, "parameter", parameter ? parameter : json_null()));
  char* text = json_dumps(body.get(), JSON_COMPACT | JSON_PRESERVE_ORDER);
  const bool sent = text && client.send_request(text);
  std::free(text);
  if (!sent) return std::nullopt;
  for (;;) {
    std::optional<ipc_test::Frame> frame = client.read_frame(timeout);
    if (!frame) return std::nullopt;
    if (frame->type == 1) return frame->json();
  }
}

VlJsonRef request(ipc_test::WireClient& client, int command, const json_t* parameter) {
  std::optional<VlJsonRef> response = exchange(client, command, parameter);
  if (!response || !*response) return VlJsonRef();
  return VlJsonRef::borrow(json_object_get(response->get(), "parameter"));
}

}  // namespace vltest
