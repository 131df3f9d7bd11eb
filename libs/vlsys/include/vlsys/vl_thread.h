// Threads that carry a log name. Joining is done by the owner with
// pthread_join on `handle`.
#pragma once

#include <pthread.h>

#include <cstddef>

using vl_thread_start = void* (*)(void*);

struct vl_thread {
  pthread_t handle;
  vl_thread_start start;
  void* argument;
  const char* name;  // read once by the new thread when it starts
};

inline constexpr std::size_t vl_thread_name_capacity = 128;

// Starts `start(argument)` on a new thread named `name`. Null on failure,
// with the platform's error number in errno.
vl_thread* vl_thread_ctor(vl_thread* thread, vl_thread_start start, const char* name, void* argument);

// Body of every such thread.
void* vl_thread_func(void* record);

const char* vl_thread_getname();
void vl_thread_setname(const char* name);
