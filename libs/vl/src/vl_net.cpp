#include "vl/vl_net.h"

#include "vl/vl_device.h"
#include "vlsys/vl_log.h"
#include "vlsys/vl_socket.h"
#include "vlutil/vl_json.h"
#include "vlutil/vl_json_ref.h"

#include <arpa/inet.h>
#include <netinet/in.h>

#include <cerrno>
#include <cstring>
#include <new>
#include <string>
#include <vector>

namespace {

constexpr std::size_t mac_size = sizeof(vl_host_iface::mac);

// The init and done hooks of one RTP engine.
struct RtpEngine {
  vl_rtp_send_init_fn send_init;
  vl_rtp_send_done_fn send_done;
  vl_rtp_recv_init_fn recv_init;
  vl_rtp_recv_done_fn recv_done;
};

// Read when used: platform start-up sets the software hooks.
RtpEngine hardware_engine() {
  return {vl_rtp_hardware_send_init, vl_rtp_hardware_send_done, vl_rtp_hardware_recv_init, vl_rtp_hardware_recv_done};
}
RtpEngine software_engine() {
  return {vl_rtp_software_send_init, vl_rtp_software_send_done, vl_rtp_software_recv_init, vl_rtp_software_recv_done};
}

const char* key(vl_json_key_index index) { return vl_json_keys[index].name; }

bool same_entry(const vl_host_iface& a, const vl_host_iface& b) {
  return std::strncmp(a.name, b.name, vl_iface_name_size) == 0 && a.addr == b.addr && a.mask == b.mask &&
         a.gateway == b.gateway && a.addr_mode == b.addr_mode && std::memcmp(a.mac, b.mac, mac_size) == 0 &&
         a.ifindex == b.ifindex;
}

// Same name, and the MAC addresses equal as strings of at most 6 bytes.
bool same_interface(const vl_host_iface& a, const vl_host_iface& b) {
  return std::strncmp(a.name, b.name, vl_iface_name_size) == 0 &&
         std::strncmp(reinterpret_cast<const char*>(a.mac), reinterpret_cast<const char*>(b.mac), mac_size) == 0;
}

VlNetworkInterface* find_same(VlNetworkInterface* list, const vl_host_iface& entry) {
  for (VlNetworkInterface* node = list; node; node = node->next.get())
    if (same_interface(node->entry, entry)) return node;
  return nullptr;
}

// Updates the known node of the same interface, or puts a new node at the head.
void network_interface_add(std::unique_ptr<VlNetworkInterface>& head, const vl_host_iface& entry, uint8_t type) {
  if (VlNetworkInterface* known = find_same(head.get(), entry)) {
    if (same_entry(known->entry, entry) && known->type == type) {
      VL_LOG(vl_log_general(), VL_LOG_WARN, "Ignoring already known network interface %.16s.", entry.name);
      return;
    }
    VL_LOG(vl_log_general(), VL_LOG_WARN, "Reusing old NIC entry %.16s: addr %s -> %s; mask %s -> %s; type %i -> %i",
           entry.name, VlDottedAddress(known->entry.addr).text, VlDottedAddress(entry.addr).text,
           VlDottedAddress(known->entry.mask).text, VlDottedAddress(entry.mask).text, known->type, type);
    known->entry = entry;
    known->type = type;
    return;
  }
  std::unique_ptr<VlNetworkInterface> node(new (std::nothrow) VlNetworkInterface);
  if (!node) {
    VL_LOG(vl_log_general(), VL_LOG_FATAL, "Could not allocate memory for new network interface!");
    return;
  }
  VL_LOG(vl_log_general(), VL_LOG_INFO, "Adding interface %.16s, address %s, subnet %s, type %i!", entry.name,
         VlDottedAddress(entry.addr).text, VlDottedAddress(entry.mask).text, type);
  node->entry = entry;
  node->type = type;
  node->next = std::move(head);
  head = std::move(node);
}

// Only named interfaces with an address, a mask and a streaming type are listed.
bool is_listable(const vl_host_iface& entry, uint8_t type) {
  return entry.name[0] != '\0' && entry.addr != 0 && entry.mask != 0 && type != vl_nic_type_none;
}

// A "vn" NIC is hardware; the first scanned one and the named one are software.
uint8_t scanned_type(const vl_host_iface& entry, std::size_t position, const char* name) {
  if (std::strncmp(entry.name, "vn", 2) == 0) return vl_nic_type_hardware;
  if (position == 0 || (name && std::strncmp(entry.name, name, vl_iface_name_size) == 0)) return vl_nic_type_software;
  return vl_nic_type_none;
}

// Gives the node both managers of `engine`, or none (what was made is
// released again).
bool make_managers(VlNetworkInterface& node, const RtpEngine& engine) {
  VlSendmgr* send = engine.send_init();
  VlRecvmgr* recv = engine.recv_init();
  if (send && recv) {
    node.send_manager = send;
    node.recv_manager = recv;
    node.send_done = engine.send_done;
    node.recv_done = engine.recv_done;
    return true;
  }
  if (send) engine.send_done(send);
  if (recv) engine.recv_done(recv);
  return false;
}

void set_up_managers(VlNetworkInterface& node) {
  node.release_managers();
  bool served = (node.type & vl_nic_type_hardware) && make_managers(node, hardware_engine());
  if (!served && (node.type & vl_nic_type_software)) served = make_managers(node, software_engine());
  if (served) return;
  VL_LOG(vl_log_general(), VL_LOG_WARN,
         "There is no RTP implementation for NIC %.16s, so this interface wont be capable for audio streaming!",
         node.entry.name);
  node.type = vl_nic_type_none;
}

// The host's interfaces in its order, loopback excluded; empty when there
// are none or the scan fails.
std::vector<vl_host_iface> scan_host() {
  const int count = vl_get_num_network_ifaces();
  if (count <= 0) return {};
  std::vector<vl_host_iface> entries(static_cast<std::size_t>(count));
  const int filled = vl_get_network_ifaces(count, entries.data());
  entries.resize(filled > 0 ? static_cast<std::size_t>(filled) : 0);
  return entries;
}

// The entry and type of one element of an encoded list.
void decode_member(const char* name, json_t* value, vl_host_iface& entry, uint8_t& type, bool& name_fits) {
  switch (vl_json_key("VlNetwork", name, value)) {
    case VL_KEY_NETWORK_INTERFACE_NAME: {
      const char* text = json_string_value(value);
      name_fits = std::strlen(text) <= vl_iface_name_max;
      if (name_fits) std::memcpy(entry.name, text, std::strlen(text) + 1);
      break;
    }
    case VL_KEY_NETWORK_INTERFACE_MAC:
      vl_network_interface_mac_decode(entry.mac, value);
      break;
    case VL_KEY_NETWORK_INTERFACE_ADDR:
      entry.addr = static_cast<uint32_t>(json_integer_value(value));
      break;
    case VL_KEY_NETWORK_INTERFACE_MASK:
      entry.mask = static_cast<uint32_t>(json_integer_value(value));
      break;
    case VL_KEY_NETWORK_INTERFACE_TYPE:
      type = static_cast<uint8_t>(json_integer_value(value));
      break;
    default:
      break;
  }
}

json_t* encode_node(const VlNetworkInterface& node) {
  const std::string name(node.entry.name, strnlen(node.entry.name, vl_iface_name_size));
  return json_pack("{s:s, s:o, s:I, s:I, s:i}", key(VL_KEY_NETWORK_INTERFACE_NAME), name.c_str(),
                   key(VL_KEY_NETWORK_INTERFACE_MAC), vl_network_interface_mac_encode(node.entry.mac),
                   key(VL_KEY_NETWORK_INTERFACE_ADDR), static_cast<json_int_t>(node.entry.addr),
                   key(VL_KEY_NETWORK_INTERFACE_MASK), static_cast<json_int_t>(node.entry.mask),
                   key(VL_KEY_NETWORK_INTERFACE_TYPE), static_cast<int>(node.type));
}

}  // namespace

VlNetworkInterface::~VlNetworkInterface() {
  next.reset();
  release_managers();
}

void VlNetworkInterface::release_managers() {
  if (send_manager) send_done(send_manager);
  if (recv_manager) recv_done(recv_manager);
  send_manager = nullptr;
  recv_manager = nullptr;
}

VlNetworkInterface* vl_network_interface_update(VlDevice* device, const char* name) {
  if (!device) {
    errno = EFAULT;
    return nullptr;
  }
  const std::vector<vl_host_iface> entries = scan_host();
  if (entries.empty()) return nullptr;
  for (std::size_t position = 0; position < entries.size(); ++position) {
    const uint8_t type = scanned_type(entries[position], position, name);
    if (is_listable(entries[position], type))
      network_interface_add(device->interfaces, entries[position], type);
    else
      errno = EINVAL;
  }
  for (VlNetworkInterface* node = device->interfaces.get(); node; node = node->next.get()) set_up_managers(*node);
  return device->interfaces.get();
}

void vl_network_interface_release(VlNetworkInterface* node) { delete node; }

bool vl_network_interface_is_streaming_ifc(const VlNetworkInterface* node) {
  return node && (node->type & (vl_nic_type_software | vl_nic_type_hardware)) != 0;
}

VlNetworkInterface* vl_network_interface_find(VlNetworkInterface* list, const char* name) {
  if (!name) return nullptr;
  const std::size_t length = std::strlen(name);
  if (length > vl_iface_name_size) return nullptr;
  for (VlNetworkInterface* node = list; node; node = node->next.get())
    if (strnlen(node->entry.name, vl_iface_name_size) == length && std::memcmp(node->entry.name, name, length) == 0)
      return node;
  return nullptr;
}

json_t* vl_network_interface_encode(const VlNetworkInterface* list) {
  VlJsonRef array(json_array());
  if (!array) return nullptr;
  for (const VlNetworkInterface* node = list; node; node = node->next.get())
    if (json_array_append_new(array.get(), encode_node(*node)) != 0) return nullptr;
  return array.release();
}

VlNetworkInterface* vl_network_interface_decode(const json_t* json) {
  if (!json_is_array(json)) {
    errno = EINVAL;
    return nullptr;
  }
  std::unique_ptr<VlNetworkInterface> head;
  std::size_t index = 0;
  json_t* element = nullptr;
  json_array_foreach(const_cast<json_t*>(json), index, element) {
    if (!json_is_object(element)) continue;
    vl_host_iface entry{};
    uint8_t type = vl_nic_type_none;
    bool name_fits = true;
    const char* name = nullptr;
    json_t* value = nullptr;
    json_object_foreach(element, name, value) decode_member(name, value, entry, type, name_fits);
    if (name_fits && is_listable(entry, type))
      network_interface_add(head, entry, type);
    else
      errno = EINVAL;
  }
  return head.release();
}

json_t* vl_network_interface_mac_encode(const uint8_t* mac) {
  if (!mac) return json_array();
  return json_pack("[i, i, i, i, i, i]", mac[0], mac[1], mac[2], mac[3], mac[4], mac[5]);
}

void vl_network_interface_mac_decode(uint8_t* mac, const json_t* json) {
  if (!mac) return;
  if (!json_is_array(json) || json_array_size(json) < mac_size) {
    std::memset(mac, 0, mac_size);
    return;
  }
  for (std::size_t i = 0; i < mac_size; ++i) mac[i] = static_cast<uint8_t>(json_integer_value(json_array_get(json, i)));
}
