#include "vlsys/log4c_thread.h"

#include <pthread.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

pthread_key_t name_key;
pthread_once_t name_key_once = PTHREAD_ONCE_INIT;

void create_name_key() { pthread_key_create(&name_key, std::free); }

}  // namespace

void log4c_thread_setname(const char* name) {
  pthread_once(&name_key_once, create_name_key);
  std::free(pthread_getspecific(name_key));
  pthread_setspecific(name_key, name ? strdup(name) : nullptr);
}

const char* log4c_thread_getname() {
  pthread_once(&name_key_once, create_name_key);
  return static_cast<const char*>(pthread_getspecific(name_key));
}

void log4c_thread_record_name(char* buf, std::size_t len) {
  if (!buf || len == 0) return;
  const std::size_t limit = len - 1 < log4c_thread_name_max ? len - 1 : log4c_thread_name_max;
  if (const char* name = log4c_thread_getname()) {
    std::snprintf(buf, limit + 1, "%s", name);
    return;
  }
  const auto id = static_cast<uint32_t>(pthread_self());
  std::snprintf(buf, limit + 1, "Th%X", static_cast<unsigned>(id));
}
