// Configuration files in the per-user directory "$HOME/.Velanto/", each with
// one backup generation (the file name with ".sv" added).
#pragma once

#include <cstddef>

// Names are non-empty, hold no '/', and HOME plus the name plus 1 must not
// exceed this length.
inline constexpr std::size_t vl_config_path_limit = 256;

// Writes `data` beside the file and syncs it, then moves the current file to
// its backup and the new one in its place: a save that fails or is killed
// leaves the file or its backup whole.
// 0 (errno 0), or -1 with errno (EINVAL bad name, ENAMETOOLONG, ENOTDIR when
// the file is not a regular file, or the failing call's error).
int vl_config_save(const char* name, const void* data, std::size_t length);

// A read-only descriptor of the file, or of its backup when the file cannot
// be opened; -1 with errno.
int vl_config_open_read(const char* name);
int vl_config_close_read(int descriptor);

// Removes the file and its backup (either may be missing); 0, or -1 with
// EINVAL for a bad name.
int vl_config_delete(const char* name);
