#include "vlipc/vlipc_handlers.h"

#include "vlipc/vlipc_audio.h"
#include "vlipc/vlipc_event.h"
#include "vlipc/vlipc_init.h"
#include "vlipc/vlipc_log.h"
#include "vlipc/vlipc_ptp.h"
#include "vlipc/vlipc_sap.h"
#include "vlipc/vlipc_session.h"
#include "vlipc/vlipc_stream.h"

void vlipc_register_handlers() {
  vlipc_init_register();
  vlipc_session_register();
  vlipc_stream_register();
  vlipc_audio_register();
  vlipc_log_register();
  vlipc_ptp_register();
  vlipc_event_register();
  vlipc_sap_register();
}
