#include "objects/values.h"

#include <bit>
#include <cstdint>
#include <span>
#include <string_view>
#include <utility>

#include "decode/base58.h"
#include "decode/walk.h"
#include "objects/wide_int.h"
#include "py/errors.h"

namespace varkel::objects {

namespace {

using decode::FieldsRef;
using decode::Kind;
using decode::load_le;
using decode::PlanField;
using decode::PlanVariant;
using decode::Unit;

class ObjectSink {
 public:
  using Value = py::PyRef;
  using Slot = Unit;
  static constexpr Slot kSkip{};

  ObjectSink(const decode::DecodePlan& plan, const KeyTable& keys) noexcept : plan_(plan), keys_(keys) {}

  // Out of line: the walk reads fixed-width values in its recursive frame.
  template <Kind K>
  [[gnu::noinline]] bool scalar(Slot, const std::uint8_t* b, Value& out) {
    if constexpr (K == Kind::U8) {
      return adopt(PyLong_FromLong(static_cast<long>(b[0])), out);
    } else if constexpr (K == Kind::I8) {
      return adopt(PyLong_FromLong(static_cast<long>(std::bit_cast<std::int8_t>(b[0]))), out);
    } else if constexpr (K == Kind::U16) {
      return adopt(PyLong_FromLong(static_cast<long>(load_le<std::uint16_t>(b))), out);
    } else if constexpr (K == Kind::I16) {
      return adopt(PyLong_FromLong(static_cast<long>(load_le<std::int16_t>(b))), out);
    } else if constexpr (K == Kind::U32) {
      return adopt(PyLong_FromLongLong(static_cast<long long>(load_le<std::uint32_t>(b))), out);
    } else if constexpr (K == Kind::I32) {
      return adopt(PyLong_FromLong(static_cast<long>(load_le<std::int32_t>(b))), out);
    } else if constexpr (K == Kind::F32) {
      // Widening binary32 to binary64 is exact; NaN and infinities stay so.
      return adopt(PyFloat_FromDouble(static_cast<double>(std::bit_cast<float>(load_le<std::uint32_t>(b)))),
                   out);
    } else if constexpr (K == Kind::U64) {
      return adopt(PyLong_FromUnsignedLongLong(static_cast<unsigned long long>(load_le<std::uint64_t>(b))),
                   out);
    } else if constexpr (K == Kind::I64) {
      return adopt(PyLong_FromLongLong(static_cast<long long>(load_le<std::int64_t>(b))), out);
    } else {
      static_assert(K == Kind::F64);
      return adopt(PyFloat_FromDouble(std::bit_cast<double>(load_le<std::uint64_t>(b))), out);
    }
  }

  bool boolean(Slot, bool value, Value& out) {
    out = py::PyRef::borrow(value ? Py_True : Py_False);
    return true;
  }

  bool wide(Slot, Kind kind, const std::uint8_t* bytes, Value& out) {
    const bool is_signed = kind == Kind::I128 || kind == Kind::I256;
    if (kind == Kind::U128 || kind == Kind::I128) return adopt(make_int128(bytes, is_signed), out);
    PyObject* value = make_int256(bytes, is_signed);
    if (value == nullptr) [[unlikely]]
      return failed_in_runtime();  // any step of int.from_bytes: a failure of the value
    out = py::PyRef::steal(value);
    return true;
  }

  bool bytes(Slot, std::span<const std::uint8_t> data, Value& out) {
    return adopt(PyBytes_FromStringAndSize(reinterpret_cast<const char*>(data.data()),
                                           static_cast<Py_ssize_t>(data.size())),
                 out);
  }

  bool string(Slot, std::span<const std::uint8_t> data, Value& out) {
    return adopt(PyUnicode_FromStringAndSize(reinterpret_cast<const char*>(data.data()),
                                             static_cast<Py_ssize_t>(data.size())),
                 out);
  }

  [[gnu::noinline]] bool pubkey(Slot, const std::uint8_t* key, Value& out) {
    char text[decode::kKeyTextMax];
    const std::size_t length = decode::base58_encode_key(key, text);
    return adopt(PyUnicode_FromStringAndSize(text, static_cast<Py_ssize_t>(length)), out);
  }

  bool none(Slot, Value& out) {
    out = py::PyRef::borrow(Py_None);
    return true;
  }

  struct Record {
    py::PyRef container;
    bool tuple = false;
  };

  bool begin_record(Slot, const FieldsRef& fields, Record& record) {
    if (fields.form == FieldsRef::Form::Tuple) {  // the count comes from the IDL
      record.tuple = true;
      return adopt(PyList_New(static_cast<Py_ssize_t>(fields.count)), record.container);
    }
    return adopt(PyDict_New(), record.container);
  }

  Slot field_slot(const Record&, std::uint32_t) const noexcept { return {}; }

  bool set_field(Record& record, std::uint32_t i, const PlanField& field, Value&& value) {
    if (record.tuple) {
      PyList_SET_ITEM(record.container.get(), static_cast<Py_ssize_t>(i), value.release());  // steals
      return true;
    }
    if (PyDict_SetItem(record.container.get(), keys_[field.key], value.get()) < 0) [[unlikely]]
      return failed_in_runtime();
    return true;
  }

  bool end_record(Record& record, Slot, Value& out) {
    out = std::move(record.container);
    return true;
  }

  // A sized list is filled in place; on a failure it is released with the
  // elements it holds (empty slots are null, which the release skips): it is
  // never seen half filled.
  struct List {
    py::PyRef list;
    bool sized = false;
  };

  bool begin_list(Slot, std::uint64_t count, bool sized, List& list) {
    list.sized = sized;
    return adopt(PyList_New(sized ? static_cast<Py_ssize_t>(count) : 0), list.list);
  }

  Slot element_slot(const List&) const noexcept { return {}; }

  bool add_element(List& list, std::uint64_t i, Value&& item) {
    if (list.sized) {
      PyList_SET_ITEM(list.list.get(), static_cast<Py_ssize_t>(i), item.release());  // steals
      return true;
    }
    if (PyList_Append(list.list.get(), item.get()) < 0) [[unlikely]]
      return failed_in_runtime();
    return true;
  }

  bool end_list(List& list, Slot, Value& out) {
    out = std::move(list.list);
    return true;
  }

  bool unit_variant(Slot, std::uint32_t, const PlanVariant& variant, Value& out) {
    const std::string& name = plan_.keys[variant.key];
    return adopt(PyUnicode_FromStringAndSize(name.data(), static_cast<Py_ssize_t>(name.size())), out);
  }

  Slot variant_slot(Slot, std::uint32_t) const noexcept { return {}; }

  bool variant(Slot, std::uint32_t, const PlanVariant& variant, Value&& fields, Value& out) {
    py::PyRef dict = py::PyRef::steal(PyDict_New());
    if (!dict) [[unlikely]]
      return false;
    if (PyDict_SetItem(dict.get(), keys_[variant.key], fields.get()) < 0) [[unlikely]]
      return failed_in_runtime();
    out = std::move(dict);
    return true;
  }

  static constexpr bool opaque(Slot) noexcept { return false; }
  bool raw(Slot, std::span<const std::uint8_t>, Value&) { return true; }  // not reached: nothing is opaque

  bool take_failure(Error& error) {
    if (!failure_) return false;
    error = std::move(*failure_);
    failure_.reset();
    return true;
  }

 private:
  // Takes over a new reference returned by an object constructor; false (the
  // interpreter's exception pending) when it returned none.
  static bool adopt(PyObject* obj, Value& out) {
    if (obj == nullptr) [[unlikely]]
      return false;
    out = py::PyRef::steal(obj);
    return true;
  }

  // The interpreter refused an operation on an object it made: a failure of
  // the value, "{type}: {text}" of its exception (which is cleared).
  [[gnu::cold, gnu::noinline]] bool failed_in_runtime() {
    failure_ = Error{py::take_exception_text()};
    return false;
  }

  const decode::DecodePlan& plan_;
  const KeyTable& keys_;
  std::optional<Error> failure_;
};

template <bool kZeroCopy = false, class Run>
Decoded run_walk(const decode::DecodePlan& plan, const KeyTable& keys, decode::BorshReader& reader, Run run) {
  ObjectSink sink(plan, keys);
  decode::Walk<ObjectSink, kZeroCopy> walk(plan, sink, reader);
  Decoded out;
  if (run(walk, out.value)) return out;
  out.value = py::PyRef();
  if (walk.sink_failed()) {
    out.raised = true;
  } else {
    out.error.emplace(std::move(walk.error()));
  }
  return out;
}

}  // namespace

Decoded decode_fields(const decode::DecodePlan& plan, const KeyTable& keys, decode::BorshReader& reader,
                      const FieldsRef& fields) {
  return run_walk(plan, keys, reader, [&fields](decode::Walk<ObjectSink>& walk, py::PyRef& out) {
    return walk.fields(fields, {}, out);
  });
}

Decoded decode_arguments(const decode::DecodePlan& plan, const KeyTable& keys, decode::BorshReader& reader,
                         const FieldsRef& fields, std::uint32_t& missing) {
  return run_walk(plan, keys, reader, [&fields, &missing](decode::Walk<ObjectSink>& walk, py::PyRef& out) {
    return walk.arguments(fields, {}, out, missing);
  });
}

Decoded decode_account_value(const decode::DecodePlan& plan, const KeyTable& keys,
                             decode::BorshReader& reader, std::uint32_t node, bool zero_copy) {
  auto run = [node](auto& walk, py::PyRef& out) { return walk.type(node, {}, out); };
  if (zero_copy) return run_walk<true>(plan, keys, reader, run);
  return run_walk(plan, keys, reader, run);
}

Decoded decode_type(const decode::DecodePlan& plan, const KeyTable& keys, decode::BorshReader& reader,
                    std::uint32_t node) {
  return run_walk(plan, keys, reader, [node](decode::Walk<ObjectSink>& walk, py::PyRef& out) {
    return walk.type(node, {}, out);
  });
}

}  // namespace varkel::objects
