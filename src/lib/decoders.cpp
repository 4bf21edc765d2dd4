#include "lib/decoders.h"

#include <string_view>
#include <utility>

#include "objects/errors.h"
#include "py/compat.h"
#include "py/errors.h"

namespace varkel {

namespace {

bool add_decoder(Decoders& out, PyObject* decoder, std::string label) {
  const DecoderState& state = state_of(decoder);
  Result<void> added = out.programs.add(state.registry, std::move(label));
  if (!added) {
    objects::raise_program_id_error(added.error());
    return false;
  }
  out.owners.push_back(py::PyRef::borrow(decoder));
  out.decodings.push_back(objects::Decoding{state.registry, state.plan, state.keys});
  out.states.push_back(&state);
  return true;
}

}  // namespace

std::vector<columnar::ProgramTables> Decoders::tables() const {
  std::vector<columnar::ProgramTables> out;
  out.reserve(states.size());
  for (const DecoderState* state : states) out.push_back({&state->registry, &state->plan, &state->schemas});
  return out;
}

std::unique_ptr<Decoders> single_decoder(PyObject* self) {
  auto out = std::make_unique<Decoders>();
  if (!add_decoder(*out, self, "decoder")) return nullptr;
  return out;
}

std::unique_ptr<Decoders> collect_decoders(PyObject* decoders) {
  PyObject* type = event_decoder_type();
  if (type == nullptr) return nullptr;
  py::PyRef iter = py::iterate(decoders, "decoders", "Iterable[EventDecoder]");
  if (!iter) return nullptr;
  auto out = std::make_unique<Decoders>();
  for (std::size_t index = 0;; ++index) {
    PyObject* raw = nullptr;
    const int status = py::iter_next_item(iter.get(), &raw);
    if (status < 0) return nullptr;
    if (status == 0) break;
    py::PyRef item = py::PyRef::steal(raw);
    if (Py_TYPE(item.get()) != reinterpret_cast<PyTypeObject*>(type)) {
      const std::string param = "decoders[" + std::to_string(index) + "]";
      py::raise_not_instance(param.c_str(), item.get(), "EventDecoder");
      return nullptr;
    }
    if (!add_decoder(*out, item.get(), "decoders[" + std::to_string(index) + "]")) return nullptr;
  }
  return out;
}

std::optional<columnar::KeyForm> key_form_of(PyObject* pubkey) {
  if (pubkey == nullptr) return columnar::KeyForm::Base58;
  if (!PyUnicode_Check(pubkey)) {
    py::raise_not_instance("pubkey", pubkey, "str");
    return std::nullopt;
  }
  const char* text = PyUnicode_AsUTF8(pubkey);
  if (text == nullptr) return std::nullopt;
  const std::string_view form(text);
  if (form == "base58") return columnar::KeyForm::Base58;
  if (form == "binary") return columnar::KeyForm::Binary;
  PyErr_Format(PyExc_ValueError, "argument 'pubkey' must be \"base58\" or \"binary\", not %R", pubkey);
  return std::nullopt;
}

}  // namespace varkel
