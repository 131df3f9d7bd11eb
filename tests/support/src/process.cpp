#include "vltest/process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>

namespace vltest {
namespace {

using Clock = std::chrono::steady_clock;

int remaining_ms(Clock::time_point deadline) {
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
  return left.count() > 0 ? static_cast<int>(left.count()) : 0;
}

[[noreturn]] void exec_child(const std::vector<std::string>& argv, const ProcessOptions& options, int out) {
  dup2(out, STDOUT_FILENO);
  close(out);
  if (!options.error_file.empty()) {
    const int err = open(options.error_file.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (err < 0 || dup2(err, STDERR_FILENO) < 0) _exit(126);
  }
  for (const std::string& entry : options.environment) putenv(strdup(entry.c_str()));
  if (!options.working_directory.empty() && chdir(options.working_directory.c_str()) != 0) _exit(126);
  std::vector<char*> args;
  for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  execv(args[0], args.data());
  _exit(127);
}

}  // namespace

Process::Process(const std::vector<std::string>& argv, const ProcessOptions& options) {
  int fds[2];
  if (pipe2(fds, O_CLOEXEC) != 0) return;
  pid_ = fork();
  if (pid_ == 0) {
    close(fds[0]);
    exec_child(argv, options, fds[1]);
  }
  close(fds[1]);
  stdout_fd_ = fds[0];
}

Process::~Process() {
  if (pid_ > 0 && !reaped_) {
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
  }
  if (stdout_fd_ >= 0) close(stdout_fd_);
}

bool Process::read_some(int timeout_ms) {
  if (stdout_fd_ < 0) return false;
  pollfd pfd = {stdout_fd_, POLLIN, 0};
  if (poll(&pfd, 1, timeout_ms) <= 0) return false;
  char buf[4096];
  const ssize_t n = read(stdout_fd_, buf, sizeof buf);
  if (n <= 0) {
    close(stdout_fd_);
    stdout_fd_ = -1;
    return false;
  }
  output_.append(buf, static_cast<size_t>(n));
  return true;
}

bool Process::wait_for_output(const std::string& text, std::chrono::milliseconds timeout) {
  return wait_for_output([&](const std::string& output) { return output.find(text) != std::string::npos; }, timeout);
}

bool Process::wait_for_output(const std::function<bool(const std::string&)>& done, std::chrono::milliseconds timeout) {
  const auto deadline = Clock::now() + timeout;
  while (!done(output_)) {
    if (remaining_ms(deadline) == 0 || stdout_fd_ < 0) return false;
    read_some(remaining_ms(deadline));
  }
  return true;
}

void Process::signal(int signum) {
  if (pid_ > 0 && !reaped_) kill(pid_, signum);
}

int Process::wait_exit(std::chrono::milliseconds timeout) {
  const auto deadline = Clock::now() + timeout;
  while (!reaped_) {
    int status = 0;
    const pid_t done = waitpid(pid_, &status, WNOHANG);
    if (done == pid_) {
      reaped_ = true;
      status_ = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
      break;
    }
    if (remaining_ms(deadline) == 0) return -1;
    if (!read_some(10)) usleep(5000);
  }
  while (read_some(100)) {
  }
  return status_;
}

ProcessResult run_process(const std::vector<std::string>& argv, std::chrono::milliseconds timeout,
                          const ProcessOptions& options) {
  Process process(argv, options);
  const int status = process.wait_exit(timeout);
  return {status, process.output()};
}

}  // namespace vltest
