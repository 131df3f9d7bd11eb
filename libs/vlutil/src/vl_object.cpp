#include "vlutil/vl_object.h"

#include "vlsys/vl_log.h"
#include "vlutil/vl_growable_array.h"

#include <cstdlib>
#include <cstring>
#include <new>

const VlTypeDescriptor vl_object_ts = {nullptr, "VlObject", nullptr};

namespace {

constexpr int initial_capacity = 6;

// Written only during platform initialisation and exit, so it has no lock.
// Never freed: descriptors are constant and the registry only refers to them.
VlGrowableArray<const VlTypeDescriptor*>* registry = nullptr;

const char* name_or_unknown(const VlTypeDescriptor* descriptor) {
  return descriptor && descriptor->type_name ? descriptor->type_name : "???";
}

const VlTypeDescriptor* find_by_name(const char* name) {
  if (!registry || !name) return nullptr;
  for (int i = 0; i < registry->count(); ++i) {
    const char* candidate = (*registry)[i]->type_name;
    if (candidate && std::strcmp(candidate, name) == 0) return (*registry)[i];
  }
  return nullptr;
}

void log_no_memory() {
  VL_LOG(vl_log_general(), VL_LOG_ERROR, "Failed to allocate memory for object type registry");
}

}  // namespace

bool VlObject::store(json_t* json) const {
  return json_object_set_new(json, "typename", json_string(type().type_name)) == 0;
}

bool vl_object_store(const VlObject* obj, json_t* json) {
  return obj && json && obj->VlObject::store(json);
}

VlObject* vl_object_make(const json_t* json) {
  if (!json) {
    VL_LOG(vl_log_general(), VL_LOG_ERROR, "don't know what to construct here");
    return nullptr;
  }
  const char* name = json_string_value(json_object_get(json, "typename"));
  const VlTypeDescriptor* match = find_by_name(name);
  if (match && match->load) return match->load(json);
  VL_LOG(vl_log_general(), VL_LOG_ERROR, "don't know how to load type %s", name ? name : "(null)");
  return nullptr;
}

json_t* vl_object_save(const VlObject* obj) {
  if (!obj) return nullptr;
  json_t* json = json_object();
  if (json && obj->store(json)) return json;
  json_decref(json);
  return nullptr;
}

int vl_object_register(const VlTypeDescriptor* descriptor) {
  if (!descriptor || !descriptor->type_name || !descriptor->load)
    VL_LOG(vl_log_general(), VL_LOG_ERROR, "Attempt to register invalid object type %s",
           name_or_unknown(descriptor));
  if (!descriptor) return -1;
  if (!registry) registry = new (std::nothrow) VlGrowableArray<const VlTypeDescriptor*>(initial_capacity);
  if (!registry || !registry->append(descriptor)) {
    log_no_memory();
    return -1;
  }
  return registry->count();
}

void vl_object_unregister(const VlTypeDescriptor* descriptor) {
  if (!registry || registry->count() == 0) {
    VL_LOG(vl_log_general(), VL_LOG_ERROR, "Attempt to unregister type from empty object type registry");
    return;
  }
  const int index = registry->find(descriptor);
  if (index >= 0) {
    registry->remove_at(index);
    return;
  }
  VL_LOG(vl_log_general(), VL_LOG_ERROR, "Type not found in object type registry: %s",
         name_or_unknown(descriptor));
}

void vl_object_iterate(vl_object_iterate_callback callback, void* context) {
  if (!registry || !callback) return;
  for (int i = 0; i < registry->count(); ++i) callback(context, (*registry)[i], i);
}

int vl_object_registry_count() { return registry ? registry->count() : 0; }

int vl_object_registry_capacity() { return registry ? registry->capacity() : 0; }

bool vl_object_is_derived_from(const VlTypeDescriptor* descriptor, const VlTypeDescriptor* base) {
  if (!base) return false;
  for (const VlTypeDescriptor* d = descriptor; d; d = d->parent)
    if (d == base) return true;
  return false;
}

void vl_object_delete(VlObject* obj) { delete obj; }

void vl_object_abort(const char* name) {
  VL_LOG(vl_log_general(), VL_LOG_FATAL, "pure virtual function call in %s!", name);
  std::abort();
}
