#include "vlipc/vlipc_handlers.h"

#include "vlipc/vlipc_event.h"

void vlipc_register_handlers() { vlipc_event_register(); }
