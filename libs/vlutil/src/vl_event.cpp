#include "vlutil/vl_event.h"

#include "vlsys/vl_condition.h"
#include "vlsys/vl_thread.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <new>
#include <string>
#include <string_view>
#include <vector>

namespace {

struct Handler {
  int32_t event_id = 0;
  std::string originator;
  vl_event_callback callback = nullptr;
  // Pending events, newest at the back: delivery takes the most recent first.
  std::vector<json_t*> queue;
  vl_mutex mutex{};
  vl_condition cond{};
  bool stop_requested = false;
  vl_thread thread{};
  char thread_name[256] = {};
  Handler* prev = nullptr;
  Handler* next = nullptr;
};

// The guard serialises changes of the list and walks over it, so that a
// publisher never meets a handler being freed.
vl_mutex list_guard = {PTHREAD_MUTEX_INITIALIZER};
Handler* list_head = nullptr;

// Originators are kept cut to their limit, so a longer name given again
// finds its handler by the part that was kept.
Handler* find_locked(int32_t event_id, const char* originator) {
  if (!originator) return nullptr;
  const std::string_view kept(originator, strnlen(originator, vl_event_originator_max));
  for (Handler* h = list_head; h; h = h->next)
    if (h->event_id == event_id && h->originator == kept) return h;
  return nullptr;
}

// False when nothing is pending; `data` may be null for an event without data.
bool take_newest(Handler* h, json_t*& data) {
  VlLock lock(h->mutex);
  if (h->queue.empty()) return false;
  data = h->queue.back();
  h->queue.pop_back();
  return true;
}

void notify(const Handler* h, json_t* data) {
  json_t* notification = json_object();
  json_object_set_new(notification, "event_id", json_integer(h->event_id));
  json_object_set_new(notification, "event_originator", json_string(h->originator.c_str()));
  if (data) json_object_set_new(notification, "event_data", data);
  h->callback(notification);
  json_decref(notification);
}

// Delivers until the queue is empty, including events queued meanwhile.
void deliver(Handler* h) {
  json_t* data = nullptr;
  while (take_newest(h, data)) notify(h, data);
}

bool wait_for_events(Handler* h) {
  VlLock lock(h->mutex);
  while (h->queue.empty() && !h->stop_requested) pthread_cond_wait(&h->cond.handle, &h->mutex.handle);
  return !h->stop_requested;
}

void* publisher_thread(void* argument) {
  auto* h = static_cast<Handler*>(argument);
  while (wait_for_events(h)) deliver(h);
  return nullptr;
}

void unlink_locked(Handler* h) {
  if (h->prev) h->prev->next = h->next;
  else list_head = h->next;
  if (h->next) h->next->prev = h->prev;
}

// Releases a handler whose thread is not running.
void discard(Handler* h) {
  vl_condition_dtor(&h->cond);
  vl_mutex_dtor(&h->mutex);
  delete h;
}

void destroy(Handler* h) {
  {
    VlLock lock(h->mutex);
    h->stop_requested = true;
    pthread_cond_signal(&h->cond.handle);
  }
  pthread_join(h->thread.handle, nullptr);
  deliver(h);
  discard(h);
}

Handler* create(int32_t event_id, const char* originator, vl_event_callback callback) {
  auto* h = new (std::nothrow) Handler;
  if (!h) return nullptr;
  h->event_id = event_id;
  h->originator.assign(originator, strnlen(originator, vl_event_originator_max));
  h->callback = callback;
  if (!vl_mutex_ctor(&h->mutex)) {
    delete h;
    return nullptr;
  }
  if (!vl_condition_ctor(&h->cond)) {
    vl_mutex_dtor(&h->mutex);
    delete h;
    return nullptr;
  }
  std::snprintf(h->thread_name, sizeof h->thread_name, "%s_event_%i", h->originator.c_str(),
                static_cast<int>(event_id));
  return h;
}

}  // namespace

void vl_event_init() {}

void vl_event_exit() {
  for (;;) {
    Handler* head = nullptr;
    {
      VlLock lock(list_guard);
      head = list_head;
      if (head) unlink_locked(head);
    }
    if (!head) return;
    destroy(head);
  }
}

int vl_event_hdl_register(int32_t event_id, const char* originator, vl_event_callback callback,
                          bool exclusive) {
  if (!originator || !callback) {
    errno = EINVAL;
    return -1;
  }
  Handler* h = create(event_id, originator, callback);
  if (!h) return -1;
  VlLock lock(list_guard);
  if (exclusive && find_locked(event_id, h->originator.c_str())) {
    discard(h);
    errno = EEXIST;
    return -1;
  }
  if (!vl_thread_ctor(&h->thread, publisher_thread, h->thread_name, h)) {
    const int err = errno;
    discard(h);
    errno = err;
    return -1;
  }
  h->next = list_head;
  if (list_head) list_head->prev = h;
  list_head = h;
  return 0;
}

void vl_event_hdl_unregister(int32_t event_id, const char* originator) {
  Handler* h = nullptr;
  {
    VlLock lock(list_guard);
    h = find_locked(event_id, originator);
    if (h) unlink_locked(h);
  }
  if (h) destroy(h);
}

bool vl_event_is_registered(int32_t event_id, const char* originator) {
  VlLock lock(list_guard);
  return find_locked(event_id, originator) != nullptr;
}

int vl_event_publish(int32_t event_id, json_t* data) {
  int queued = 0;
  VlLock lock(list_guard);
  for (Handler* h = list_head; h; h = h->next) {
    if (h->event_id != event_id) continue;
    VlLock handler_lock(h->mutex);
    try {
      h->queue.push_back(json_incref(data));
    } catch (const std::bad_alloc&) {
      json_decref(data);  // not queued for this handler
      continue;
    }
    pthread_cond_signal(&h->cond.handle);
    ++queued;
  }
  return queued > 0 ? 0 : -1;
}
