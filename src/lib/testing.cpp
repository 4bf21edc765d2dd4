// TEST-ONLY: see testing.h.
#include "lib/testing.h"

#include <string_view>

#include "decode/borsh_reader.h"
#include "decode/value_decoder.h"
#include "lib/errors.h"
#include "lib/event_decoder.h"
#include "lib/pyref.h"

namespace varkel {

namespace {

PyObject* decode_for_test(PyObject* /*module*/, PyObject* const* args, Py_ssize_t nargs) {
  if (nargs != 3) {
    PyErr_Format(PyExc_TypeError, "_decode_for_test() takes 3 arguments (%zd given)", nargs);
    return nullptr;
  }
  PyObject* type = event_decoder_type();
  if (type == nullptr) return nullptr;
  if (!PyObject_TypeCheck(args[0], reinterpret_cast<PyTypeObject*>(type))) {
    PyErr_SetString(PyExc_TypeError, "_decode_for_test(): decoder must be an EventDecoder");
    return nullptr;
  }
  if (!PyUnicode_Check(args[1])) {
    PyErr_SetString(PyExc_TypeError, "_decode_for_test(): event_name must be a str");
    return nullptr;
  }
  Py_ssize_t name_size = 0;
  const char* name_data = PyUnicode_AsUTF8AndSize(args[1], &name_size);
  if (name_data == nullptr) return nullptr;
  const std::string_view name(name_data, static_cast<std::size_t>(name_size));

  const decode::EventRegistry& registry = reinterpret_cast<EventDecoderObject*>(args[0])->registry;
  const decode::EventEntry* entry = nullptr;
  for (const decode::EventEntry& candidate : registry.events) {
    if (candidate.name == name) {
      entry = &candidate;
      break;
    }
  }
  if (entry == nullptr) {
    PyErr_Format(PyExc_KeyError, "no event named '%U'", args[1]);
    return nullptr;
  }

  Py_buffer view;
  if (PyObject_GetBuffer(args[2], &view, PyBUF_SIMPLE) < 0) return nullptr;
  decode::BorshReader reader(static_cast<const std::uint8_t*>(view.buf), static_cast<std::uint64_t>(view.len));
  decode::DecodeResult value = decode::decode_fields(registry, reader, entry->fields);
  PyBuffer_Release(&view);
  if (!value) {
    if (value.error().internal) return raise_internal_error(value.error().message);
    PyErr_SetString(PyExc_ValueError, value.error().message.c_str());
    return nullptr;
  }
  return value->release();
}

}  // namespace

PyMethodDef varkel_testing_methods[] = {
    {"_decode_for_test", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(decode_for_test)), METH_FASTCALL,
     "_decode_for_test(decoder, event_name, data)\n--\n\n"
     "TEST-ONLY. Decodes data (the event data after the discriminator) as the named\n"
     "event; raises ValueError with the decode error's message."},
    {nullptr, nullptr, 0, nullptr},
};

}  // namespace varkel
