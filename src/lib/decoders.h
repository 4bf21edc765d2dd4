// The decoders of one call (a decoder's own method, or a module function over
// many), and what their Arrow tables are made from.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "columnar/rows.h"
#include "columnar/schemas.h"
#include "lib/event_decoder.h"
#include "objects/batch.h"
#include "py/pyref.h"
#include "tx/program_set.h"

namespace varkel {

inline const DecoderState& state_of(PyObject* decoder) {
  return *reinterpret_cast<EventDecoderObject*>(decoder)->state;
}

// Owned references (the registries live in them) and the set keyed by
// program id.
struct Decoders {
  std::vector<py::PyRef> owners;
  tx::ProgramSet programs;
  std::vector<objects::Decoding> decodings;  // by program entry
  std::vector<const DecoderState*> states;   // by program entry

  // What each program's tables are made from, by program entry.
  std::vector<columnar::ProgramTables> tables() const;
};

// The decoder `self` alone; null with ProgramIdError set (no address).
std::unique_ptr<Decoders> single_decoder(PyObject* self);

// The decoders of an iterable; null with TypeError or ProgramIdError set.
std::unique_ptr<Decoders> collect_decoders(PyObject* decoders);

// The `pubkey` argument of the Arrow calls: "base58" (or not given) or
// "binary"; nullopt with ValueError or TypeError set.
std::optional<columnar::KeyForm> key_form_of(PyObject* pubkey);

}  // namespace varkel
