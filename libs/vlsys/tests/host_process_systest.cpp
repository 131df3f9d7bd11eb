#include "vlsys/host_process.h"

#include "vltest/process.h"
#include "vltest/temp_dir.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <grp.h>
#include <sched.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;

// Started with this variable set, the test program acts as a registration
// helper before any test runs: "exit" registers, reports and exits; "wait"
// also waits up to ten seconds for SIGUSR1, then unregisters.
constexpr const char* helper_variable = "VLTEST_REGISTRATION_HELPER";

int run_registration_helper_if_asked() {
  const char* mode = std::getenv(helper_variable);
  if (!mode) return 0;
  sigset_t usr1;
  sigemptyset(&usr1);
  sigaddset(&usr1, SIGUSR1);
  sigprocmask(SIG_BLOCK, &usr1, nullptr);  // a quick signal stays pending
  const int result = vl_register();
  std::printf("registered %d pid %ld\n", result, static_cast<long>(getpid()));
  std::fflush(stdout);
  if (std::strcmp(mode, "wait") == 0 && result == 0) {
    const timespec timeout = {10, 0};
    const int signal = sigtimedwait(&usr1, nullptr, &timeout);
    std::printf("got signal %d\n", signal);
    std::fflush(stdout);
    vl_unregister();
  }
  _exit(0);
}

[[maybe_unused]] const int registration_helper = run_registration_helper_if_asked();

std::string file_text(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

std::string pid_file(const std::string& name) { return "/var/run/" + name + ".pid"; }

// Removes a registration file at scope end, whoever wrote it.
class PidFileGuard {
 public:
  explicit PidFileGuard(std::string name) : path_(pid_file(name)) {}
  ~PidFileGuard() { unlink(path_.c_str()); }
  PidFileGuard(const PidFileGuard&) = delete;
  PidFileGuard& operator=(const PidFileGuard&) = delete;

 private:
  std::string path_;
};

// This test program under another name: the registration name comes from
// the first command-line element, which for a link is the link's path.
class ProgramLink {
 public:
  explicit ProgramLink(const std::string& name) : path_(dir_.path() + "/" + name) {
    fs::create_symlink(fs::read_symlink("/proc/self/exe"), path_);
  }
  const std::string& path() const { return path_; }

 private:
  vltest::TempDir dir_;
  std::string path_;
};

// A name no other test process uses at the same time.
std::string unique_name(const char* stem) { return std::string(stem) + std::to_string(getpid()); }

// The child's exit status; -1 when it was killed or had to be killed after `seconds`.
int wait_child(pid_t pid, int seconds) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
  int status = 0;
  while (waitpid(pid, &status, WNOHANG) == 0) {
    if (std::chrono::steady_clock::now() > deadline) {
      kill(pid, SIGKILL);
      waitpid(pid, &status, 0);
      return -1;
    }
    usleep(10000);
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

class HostProcess : public testing::Test {
 protected:
  void SetUp() override {
    if (geteuid() != 0) GTEST_SKIP() << "registration needs write access to /var/run";
  }
};

TEST_F(HostProcess, RegistersItsProcessIdUnderTheProgramBaseName) {
  const std::string name = std::string(program_invocation_short_name).substr(0, vl_register_name_max);
  PidFileGuard guard(name);
  ASSERT_EQ(vl_register(), 0);
  EXPECT_EQ(file_text(pid_file(name)), std::to_string(getpid()));
  EXPECT_EQ(vl_unregister(), 0);
  EXPECT_FALSE(fs::exists(pid_file(name)));
  EXPECT_EQ(vl_unregister(), 0);
}

TEST_F(HostProcess, LongProgramNamesAreCutTo31Characters) {
  const std::string name = unique_name("registration_with_a_long_program_name_");
  ASSERT_GT(name.size(), vl_register_name_max);
  const std::string cut = name.substr(0, vl_register_name_max);
  PidFileGuard guard(cut);
  ProgramLink link(name);
  vltest::Process helper({link.path()}, {{std::string(helper_variable) + "=exit"}, ""});
  ASSERT_TRUE(helper.wait_for_output("registered 0", 10s)) << helper.output();
  EXPECT_EQ(helper.wait_exit(10s), 0);
  EXPECT_EQ(file_text(pid_file(cut)), std::to_string(helper.pid()));
}

// In a new PID namespace the next process id can be chosen: the helper
// then runs with a seven-digit id, which must be written whole.
TEST_F(HostProcess, SevenDigitProcessIdsAreWrittenWhole) {
  const std::string name = unique_name("vlreg_big_");
  PidFileGuard guard(name);
  ProgramLink link(name);
  const pid_t child = fork();
  if (child == 0) {
    if (unshare(CLONE_NEWPID) != 0) _exit(2);
    const pid_t init = fork();  // process 1 of the new namespace
    if (init == 0) {
      const int fd = open("/proc/sys/kernel/ns_last_pid", O_WRONLY);
      if (fd < 0 || write(fd, "1234566", 7) != 7) _exit(3);
      close(fd);
      const pid_t helper = fork();
      if (helper == 0) {
        setenv(helper_variable, "exit", 1);
        execl(link.path().c_str(), link.path().c_str(), static_cast<char*>(nullptr));
        _exit(4);
      }
      int status = 0;
      waitpid(helper, &status, 0);
      _exit(WIFEXITED(status) ? WEXITSTATUS(status) : 5);
    }
    int status = 0;
    waitpid(init, &status, 0);
    _exit(WIFEXITED(status) ? WEXITSTATUS(status) : 5);
  }
  const int status = wait_child(child, 20);
  if (status == 2 || status == 3) GTEST_SKIP() << "no PID namespace with a chosen process id here";
  ASSERT_EQ(status, 0);
  EXPECT_EQ(file_text(pid_file(name)), "1234567");
}

TEST_F(HostProcess, RegistrationWithoutWriteAccessFails) {
  const pid_t child = fork();
  if (child == 0) {
    if (setgroups(0, nullptr) != 0 || setgid(65534) != 0 || setuid(65534) != 0) _exit(2);
    // The command line stays readable, so only /var/run can make it fail.
    const int fd = open("/proc/self/cmdline", O_RDONLY);
    if (fd < 0) _exit(3);
    close(fd);
    _exit(vl_register() == -1 ? 0 : 1);
  }
  EXPECT_EQ(wait_child(child, 10), 0);
}

TEST_F(HostProcess, KillSignalsTheRegisteredProcess) {
  const std::string name = unique_name("vlreg_kill_");
  PidFileGuard guard(name);
  ProgramLink link(name);
  vltest::Process helper({link.path()}, {{std::string(helper_variable) + "=wait"}, ""});
  ASSERT_TRUE(helper.wait_for_output("registered 0", 10s)) << helper.output();
  EXPECT_EQ(file_text(pid_file(name)), std::to_string(helper.pid()));

  vl_kill(name.c_str(), SIGUSR1);
  EXPECT_TRUE(helper.wait_for_output("got signal " + std::to_string(SIGUSR1), 10s)) << helper.output();
  EXPECT_EQ(helper.wait_exit(10s), 0);
  EXPECT_FALSE(fs::exists(pid_file(name)));
}

volatile sig_atomic_t usr1_received = 0;
void count_usr1(int) { usr1_received = 1; }

// kill() takes 0 as "my process group"; a file holding no positive id must
// signal nobody. Checked in a child that is alone in its process group.
TEST_F(HostProcess, KillIgnoresFilesWithoutAProcessId) {
  const std::string name = unique_name("vlreg_bad_");
  PidFileGuard guard(name);
  const pid_t child = fork();
  if (child == 0) {
    setpgid(0, 0);
    signal(SIGUSR1, count_usr1);
    for (const char* content : {"0", "", "none", "00"}) {
      std::ofstream(pid_file(name), std::ios::trunc) << content;
      vl_kill(name.c_str(), SIGUSR1);
    }
    unlink(pid_file(name).c_str());
    vl_kill(name.c_str(), SIGUSR1);  // missing file
    vl_kill(nullptr, SIGUSR1);
    _exit(usr1_received ? 1 : 0);
  }
  EXPECT_EQ(wait_child(child, 10), 0);
}

}  // namespace
