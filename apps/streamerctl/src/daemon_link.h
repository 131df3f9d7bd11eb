// The tool's connection to the daemon, over the client library: connects
// to the chosen host within the time limit, sends "init" first (so that
// the library's mirror exists), and turns every failure into one clear line
// on standard error, the daemon's own error texts included.
#pragma once

#include "vl/vl_device.h"
#include "vlutil/vl_json_ref.h"

#include <jansson.h>

#include <cstdint>
#include <optional>
#include <string>

struct LinkOptions {
  std::string host;  // empty: VELANTO_IPC_SRV_ADDR, else 127.0.0.1
  double timeout_s = 10;
};

class DaemonLink {
 public:
  DaemonLink() = default;
  ~DaemonLink();
  DaemonLink(const DaemonLink&) = delete;
  DaemonLink& operator=(const DaemonLink&) = delete;

  // Connects and sends "init"; false after saying why.
  bool open(const LinkOptions& options);
  // The response's "parameter" (JSON null for a result without one), or
  // none after the failure was reported.
  std::optional<VlJsonRef> request(uint32_t command, json_t* parameter);
  // The description "init" returned.
  const json_t* device() const { return device_.get(); }
  // The library's copy of the device.
  VlDevice* mirror() const;
  const std::string& address() const { return address_; }

 private:
  void report(uint32_t command, int err, const json_t* response) const;

  bool connected_ = false;
  std::string address_;
  double timeout_s_ = 10;
  VlJsonRef device_;
};

// The IPv4 text of a host name or address; empty when it has none.
std::string resolve_ipv4(const std::string& host);
// "streamerctl: <message>" on standard error.
void complain(const std::string& message);
// JSON as it arrived: indented, members in the daemon's order.
void print_json(const json_t* json);
