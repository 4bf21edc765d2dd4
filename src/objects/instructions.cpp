#include "objects/instructions.h"

#include <utility>
#include <vector>

#include "decode/borsh_reader.h"
#include "decode/instructions.h"
#include "objects/record.h"
#include "objects/values.h"
#include "tx/transaction.h"

namespace varkel::objects {

namespace {

using decode::AccountItem;
using decode::InstructionEntry;
using decode::Pubkey;

PyObject* key_text(const Pubkey& key) {
  char text[decode::kKeyTextMax];
  const std::size_t length = decode::base58_encode_key(key.data(), text);
  return PyUnicode_FromStringAndSize(text, static_cast<Py_ssize_t>(length));
}

PyObject* index_or_none(std::uint32_t value) {
  return value == kNoIndex ? Py_NewRef(Py_None) : PyLong_FromUnsignedLong(value);
}

// The base58 text of every key, made once per instruction and shared by the
// accounts dict, the remaining list and the metas.
class KeyTexts {
 public:
  explicit KeyTexts(const std::vector<Pubkey>* keys) : keys_(keys) {
    if (keys_ != nullptr) texts_.resize(keys_->size());
  }
  // Borrowed; null with an exception set.
  PyObject* at(std::size_t k) {
    if (!texts_[k]) texts_[k] = py::PyRef::steal(key_text((*keys_)[k]));
    return texts_[k].get();
  }

 private:
  const std::vector<Pubkey>* keys_;
  std::vector<py::PyRef> texts_;
};

// The accounts dict of `entry` (`names`: the plan's key per item).
py::PyRef accounts_dict(const InstructionEntry& entry, const std::vector<std::uint32_t>& names,
                        const KeyTable& keys, const decode::AccountPlacement& placement, KeyTexts& texts) {
  py::PyRef root = py::PyRef::steal(PyDict_New());
  if (!root) return {};
  std::vector<PyObject*> open{root.get()};  // borrowed: each is held by its parent
  std::size_t account = 0;
  for (std::size_t i = 0; i < entry.accounts.size(); ++i) {
    const AccountItem& item = entry.accounts[i];
    if (item.kind == AccountItem::Kind::GroupEnd) {
      if (open.size() > 1) open.pop_back();
      continue;
    }
    py::PyRef value;
    if (item.kind == AccountItem::Kind::GroupBegin) {
      value = py::PyRef::steal(PyDict_New());
    } else {
      const std::uint32_t position = placement.positions[account++];
      value = position == kNoIndex ? py::PyRef::borrow(Py_None) : py::PyRef::borrow(texts.at(position));
    }
    if (!value || PyDict_SetItem(open.back(), keys[names[i]], value.get()) < 0) return {};
    if (item.kind == AccountItem::Kind::GroupBegin) open.push_back(value.get());
  }
  return root;
}

py::PyRef key_list(std::size_t from, std::size_t to, KeyTexts& texts) {
  py::PyRef list = py::PyRef::steal(PyList_New(static_cast<Py_ssize_t>(to - from)));
  if (!list) return {};
  for (std::size_t k = from; k < to; ++k) {
    PyObject* text = texts.at(k);
    if (text == nullptr) return {};
    PyList_SET_ITEM(list.get(), static_cast<Py_ssize_t>(k - from), Py_NewRef(text));
  }
  return list;
}

// The keys of the instruction that carry `bit`, in order, each once; None
// when the flags are not known.
py::PyRef keys_with(const InstructionInput& input, std::uint8_t bit, KeyTexts& texts) {
  if (input.keys == nullptr) return py::PyRef::steal(PyTuple_New(0));
  if (input.flags.empty()) return py::PyRef::borrow(Py_None);
  std::vector<PyObject*> chosen;  // borrowed from `texts`
  for (std::size_t k = 0; k < input.keys->size(); ++k) {
    if ((input.flags[k] & bit) == 0) continue;
    bool seen = false;
    for (std::size_t e = 0; e < k && !seen; ++e)
      seen = (input.flags[e] & bit) != 0 && (*input.keys)[e] == (*input.keys)[k];
    if (seen) continue;
    PyObject* text = texts.at(k);
    if (text == nullptr) return {};
    chosen.push_back(text);
  }
  py::PyRef tuple = py::PyRef::steal(PyTuple_New(static_cast<Py_ssize_t>(chosen.size())));
  if (!tuple) return {};
  for (std::size_t i = 0; i < chosen.size(); ++i)
    PyTuple_SET_ITEM(tuple.get(), static_cast<Py_ssize_t>(i), Py_NewRef(chosen[i]));
  return tuple;
}

PyObject* text_of(std::string_view text) {
  return PyUnicode_FromStringAndSize(text.data(), static_cast<Py_ssize_t>(text.size()));
}

}  // namespace

py::PyRef build_instruction(PyTypeObject* type, const Decoding& decoding, const InstructionInput& input,
                            const InstructionPlace& place, InstructionFault& fault, Error& error) {
  fault = InstructionFault::None;
  const decode::EventRegistry& registry = decoding.registry;
  const InstructionEntry* entry = registry.find_instruction(input.data);
  const auto index = entry != nullptr ? static_cast<std::size_t>(entry - registry.instructions.data()) : 0;
  const std::size_t key_count = input.keys != nullptr ? input.keys->size() : 0;
  KeyTexts texts(input.keys);

  py::PyRef name = entry != nullptr ? py::PyRef::steal(text_of(entry->name)) : py::PyRef::borrow(Py_None);
  py::PyRef args = py::PyRef::borrow(Py_None);
  py::PyRef accounts = py::PyRef::borrow(Py_None);
  py::PyRef remaining;
  py::PyRef missing_names;
  std::uint64_t trailing = 0;
  if (!name) return {};
  if (entry == nullptr) {
    fault = InstructionFault::Discriminator;
    error = Error("unknown discriminator");
    remaining = key_list(0, key_count, texts);
  } else {
    const std::span<const std::uint8_t> data = input.data.subspan(entry->discriminator.size());
    decode::BorshReader reader(data.data(), data.size());
    const decode::FieldsRef& fields = decoding.plan.instructions[index];
    std::uint32_t missing = 0;
    Decoded value = decode_arguments(decoding.plan, decoding.keys, reader, fields, missing);
    if (value.raised) return {};
    if (value.value) {
      args = std::move(value.value);
      trailing = reader.remaining();
      missing_names = py::PyRef::steal(PyTuple_New(missing));
      if (!missing_names) return {};
      for (std::uint32_t m = 0; m < missing; ++m) {
        const std::uint32_t key = decoding.plan.fields[fields.first + fields.count - missing + m].key;
        PyTuple_SET_ITEM(missing_names.get(), m, Py_NewRef(decoding.keys[key]));
      }
    } else {
      fault = InstructionFault::Arguments;
      const std::string& path = value.error->path;
      error = Error(
          "arguments do not fit: " + (path.empty() ? "" : "field '" + path + "': ") + value.error->message,
          path);
    }
    if (input.keys == nullptr) {
      remaining = py::PyRef::steal(PyList_New(0));
    } else {
      static const Pubkey kNoProgram{};
      Result<decode::AccountPlacement> placement =
          decode::place_accounts(*entry, *input.keys, input.program != nullptr ? *input.program : kNoProgram);
      if (placement) {
        accounts =
            accounts_dict(*entry, decoding.plan.account_names[index], decoding.keys, *placement, texts);
        if (!accounts) return {};
        remaining = key_list(placement->remaining, key_count, texts);
      } else {
        if (fault == InstructionFault::None) {
          fault = InstructionFault::Accounts;
          error = std::move(placement.error());
        }
        remaining = py::PyRef::steal(PyList_New(0));
      }
    }
  }
  if (!remaining) return {};
  if (!missing_names) missing_names = py::PyRef::steal(PyTuple_New(0));
  if (!missing_names) return {};
  py::PyRef signers = keys_with(input, tx::kSigner, texts);
  py::PyRef writable = keys_with(input, tx::kWritable, texts);
  if (!signers || !writable) return {};
  py::PyRef reason =
      fault == InstructionFault::None ? py::PyRef::borrow(Py_None) : py::PyRef::steal(text_of(error.message));
  py::PyRef raw =
      fault == InstructionFault::None
          ? py::PyRef::borrow(Py_None)
          : py::PyRef::steal(PyBytes_FromStringAndSize(reinterpret_cast<const char*>(input.data.data()),
                                                       static_cast<Py_ssize_t>(input.data.size())));
  if (!reason || !raw) return {};

  RecordBuilder record(type);
  auto put = [&record](PyObject* item) { return record.put(item); };
  static_assert(kInstructionFieldCount == 16, "one put per field, in InstructionField order");
  PyObject* program_id = input.program_id != nullptr ? input.program_id : Py_None;
  const bool complete = put(name.release()) && put(args.release()) && put(accounts.release()) &&
                        put(remaining.release()) && put(Py_NewRef(program_id)) &&
                        put(index_or_none(place.instruction)) && put(index_or_none(place.inner)) &&
                        put(place.depth == 0 ? Py_NewRef(Py_None) : PyLong_FromUnsignedLong(place.depth)) &&
                        put(index_or_none(place.log_index)) && put(PyLong_FromUnsignedLongLong(trailing)) &&
                        put(missing_names.release()) && put(reason.release()) && put(raw.release()) &&
                        put(signers.release()) && put(writable.release()) &&
                        put(PyBool_FromLong(place.failed));
  return std::move(record).finish(complete);
}

}  // namespace varkel::objects
