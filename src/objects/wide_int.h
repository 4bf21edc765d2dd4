// 128- and 256-bit little-endian integers as Python ints.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <cstdint>

namespace varkel::objects {

// New references, or null with the interpreter's exception set.
PyObject* make_int128(const std::uint8_t* bytes, bool is_signed);
PyObject* make_int256(const std::uint8_t* bytes, bool is_signed);

}  // namespace varkel::objects
