// The saved configuration ("velanto.cfg"): the device's reserved audio
// devices, sessions with their streams, log priorities and client data,
// written on request and restored at start-up.
//
// Threads: callers hold the device's control lock (the start-up load for the
// whole load, the IPC dispatcher around the save, load and delete commands).
#pragma once

class VlDevice;

// Writes the configuration file `name` unless it would hold exactly what
// the last successful save wrote. Saved elements the last load could not
// restore are written again unchanged. 0, or -1 when the file could not be
// written.
int vl_device_save_configuration(VlDevice* device, const char* name);

// Restores the configuration file `name` into the device: version check
// (older files upgraded), log priorities, client data, device check, audio
// device reservations, sessions and streams. 0, or -1 when the file is
// missing or refused.
int vl_device_load_configuration(VlDevice* device, const char* name);

// Deletes the configuration file `name`; the next save writes it again
// whatever it holds. 0 or -1.
int vl_device_delete_configuration(VlDevice* device, const char* name);
