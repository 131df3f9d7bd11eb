// Devices as start-up makes them, in the hosts of a network lab: the
// software RTP engine on each host's streaming interface, RTCP for their
// sessions, and the test generators and analyzers as audio devices.
//
//   vltest::DeviceLab lab;
//   ASSERT_TRUE(lab.ok()) << lab.net().error();
//   VlDevice* a = lab.make_device(vltest::NetLab::A);   // streams on veth0
//   VlAudioDevice* ramp = lab.reserve(a, "GeneratorRamp");
//   lab.run_in(vltest::NetLab::A, [&] { ... sessions and streams of `a` ... });
//
// Calls that open sockets (sessions, streams) run inside their host. Devices
// are destroyed with the lab, or earlier with destroy().
#pragma once

#include "vl/vl_device.h"
#include "vltest/media_platform.h"
#include "vltest/netlab.h"
#include "vltest/temp_home.h"

#include <functional>
#include <vector>

namespace vltest {

class DeviceLab {
 public:
  explicit DeviceLab(NetLab::FirstLink first_link = NetLab::with_first_link);
  ~DeviceLab();
  DeviceLab(const DeviceLab&) = delete;
  DeviceLab& operator=(const DeviceLab&) = delete;

  bool ok() const { return net_.ok(); }
  NetLab& net() { return net_; }
  const TempHome& home() const { return home_; }

  // A device scanned in `host` with `interface_name` (null: the host's first
  // link) streaming, and its audio devices listed; null on failure.
  VlDevice* make_device(NetLab::Host host, const char* interface_name = nullptr);
  void destroy(VlDevice* device);
  // Reserves the audio device `name` of `device` with a 1024-frame block;
  // null on failure.
  VlAudioDevice* reserve(VlDevice* device, const char* name);
  void run_in(NetLab::Host host, const std::function<void()>& fn) const { net_.run_in(host, fn); }

 private:
  MediaPlatform platform_;  // made first, gone last
  NetLab net_;
  TempHome home_;
  std::vector<VlDevice*> devices_;
};

}  // namespace vltest
