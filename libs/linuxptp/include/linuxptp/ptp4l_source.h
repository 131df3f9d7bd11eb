// One ptp4l as the daemon's source of PTP time: the domain it answers in
// and the TAI offset it reports, as last read, with status reads and
// property changes through its management socket.
//
// Threads and ownership: owned by the clock reference. Status reads come
// from the PTP poll thread, property changes from the IPC thread; the client
// makes their exchanges take turns. domain() and tai_offset() are lock-free
// for every thread (the clock's now() runs in audio callbacks); both change
// only in status reads.
#pragma once

#include "linuxptp/ptp4l_client.h"
#include "linuxptp/ptp4l_query.h"
#include "vl/vl_ptp_status.h"

#include <atomic>
#include <cstdint>
#include <string>

class VlPtp4lSource {
 public:
  VlPtp4lSource(std::string socket_path, uint64_t max_offset_ns);

  // First contact: finds ptp4l's domain and reads its data sets. False when
  // no ptp4l answers.
  bool connect();

  const std::string& socket_path() const { return client_.server_path(); }
  uint64_t max_offset_ns() const { return max_offset_ns_; }
  uint8_t domain() const { return domain_.load(); }
  uint32_t tai_offset() const { return tai_offset_.load(); }

  // Reads the status; when ptp4l stops answering in its domain, looks for
  // the domain it answers in. False (once per failure streak logged as a
  // warning) when no complete status came.
  bool read_status(VlPtpStatus* status);
  bool read_properties(VlPtpProperties* properties);
  // Applies what ptp4l can change at run time; false when the request asks
  // for anything else or ptp4l refuses.
  bool apply(const VlPtpProperties& wanted);

 private:
  // In the domain ptp4l answers in, which may be a new one.
  bool read_snapshot(VlPtp4lSnapshot* snapshot);
  // Takes domain and TAI offset over, and logs their changes.
  void adopt(const VlPtp4lSnapshot& snapshot);

  VlPtp4lClient client_;
  const uint64_t max_offset_ns_;
  std::atomic<uint8_t> domain_{0};
  std::atomic<uint32_t> tai_offset_{0};
  std::atomic<bool> failing_{false};
};
