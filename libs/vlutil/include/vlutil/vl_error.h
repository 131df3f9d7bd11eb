// Per-thread stacks of error entries through which command handlers report
// failures to IPC clients. All functions but ctor and dtor act on the error
// object installed for the calling thread.
#pragma once

#include <jansson.h>

#include <cstddef>
#include <cstdio>

inline constexpr std::size_t vl_error_file_size = 128;  // at most 126 characters kept
inline constexpr std::size_t vl_error_text_size = 4096;

// A stack of error entries (line, file, errno code, text), newest first,
// guarded by its own mutex so that another thread may encode it.
struct VlError;

// A new empty error object, or null.
VlError* vl_error_ctor();
// Logs the entries still held, then frees the object (null is ignored). An
// object installed for the calling thread is uninstalled first.
void vl_error_dtor(VlError* error);

// Makes `error` (or none, when null) the calling thread's error object.
void vl_error_install(VlError* error);
VlError* vl_error_current();

// Pushes a new entry on the calling thread's object; without one the entry
// is logged at `file`:`line` and dropped.
void vl_error_add(int line, const char* file, int code, const char* format, ...)
    __attribute__((format(printf, 4, 5)));

#define VL_ERROR_ADD(code, ...) vl_error_add(__LINE__, __FILE__, (code), __VA_ARGS__)

void vl_error_reset();

// Keeps the newest `keep` entries of the calling thread's stack; older ones
// are logged and dropped. Returns how many were dropped.
std::size_t vl_error_truncate(std::size_t keep);

// Empties the stack newest first, printing each entry to `stream`, or
// logging it when `stream` is null.
void vl_error_backtrace(FILE* stream);

// Empties the stack into a new JSON array of {"line", "file", "type",
// "text"} objects, newest first.
json_t* vl_error_encode();

// Pushes the entries of such an array so that the stack pops them in the
// array's order; -1 for an empty or missing array.
int vl_error_decode(const json_t* array);
