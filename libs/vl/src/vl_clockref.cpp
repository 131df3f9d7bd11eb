#include "vl/vl_clockref.h"

#include <cstring>

const VlTypeDescriptor vl_clockref_ts = {&vl_controllable_ts, "VlClockref", nullptr};
const VlTypeDescriptor vl_clockref_ptp_ts = {&vl_clockref_ts, "VlClockrefPtp", nullptr};

uint64_t VlClockref::now(int32_t*) { vl_object_abort("vl_clockref_now"); }
const char* VlClockref::description() { vl_object_abort("vl_clockref_description"); }
bool VlClockref::compatible(const char*) { vl_object_abort("vl_clockref_compatible"); }
VlTimerHandle VlClockref::timer_create(uint64_t, uint64_t, vl_timer_callback, void*) {
  vl_object_abort("vl_clockref_timer_create");
}
bool VlClockref::timer_remove(VlTimerHandle) { vl_object_abort("vl_clockref_timer_remove"); }

void VlClockrefPtp::set_properties(const VlPtpProperties&) {
  vl_object_abort("vl_clockref_ptp_set_properties");
}
VlPtpProperties VlClockrefPtp::get_properties() { vl_object_abort("vl_clockref_ptp_get_properties"); }
VlPtpStatus VlClockrefPtp::get_status() { vl_object_abort("vl_clockref_ptp_get_status"); }
uint64_t VlClockrefPtp::get_max_offset() { vl_object_abort("vl_clockref_ptp_get_max_offset"); }

uint64_t vl_clockref_now(VlClockref* self, int32_t* status) { return self->now(status); }
const char* vl_clockref_description(VlClockref* self) { return self->description(); }
bool vl_clockref_compatible(VlClockref* self, const char* description) {
  return self->compatible(description);
}
VlTimerHandle vl_clockref_timer_create(VlClockref* self, uint64_t start_ns, uint64_t period_ns,
                                       vl_timer_callback callback, void* user_data) {
  return self->timer_create(start_ns, period_ns, callback, user_data);
}
bool vl_clockref_timer_remove(VlClockref* self, VlTimerHandle handle) { return self->timer_remove(handle); }
void vl_clockref_ptp_set_properties(VlClockrefPtp* self, const VlPtpProperties& properties) {
  self->set_properties(properties);
}
VlPtpStatus vl_clockref_ptp_get_status(VlClockrefPtp* self) { return self->get_status(); }
uint64_t vl_clockref_ptp_get_max_offset(VlClockrefPtp* self) { return self->get_max_offset(); }

namespace {

struct FindContext {
  const char* description;
  VlClockref* match;
};

// Visits every reference; the list is newest first, so the last match is
// the one registered first.
int match_description(void* context, VlControllable* obj) {
  auto* find = static_cast<FindContext*>(context);
  if (!vl_object_is_a(obj, vl_clockref_ts)) return 0;
  auto* reference = static_cast<VlClockref*>(obj);
  if (std::strcmp(vl_clockref_description(reference), find->description) == 0) find->match = reference;
  return 0;
}

}  // namespace

VlClockref* vl_clockref_find(const char* description) {
  if (!description) return nullptr;
  FindContext find{description, nullptr};
  vl_controllable_iterate(match_description, &find);
  return find.match;
}
