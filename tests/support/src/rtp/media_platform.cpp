#include "vltest/media_platform.h"

#include "generator_analyzer/vl_analyzer.h"
#include "generator_analyzer/vl_generator.h"
#include "rtcp/rtcp_init.h"
#include "rtp_sw/vl_rtpsw_hooks.h"
#include "vl/vl_posix_ptp.h"
#include "vl/vl_ptp.h"

namespace vltest {

MediaPlatform::MediaPlatform() {
  vl_ptp_init();
  vl_posix_ptp_init();
  vl_generator_init();
  vl_analyzer_init();
  vl_rtp_sw_install();
  vl_rtcp_init(nullptr);
}

MediaPlatform::~MediaPlatform() {
  vl_rtcp_session_init = nullptr;
  vl_rtcp_session_release = nullptr;
  vl_rtcp_send_report = nullptr;
  vl_rtp_sw_uninstall();
  vl_analyzer_exit();
  vl_generator_exit();
  vl_posix_ptp_exit();
  vl_ptp_exit();
}

VlDevice* make_device(const char* interface_name) {
  VlDevice* device = vl_device_ctor(nullptr);
  if (device && (!vl_network_interface_update(device, interface_name) || vl_device_audio_init(device) != 0)) {
    vl_device_dtor(device);
    device = nullptr;
  }
  return device;
}

}  // namespace vltest
