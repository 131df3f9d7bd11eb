// Media drivers: the objects that own a source or sink of audio samples.
// The stream engine reaches a driver only through its clock reference and
// its capture and play interfaces.
#pragma once

#include "vl/vl_capture_ifc.h"
#include "vl/vl_clockref.h"
#include "vl/vl_play_ifc.h"
#include "vlutil/vl_controllable.h"

#include <jansson.h>

// Appends a description of every device the class can open to `array`:
// {"typename", "devicename", "properties": {"channelCountPlay",
// "channelCountCapture", "sampleRate", ["audioBlockSize"]}}.
using vl_mediadrv_devicelist_fn = void (*)(json_t* array);

// The descriptor of every class derived from VlMediadrv: devicelist is a
// class operation, called without an object (null: the class lists nothing).
struct VlMediadrvTypeDescriptor : VlTypeDescriptor {
  vl_mediadrv_devicelist_fn devicelist;
};

extern const VlMediadrvTypeDescriptor vl_mediadrv_ts;
extern const VlMediadrvTypeDescriptor vl_mediadrv_audio_ts;

class VlMediadrv : public VlControllable {
 public:
  const VlTypeDescriptor& type() const override { return vl_mediadrv_ts; }

  // The device name, owned by the driver.
  virtual const char* name();
  virtual VlClockref* clockref();
};

class VlMediadrvAudio : public VlMediadrv {
 public:
  const VlTypeDescriptor& type() const override { return vl_mediadrv_audio_ts; }

  // Members of the driver, living as long as it; null when the driver
  // cannot capture (play).
  virtual VlCaptureIfc* get_capture_ifc();
  virtual VlPlayIfc* get_play_ifc();
};

const char* vl_mediadrv_name(VlMediadrv* self);
VlClockref* vl_mediadrv_clockref(VlMediadrv* self);
VlCaptureIfc* vl_mediadrv_audio_capture_ifc(VlMediadrvAudio* self);
VlPlayIfc* vl_mediadrv_audio_play_ifc(VlMediadrvAudio* self);

// The devicelist operation of a class derived from VlMediadrvAudio, or null
// (another class, or one that lists nothing). For walking the type registry.
vl_mediadrv_devicelist_fn vl_mediadrv_audio_devicelist(const VlTypeDescriptor* descriptor);
