// The device's part in SAP: every sender stream is announced on its
// session's interface (unless switched off), and what other devices
// announce on the streaming interfaces is listed.
//
// Threads and ownership: the device owns the announcer and the directory
// (libs/sap, each with its thread). They are made once the interfaces are
// scanned and stopped before the sessions go at shutdown; everything here
// runs on the control path (under the device's control lock, or at start-up
// and shutdown). A sender owns its VlSapAnnouncement: when the sender is
// destroyed, the announcement is withdrawn with a deletion packet.
#pragma once

#include "sap/sap_announcer.h"

#include <jansson.h>

class VlDevice;
class VlSession;

// One stream's place in the announcer; empty until started.
class VlSapAnnouncement {
 public:
  VlSapAnnouncement() = default;
  ~VlSapAnnouncement() { reset(); }
  VlSapAnnouncement(const VlSapAnnouncement&) = delete;
  VlSapAnnouncement& operator=(const VlSapAnnouncement&) = delete;

  void start(VlSapAnnouncer* announcer, VlSapStreamId id);
  // Withdraws the announcement (a deletion when it was on).
  void reset();
  bool active() const { return announcer_ && id_; }
  // Switches an active announcement on or off; false when there is none.
  bool set_enabled(bool enabled);

 private:
  VlSapAnnouncer* announcer_ = nullptr;
  VlSapStreamId id_ = 0;
};

// Starts the directory on the device's streaming interfaces and the
// announcer. Failures are logged; the daemon then runs without SAP.
void vl_sap_start(VlDevice* device);
// Sends the deletion of every announcement and stops both threads; the
// senders' announcements are then withdrawn silently.
void vl_sap_stop(VlDevice* device);

// Announces the session's sender on the session's interface with the
// sender's SDP, its TTL and DSCP, unless the interface does not stream.
// 0, or -1 when the announcement could not be made (logged; the stream
// runs on without it).
int vl_sap_announce(VlDevice* device, VlSession* session);
// Switches announcing of the session's sender on or off and keeps the
// choice in the sender; -1 (errno ENOENT) when the session has no sender.
int vl_sap_set_enabled(VlSession* session, bool enabled);

// The announced streams as a new JSON array (empty without discovery).
json_t* vl_sap_list_encode(const VlDevice* device);
