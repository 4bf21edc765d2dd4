#include "objects/events.h"

#include <array>
#include <string>
#include <vector>

#include "decode/borsh_reader.h"
#include "objects/program_ids.h"
#include "objects/values.h"
#include "py/errors.h"

namespace varkel::objects {

using tx::Attribution;
using tx::EventSite;
using tx::ProgramSet;
using tx::Source;

namespace {

// Objects shared by the events of one call: each program's id text and the
// source names, created on first use.
class SharedObjects {
 public:
  explicit SharedObjects(const ProgramSet& programs) : program_ids_(programs) {}

  PyObject* program_id(std::uint32_t entry) { return program_ids_.of(entry); }

  PyObject* source(Source source) {
    static constexpr const char* kNames[] = {"log", "cpi", "log+cpi"};
    py::PyRef& slot = sources_[static_cast<std::size_t>(source)];
    if (!slot) slot = py::PyRef::steal(PyUnicode_InternFromString(kNames[static_cast<std::size_t>(source)]));
    return slot.get();
  }

 private:
  ProgramIds program_ids_;
  std::array<py::PyRef, 3> sources_;
};

// A new reference to an int, or None for kNoIndex.
PyObject* index_or_none(std::uint32_t value) {
  if (value == kNoIndex) return Py_NewRef(Py_None);
  return PyLong_FromUnsignedLong(value);
}

PyObject* new_ref_or_null(PyObject* obj) {
  return obj == nullptr ? nullptr : Py_NewRef(obj);
}

// Builds one event (taking over `data`); null with an exception set when the
// interpreter cannot create it.
py::PyRef make_event(PyTypeObject* type, const EventSite& site, py::PyRef data,
                     const Attribution& attribution, SharedObjects& shared) {
  py::PyRef event = py::PyRef::steal(PyStructSequence_New(type));
  if (!event) return {};
  int field = 0;
  // Sets the next field (stealing `item`); false when its creation failed.
  auto put = [&](PyObject* item) {
    if (item == nullptr) return false;
    PyStructSequence_SetItem(event.get(), field++, item);
    return true;
  };
  const std::string& name = site.event->name;
  static_assert(kEventFieldCount == 11, "one put per field, in EventField order");
  const bool complete =
      put(PyUnicode_FromStringAndSize(name.data(), static_cast<Py_ssize_t>(name.size()))) &&
      put(data.release()) && put(new_ref_or_null(shared.program_id(site.program))) &&
      put(index_or_none(site.instruction)) && put(index_or_none(site.inner)) &&
      put(PyLong_FromUnsignedLong(site.depth)) && put(new_ref_or_null(shared.source(site.source))) &&
      put(index_or_none(site.log_index)) && put(PyBool_FromLong(site.truncated)) &&
      put(PyBool_FromLong(attribution.failed)) && put(PyBool_FromLong(attribution.out_of_step));
  if (!complete) return {};  // the unset fields are null; the event releases what it holds
  return event;
}

}  // namespace

py::PyRef build_events(PyTypeObject* event_type, const Attribution& attribution, const ProgramSet& programs,
                       std::span<const Decoding> decodings, std::vector<bool>* decoded) {
  py::PyRef list = py::PyRef::steal(PyList_New(0));
  if (!list) return {};
  SharedObjects shared(programs);
  if (decoded != nullptr) decoded->assign(attribution.events.size(), false);
  for (std::size_t k = 0; k < attribution.events.size(); ++k) {
    const EventSite& site = attribution.events[k];
    const Decoding& decoding = decodings[site.program];
    const auto event_index = static_cast<std::size_t>(site.event - decoding.registry.events.data());
    decode::BorshReader reader(site.data.data(), site.data.size());
    Decoded value = decode_fields(decoding.plan, decoding.keys, reader, decoding.plan.events[event_index]);
    if (!value.value) {
      if (value.raised) return py::fail_as_internal();
      continue;  // not decodable as this event: skipped
    }
    py::PyRef event = make_event(event_type, site, std::move(value.value), attribution, shared);
    if (!event) return py::fail_as_internal();
    if (PyList_Append(list.get(), event.get()) < 0) return {};
    if (decoded != nullptr) (*decoded)[k] = true;
  }
  return list;
}

}  // namespace varkel::objects
