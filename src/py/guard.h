// The C++ edge of every entry point that the interpreter calls: no C++
// exception may cross into the interpreter. std::bad_alloc becomes
// MemoryError; any other exception the internal-error exception with its text.
//
//   {Py_tp_new, reinterpret_cast<void*>(py::guarded<decoder_new>)}
//
// The core reports failure as values and does not throw; what can still throw
// is the standard library running out of memory (a vector growing, a string
// being built) or a broken invariant. The guard costs one landing pad, no
// work on the normal path.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <exception>
#include <new>
#include <type_traits>

#include "py/errors.h"

namespace varkel::py {

// Sets the Python exception for the C++ exception being handled. Call only
// from inside a catch block.
inline void raise_current_exception() noexcept {
  try {
    throw;
  } catch (const std::bad_alloc&) {
    PyErr_NoMemory();
  } catch (const std::exception& error) {
    raise_internal_error(error.what());
  } catch (...) {
    raise_internal_error("unknown C++ exception");
  }
}

// Runs `body`, whose result is a PyObject* (null means failure), an int (-1
// means failure) or void (a deallocator: an exception is reported as
// unraisable).
template <class Body>
auto call_guarded(Body&& body) noexcept -> std::invoke_result_t<Body&> {
  using R = std::invoke_result_t<Body&>;
  try {
    return body();
  } catch (...) {
    raise_current_exception();
  }
  if constexpr (std::is_void_v<R>) {
    PyErr_WriteUnraisable(nullptr);
  } else if constexpr (std::is_pointer_v<R>) {
    return nullptr;
  } else {
    return R(-1);
  }
}

template <auto Fn>
struct Guarded;

template <class R, class... Args, R (*Fn)(Args...)>
struct Guarded<Fn> {
  static R call(Args... args) noexcept {
    return call_guarded([&]() -> R { return Fn(args...); });
  }
};

// A function with the signature of `Fn` that runs it behind the guard: the
// form to put into method tables, type slots and module slots.
template <auto Fn>
inline constexpr auto guarded = &Guarded<Fn>::call;

}  // namespace varkel::py
