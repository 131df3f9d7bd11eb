// Owns one jansson reference, so that every early return releases it.
#pragma once

#include <jansson.h>

#include <utility>

class VlJsonRef {
 public:
  VlJsonRef() = default;
  // Takes over a reference the caller owns (a "new reference" result).
  explicit VlJsonRef(json_t* owned) noexcept : json_(owned) {}
  // Takes a reference of its own to a borrowed value.
  static VlJsonRef borrow(json_t* borrowed) noexcept { return VlJsonRef(json_incref(borrowed)); }

  ~VlJsonRef() { json_decref(json_); }
  VlJsonRef(VlJsonRef&& other) noexcept : json_(other.release()) {}
  VlJsonRef& operator=(VlJsonRef&& other) noexcept {
    if (this != &other) reset(other.release());
    return *this;
  }
  VlJsonRef(const VlJsonRef&) = delete;
  VlJsonRef& operator=(const VlJsonRef&) = delete;

  json_t* get() const noexcept { return json_; }
  explicit operator bool() const noexcept { return json_ != nullptr; }
  // Hands the reference to the caller.
  json_t* release() noexcept { return std::exchange(json_, nullptr); }
  void reset(json_t* owned = nullptr) noexcept { json_decref(std::exchange(json_, owned)); }

 private:
  json_t* json_ = nullptr;
};
