// The RTCP endpoint of every session on a streaming interface: installed as
// the device's RTCP hooks at start-up.
//
// Threads and ownership: rtcp_session_init runs on the control path and
// starts the session's "vl_rtcp_handler" thread (rtcp_handler.h), which
// owns nothing: the session owns the socket and the thread record.
// rtcp_session_release, also on the control path, asks the thread to stop,
// wakes and joins it, then detaches and destroys the streams (the sender's
// last report, with its BYE, still goes out on the open socket) and only
// then closes the socket.
#pragma once

class VlDevice;
class VlSession;

// Installs the hooks; the device is not used.
void vl_rtcp_init(VlDevice* device);

// SSRC, CNAME, socket bound to the session's port on its interface, and the
// thread. 0, or -1 with nothing left behind.
int rtcp_session_init(VlSession* session);
void rtcp_session_release(VlSession* session);
// Builds and sends one compound report of the session now.
void rtcp_send_report(VlSession* session);
