// Process registration in "/var/run/<program>.pid", and signalling a
// registered process.
#pragma once

#include <cstddef>

// Longest program base name used in a registration file name; longer names
// are cut.
inline constexpr std::size_t vl_register_name_max = 31;

// Writes the process id (decimal, no newline) to "/var/run/<base name>.pid",
// the base name being that of the first element of /proc/self/cmdline.
// 0 or -1.
int vl_register();
// Removes the registration file; 0 unless the command line is unreadable.
int vl_unregister();
// Sends `signal` to the process registered as `name`; a missing file, or one
// that holds no positive process id, does nothing.
void vl_kill(const char* name, int signal);
