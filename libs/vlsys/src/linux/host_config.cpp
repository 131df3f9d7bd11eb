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
  std::string draft;  // the new version until it is whole
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
  paths.draft = paths.file + ".new";
  return paths;
}

bool ensure_directory(const std::string& directory) {
  return mkdir(directory.c_str(), config_directory_mode) == 0 || errno == EEXIST;
}

// Only a regular file (or none) may be replaced.
bool replaceable(const std::string& path) {
  struct stat status;
  if (stat(path.c_str(), &status) != 0) return errno == ENOENT;
  if (!S_ISREG(status.st_mode)) {
    errno = ENOTDIR;
    return false;
  }
  return true;
}

// Renames an existing file to its backup.
bool keep_previous_version(const ConfigPaths& paths) {
  return rename(paths.file.c_str(), paths.backup.c_str()) == 0 || errno == ENOENT;
}

void sync_directory(const std::string& directory) {
  const int fd = open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  fsync(fd);
  close(fd);
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
  if (!ensure_directory(paths->directory) || !replaceable(paths->file)) return -1;
  // The new version is written whole beside the file before the renames, so
  // that a save killed or failing at any point leaves the file or, between
  // the two renames, its backup whole; a partial file would hide the backup
  // from the next reader.
  if (!write_file(paths->draft, data, length) || !keep_previous_version(*paths) ||
      rename(paths->draft.c_str(), paths->file.c_str()) != 0) {
    const int saved = errno;
    unlink(paths->draft.c_str());
    errno = saved;
    return -1;
  }
  sync_directory(paths->directory);
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
  unlink(paths->draft.c_str());
  sync();
  errno = 0;
  return 0;
}
