// A child process with its standard output read through a pipe.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <functional>
#include <string>
#include <vector>

namespace vltest {

struct ProcessOptions {
  std::vector<std::string> environment;  // "NAME=value" entries added to the parent's
  std::string working_directory;         // empty: the parent's
  std::string error_file = {};           // standard error is appended here; empty: the parent's
};

class Process {
 public:
  explicit Process(const std::vector<std::string>& argv, const ProcessOptions& options = {});
  // Kills the child if it still runs, and reaps it.
  ~Process();
  Process(const Process&) = delete;
  Process& operator=(const Process&) = delete;

  bool started() const { return pid_ > 0; }
  pid_t pid() const { return pid_; }

  // Reads until the output contains `text` or the time is up.
  bool wait_for_output(const std::string& text, std::chrono::milliseconds timeout);
  // Reads until `done` holds for the output read so far, or the time is up.
  bool wait_for_output(const std::function<bool(const std::string&)>& done, std::chrono::milliseconds timeout);
  // Everything read so far.
  const std::string& output() const { return output_; }

  void signal(int signum);
  // The exit status, or -1 when the child does not exit in time or was
  // killed by a signal. Reads the remaining output.
  int wait_exit(std::chrono::milliseconds timeout);

 private:
  bool read_some(int timeout_ms);

  pid_t pid_ = -1;
  int stdout_fd_ = -1;
  int status_ = -1;
  bool reaped_ = false;
  std::string output_;
};

// Runs to completion and returns {exit status, output}.
struct ProcessResult {
  int status;
  std::string output;
};
ProcessResult run_process(const std::vector<std::string>& argv, std::chrono::milliseconds timeout,
                          const ProcessOptions& options = {});

}  // namespace vltest
