// Export of finished arrays through the Arrow C data interface, and owners
// that release what they hold.
//
// Exported structs own copies of the strings and arrays of pointers that the
// interface asks for, and share the buffers: every exported array keeps the
// table it comes from alive (a shared, atomically counted reference), so a
// table can be exported any number of times, and each export released from
// any thread, in any order. Release callbacks follow the interface: children
// and dictionaries have release callbacks of their own (a consumer may move
// them out), a parent releases those still set, and every release marks its
// struct released by clearing `release`.
#pragma once

#include <memory>

#include "columnar/array_data.h"
#include "columnar/arrow_c.h"

namespace varkel::columnar {

// Fill `out` (not yet set) with the schema of `data`: its type, name and
// children. Throws std::bad_alloc, leaving `out` untouched.
void export_schema(const ArrayData& data, ArrowSchema* out);

// Fill `out` with the array `data`, which `owner` keeps alive.
void export_array(std::shared_ptr<const void> owner, const ArrayData& data, ArrowArray* out);

// A stream of one record batch: the table's. get_schema and get_next report
// ENOMEM (with get_last_error) when memory runs out; no exception leaves them.
void export_stream(std::shared_ptr<const Table> table, ArrowArrayStream* out);

// Owners: each holds one struct and releases it on destruction unless it was
// released or moved out before.
template <class T>
class Owned {
 public:
  Owned() noexcept = default;
  Owned(const Owned&) = delete;
  Owned& operator=(const Owned&) = delete;
  ~Owned() { reset(); }

  T* get() noexcept { return &value_; }
  T* operator->() noexcept { return &value_; }
  bool released() const noexcept { return value_.release == nullptr; }
  void reset() noexcept {
    if (value_.release != nullptr) value_.release(&value_);
  }
  // Moves the struct into `out` (which must be released or unset): the owner
  // is left released.
  void move_to(T* out) noexcept {
    *out = value_;
    value_.release = nullptr;
  }

 private:
  T value_{};
};

using OwnedSchema = Owned<ArrowSchema>;
using OwnedArray = Owned<ArrowArray>;
using OwnedStream = Owned<ArrowArrayStream>;

}  // namespace varkel::columnar
