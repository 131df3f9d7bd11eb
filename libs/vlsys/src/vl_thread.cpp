#include "vlsys/vl_thread.h"

#include "vlsys/log4c_thread.h"

#include <cerrno>
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <new>

vl_thread* vl_thread_ctor(vl_thread* thread, vl_thread_start start, const char* name, void* argument) {
  vl_thread* target = thread ? thread : new (std::nothrow) vl_thread;
  if (!target) {
    errno = ENOMEM;
    return nullptr;
  }
  target->start = start;
  target->argument = argument;
  target->name = name;
  const int rc = pthread_create(&target->handle, nullptr, vl_thread_func, target);
  if (rc != 0) {
    if (!thread) delete target;
    errno = rc;
    return nullptr;
  }
  return target;
}

void* vl_thread_func(void* record) {
  auto* thread = static_cast<vl_thread*>(record);
  char name[vl_thread_name_capacity];
  std::snprintf(name, vl_thread_name_capacity - 1, "%s", thread->name ? thread->name : "");
  log4c_thread_setname(name);
  // The kernel's name (15 characters) makes the thread visible to ps and top.
  char kernel_name[16] = {};
  std::memcpy(kernel_name, name, std::min(std::strlen(name), sizeof kernel_name - 1));
  if (kernel_name[0] != '\0') pthread_setname_np(pthread_self(), kernel_name);
  void* result = thread->start(thread->argument);
  return result;
}

const char* vl_thread_getname() { return log4c_thread_getname(); }

void vl_thread_setname(const char* name) { log4c_thread_setname(name); }
