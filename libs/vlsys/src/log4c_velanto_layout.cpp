#include "vlsys/log4c_velanto_layout.h"

#include "vlsys/log4c_thread.h"

#include <cstdio>
#include <cstring>
#include <ctime>

namespace {

const char* base_name(const char* path) {
  const char* slash = std::strrchr(path, '/');
  return slash ? slash + 1 : path;
}

const log4c_location_info_t* location_of(const log4c_logging_event_t* event) {
  const log4c_location_info_t* location = event->evt_loc;
  return location && location->loc_file ? location : nullptr;
}

// A cut line must still end with a newline.
void end_with_newline(const log4c_buffer_t& buffer) {
  if (buffer.buf_size >= 2) buffer.buf_data[buffer.buf_size - 2] = '\n';
}

}  // namespace

const char* velanto_format(const log4c_layout_t*, const log4c_logging_event_t* event) {
  const log4c_buffer_t& out = event->evt_buffer;
  char thread[log4c_thread_name_max + 1];
  log4c_thread_record_name(thread, sizeof thread);
  if (const log4c_location_info_t* location = location_of(event))
    std::snprintf(out.buf_data, out.buf_size, "%s %s %s:%d %s\n", thread, event->evt_category,
                  base_name(location->loc_file), location->loc_line, event->evt_msg);
  else
    std::snprintf(out.buf_data, out.buf_size, "%s %s %s\n", thread, event->evt_category,
                  event->evt_msg);
  end_with_newline(out);
  return out.buf_data;
}

const char* velanto_file_format(const log4c_layout_t*, const log4c_logging_event_t* event) {
  const log4c_buffer_t& out = event->evt_buffer;
  char thread[log4c_thread_name_max + 1];
  log4c_thread_record_name(thread, sizeof thread);
  std::tm utc{};
  const time_t seconds = event->evt_timestamp.tv_sec;
  gmtime_r(&seconds, &utc);
  const long millis = static_cast<long>(event->evt_timestamp.tv_usec / 1000);
  const char* priority = log4c_priority_to_string(event->evt_priority);
  if (const log4c_location_info_t* location = location_of(event))
    std::snprintf(out.buf_data, out.buf_size, "%04d%02d%02d %02d:%02d:%02d.%03ld %s %-8s %s %s:%d %s\n",
                  utc.tm_year + 1900, utc.tm_mon + 1, utc.tm_mday, utc.tm_hour, utc.tm_min,
                  utc.tm_sec, millis, thread, priority, event->evt_category,
                  base_name(location->loc_file), location->loc_line, event->evt_msg);
  else
    std::snprintf(out.buf_data, out.buf_size, "%04d%02d%02d %02d:%02d:%02d.%03ld %s %-8s %s %s\n",
                  utc.tm_year + 1900, utc.tm_mon + 1, utc.tm_mday, utc.tm_hour, utc.tm_min,
                  utc.tm_sec, millis, thread, priority, event->evt_category, event->evt_msg);
  end_with_newline(out);
  if (out.buf_size >= 1) out.buf_data[out.buf_size - 1] = '\0';
  return out.buf_data;
}

const log4c_layout_type_t log4c_layout_type_velanto = {"velanto", velanto_format};
const log4c_layout_type_t log4c_layout_type_velanto_file = {"velanto_file", velanto_file_format};
