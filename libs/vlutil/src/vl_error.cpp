#include "vlutil/vl_error.h"

#include "vlsys/vl_log.h"
#include "vlsys/vl_mutex.h"

#include <log4c.h>
#include <pthread.h>

#include <cstdarg>
#include <cstdint>
#include <cstring>
#include <memory>
#include <new>
#include <string>

struct VlErrorEntry {
  int32_t line = 0;
  char file[vl_error_file_size] = {};
  int32_t code = 0;
  char text[vl_error_text_size] = {};
  std::unique_ptr<VlErrorEntry> next;
};

struct VlError {
  std::unique_ptr<VlErrorEntry> head;
  log4c_category_t* category = nullptr;
  vl_mutex mutex;
};

namespace {

VL_LOG_CATEGORY(error_category, "velanto.vl_error")

constexpr std::size_t file_chars_kept = vl_error_file_size - 2;

pthread_once_t key_once = PTHREAD_ONCE_INIT;
pthread_key_t thread_key;

void create_key() { pthread_key_create(&thread_key, nullptr); }

VlError* thread_error() {
  pthread_once(&key_once, create_key);
  return static_cast<VlError*>(pthread_getspecific(thread_key));
}

std::unique_ptr<VlErrorEntry> make_entry(int line, const char* file, int code) {
  std::unique_ptr<VlErrorEntry> entry(new (std::nothrow) VlErrorEntry);
  if (!entry) {
    VL_LOG(vl_log_general(), VL_LOG_FATAL, "Could not allocate memory for vl_error object!");
    return nullptr;
  }
  entry->line = line;
  std::snprintf(entry->file, file_chars_kept + 1, "%s", file ? file : "");
  entry->code = code;
  return entry;
}

void log_located(const log4c_category_t* category, int priority, const VlErrorEntry& entry, bool with_code) {
  if (!category || log4c_category_get_chainedpriority(category) < priority) return;
  if (with_code)
    vl_log_add_impl(category, priority, entry.line, entry.file, "%s: %i", entry.text, entry.code);
  else
    vl_log_add_impl(category, priority, entry.line, entry.file, "%s", entry.text);
}

void push(VlError& error, std::unique_ptr<VlErrorEntry> entry) {
  VlLock lock(error.mutex);
  entry->next = std::move(error.head);
  error.head = std::move(entry);
}

std::unique_ptr<VlErrorEntry> pop(VlError& error) {
  VlLock lock(error.mutex);
  std::unique_ptr<VlErrorEntry> entry = std::move(error.head);
  if (entry) error.head = std::move(entry->next);
  return entry;
}

// Onto the calling thread's stack; without one the entry is logged and dropped.
void push_or_log(std::unique_ptr<VlErrorEntry> entry) {
  if (VlError* error = thread_error())
    push(*error, std::move(entry));
  else
    log_located(vl_log_general(), VL_LOG_ERROR, *entry, true);
}

// Logs every entry of `error` at its own location; false when there was none.
bool log_entries(VlError& error) {
  bool any = false;
  while (std::unique_ptr<VlErrorEntry> entry = pop(error)) {
    log_located(error.category, VL_LOG_ERROR, *entry, false);
    any = true;
  }
  return any;
}

// A JSON string of `text`; bytes that would make it invalid UTF-8 (a cut
// through a multi-byte character, say) become '?' instead of losing the entry.
json_t* text_value(const char* text) {
  if (json_t* value = json_string(text)) return value;
  std::string ascii(text);
  for (char& c : ascii)
    if (static_cast<unsigned char>(c) >= 0x80) c = '?';
  return json_string(ascii.c_str());
}

json_t* entry_value(const VlErrorEntry& entry) {
  return json_pack("{s:i, s:o, s:i, s:o}", "line", static_cast<int>(entry.line), "file", text_value(entry.file),
                   "type", static_cast<int>(entry.code), "text", text_value(entry.text));
}

}  // namespace

VlError* vl_error_ctor() {
  auto* error = new (std::nothrow) VlError;
  if (!error) return nullptr;
  if (!vl_mutex_ctor(&error->mutex)) {
    delete error;
    return nullptr;
  }
  error->category = error_category();
  return error;
}

void vl_error_dtor(VlError* error) {
  if (!error) return;
  // No dangling thread value may outlive the object.
  if (thread_error() == error) vl_error_install(nullptr);
  log_entries(*error);
  vl_mutex_dtor(&error->mutex);
  delete error;
}

void vl_error_install(VlError* error) {
  pthread_once(&key_once, create_key);
  pthread_setspecific(thread_key, error);
}

VlError* vl_error_current() { return thread_error(); }

void vl_error_add(int line, const char* file, int code, const char* format, ...) {
  std::unique_ptr<VlErrorEntry> entry = make_entry(line, file, code);
  if (!entry) return;
  va_list args;
  va_start(args, format);
  if (format) std::vsnprintf(entry->text, sizeof entry->text, format, args);
  va_end(args);
  push_or_log(std::move(entry));
}

void vl_error_reset() {
  VlError* error = thread_error();
  if (!error) return;
  while (pop(*error)) {
  }
}

std::size_t vl_error_truncate(std::size_t keep) {
  VlError* error = thread_error();
  if (!error) return 0;
  std::unique_ptr<VlErrorEntry> dropped;
  {
    VlLock lock(error->mutex);
    std::unique_ptr<VlErrorEntry>* link = &error->head;
    for (std::size_t i = 0; i < keep && *link; ++i) link = &(*link)->next;
    dropped = std::move(*link);
  }
  std::size_t count = 0;
  while (dropped) {
    log_located(error->category, VL_LOG_ERROR, *dropped, false);
    dropped = std::move(dropped->next);
    ++count;
  }
  return count;
}

void vl_error_backtrace(FILE* stream) {
  VlError* error = thread_error();
  std::unique_ptr<VlErrorEntry> entry = error ? pop(*error) : nullptr;
  if (!entry) {
    VL_LOG(vl_log_general(), VL_LOG_WARN, "Empty VlError object, so there is nothing to log here!");
    return;
  }
  if (!stream) {
    log_located(error->category, VL_LOG_ERROR, *entry, false);
    log_entries(*error);
    return;
  }
  for (; entry; entry = pop(*error)) {
    char reason[256];
    std::fprintf(stream, "Error in file %s, line %i - %s:%s", entry->file, entry->line, entry->text,
                 vl_strerror(entry->code, reason, sizeof reason));
  }
}

json_t* vl_error_encode() {
  json_t* array = json_array();
  VlError* error = thread_error();
  if (!array || !error) return array;
  while (std::unique_ptr<VlErrorEntry> entry = pop(*error)) json_array_append_new(array, entry_value(*entry));
  return array;
}

int vl_error_decode(const json_t* array) {
  const std::size_t count = json_array_size(array);
  if (count == 0) return -1;
  // Last element first, so that popping yields the array's order.
  for (std::size_t i = count; i-- > 0;) {
    int line = 0;
    int code = 0;
    const char* file = nullptr;
    const char* text = nullptr;
    if (json_unpack(json_array_get(array, i), "{s:i, s:s, s:i, s:s}", "line", &line, "file", &file, "type", &code,
                    "text", &text) != 0)
      continue;
    std::unique_ptr<VlErrorEntry> entry = make_entry(line, file, code);
    if (!entry) continue;
    std::snprintf(entry->text, sizeof entry->text, "%s", text);
    push_or_log(std::move(entry));
  }
  return 0;
}
