// Single-inheritance classes with one constant descriptor each, and the
// registry through which objects are made from a JSON "typename".
#pragma once

#include <jansson.h>

class VlObject;

// What a class is without an object: its parent, its name and the class
// operations. Classes with further class operations derive from this.
struct VlTypeDescriptor {
  const VlTypeDescriptor* parent;
  const char* type_name;
  // Makes a new object from JSON, or null; null slot: not loadable.
  VlObject* (*load)(const json_t* json);
};

extern const VlTypeDescriptor vl_object_ts;

class VlObject {
 public:
  VlObject() = default;
  virtual ~VlObject() = default;
  VlObject(const VlObject&) = delete;
  VlObject& operator=(const VlObject&) = delete;

  virtual const VlTypeDescriptor& type() const { return vl_object_ts; }
  // Adds the object's keys to `json`; the root adds "typename".
  virtual bool store(json_t* json) const;
};

// Sets "typename" of `json` to the object's class name.
bool vl_object_store(const VlObject* obj, json_t* json);

// New object of the registered class named by the JSON's "typename", or null.
VlObject* vl_object_make(const json_t* json);

// New JSON object with the object's stored state, or null.
json_t* vl_object_save(const VlObject* obj);

// Returns the new count (or -1 when nothing was registered).
int vl_object_register(const VlTypeDescriptor* descriptor);
void vl_object_unregister(const VlTypeDescriptor* descriptor);

using vl_object_iterate_callback = void (*)(void* context, const VlTypeDescriptor* descriptor,
                                            int index);
// Calls back for each registered class; tolerates callbacks that change the registry.
void vl_object_iterate(vl_object_iterate_callback callback, void* context);

// Registry size, for diagnostics.
int vl_object_registry_count();
int vl_object_registry_capacity();

// True when `base` is `descriptor` or one of its ancestors.
bool vl_object_is_derived_from(const VlTypeDescriptor* descriptor, const VlTypeDescriptor* base);

inline bool vl_object_is_a(const VlObject* obj, const VlTypeDescriptor& base) {
  return obj && vl_object_is_derived_from(&obj->type(), &base);
}

void vl_object_delete(VlObject* obj);

// The body of an operation a class leaves empty: logs
// "pure virtual function call in %s!" and aborts.
[[noreturn]] void vl_object_abort(const char* name);
