#include "generator_analyzer/analyzer_file.h"

#include "vlsys/vl_log.h"
#include "vlsys/vl_log_ratelimit.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <limits.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <new>

namespace {

VL_LOG_CATEGORY(category, "velanto.analyzer")

VlObject* load(const json_t* json) {
  VlTestDeviceConfig config{};
  if (!vl_test_device_read_config(json, category(), &config)) return nullptr;
  VlAnalyzerFile* analyzer = vl_analyzer_file_ctor(config.rate, config.block_frames, config.function);
  if (!analyzer) VL_LOG(category(), VL_LOG_ERROR, "vl_analyzer_file_ctor failed with errno %d", errno);
  return analyzer;
}

void devicelist(json_t* array) {
  vl_test_device_list_entry(array, vl_analyzer_file_ts.type_name, "AnalyzerFile", 1, 0);
}

// The name from the function, the default when it has none, or null when
// "filename" is there but is no acceptable name.
const char* file_name_from(const json_t* function) {
  const json_t* value = json_object_get(function, "filename");
  if (!value) return vl_analyzer_file_default_name;
  const char* name = json_string_value(value);
  if (!name || !vl_analyzer_file_name_allowed(name)) {
    VL_LOG(category(), VL_LOG_ERROR,
           "analyzer refuses file name %.64s: only a plain file name in the working directory is accepted",
           name ? name : "(not a string)");
    return nullptr;
  }
  return name;
}

// Never follows a link planted under the name (the daemon often runs as
// root), and never blocks on or writes into anything but a regular file.
VlAnalyzerFile::File open_for_writing(const char* name) {
  const int fd = open(name, O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0644);
  if (fd < 0) return nullptr;
  struct stat status {};
  if (fstat(fd, &status) != 0 || !S_ISREG(status.st_mode)) {
    close(fd);
    errno = EINVAL;
    return nullptr;
  }
  VlAnalyzerFile::File file(fdopen(fd, "wb"));
  if (!file) {
    const int err = errno;
    close(fd);
    errno = err;
  }
  return file;
}

}  // namespace

const VlMediadrvTypeDescriptor vl_analyzer_file_ts = {{&vl_analyzer_ts, "VlAnalyzerFile", load}, devicelist};

bool vl_analyzer_file_name_allowed(const char* name) {
  if (!name || name[0] == '\0') return false;
  const std::size_t length = strnlen(name, NAME_MAX + 1);
  if (length > NAME_MAX) return false;
  if (std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0) return false;
  return std::strchr(name, '/') == nullptr;
}

VlAnalyzerFile::VlAnalyzerFile(VlTestDeviceParts parts, File file)
    : VlAnalyzer(std::move(parts)), file_(std::move(file)) {}

void VlAnalyzerFile::analyze(uint32_t ts, uint32_t frames) {
  const std::size_t wanted = static_cast<std::size_t>(frames) * channels();
  const std::size_t written = std::fwrite(samples(), sizeof(int32_t), wanted, file_.get());
  if (written != wanted) {
    // A full disk would otherwise repeat this at packet rate.
    VL_LOG_SHARED_RATELIMITED_COUNTED(short_write_limit_, category(), VL_LOG_ERROR,
                                      "analyzer wrote %u instead of %u samples (errno = %d)",
                                      static_cast<unsigned>(written), static_cast<unsigned>(wanted), errno);
  }
  next_ts_ = ts + static_cast<uint32_t>(written / channels());
}

VlAnalyzerFile* vl_analyzer_file_ctor(vl_rational rate, uint32_t block_frames, const json_t* function) {
  const char* name = file_name_from(function);
  if (!name) {
    errno = EINVAL;
    return nullptr;
  }
  VlTestDeviceParts parts;
  if (!vl_test_device_prepare(rate, block_frames, 1, &parts)) return nullptr;
  VlAnalyzerFile::File file = open_for_writing(name);
  if (!file) {
    const int err = errno;
    VL_LOG(category(), VL_LOG_ERROR, "analyzer couldn't open file %s (errno = %d)", name, err);
    errno = err;
    return nullptr;
  }
  auto* analyzer = new (std::nothrow) VlAnalyzerFile(std::move(parts), std::move(file));
  if (!analyzer) errno = ENOMEM;
  return analyzer;
}
