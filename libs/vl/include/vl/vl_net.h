// The host's IPv4 network interfaces that may carry audio streams, each with
// the send and receive manager that serve it.
//
// Threads and ownership: the device owns the list. The main thread builds it
// at start-up (vl_network_interface_update) and releases it with the device
// at shutdown; in between it is only read (sessions bind to nodes by name,
// clients get it encoded, the PTP poller asks the managers to resync), so it
// has no lock. A node owns its two managers and every node behind it.
#pragma once

#include "vl/vl_recvmgr.h"
#include "vl/vl_rtp_factory.h"
#include "vl/vl_sendmgr.h"
#include "vlsys/host_network.h"

#include <jansson.h>

#include <cstdint>
#include <memory>

class VlDevice;

// Node types. Bit 0 and bit 1 are tested separately.
inline constexpr uint8_t vl_nic_type_none = 0;      // not capable of streaming
inline constexpr uint8_t vl_nic_type_software = 1;  // served by the software RTP engine
inline constexpr uint8_t vl_nic_type_hardware = 2;  // a "vn" NIC, served by the hardware hooks

// Interface names are at most this long (the kernel's limit).
inline constexpr std::size_t vl_iface_name_max = vl_iface_name_size - 1;

struct VlNetworkInterface {
  VlNetworkInterface() = default;
  // Releases the nodes behind this one first, then its own managers.
  ~VlNetworkInterface();
  VlNetworkInterface(const VlNetworkInterface&) = delete;
  VlNetworkInterface& operator=(const VlNetworkInterface&) = delete;

  // Releases the managers through the done hooks of the engine that made them.
  void release_managers();

  vl_host_iface entry{};
  uint8_t type = vl_nic_type_none;
  // Both present, or both null.
  VlSendmgr* send_manager = nullptr;
  VlRecvmgr* recv_manager = nullptr;
  // How the managers go again: the done hooks matching the init hooks that
  // made them.
  vl_rtp_send_done_fn send_done = nullptr;
  vl_rtp_recv_done_fn recv_done = nullptr;
  std::unique_ptr<VlNetworkInterface> next;
};

// Scans the host and (re)builds the device's list: the first scanned
// interface, the one named `name` (null: none) and every "vn" interface, each
// with fresh managers. Returns the list head, or null when the host has no
// interfaces or the list is empty.
VlNetworkInterface* vl_network_interface_update(VlDevice* device, const char* name);

// Releases `node` and every node behind it, with their managers.
void vl_network_interface_release(VlNetworkInterface* node);

bool vl_network_interface_is_streaming_ifc(const VlNetworkInterface* node);

// The node named `name`, or null.
VlNetworkInterface* vl_network_interface_find(VlNetworkInterface* list, const char* name);

// New JSON array with one object per node in list order (empty for none).
json_t* vl_network_interface_encode(const VlNetworkInterface* list);
// A new list (without managers) from such an array, in reverse array order;
// null (errno EINVAL) when `json` is not an array. Entries without a name, a
// name longer than vl_iface_name_max, no address, no mask or type 0 are
// skipped.
VlNetworkInterface* vl_network_interface_decode(const json_t* json);

// The 6 bytes as a JSON array; an empty array for null.
json_t* vl_network_interface_mac_encode(const uint8_t* mac);
// Copies 6 integers of an array of at least 6, else zeroes `mac`.
void vl_network_interface_mac_decode(uint8_t* mac, const json_t* json);
