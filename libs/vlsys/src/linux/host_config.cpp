#include "vlsys/host_config.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>

namespace {

constexpr const char* config_directory_name = "/.Velanto/";
constexpr mode_t config_directory_mode = 0775;
constexpr mode_t config_file_mode = 0666;

struct ConfigPaths {
  std::string directory;
  std::string file;
  std::string backup;
};

// Validates `name` against HOME and builds its paths; nullopt with errno
// (EINVAL, ENAMETOOLONG, ENOENT when HOME is unset).
std::optional<ConfigPaths> config_paths(const char* name) {
  if (!name || name[0] == '\0' || std::strchr(name, '/')) {
    errno = EINVAL;
    return std::nullopt;
  }
  const char* home = std::getenv("HOME");
  if (!home) {
    errno = ENOENT;
    return std::nullopt;
  }
  if (std::strlen(home) + std::strlen(name) + 1 > vl_config_path_limit) {
    errno = ENAMETOOLONG;
    return std::nullopt;
  }
  ConfigPaths paths;
  paths.directory = std::string(home) + config_directory_name;
  paths.file = paths.directory + name;
  paths.backup = paths.file + ".sv";
  return paths;
}

bool ensure_directory(const std::string& directory) {
  return mkdir(directory.c_str(), config_directory_mode) == 0 || errno == EEXIST;
}

// Renames an existing file to its backup so that the previous version
// survives a failed save.
bool keep_previous_version(const ConfigPaths& paths) {
  struct stat status;
  if (stat(paths.file.c_str(), &status) != 0) return errno == ENOENT;
  if (!S_ISREG(status.st_mode)) {
    errno = ENOTDIR;
    return false;
  }
  return rename(paths.file.c_str(), paths.backup.c_str()) == 0;
}

bool write_all(int fd, const char* data, std::size_t length) {
  while (length > 0) {
    const ssize_t written = write(fd, data, length);
    if (written < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    data += written;
    length -= static_cast<std::size_t>(written);
  }
  return true;
}

bool write_file(const std::string& path, const void* data, std::size_t length) {
  const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, config_file_mode);
  if (fd < 0) return false;
  bool written = write_all(fd, static_cast<const char*>(data), length) && fsync(fd) == 0;
  const int saved = errno;
  if (close(fd) != 0 && written) return false;
  errno = saved;
  return written;
}

}  // namespace

int vl_config_save(const char* name, const void* data, std::size_t length) {
  const std::optional<ConfigPaths> paths = config_paths(name);
  if (!paths) return -1;
  if (!data && length > 0) {
    errno = EFAULT;
    return -1;
  }
  if (!ensure_directory(paths->directory) || !keep_previous_version(*paths)) return -1;
  if (!write_file(paths->file, data, length)) {
    // A partial file would hide the backup from the next reader.
    const int saved = errno;
    unlink(paths->file.c_str());
    errno = saved;
    return -1;
  }
  errno = 0;
  return 0;
}

int vl_config_open_read(const char* name) {
  const std::optional<ConfigPaths> paths = config_paths(name);
  if (!paths) return -1;
  const int fd = open(paths->file.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd >= 0) return fd;
  return open(paths->backup.c_str(), O_RDONLY | O_CLOEXEC);
}

int vl_config_close_read(int descriptor) { return close(descriptor); }

int vl_config_delete(const char* name) {
  const std::optional<ConfigPaths> paths = config_paths(name);
  if (!paths) return -1;
  unlink(paths->backup.c_str());
  unlink(paths->file.c_str());
  sync();
  errno = 0;
  return 0;
}
