#include "vltest/lab_ptp4l.h"

#include "vltest/wait.h"

#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <fstream>

namespace vltest {
namespace {

using namespace std::chrono_literals;

constexpr const char* pmc_program = "/usr/sbin/pmc";

// linuxptp 4 opens a read-only socket too, by default at a system path.
bool has_read_only_socket() {
  const ProcessResult version = run_process({LabPtp4l::program, "-v"}, 5s);
  return std::atoi(version.output.c_str()) >= 4;
}

}  // namespace

LabPtp4l::LabPtp4l(const NetLab& lab, NetLab::Host host, int priority1, int domain)
    : lab_(lab), host_(host), domain_(domain) {
  const std::string config = dir_.path() + "/ptp4l.conf";
  std::ofstream(config) << "[global]\n"
                        << "free_running 1\n"
                        << "time_stamping software\n"
                        << "network_transport UDPv4\n"
                        << "domainNumber " << domain << "\n"
                        << "priority1 " << priority1 << "\n"
                        << "logAnnounceInterval -2\nlogSyncInterval -3\nlogMinDelayReqInterval -3\n"
                        << "uds_address " << socket() << "\n"
                        << (has_read_only_socket() ? "uds_ro_address " + dir_.path() + "/ptp4lro\n" : "")
                        << "[" << NetLab::link_device[host] << "]\n";
  process_ = std::make_unique<Process>(lab.command(host, {program, "-f", config, "-q", "-m", "-l", "5"}));
}

LabPtp4l::~LabPtp4l() { stop(); }

bool LabPtp4l::available() { return access(program, X_OK) == 0; }

bool LabPtp4l::started() {
  return process_ && process_->started() &&
         wait_until([&] { return access(socket().c_str(), F_OK) == 0; }, 5s);
}

void LabPtp4l::stop() {
  if (!process_) return;
  process_->signal(SIGTERM);
  process_->wait_exit(5s);
  process_.reset();
}

std::string LabPtp4l::pmc(const std::string& command) const {
  const std::string own = dir_.path() + "/pmc";
  return run_process(lab_.command(host_, {pmc_program, "-u", "-b", "0", "-d", std::to_string(domain_), "-s", socket(),
                                          "-i", own, command}),
                     5s)
      .output;
}

bool LabPtp4l::announce_ptp_timescale(int utc_offset) const {
  return pmc("SET GRANDMASTER_SETTINGS_NP clockClass 248 clockAccuracy 0xfe offsetScaledLogVariance 0xffff "
             "currentUtcOffset " + std::to_string(utc_offset) +
             " leap61 0 leap59 0 currentUtcOffsetValid 1 ptpTimescale 1 "
             "timeTraceable 0 frequencyTraceable 0 timeSource 0xa0")
             .find("ptpTimescale            1") != std::string::npos;
}

}  // namespace vltest
