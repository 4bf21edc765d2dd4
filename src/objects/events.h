// Event objects from attributed event sites: the events' values decoded into
// Python objects (objects/values.h).
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <span>
#include <vector>

#include "objects/batch.h"
#include "py/pyref.h"
#include "tx/attribution.h"
#include "tx/program_set.h"

namespace varkel::objects {

// The fields of an Event, in their order in the struct sequence (the type is
// defined with the same names in this order).
enum EventField : int {
  kEventName,
  kEventData,
  kEventProgramId,
  kEventInstruction,
  kEventInner,
  kEventDepth,
  kEventSource,
  kEventLogIndex,
  kEventTruncated,
  kEventFailed,
  kEventOutOfStep,
  kEventFieldCount,
};

// A new list of Event objects (instances of `event_type`, a struct sequence
// of kEventFieldCount fields), one per site in order. `decodings[i]` is what
// the events of program entry i are decoded with (its registry is
// programs.registry(i)). A site whose data does
// not decode as its event is skipped, as parse_logs skips such a line. Null
// with an exception set when the interpreter fails.
// `decoded`, when given, gets per site whether it became an event.
py::PyRef build_events(PyTypeObject* event_type, const tx::Attribution& attribution,
                       const tx::ProgramSet& programs, std::span<const Decoding> decodings,
                       std::vector<bool>* decoded = nullptr);

}  // namespace varkel::objects
