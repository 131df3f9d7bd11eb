// Numbered events under an originator name. Each handler has a publisher
// thread of its own that delivers queued events to its callback as
// {"event_id", "event_originator", "event_data"} notifications.
#pragma once

#include <jansson.h>

#include <cstdint>

// The notification is valid for the call only.
using vl_event_callback = void (*)(json_t* notification);

inline constexpr int vl_event_originator_max = 126;

void vl_event_init();
// Unregisters every handler.
void vl_event_exit();

// 0, or -1 (errno EEXIST for an exclusive duplicate).
int vl_event_hdl_register(int32_t event_id, const char* originator, vl_event_callback callback,
                          bool exclusive);
// Removes the first matching handler; events still queued are delivered on
// the calling thread before it returns.
void vl_event_hdl_unregister(int32_t event_id, const char* originator);
bool vl_event_is_registered(int32_t event_id, const char* originator);

// Queues `data` (a new reference each; may be null) for every handler of
// the id. 0 when at least one handler got it, else -1.
int vl_event_publish(int32_t event_id, json_t* data);
