// Logging over log4c: categories, root priority, the syslog appender and the
// guarded logging entry every module uses.
#pragma once

#include <jansson.h>
#include <log4c.h>

#include <cstddef>

// Priorities as log4c numbers them.
enum : int {
  VL_LOG_FATAL = LOG4C_PRIORITY_FATAL,
  VL_LOG_ALERT = LOG4C_PRIORITY_ALERT,
  VL_LOG_CRIT = LOG4C_PRIORITY_CRIT,
  VL_LOG_ERROR = LOG4C_PRIORITY_ERROR,
  VL_LOG_WARN = LOG4C_PRIORITY_WARN,
  VL_LOG_NOTICE = LOG4C_PRIORITY_NOTICE,
  VL_LOG_INFO = LOG4C_PRIORITY_INFO,
  VL_LOG_DEBUG = LOG4C_PRIORITY_DEBUG,
  VL_LOG_TRACE = LOG4C_PRIORITY_TRACE,
};

// Size of the message and rendered-line buffers of one record.
inline constexpr std::size_t vl_log_buffer_size = 4096;

// Initialises log4c with a syslog appender named `ident` on the root category.
bool vl_log_init(const char* ident);
void vl_log_exit();
const char* vl_log_get_log_dir();

// The general category "velanto" (taken by vl_log_init; null before).
log4c_category_t* vl_log_general();

// The category `name`, made on first use. log4c's category table is not
// thread-safe, so every lookup, the category list and priority setting go
// through one lock here, never to log4c directly. The handle of a name never
// changes: modules take theirs once (VL_LOG_CATEGORY) instead of looking it
// up per record from their media threads.
log4c_category_t* vl_log_category(const char* name);

// Defines `function()` returning the cached handle of category `name`.
#define VL_LOG_CATEGORY(function, name)                                  \
  inline log4c_category_t* function() {                                  \
    static log4c_category_t* const vl_log_handle_ = vl_log_category(name); \
    return vl_log_handle_;                                               \
  }

// New JSON object {category name: own priority}; null on failure.
json_t* vl_log_get_category_list();

// Sets the priority of `category`, or of the root category when null.
int vl_log_priority_set(const char* category, int priority);

// System text for `err`, zero-filled and always terminated.
char* vl_strerror(int err, char* buf, std::size_t len);

// Hands one record to log4c. Callers go through VL_LOG so that dropped
// records are never formatted.
void vl_log_add_impl(const log4c_category_t* category, int priority, int line,
                     const char* file, const char* format, ...)
    __attribute__((format(printf, 5, 6)));

#define VL_LOG(category, priority, ...)                                             \
  do {                                                                              \
    const log4c_category_t* vl_log_cat_ = (category);                               \
    if (vl_log_cat_ && log4c_category_get_chainedpriority(vl_log_cat_) >= (priority)) \
      vl_log_add_impl(vl_log_cat_, (priority), __LINE__, __FILE__, __VA_ARGS__);   \
  } while (0)
