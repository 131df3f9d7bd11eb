// A real ptp4l (Debian's linuxptp) on the lab link of one host: software
// time stamping, free running so that it never adjusts a clock, its
// configuration and management socket in a directory of its own (a path on
// the shared file system, so that processes in either host reach it).
//
//   vltest::LabPtp4l ptp4l(lab, vltest::NetLab::A, 100);
//   ASSERT_TRUE(ptp4l.started());
//   std::string answer = ptp4l.pmc("GET PRIORITY1");
#pragma once

#include "vltest/netlab.h"
#include "vltest/process.h"
#include "vltest/temp_dir.h"

#include <memory>
#include <string>

namespace vltest {

class LabPtp4l {
 public:
  static constexpr const char* program = "/usr/sbin/ptp4l";
  static constexpr int default_domain = 3;

  LabPtp4l(const NetLab& lab, NetLab::Host host, int priority1, int domain = default_domain);
  ~LabPtp4l();
  LabPtp4l(const LabPtp4l&) = delete;
  LabPtp4l& operator=(const LabPtp4l&) = delete;

  // True when the program is installed.
  static bool available();

  std::string socket() const { return dir_.path() + "/ptp4l"; }
  // True once it runs and its management socket exists.
  bool started();
  Process& process() { return *process_; }
  void stop();
  // pmc on this ptp4l's socket, in its domain; pmc's output.
  std::string pmc(const std::string& command) const;
  // As a grandmaster, announces the PTP time scale with this UTC offset
  // (not traceable: no ptp4l passes it on to the kernel); true when taken.
  bool announce_ptp_timescale(int utc_offset) const;

 private:
  const NetLab& lab_;
  NetLab::Host host_;
  int domain_;
  TempDir dir_;
  std::unique_ptr<Process> process_;
};

}  // namespace vltest
