// The appender type "sendlog": records as syslog datagrams to UDP port 514.
#pragma once

#include <log4c.h>

extern const log4c_appender_type_t log4c_appender_type_sendlog;

int sendlog_open(log4c_appender_t* appender);
int sendlog_append(log4c_appender_t* appender, const log4c_logging_event_t* event);
int sendlog_close(log4c_appender_t* appender);

// Sets the destination host (dotted IPv4); null restores "127.0.0.1". No
// effect before the appender has been opened.
void log4c_sendlog_set_host(log4c_appender_t* appender, const char* host);
