// The system's growable arrays: a fixed first capacity, then growth by half
// the count (by 1 below a count of 4). Order is insertion order.
#pragma once

#include <new>
#include <vector>

template <typename T>
class VlGrowableArray {
 public:
  explicit VlGrowableArray(int initial_capacity) : initial_capacity_(initial_capacity) {}

  int count() const { return static_cast<int>(items_.size()); }
  int capacity() const { return static_cast<int>(items_.capacity()); }
  T& operator[](int i) { return items_[static_cast<size_t>(i)]; }
  const T& operator[](int i) const { return items_[static_cast<size_t>(i)]; }

  // False when the array could not grow; nothing is appended then.
  bool append(const T& item) {
    try {
      if (items_.capacity() == 0) items_.reserve(static_cast<size_t>(initial_capacity_));
      if (items_.size() == items_.capacity()) items_.reserve(items_.capacity() + increase());
      items_.push_back(item);
      return true;
    } catch (const std::bad_alloc&) {
      return false;
    }
  }

  // Removes entry i; later entries move down one place.
  void remove_at(int i) { items_.erase(items_.begin() + i); }

  // Index of the first entry equal to `item`, or -1.
  int find(const T& item) const {
    for (int i = 0; i < count(); ++i)
      if (items_[static_cast<size_t>(i)] == item) return i;
    return -1;
  }

 private:
  size_t increase() const { return items_.size() >= 4 ? items_.size() / 2 : 1; }

  int initial_capacity_;
  std::vector<T> items_;
};
