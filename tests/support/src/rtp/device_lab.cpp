#include "vltest/device_lab.h"

#include <algorithm>

namespace vltest {

DeviceLab::DeviceLab(NetLab::FirstLink first_link) : net_(first_link) {}

DeviceLab::~DeviceLab() {
  for (VlDevice* device : devices_) vl_device_dtor(device);
}

VlDevice* DeviceLab::make_device(NetLab::Host host, const char* interface_name) {
  VlDevice* device = nullptr;
  net_.run_in(host, [&] { device = vltest::make_device(interface_name ? interface_name : NetLab::link_device[host]); });
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
