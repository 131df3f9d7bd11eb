#include "vlipc/vlipc_handlers.h"

#include "vlipc/vlipc_audio.h"
#include "vlipc/vlipc_event.h"
#include "vlipc/vlipc_log.h"
#include "vlipc/vlipc_ptp.h"

void vlipc_register_handlers() {
  vlipc_event_register();
  vlipc_audio_register();
  vlipc_log_register();
  vlipc_ptp_register();
}
