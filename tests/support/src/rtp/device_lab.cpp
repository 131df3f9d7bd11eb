#include "vltest/device_lab.h"

#include "generator_analyzer/vl_analyzer.h"
#include "generator_analyzer/vl_generator.h"
#include "rtcp/rtcp_init.h"
#include "rtp_sw/vl_rtpsw_recv.h"
#include "rtp_sw/vl_rtpsw_send.h"
#include "vl/vl_posix_ptp.h"
#include "vl/vl_ptp.h"
#include "vl/vl_rtp_factory.h"

#include <algorithm>

namespace vltest {

DeviceLab::DeviceLab(NetLab::FirstLink first_link) : net_(first_link) {
  vl_ptp_init();
  vl_posix_ptp_init();
  vl_generator_init();
  vl_analyzer_init();
  vl_rtp_software_send_init = vl_rtp_sw_send_init;
  vl_rtp_software_send_done = vl_rtp_sw_send_done;
  vl_rtp_software_recv_init = vl_rtp_sw_recv_init;
  vl_rtp_software_recv_done = vl_rtp_sw_recv_done;
  vl_rtcp_init(nullptr);
}

DeviceLab::~DeviceLab() {
  for (VlDevice* device : devices_) vl_device_dtor(device);
  vl_rtcp_session_init = nullptr;
  vl_rtcp_session_release = nullptr;
  vl_rtcp_send_report = nullptr;
  vl_rtp_software_send_init = vl_rtp_send_init_default;
  vl_rtp_software_send_done = vl_rtp_send_done_default;
  vl_rtp_software_recv_init = vl_rtp_recv_init_default;
  vl_rtp_software_recv_done = vl_rtp_recv_done_default;
  vl_analyzer_exit();
  vl_generator_exit();
  vl_posix_ptp_exit();
  vl_ptp_exit();
}

VlDevice* DeviceLab::make_device(NetLab::Host host, const char* interface_name) {
  VlDevice* device = nullptr;
  net_.run_in(host, [&] {
    device = vl_device_ctor(nullptr);
    const char* name = interface_name ? interface_name : NetLab::link_device[host];
    if (device && (!vl_network_interface_update(device, name) || vl_device_audio_init(device) != 0)) {
      vl_device_dtor(device);
      device = nullptr;
    }
  });
  if (device) devices_.push_back(device);
  return device;
}

void DeviceLab::destroy(VlDevice* device) {
  devices_.erase(std::remove(devices_.begin(), devices_.end(), device), devices_.end());
  vl_device_dtor(device);
}

VlAudioDevice* DeviceLab::reserve(VlDevice* device, const char* name) {
  json_t* configuration = json_pack("{s:i}", "audioBlockSize", 1024);
  VlAudioDevice* record = vl_audio_device_lock(vl_device_audio_find(device, name), configuration);
  json_decref(configuration);
  return record;
}

}  // namespace vltest
