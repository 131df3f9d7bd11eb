#include "streamer/vl_streamer.h"

#include "rtcp/rtcp_init.h"
#include "streamer/vl_platform.h"
#include "vl/vl_device.h"
#include "vl/vl_device_config.h"
#include "vl/vl_net.h"
#include "vl/vl_ptp.h"
#include "vl/vl_sap.h"
#include "vlsys/host_process.h"
#include "vlsys/vl_log.h"
#include "vlsys/vl_sched.h"
#include "vlsys/vl_socket.h"

#include <cstdio>
#include <new>

namespace {

struct Streamer {
  VlDevice* device = nullptr;
  log4c_category_t* category = nullptr;
};

Streamer* streamer = nullptr;

// Progress text continues a line until the step's outcome is known, so it is
// flushed at once for whoever reads the pipe.
void progress(const char* text) {
  std::fputs(text, stdout);
  std::fflush(stdout);
}

void release_record() {
  delete streamer;
  streamer = nullptr;
}

// Undoes the steps before the device: used by every failure after them.
void abandon_startup() {
  release_record();
  vl_unregister();
  vl_platform_exit();
}

// Ends a start-up that failed once the socket layer was up: the device (if
// made) goes too.
VlDevice* fail_startup(const char* reason) {
  progress(" failed.\n");
  VL_LOG(streamer->category, VL_LOG_FATAL, "%s", reason);
  vl_device_dtor(streamer->device);
  vl_socket_exit();
  abandon_startup();
  return nullptr;
}

}  // namespace

VlDevice* vl_streamer_startup(const char* interface_name) {
  if (streamer) return streamer->device;
  progress("Initializing velanto stuff ... ");
  log4c_category_t* category = vl_log_category("velanto.streamer");
  if (vl_platform_init() < 0) return nullptr;
  vl_register();
  vl_sched_boost_process();

  streamer = new (std::nothrow) Streamer{nullptr, category};
  if (!streamer) {
    abandon_startup();
    return nullptr;
  }
  if (vl_socket_init() < 0) {
    VL_LOG(category, VL_LOG_FATAL, "Could not initialize VELANTO sockets!");
    abandon_startup();
    return nullptr;
  }
  streamer->device = vl_device_ctor(nullptr);
  if (!streamer->device) return fail_startup("Could not initialize VELANTO device!");
  if (!vl_network_interface_update(streamer->device, interface_name))
    return fail_startup("Could not find any network interfaces for VELANTO!");
  vl_sap_start(streamer->device);
  vl_ptp_poll(streamer->device);
  if (vl_device_audio_init(streamer->device) < 0) {
    progress(" failed.\n");
    VL_LOG(category, VL_LOG_FATAL, "No audio devices for VELANTO found!\n");
    vl_streamer_shutdown(streamer->device);
    return nullptr;
  }
  vl_rtcp_init(streamer->device);
  progress(" success.\n");
  return streamer->device;
}

void vl_streamer_shutdown(VlDevice* device) {
  progress("Cleaning up all velanto stuff ...");
  if (!streamer) return;
  if (!streamer->device || streamer->device != device) {
    progress(" failure\n");
    VL_LOG(streamer->category, VL_LOG_ERROR, "Invalid velanto device to release!");
    return;
  }
  // Deletions go out for every announced sender before the sessions go.
  vl_sap_stop(device);
  vl_device_del_sessions(device);
  vl_ptp_poll(nullptr);
  vl_device_dtor(streamer->device);
  streamer->device = nullptr;
  vl_socket_exit();
  release_record();
  vl_unregister();
  vl_platform_exit();
  progress(" done!\n");
}

int vl_streamer_load(VlDevice* device, const char* path) {
  if (!device) return vl_device_load_configuration(device, path);
  VlLock lock(device->control_lock);
  return vl_device_load_configuration(device, path);
}

int vl_streamer_save(VlDevice* device, const char* path) {
  if (!device) return -1;
  VlLock lock(device->control_lock);
  return vl_device_save_configuration(device, path);
}
