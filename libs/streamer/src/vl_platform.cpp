#include "streamer/vl_platform.h"

#include "generator_analyzer/vl_analyzer.h"
#include "generator_analyzer/vl_generator.h"
#include "linuxptp/vl_linuxptp.h"
#include "rtaudioifc/rtaudio_buffer.h"
#include "rtp_sw/vl_rtpsw_hooks.h"
#include "vl/vl_posix_ptp.h"
#include "vl/vl_ptp.h"
#include "vlsys/vl_log.h"
#include "vlsys/vl_time.h"

#include <string>

namespace {

std::string ptp_socket = vl_linuxptp_default_socket;

}  // namespace

void vl_platform_set_ptp_socket(const char* path) { ptp_socket = path ? path : ""; }

int vl_platform_init() {
  int rc = vl_time_init();
  if (rc != 0) {
    VL_LOG(vl_log_general(), VL_LOG_ERROR, "vl_time_init failed, error = %d!", rc);
    return rc;
  }
  rc = vl_ptp_init();
  if (rc != 0) {
    VL_LOG(vl_log_general(), VL_LOG_ERROR, "vl_ptp_init failed, error = %d!", rc);
    vl_time_exit();
    return rc;
  }
  vl_linuxptp_select(ptp_socket.c_str());
  vl_rtaudioifc_init();
  vl_generator_init();
  vl_analyzer_init();
  vl_rtp_sw_install();
  return 0;
}

void imp_ptp_exit() {
  vl_linuxptp_exit();
  vl_posix_ptp_exit();
}

void vl_platform_exit() {
  vl_analyzer_exit();
  vl_generator_exit();
  vl_rtaudioifc_exit();
  imp_ptp_exit();
  vl_ptp_exit();
  vl_time_exit();
}
