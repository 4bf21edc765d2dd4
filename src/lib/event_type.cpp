#include "lib/event_type.h"

#include <atomic>

#include "objects/events.h"
#include "py/once.h"

namespace varkel {

namespace {

// In the order of objects::EventField.
PyStructSequence_Field event_fields[] = {
    {"name", "The event's name, as the IDL declares it."},
    {"data", "The event's fields as plain Python values (the same value parse_logs gives)."},
    {"program_id", "Base58 address of the program that emitted the event."},
    {"instruction",
     "Index of the top-level instruction the event belongs to; None when the logs do not tell."},
    {"inner",
     "Index within that instruction's inner instructions: of the CPI instruction that carries the event "
     "(source "
     "'cpi' or 'log+cpi'), or of the frame that logged it (source 'log', inside a CPI); None for an event "
     "logged by the top-level instruction itself, or when not known."},
    {"depth", "Stack depth of the frame that emitted the event (1 = the top-level instruction)."},
    {"source",
     "'log' (a \"Program data:\" line), 'cpi' (a self-CPI event instruction only) or 'log+cpi' (both, with "
     "identical bytes, reported once)."},
    {"log_index", "Index of the event's log line; None for an event that exists only as a CPI instruction."},
    {"truncated", "True when a \"Log truncated\" line came before the event (log lines may be missing)."},
    {"failed", "True when the transaction failed (meta.err is not null): its effects were rolled back."},
    {"out_of_step",
     "True when the transaction's log lines did not fit the invoke stack or its instructions somewhere: "
     "lines "
     "are missing or were not written by the runtime, so log attribution followed the runtime's depth "
     "numbers."},
    {nullptr, nullptr},
};
static_assert(sizeof(event_fields) / sizeof(event_fields[0]) == objects::kEventFieldCount + 1);

PyStructSequence_Desc event_desc = {
    "varkel.Event",
    "Event(name, data, program_id, instruction, inner, depth, source, log_index, truncated, failed, "
    "out_of_step)\n\nOne event of a transaction, attributed to the program that emitted it.",
    event_fields,
    objects::kEventFieldCount,
};

std::atomic<PyObject*> g_type{nullptr};

}  // namespace

PyObject* event_type() {
  return py::publish_once(g_type,
                          [] { return reinterpret_cast<PyObject*>(PyStructSequence_NewType(&event_desc)); });
}

}  // namespace varkel
