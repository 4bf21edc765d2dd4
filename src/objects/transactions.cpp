#include "objects/transactions.h"

#include <string_view>
#include <utility>
#include <vector>

#include "objects/instructions.h"
#include "objects/program_ids.h"
#include "objects/record.h"

namespace varkel::objects {

namespace {

PyObject* text_or_none(std::string_view text) {
  if (text.empty()) return Py_NewRef(Py_None);
  return PyUnicode_FromStringAndSize(text.data(), static_cast<Py_ssize_t>(text.size()));
}

PyObject* index_or_none(std::uint32_t value) {
  return value == kNoIndex ? Py_NewRef(Py_None) : PyLong_FromUnsignedLong(value);
}

}  // namespace

py::PyRef build_instructions(PyTypeObject* type, const tx::Transaction& tx,
                             const tx::Attribution& attribution, const tx::ProgramSet& programs,
                             std::span<const Decoding> decodings, InstructionCounts* counts) {
  py::PyRef list = py::PyRef::steal(PyList_New(static_cast<Py_ssize_t>(attribution.instructions.size())));
  if (!list) return {};
  ProgramIds program_ids(programs);
  const bool flagged = tx.key_flags.size() == tx.keys.size();
  std::vector<decode::Pubkey> keys;
  std::vector<std::uint8_t> flags;
  for (std::size_t n = 0; n < attribution.instructions.size(); ++n) {
    const tx::InstructionSite& site = attribution.instructions[n];
    const tx::Instruction& ins = *site.instruction;
    keys.clear();
    flags.clear();
    for (std::uint32_t a = 0; a < ins.accounts_count; ++a) {
      const std::uint32_t k = tx.accounts[ins.accounts_first + a];
      keys.push_back(tx.keys[k]);
      if (flagged) flags.push_back(tx.key_flags[k]);
    }
    PyObject* program_id = program_ids.of(site.program);
    if (program_id == nullptr) return {};
    const InstructionInput input{site.data, &keys, flags, &programs.key(site.program), program_id};
    const InstructionPlace place{site.index, site.inner, site.depth, site.log_index, tx.failed};
    InstructionFault fault = InstructionFault::None;
    Error error;
    py::PyRef record = build_instruction(type, decodings[site.program], input, place, fault, error);
    if (!record) return {};
    if (counts != nullptr) {
      ++counts->instructions;
      if (fault != InstructionFault::None) ++counts->undecodable;
    }
    PyList_SET_ITEM(list.get(), static_cast<Py_ssize_t>(n), record.release());  // steals
  }
  return list;
}

py::PyRef failure_dict(const tx::Failure& failure) {
  static constexpr const char* kSources[] = {nullptr, "idl", "anchor", "log", "runtime"};
  const char* source = kSources[static_cast<std::size_t>(failure.source)];
  const std::pair<const char*, PyObject*> items[] = {
      {"instruction", index_or_none(failure.instruction)},
      {"program", text_or_none(failure.program)},
      {"inner", index_or_none(failure.inner)},
      {"depth", failure.depth == 0 ? Py_NewRef(Py_None) : PyLong_FromUnsignedLong(failure.depth)},
      {"error", text_or_none(failure.error)},
      {"code", failure.code ? PyLong_FromUnsignedLong(*failure.code) : Py_NewRef(Py_None)},
      {"name", text_or_none(failure.name)},
      {"message", text_or_none(failure.message)},
      {"source", source != nullptr ? PyUnicode_FromString(source) : Py_NewRef(Py_None)},
      {"detail", text_or_none(failure.detail)},
  };
  // Every value is taken over, also when a later one failed.
  std::vector<py::PyRef> values;
  for (const auto& [key, value] : items) values.push_back(py::PyRef::steal(value));
  py::PyRef dict = py::PyRef::steal(PyDict_New());
  if (!dict) return {};
  for (std::size_t i = 0; i < values.size(); ++i) {
    if (!values[i] || PyDict_SetItemString(dict.get(), items[i].first, values[i].get()) < 0) return {};
  }
  return dict;
}

py::PyRef build_transaction(PyTypeObject* type, const tx::Transaction& tx, py::PyRef error,
                            py::PyRef instructions, py::PyRef events) {
  RecordBuilder record(type);
  auto put = [&record](PyObject* item) { return record.put(item); };
  static_assert(kTransactionFieldCount == 7, "one put per field, in TransactionField order");
  const bool complete = put(text_or_none(tx.signature)) &&
                        put(tx.slot ? PyLong_FromUnsignedLongLong(*tx.slot) : Py_NewRef(Py_None)) &&
                        put(tx.block_time ? PyLong_FromLongLong(*tx.block_time) : Py_NewRef(Py_None)) &&
                        put(PyBool_FromLong(tx.failed)) &&
                        put(error ? error.release() : Py_NewRef(Py_None)) && put(instructions.release()) &&
                        put(events.release());
  return std::move(record).finish(complete);
}

}  // namespace varkel::objects
