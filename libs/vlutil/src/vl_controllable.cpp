#include "vlutil/vl_controllable.h"

namespace {

// Written by platform set-up and device reservation only; see the header.
VlControllable* list_head = nullptr;

}  // namespace

const VlTypeDescriptor vl_controllable_ts = {&vl_object_ts, "VlControllable", nullptr};

VlControllable::VlControllable() : next_(list_head) { list_head = this; }

VlControllable::~VlControllable() {
  for (VlControllable** link = &list_head; *link; link = &(*link)->next_) {
    if (*link == this) {
      *link = next_;
      break;
    }
  }
}

json_t* VlControllable::get_attr(int) { return nullptr; }
int VlControllable::set_attr() { return 0; }
json_t* VlControllable::get_group(const int*, int) { return nullptr; }
int VlControllable::set_group() { return 0; }
int VlControllable::subscribe() { return 0; }
int VlControllable::unsubscribe() { return 0; }

json_t* vl_controllable_get_attr(VlControllable* obj, int attribute_id) {
  return obj->get_attr(attribute_id);
}
int vl_controllable_set_attr(VlControllable* obj) { return obj->set_attr(); }
json_t* vl_controllable_get_group(VlControllable* obj, const int* attribute_ids, int count) {
  return obj->get_group(attribute_ids, count);
}
int vl_controllable_set_group(VlControllable* obj) { return obj->set_group(); }
int vl_controllable_subscribe(VlControllable* obj) { return obj->subscribe(); }
int vl_controllable_unsubscribe(VlControllable* obj) { return obj->unsubscribe(); }

int vl_controllable_iterate(vl_controllable_callback callback, void* context) {
  int result = 0;
  for (VlControllable* obj = list_head; obj && callback;) {
    VlControllable* next = obj->next_controllable();  // the callback may destroy obj
    result = callback(context, obj);
    obj = next;
  }
  return result;
}

VlControllable* vl_controllable_first() { return list_head; }
