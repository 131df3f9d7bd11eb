// Per-thread log names that every record carries.
#pragma once

#include <cstddef>

inline constexpr std::size_t log4c_thread_name_max = 31;

// Stores a private copy of `name` for the calling thread (null clears it).
void log4c_thread_setname(const char* name);

// The calling thread's stored name, or null when it has none.
const char* log4c_thread_getname();

// Writes the name a record of the calling thread shows into `buf` (at most 31
// characters): the stored name, or "Th%X" of the low 32 bits of the thread id.
void log4c_thread_record_name(char* buf, std::size_t len);
