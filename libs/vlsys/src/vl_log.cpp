#include "vlsys/vl_log.h"

#include "vlsys/log4c_sendlog.h"
#include "vlsys/log4c_velanto_layout.h"

#include <log4c/appender_type_syslog.h>
#include <log4c/rc.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>

namespace {

constexpr int default_root_priority = VL_LOG_INFO;

log4c_category_t* root_category = nullptr;
log4c_category_t* general_category = nullptr;
std::unique_ptr<std::string> log_dir;

// Guards log4c's category table (lookups may insert).
std::mutex& category_table_lock() {
  static std::mutex lock;
  return lock;
}

// LOG4C_PRIORITY as a decimal number (leading digits; none gives 0).
int root_priority_from_environment() {
  const char* text = std::getenv("LOG4C_PRIORITY");
  if (!text) return default_root_priority;
  return static_cast<int>(std::strtol(text, nullptr, 10));
}

void attach_syslog_appender(const char* ident) {
  log4c_appender_t* appender = log4c_appender_get(ident);
  log4c_appender_set_type(appender, &log4c_appender_type_syslog);
  log4c_layout_t* layout = log4c_layout_get("velanto");
  log4c_layout_set_type(layout, &log4c_layout_type_velanto);
  log4c_appender_set_layout(appender, layout);
  log4c_category_set_appender(root_category, appender);
}

// log4c cannot be initialised again after log4c_fini (it crashes on its
// freed type tables), so it is set up once per process and stays; a later
// vl_log_init only applies the settings again.
void init_log4c_once() {
  static bool initialised = false;
  if (initialised) return;
  initialised = true;
  // The system's types first, so that a log4crc that log4c_init reads may
  // name them (log4c's own "basic" layout formats into one static buffer,
  // unsafe for records of several threads).
  log4c_appender_type_set(&log4c_appender_type_sendlog);
  log4c_layout_type_set(&log4c_layout_type_velanto);
  log4c_layout_type_set(&log4c_layout_type_velanto_file);
  log4c_init();
  // Fixed record buffers: log4c then formats the message and the rendered
  // line into stack buffers of this size instead of allocating per record.
  log4c_rc->config.bufsize = static_cast<int>(vl_log_buffer_size);
}

}  // namespace

bool vl_log_init(const char* ident) {
  init_log4c_once();

  root_category = vl_log_category("root");
  general_category = vl_log_category("velanto");
  log4c_category_set_priority(root_category, root_priority_from_environment());
  attach_syslog_appender(ident ? ident : "velanto");
  log_dir = std::make_unique<std::string>("/var/log");
  return true;
}

void vl_log_exit() {
  root_category = nullptr;
  general_category = nullptr;
  log_dir.reset();
}

const char* vl_log_get_log_dir() { return log_dir ? log_dir->c_str() : nullptr; }

log4c_category_t* vl_log_general() { return general_category; }

log4c_category_t* vl_log_category(const char* name) {
  const std::lock_guard<std::mutex> hold(category_table_lock());
  return log4c_category_get(name);
}

json_t* vl_log_get_category_list() {
  const std::lock_guard<std::mutex> hold(category_table_lock());
  log4c_category_t* probe = nullptr;
  int count = log4c_category_list(&probe, 1);
  if (count <= 0) return json_object();

  std::unique_ptr<log4c_category_t*[]> categories(new (std::nothrow) log4c_category_t*[count]);
  if (!categories) {
    VL_LOG(general_category, VL_LOG_FATAL, "Could not allocate memory for category list.");
    return nullptr;
  }
  int listed = log4c_category_list(categories.get(), count);
  if (listed < 0) {
    VL_LOG(general_category, VL_LOG_ERROR, "List of categories not available.");
    return nullptr;
  }
  json_t* list = json_object();
  for (int i = 0; i < listed && i < count; ++i) {
    const char* name = log4c_category_get_name(categories[i]);
    if (name)
      json_object_set_new(list, name, json_integer(log4c_category_get_priority(categories[i])));
  }
  return list;
}

int vl_log_priority_set(const char* category, int priority) {
  log4c_category_t* target = vl_log_category(category ? category : "root");
  return log4c_category_set_priority(target, priority);
}

char* vl_strerror(int err, char* buf, std::size_t len) {
  if (!buf || len == 0) return buf;
  std::memset(buf, 0, len);
  char scratch[256];
  // GNU strerror_r may return a static text instead of filling scratch.
  const char* text = strerror_r(err, scratch, sizeof scratch);
  std::strncpy(buf, text, len - 1);
  return buf;
}

void vl_log_add_impl(const log4c_category_t* category, int priority, int line, const char* file,
                     const char* format, ...) {
  if (!category) return;
  const log4c_location_info_t location = {file, line, nullptr, nullptr};
  va_list args;
  va_start(args, format);
  __log4c_category_vlog(category, &location, priority, format, args);
  va_end(args);
}
