// The layouts "velanto" (for syslog) and "velanto_file" (for files).
#pragma once

#include <log4c.h>

extern const log4c_layout_type_t log4c_layout_type_velanto;
extern const log4c_layout_type_t log4c_layout_type_velanto_file;

const char* velanto_format(const log4c_layout_t* layout, const log4c_logging_event_t* event);
const char* velanto_file_format(const log4c_layout_t* layout, const log4c_logging_event_t* event);
