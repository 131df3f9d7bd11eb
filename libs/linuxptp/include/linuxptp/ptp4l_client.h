// The client end of ptp4l's management socket (the protocol pmc speaks on
// it): one request, one answer, each bounded by a deadline.
//
// Threads and ownership: no thread of its own. The PTP poll thread and the
// IPC thread may call at once; a mutex makes their exchanges take turns. The
// client owns its socket, bound to a path of its own in the directory of
// ptp4l's (ptp4l answers to the sender's address, and a path reaches across
// network namespaces), and removes that path again. After a time-out or a
// failed send it drops the socket and opens a fresh one for the next
// exchange, so that a restarted ptp4l or a removed path is recovered.
#pragma once

#include "linuxptp/ptp_mgmt.h"

#include <cstdint>
#include <mutex>
#include <span>
#include <string>
#include <vector>

inline constexpr int vl_ptp4l_answer_timeout_ms = 250;
// A search through all 256 domains gets this long.
inline constexpr int vl_ptp4l_domain_search_ms = 500;

enum class VlPtp4lResult {
  ok,
  unreachable,  // no socket to send to, or the own socket cannot be made
  timeout,      // no answer in time
  bad_answer,   // an answer that cannot be ptp4l's
  refused,      // ptp4l answered with a management error
};

const char* vl_ptp4l_result_text(VlPtp4lResult result);

struct VlPtp4lAnswer {
  uint8_t domain = 0;
  uint16_t error = 0;         // refused: the management error id
  std::vector<uint8_t> data;  // ok: the data of the management TLV
  VlPtpMgmtParse parse = VlPtpMgmtParse::ok;  // bad_answer from the parser: why
};

class VlPtp4lClient {
 public:
  explicit VlPtp4lClient(std::string server_path, int timeout_ms = vl_ptp4l_answer_timeout_ms);
  ~VlPtp4lClient();
  VlPtp4lClient(const VlPtp4lClient&) = delete;
  VlPtp4lClient& operator=(const VlPtp4lClient&) = delete;

  const std::string& server_path() const { return server_path_; }

  // ptp4l ignores requests in another domain than its own.
  VlPtp4lResult get(uint8_t domain, uint16_t id, VlPtp4lAnswer* answer);
  VlPtp4lResult set(uint8_t domain, uint16_t id, std::span<const uint8_t> data, VlPtp4lAnswer* answer);

  // Asks for the default data set in every domain, `first` first, until
  // ptp4l answers: its domain, or -1.
  int find_domain(uint8_t first);

 private:
  enum class Sent { ok, full, failed };
  struct Received;

  VlPtp4lResult exchange(uint8_t domain, uint8_t action, uint16_t id, std::span<const uint8_t> data,
                         VlPtp4lAnswer* answer);
  VlPtp4lResult await_answer(uint16_t sequence, uint16_t id, VlPtp4lAnswer* answer);
  Sent send(uint8_t domain, uint8_t action, uint16_t id, std::span<const uint8_t> data, uint16_t sequence);
  bool receive(int timeout_ms, Received* received);
  bool open();
  void close();
  void drain();

  const std::string server_path_;
  const int timeout_ms_;
  std::mutex mutex_;
  int fd_ = -1;
  std::string own_path_;
  uint16_t next_sequence_ = 0;
  VlPtpPortIdentity identity_{};
};
