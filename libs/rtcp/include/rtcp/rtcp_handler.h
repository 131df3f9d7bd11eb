// The thread of one session's RTCP endpoint: idle until the session has a
// stream, then a compound report every five seconds (at once for a new
// sender) and the evaluation of every datagram that arrives.
//
// Threads and ownership: runs on the session's "vl_rtcp_handler" thread at
// diminished priority. It uses the session's streams only under the
// session's stream lock, reads the socket that the session owns, and waits
// on the socket and the session's wake-up descriptor, so that a stop
// request (rtcp_session_release) ends it promptly.
#pragma once

class VlSession;

// The thread's body; `session` is the VlSession.
void* rtcp_handler(void* session);

// The report interval.
inline constexpr unsigned long long vl_rtcp_report_interval_ns = 5000000000ULL;
