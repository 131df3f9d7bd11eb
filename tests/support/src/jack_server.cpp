#include "vltest/jack_server.h"

#include "vltest/process.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

namespace vltest {
namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

std::atomic<int> instances{0};

std::string unique_name() {
  return "vltest_" + std::to_string(getpid()) + "_" + std::to_string(instances.fetch_add(1));
}

// The program's path in PATH, or empty.
std::string find_program(const std::string& program) {
  const char* path = std::getenv("PATH");
  std::istringstream dirs(path ? path : "/usr/bin:/bin");
  std::string dir;
  while (std::getline(dirs, dir, ':')) {
    const std::string candidate = (dir.empty() ? "." : dir) + "/" + program;
    if (access(candidate.c_str(), X_OK) == 0) return candidate;
  }
  return {};
}

// Between fork and exec: nothing that allocates.
[[noreturn]] void exec_server(char* const* argv, const char* log_path, pid_t parent) {
  // The server must not outlive a test process that crashes, and must get
  // to clean up: a killed one leaves its entry in JACK's machine-wide
  // registry of servers, which has room for only a few.
  prctl(PR_SET_PDEATHSIG, SIGTERM);
  if (getppid() != parent) _exit(126);
  const int log = open(log_path, O_WRONLY | O_CREAT | O_TRUNC, 0600);
  if (log >= 0) {
    dup2(log, STDOUT_FILENO);
    dup2(log, STDERR_FILENO);
    close(log);
  }
  execvp(argv[0], argv);
  _exit(127);
}

// Whether a JACK server (jackd, or jackdbus's) runs on the machine.
bool any_jack_server_alive() {
  std::error_code error;
  for (const auto& entry : std::filesystem::directory_iterator("/proc", error)) {
    std::ifstream comm(entry.path() / "comm");
    std::string name;
    if (std::getline(comm, name) && (name == "jackd" || name == "jackdbus")) return true;
  }
  return false;
}

// JACK's machine-wide registry has room for eight servers, and a server that
// ends without its own shutdown keeps its entry for good: killed outright, or
// killed by SIGPIPE when a client hangs up while the server tells it that it
// closes (which is what a test of a vanishing server provokes). With no
// server alive every entry is stale, and JACK makes a new registry when none
// is there.
bool reset_stale_registry() {
  if (any_jack_server_alive()) return false;
  std::error_code error;
  return std::filesystem::remove("/dev/shm/jack-shm-registry", error);
}

}  // namespace

JackServer::JackServer(const JackServerOptions& options) : name_(unique_name()) {
  log_path_ = dir_.path() + "/jackd.log";
  if (!take_lock(options.lock_timeout)) {
    std::ofstream(log_path_) << "another test's JACK server did not go in time\n";
    return;
  }
  set_environment();
  start(options);
  if (pid_ > 0) ready_ = wait_ready(options.start_timeout);
  if (!ready_ && registry_full() && reset_stale_registry()) {
    stop();
    start(options);
    if (pid_ > 0) ready_ = wait_ready(options.start_timeout);
  }
}

JackServer::~JackServer() {
  stop();
  restore_environment();
  if (lock_fd_ >= 0) close(lock_fd_);  // releases the lock
}

// The lock goes with the descriptor, also when the process dies.
bool JackServer::take_lock(std::chrono::milliseconds timeout) {
  const std::string path = (std::filesystem::temp_directory_path() / "vltest-jack.lock").string();
  lock_fd_ = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
  if (lock_fd_ < 0) return false;
  const auto deadline = Clock::now() + timeout;
  while (flock(lock_fd_, LOCK_EX | LOCK_NB) != 0) {
    if (Clock::now() >= deadline) {
      close(lock_fd_);
      lock_fd_ = -1;
      return false;
    }
    std::this_thread::sleep_for(20ms);
  }
  return true;
}

bool JackServer::registry_full() const {
  return log().find("Too many servers already active") != std::string::npos;
}

std::string JackServer::log() const {
  std::ifstream in(log_path_);
  std::ostringstream text;
  text << "jackd " << name_ << " (pid " << pid_ << "):\n" << in.rdbuf();
  return text.str();
}

void JackServer::set_environment() {
  const std::vector<std::pair<std::string, std::string>> variables = {
      {"JACK_DEFAULT_SERVER", name_},
      {"JACK_NO_AUDIO_RESERVATION", "1"},  // no D-Bus here
      {"JACK_NO_START_SERVER", "1"},
  };
  for (const auto& [variable, value] : variables) {
    const char* old = std::getenv(variable.c_str());
    saved_.push_back({variable, old ? std::optional<std::string>(old) : std::nullopt});
    setenv(variable.c_str(), value.c_str(), 1);
  }
}

void JackServer::restore_environment() {
  for (const SavedVariable& variable : saved_) {
    if (variable.value)
      setenv(variable.name.c_str(), variable.value->c_str(), 1);
    else
      unsetenv(variable.name.c_str());
  }
  saved_.clear();
}

void JackServer::start(const JackServerOptions& options) {
  const std::vector<std::string> argv = {
      "jackd", "--no-realtime", "-n", name_, "-d", "dummy", "-r", std::to_string(options.rate), "-p",
      std::to_string(options.period_frames), "-C", std::to_string(options.capture_ports), "-P",
      std::to_string(options.playback_ports)};
  if (find_program(argv[0]).empty()) {
    std::ofstream(log_path_) << argv[0] << " not found in PATH\n";
    return;
  }
  std::vector<char*> args;
  for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  const pid_t parent = getpid();
  pid_ = fork();
  if (pid_ == 0) exec_server(args.data(), log_path_.c_str(), parent);
}

// Asks the server for its ports until it answers with the dummy device's.
bool JackServer::wait_ready(std::chrono::milliseconds timeout) {
  const std::string lsp = find_program("jack_lsp");
  if (lsp.empty()) return false;
  // Its complaints while the server is not up yet are no news.
  const std::vector<std::string> ask = {"/bin/sh", "-c", "exec \"$0\" 2>/dev/null", lsp};
  const auto deadline = Clock::now() + timeout;
  while (Clock::now() < deadline) {
    if (exited()) return false;
    const ProcessResult result = run_process(ask, 3000ms);
    if (result.status == 0 && result.output.find("system:") != std::string::npos) return true;
    std::this_thread::sleep_for(50ms);
  }
  return false;
}

bool JackServer::exited() {
  int status = 0;
  if (pid_ <= 0 || waitpid(pid_, &status, WNOHANG) != pid_) return false;
  pid_ = -1;
  return true;
}

void JackServer::stop() {
  if (pid_ <= 0) return;
  kill(pid_, SIGTERM);
  const auto deadline = Clock::now() + 3s;
  while (Clock::now() < deadline) {
    if (exited()) return;
    std::this_thread::sleep_for(10ms);
  }
  kill(pid_, SIGKILL);
  waitpid(pid_, nullptr, 0);
  pid_ = -1;
}

}  // namespace vltest
