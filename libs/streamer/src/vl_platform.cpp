#include "streamer/vl_platform.h"

#include "vlsys/vl_log.h"
#include "vlsys/vl_time.h"

int vl_platform_init() {
  const int rc = vl_time_init();
  if (rc != 0) {
    VL_LOG(vl_log_general(), VL_LOG_ERROR, "vl_time_init failed, error = %d!", rc);
    return rc;
  }
  return 0;
}

void vl_platform_exit() { vl_time_exit(); }
