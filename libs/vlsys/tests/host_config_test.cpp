#include "vlsys/host_config.h"

#include "vltest/temp_home.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

namespace {

namespace fs = std::filesystem;

std::string file_text(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

int save(const char* name, const std::string& data) { return vl_config_save(name, data.data(), data.size()); }

// Reads the whole content behind the descriptor vl_config_open_read gives.
std::string read_config(const char* name) {
  const int fd = vl_config_open_read(name);
  if (fd < 0) return "<open failed>";
  std::string text;
  char buffer[256];
  ssize_t n;
  while ((n = read(fd, buffer, sizeof buffer)) > 0) text.append(buffer, static_cast<size_t>(n));
  EXPECT_EQ(vl_config_close_read(fd), 0);
  return text;
}

TEST(HostConfig, SavingTwiceKeepsTheFirstVersionInTheBackup) {
  vltest::TempHome home;
  ASSERT_EQ(save("velanto.cfg", "first"), 0);
  EXPECT_EQ(errno, 0);
  ASSERT_EQ(save("velanto.cfg", "second"), 0);
  EXPECT_EQ(file_text(home.config_path("velanto.cfg")), "second");
  EXPECT_EQ(file_text(home.config_path("velanto.cfg.sv")), "first");
  EXPECT_EQ(read_config("velanto.cfg"), "second");

  struct stat status;
  ASSERT_EQ(stat((home.path() + "/.Velanto").c_str(), &status), 0);
  EXPECT_TRUE(S_ISDIR(status.st_mode));
}

TEST(HostConfig, OpeningAMissingFileFallsBackToItsBackup) {
  vltest::TempHome home;
  ASSERT_EQ(save("velanto.cfg", "old"), 0);
  ASSERT_EQ(save("velanto.cfg", "new"), 0);
  ASSERT_TRUE(fs::remove(home.config_path("velanto.cfg")));
  EXPECT_EQ(read_config("velanto.cfg"), "old");

  ASSERT_TRUE(fs::remove(home.config_path("velanto.cfg.sv")));
  errno = 0;
  EXPECT_EQ(vl_config_open_read("velanto.cfg"), -1);
  EXPECT_EQ(errno, ENOENT);
}

TEST(HostConfig, BadNamesAreRefusedWithoutTouchingTheDisk) {
  vltest::TempHome home;
  for (const char* name : {"a/b.cfg", "", "/velanto.cfg"}) {
    errno = 0;
    EXPECT_EQ(save(name, "x"), -1) << name;
    EXPECT_EQ(errno, EINVAL) << name;
    errno = 0;
    EXPECT_EQ(vl_config_open_read(name), -1) << name;
    EXPECT_EQ(errno, EINVAL) << name;
    errno = 0;
    EXPECT_EQ(vl_config_delete(name), -1) << name;
    EXPECT_EQ(errno, EINVAL) << name;
  }
  errno = 0;
  EXPECT_EQ(vl_config_save(nullptr, "x", 1), -1);
  EXPECT_EQ(errno, EINVAL);
  EXPECT_EQ(vl_config_delete(nullptr), -1);
  EXPECT_FALSE(fs::exists(home.path() + "/.Velanto"));
}

TEST(HostConfig, WithoutHomeEverythingFails) {
  vltest::TempHome home;
  unsetenv("HOME");
  EXPECT_EQ(save("velanto.cfg", "x"), -1);
  EXPECT_EQ(vl_config_open_read("velanto.cfg"), -1);
  EXPECT_EQ(vl_config_delete("velanto.cfg"), -1);
}

TEST(HostConfig, NameLengthIsLimitedWithHome) {
  vltest::TempHome home;
  // HOME plus the name plus 1 may reach the limit but not pass it.
  const std::size_t longest = vl_config_path_limit - home.path().size() - 1;
  const std::string fits(longest, 'n');
  const std::string too_long(longest + 1, 'n');

  EXPECT_EQ(save(fits.c_str(), "fits"), 0);
  EXPECT_EQ(read_config(fits.c_str()), "fits");
  errno = 0;
  EXPECT_EQ(save(too_long.c_str(), "x"), -1);
  EXPECT_EQ(errno, ENAMETOOLONG);
  errno = 0;
  EXPECT_EQ(vl_config_open_read(too_long.c_str()), -1);
  EXPECT_EQ(errno, ENAMETOOLONG);
  EXPECT_FALSE(fs::exists(home.config_path(too_long)));
}

TEST(HostConfig, ANonRegularFileIsNotReplaced) {
  vltest::TempHome home;
  ASSERT_EQ(save("other.cfg", "x"), 0);  // creates the directory
  ASSERT_TRUE(fs::create_directory(home.config_path("velanto.cfg")));
  errno = 0;
  EXPECT_EQ(save("velanto.cfg", "data"), -1);
  EXPECT_EQ(errno, ENOTDIR);
  EXPECT_TRUE(fs::is_directory(home.config_path("velanto.cfg")));
  EXPECT_FALSE(fs::exists(home.config_path("velanto.cfg.sv")));
}

TEST(HostConfig, DeletingRemovesFileAndBackupAndSucceedsWhenNeitherExists) {
  vltest::TempHome home;
  ASSERT_EQ(save("velanto.cfg", "one"), 0);
  ASSERT_EQ(save("velanto.cfg", "two"), 0);
  ASSERT_TRUE(fs::exists(home.config_path("velanto.cfg.sv")));
  EXPECT_EQ(vl_config_delete("velanto.cfg"), 0);
  EXPECT_FALSE(fs::exists(home.config_path("velanto.cfg")));
  EXPECT_FALSE(fs::exists(home.config_path("velanto.cfg.sv")));
  EXPECT_EQ(vl_config_delete("velanto.cfg"), 0);
  EXPECT_EQ(vl_config_delete("never_saved.cfg"), 0);
}

// A write that stops short (here: at the file size limit) must not leave a
// cut file in front of the backup, or the next load reads the cut file; the
// file is not even touched.
TEST(HostConfig, AFailedWriteLeavesThePreviousVersionReadable) {
  vltest::TempHome home;
  ASSERT_EQ(save("velanto.cfg", "previous"), 0);

  struct sigaction ignore = {}, previous_action = {};
  ignore.sa_handler = SIG_IGN;
  ASSERT_EQ(sigaction(SIGXFSZ, &ignore, &previous_action), 0);
  rlimit previous_limit;
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &previous_limit), 0);
  rlimit small = previous_limit;
  small.rlim_cur = 16;
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);

  const int result = save("velanto.cfg", std::string(100, 'z'));
  const int error = errno;
  setrlimit(RLIMIT_FSIZE, &previous_limit);
  sigaction(SIGXFSZ, &previous_action, nullptr);

  EXPECT_EQ(result, -1);
  EXPECT_EQ(error, EFBIG);
  EXPECT_EQ(file_text(home.config_path("velanto.cfg")), "previous");
  EXPECT_FALSE(fs::exists(home.config_path("velanto.cfg.new")));
  EXPECT_EQ(read_config("velanto.cfg"), "previous");
}

// A process killed in the middle of writing (here by SIGXFSZ at the file
// size limit, whose default action ends it) leaves the previous version for
// the next reader, and the next save replaces the cut draft.
TEST(HostConfig, ASaveKilledMidWriteLeavesThePreviousVersionReadable) {
  vltest::TempHome home;
  ASSERT_EQ(save("velanto.cfg", "previous"), 0);
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    const rlimit no_core = {0, 0}, small = {16, 16};
    setrlimit(RLIMIT_CORE, &no_core);
    setrlimit(RLIMIT_FSIZE, &small);
    save("velanto.cfg", std::string(100, 'z'));
    _exit(0);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGXFSZ) << status;
  EXPECT_EQ(read_config("velanto.cfg"), "previous");

  ASSERT_EQ(save("velanto.cfg", "next"), 0);
  EXPECT_EQ(read_config("velanto.cfg"), "next");
  EXPECT_EQ(file_text(home.config_path("velanto.cfg.sv")), "previous");
}

}  // namespace
