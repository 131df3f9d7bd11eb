#include "vl/vl_sap.h"

#include "sap/sap_directory.h"
#include "vl/vl_device.h"
#include "vlsys/vl_log.h"
#include "vlsys/vl_socket.h"

#include <arpa/inet.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

namespace {

std::string interface_name(const VlNetworkInterface& node) {
  return std::string(node.entry.name, strnlen(node.entry.name, sizeof node.entry.name));
}

std::string interface_address(const VlNetworkInterface& node) { return VlDottedAddress(node.entry.addr).text; }

// Only interfaces that carry streams take part in SAP, so nothing is ever
// announced or joined on another one.
std::vector<VlSapInterface> streaming_interfaces(const VlDevice* device) {
  std::vector<VlSapInterface> interfaces;
  for (const VlNetworkInterface* node = device->interfaces.get(); node; node = node->next.get()) {
    if (node->send_manager || node->recv_manager)
      interfaces.push_back({interface_name(*node), interface_address(*node)});
  }
  return interfaces;
}

}  // namespace

void VlSapAnnouncement::start(VlSapAnnouncer* announcer, VlSapStreamId id) {
  reset();
  announcer_ = announcer;
  id_ = id;
}

void VlSapAnnouncement::reset() {
  if (active()) announcer_->remove(id_);
  announcer_ = nullptr;
  id_ = 0;
}

bool VlSapAnnouncement::set_enabled(bool enabled) { return active() && announcer_->set_enabled(id_, enabled); }

void vl_sap_start(VlDevice* device) {
  const std::vector<VlSapInterface> interfaces = streaming_interfaces(device);
  if (interfaces.empty()) return;
  device->sap_directory = VlSapDirectory::create(interfaces);
  if (!device->sap_directory)
    VL_LOG(vl_log_general(), VL_LOG_ERROR, "Could not listen for SAP announcements: streams are not discovered!");
  device->sap_announcer = VlSapAnnouncer::create();
  if (!device->sap_announcer)
    VL_LOG(vl_log_general(), VL_LOG_ERROR, "Could not start the SAP announcer: senders are not announced!");
}

void vl_sap_stop(VlDevice* device) {
  if (device->sap_announcer) device->sap_announcer->stop();
  device->sap_directory.reset();
}

int vl_sap_announce(VlDevice* device, VlSession* session) {
  VlStreamSender* sender = vl_session_get_sender(session);
  const VlNetworkInterface* node = session ? session->interface : nullptr;
  if (!device->sap_announcer || !sender || !node || !node->send_manager) return 0;
  const int ttl = vl_stream_ttl(sender);
  const VlSapStreamConfig config{interface_name(*node),       interface_address(*node),
                                 vl_stream_sdp(sender),        static_cast<uint8_t>(ttl > 0 ? ttl : 1),
                                 vl_stream_sender_dscp(sender), sender->sap_enabled()};
  const VlSapStreamId id = device->sap_announcer->add(config);
  if (id == 0) {
    char text[256];
    VL_LOG(vl_log_general(), VL_LOG_WARN, "Could not announce the sender of session %s:%i: %s", session->id.address,
           session->id.port, vl_strerror(errno, text, sizeof text));
    return -1;
  }
  sender->sap_announcement().start(device->sap_announcer.get(), id);
  return 0;
}

int vl_sap_set_enabled(VlSession* session, bool enabled) {
  VlStreamSender* sender = vl_session_get_sender(session);
  if (!sender) {
    errno = ENOENT;
    return -1;
  }
  sender->set_sap_enabled(enabled);
  sender->sap_announcement().set_enabled(enabled);
  return 0;
}

json_t* vl_sap_list_encode(const VlDevice* device) {
  if (!device->sap_directory) return json_array();
  return device->sap_directory->list_encode();
}
