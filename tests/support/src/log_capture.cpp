#include "vltest/log_capture.h"

#include "vlsys/log4c_velanto_layout.h"
#include "vlsys/vl_log.h"

#include <cstring>

namespace vltest {
namespace {

LogCapture* active = nullptr;
std::mutex active_mutex;

int capture_append(log4c_appender_t*, const log4c_logging_event_t* event) {
  std::lock_guard<std::mutex> lock(active_mutex);
  if (!active) return 0;
  CapturedRecord record{event->evt_category, event->evt_priority, event->evt_msg ? event->evt_msg : "",
                        "", 0, event->evt_rendered_msg ? event->evt_rendered_msg : ""};
  if (event->evt_loc && event->evt_loc->loc_file) {
    const char* slash = std::strrchr(event->evt_loc->loc_file, '/');
    record.file = slash ? slash + 1 : event->evt_loc->loc_file;
    record.line = event->evt_loc->loc_line;
  }
  active->add(std::move(record));
  return 0;
}

const log4c_appender_type_t capture_type = {"vltest_capture", nullptr, capture_append, nullptr};

log4c_appender_t* capture_appender() {
  log4c_appender_type_set(&capture_type);
  log4c_appender_t* appender = log4c_appender_get("vltest_capture");
  log4c_appender_set_type(appender, &capture_type);
  log4c_layout_t* layout = log4c_layout_get("vltest_velanto");
  log4c_layout_set_type(layout, &log4c_layout_type_velanto);
  log4c_appender_set_layout(appender, layout);
  return appender;
}

}  // namespace

LogCapture::LogCapture() {
  if (!vl_log_general()) vl_log_init("vltest");
  // Records reach the root's appender through additivity; the capture sits
  // on "velanto" so that syslog still receives everything from root.
  log4c_category_set_appender(vl_log_category("velanto"), capture_appender());
  std::lock_guard<std::mutex> lock(active_mutex);
  active = this;
}

LogCapture::~LogCapture() {
  std::lock_guard<std::mutex> lock(active_mutex);
  active = nullptr;
}

std::vector<CapturedRecord> LogCapture::records() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return records_;
}

int LogCapture::count(const std::string& text) const {
  std::lock_guard<std::mutex> lock(mutex_);
  int n = 0;
  for (const CapturedRecord& r : records_)
    if (r.message.find(text) != std::string::npos) ++n;
  return n;
}

void LogCapture::clear() {
  std::lock_guard<std::mutex> lock(mutex_);
  records_.clear();
}

void LogCapture::add(CapturedRecord record) {
  std::lock_guard<std::mutex> lock(mutex_);
  records_.push_back(std::move(record));
}

LogPriority::LogPriority(const char* category, int priority) {
  if (!vl_log_general()) vl_log_init("vltest");
  category_ = vl_log_category(category);
  previous_ = log4c_category_get_priority(category_);
  log4c_category_set_priority(category_, priority);
}

LogPriority::~LogPriority() { log4c_category_set_priority(category_, previous_); }

void log_to_stderr() {
  if (!vl_log_general()) vl_log_init("vltest");
  log4c_category_set_appender(vl_log_category("velanto"), log4c_appender_get("stderr"));
}

}  // namespace vltest
