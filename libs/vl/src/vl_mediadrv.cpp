#include "vl/vl_mediadrv.h"

const VlMediadrvTypeDescriptor vl_mediadrv_ts = {{&vl_controllable_ts, "VlMediadrv", nullptr}, nullptr};
const VlMediadrvTypeDescriptor vl_mediadrv_audio_ts = {{&vl_mediadrv_ts, "VlMediadrvAudio", nullptr}, nullptr};

const char* VlMediadrv::name() { vl_object_abort("vl_mediadrv_name"); }
VlClockref* VlMediadrv::clockref() { vl_object_abort("vl_mediadrv_clockref"); }
VlCaptureIfc* VlMediadrvAudio::get_capture_ifc() { vl_object_abort("vl_mediadrv_audio_capture_ifc"); }
VlPlayIfc* VlMediadrvAudio::get_play_ifc() { vl_object_abort("vl_mediadrv_audio_play_ifc"); }

const char* vl_mediadrv_name(VlMediadrv* self) { return self->name(); }
VlClockref* vl_mediadrv_clockref(VlMediadrv* self) { return self->clockref(); }
VlCaptureIfc* vl_mediadrv_audio_capture_ifc(VlMediadrvAudio* self) { return self->get_capture_ifc(); }
VlPlayIfc* vl_mediadrv_audio_play_ifc(VlMediadrvAudio* self) { return self->get_play_ifc(); }

vl_mediadrv_devicelist_fn vl_mediadrv_audio_devicelist(const VlTypeDescriptor* descriptor) {
  if (!vl_object_is_derived_from(descriptor, &vl_mediadrv_audio_ts)) return nullptr;
  // Every descriptor below vl_mediadrv_ts is a VlMediadrvTypeDescriptor.
  return static_cast<const VlMediadrvTypeDescriptor*>(descriptor)->devicelist;
}
