#include "vlipc/vlipc_handlers.h"

#include "vlipc/vlipc_event.h"
#include "vlipc/vlipc_init.h"
#include "vlipc/vlipc_session.h"
#include "vlipc/vlipc_stream.h"

void vlipc_register_handlers() {
  vlipc_init_register();
  vlipc_session_register();
  vlipc_stream_register();
  vlipc_event_register();
}
