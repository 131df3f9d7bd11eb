// Objects that can be inspected at run time: every live one is in one
// process-wide list, newest first.
#pragma once

#include "vlutil/vl_object.h"

#include <jansson.h>

extern const VlTypeDescriptor vl_controllable_ts;

class VlControllable : public VlObject {
 public:
  // Puts the object at the head of the controllable list.
  VlControllable();
  // Removes it from the list.
  ~VlControllable() override;

  const VlTypeDescriptor& type() const override { return vl_controllable_ts; }

  // A new JSON value for the attribute, or null.
  virtual json_t* get_attr(int attribute_id);
  virtual int set_attr();
  // A new JSON array with one value (or null) per requested id, or null.
  virtual json_t* get_group(const int* attribute_ids, int count);
  virtual int set_group();
  virtual int subscribe();
  virtual int unsubscribe();

  VlControllable* next_controllable() const { return next_; }

 private:
  VlControllable* next_ = nullptr;
};

json_t* vl_controllable_get_attr(VlControllable* obj, int attribute_id);
int vl_controllable_set_attr(VlControllable* obj);
json_t* vl_controllable_get_group(VlControllable* obj, const int* attribute_ids, int count);
int vl_controllable_set_group(VlControllable* obj);
int vl_controllable_subscribe(VlControllable* obj);
int vl_controllable_unsubscribe(VlControllable* obj);

using vl_controllable_callback = int (*)(void* context, VlControllable* obj);

// Calls back for every controllable, newest first; the last callback's
// result, or 0 for an empty list.
int vl_controllable_iterate(vl_controllable_callback callback, void* context);

// Head of the list (newest), or null.
VlControllable* vl_controllable_first();
