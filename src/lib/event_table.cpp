#include "lib/event_table.h"

#include <atomic>
#include <string>
#include <utility>

#include "columnar/export.h"
#include "lib/args.h"
#include "py/guard.h"
#include "py/once.h"
#include "py/pyref.h"

namespace varkel {

namespace {

struct Held {
  std::shared_ptr<const columnar::Table> table;
  const char* kind;     // "event", "instruction" or "account"
  std::string program;  // base58; empty: not known
};

// Holds no Python object: not tracked by the cyclic garbage collector.
struct EventTableObject {
  PyObject_HEAD Held* held;  // owned
};

const Held& held_of(PyObject* self) {
  return *reinterpret_cast<EventTableObject*>(self)->held;
}

const columnar::Table& table_of(PyObject* self) {
  return *held_of(self).table;
}

std::shared_ptr<const columnar::Table> shared_table_of(PyObject* self) {
  return held_of(self).table;
}

// --------------------------------------------------------------------------
// Capsules: each owns one heap-allocated C struct. Its destructor releases
// the struct unless a consumer took it over (which leaves `release` null),
// then frees it.

constexpr const char* kSchemaCapsule = "arrow_schema";
constexpr const char* kArrayCapsule = "arrow_array";
constexpr const char* kStreamCapsule = "arrow_array_stream";

template <class T>
void destroy_capsule(PyObject* capsule, const char* name) {
  auto* value = static_cast<T*>(PyCapsule_GetPointer(capsule, name));
  if (value == nullptr) {
    PyErr_WriteUnraisable(capsule);
    return;
  }
  if (value->release != nullptr) value->release(value);
  delete value;
}

void destroy_schema_capsule(PyObject* capsule) {
  destroy_capsule<ArrowSchema>(capsule, kSchemaCapsule);
}
void destroy_array_capsule(PyObject* capsule) {
  destroy_capsule<ArrowArray>(capsule, kArrayCapsule);
}
void destroy_stream_capsule(PyObject* capsule) {
  destroy_capsule<ArrowArrayStream>(capsule, kStreamCapsule);
}

// Moves the exported struct in `owned` into a new capsule.
template <class T>
PyObject* capsule_of(columnar::Owned<T>& owned, const char* name, PyCapsule_Destructor destructor) {
  auto value = std::make_unique<T>();
  owned.move_to(value.get());
  PyObject* capsule = PyCapsule_New(value.get(), name, destructor);
  if (capsule == nullptr) {
    value->release(value.get());
    return nullptr;
  }
  value.release();  // the capsule owns it
  return capsule;
}

PyObject* schema_capsule(const columnar::Table& table) {
  columnar::OwnedSchema schema;
  columnar::export_schema(table.batch, schema.get());
  return capsule_of(schema, kSchemaCapsule, destroy_schema_capsule);
}

// The optional `requested_schema` of the interface is accepted and not
// applied: the interface makes it best-effort, and the columns have one type.
bool bind_requested_schema(const char* function, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  const Signature sig{function, "requested_schema"};
  PyObject* requested = nullptr;
  return bind_optional(sig, args, nargs, kwnames, &requested);
}

PyObject* table_arrow_c_schema(PyObject* self, PyObject*) {
  return schema_capsule(table_of(self));
}

PyObject* table_arrow_c_stream(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  if (!bind_requested_schema("EventTable.__arrow_c_stream__()", args, nargs, kwnames)) return nullptr;
  columnar::OwnedStream stream;
  columnar::export_stream(shared_table_of(self), stream.get());
  return capsule_of(stream, kStreamCapsule, destroy_stream_capsule);
}

PyObject* table_arrow_c_array(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  if (!bind_requested_schema("EventTable.__arrow_c_array__()", args, nargs, kwnames)) return nullptr;
  std::shared_ptr<const columnar::Table> table = shared_table_of(self);
  py::PyRef schema = py::PyRef::steal(schema_capsule(*table));
  if (!schema) return nullptr;
  columnar::OwnedArray array;
  columnar::export_array(table, table->batch, array.get());
  py::PyRef capsule = py::PyRef::steal(capsule_of(array, kArrayCapsule, destroy_array_capsule));
  if (!capsule) return nullptr;
  return PyTuple_Pack(2, schema.get(), capsule.get());
}

PyObject* table_name(PyObject* self, void*) {
  const std::string& name = table_of(self).name;
  return PyUnicode_FromStringAndSize(name.data(), static_cast<Py_ssize_t>(name.size()));
}

PyObject* table_kind(PyObject* self, void*) {
  return PyUnicode_FromString(held_of(self).kind);
}

PyObject* table_program_id(PyObject* self, void*) {
  const std::string& program = held_of(self).program;
  if (program.empty()) return Py_NewRef(Py_None);
  return PyUnicode_FromStringAndSize(program.data(), static_cast<Py_ssize_t>(program.size()));
}

PyObject* table_num_rows(PyObject* self, void*) {
  return PyLong_FromLongLong(table_of(self).batch.length);
}

PyObject* table_column_names(PyObject* self, void*) {
  const auto& columns = table_of(self).batch.children;
  py::PyRef list = py::PyRef::steal(PyList_New(static_cast<Py_ssize_t>(columns.size())));
  if (!list) return nullptr;
  for (std::size_t i = 0; i < columns.size(); ++i) {
    const std::string& name = columns[i].name;
    PyObject* text = PyUnicode_FromStringAndSize(name.data(), static_cast<Py_ssize_t>(name.size()));
    if (text == nullptr) return nullptr;
    PyList_SET_ITEM(list.get(), static_cast<Py_ssize_t>(i), text);  // steals text
  }
  return list.release();
}

Py_ssize_t table_length(PyObject* self) {
  return static_cast<Py_ssize_t>(table_of(self).batch.length);
}

PyObject* table_repr(PyObject* self) {
  const columnar::Table& table = table_of(self);
  return PyUnicode_FromFormat("<EventTable '%s': %lld rows, %zd columns>", table.name.c_str(),
                              static_cast<long long>(table.batch.length),
                              static_cast<Py_ssize_t>(table.batch.children.size()));
}

void table_dealloc(PyObject* self) {
  PyTypeObject* type = Py_TYPE(self);
  delete reinterpret_cast<EventTableObject*>(self)->held;
  type->tp_free(self);
  Py_DECREF(type);
}

PyMethodDef table_methods[] = {
    {"__arrow_c_schema__", py::guarded<table_arrow_c_schema>, METH_NOARGS,
     "__arrow_c_schema__($self)\n--\n\nThe table's schema as an Arrow PyCapsule (\"arrow_schema\")."},
    {"__arrow_c_stream__",
     reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(py::guarded<table_arrow_c_stream>)),
     METH_FASTCALL | METH_KEYWORDS,
     "__arrow_c_stream__($self, requested_schema=None)\n--\n\n"
     "The table as an Arrow PyCapsule (\"arrow_array_stream\") of one record batch."},
    {"__arrow_c_array__",
     reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(py::guarded<table_arrow_c_array>)),
     METH_FASTCALL | METH_KEYWORDS,
     "__arrow_c_array__($self, requested_schema=None)\n--\n\n"
     "The table's record batch as a pair of Arrow PyCapsules (\"arrow_schema\", \"arrow_array\")."},
    {nullptr, nullptr, 0, nullptr},
};

PyGetSetDef table_getset[] = {
    {"name", py::guarded<table_name>, nullptr, "The name of the event, instruction or account type.",
     nullptr},
    {"kind", py::guarded<table_kind>, nullptr,
     "What its rows are: \"event\", \"instruction\" or \"account\".", nullptr},
    {"program_id", py::guarded<table_program_id>, nullptr,
     "The program (base58) whose rows it holds; None when the decoder has no address.", nullptr},
    {"num_rows", py::guarded<table_num_rows>, nullptr, "The number of rows.", nullptr},
    {"column_names", py::guarded<table_column_names>, nullptr,
     "The names of the columns, in order (the table's own columns, then the fields in IDL order).", nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyType_Slot table_slots[] = {
    {Py_tp_doc,
     const_cast<char*>("The events of one name from EventDecoder.parse_logs_arrow() (or the rows of\n"
                       "one event, instruction or account type from decode_tables() and\n"
                       "decode_accounts_arrow()), as one Arrow record batch. Arrow libraries read\n"
                       "it without copying through the Arrow PyCapsule interface: pyarrow.table(t),\n"
                       "polars.DataFrame(t), duckdb.")},
    {Py_tp_dealloc, reinterpret_cast<void*>(py::guarded<table_dealloc>)},
    {Py_tp_repr, reinterpret_cast<void*>(py::guarded<table_repr>)},
    {Py_mp_length, reinterpret_cast<void*>(py::guarded<table_length>)},
    {Py_tp_methods, table_methods},
    {Py_tp_getset, table_getset},
    {0, nullptr},
};

PyType_Spec table_spec = {
    "builtins.EventTable",
    static_cast<int>(sizeof(EventTableObject)),
    0,
    Py_TPFLAGS_DEFAULT | Py_TPFLAGS_DISALLOW_INSTANTIATION,
    table_slots,
};

std::atomic<PyObject*> g_type{nullptr};

}  // namespace

PyObject* event_table_type() {
  return py::publish_once(g_type, [] { return PyType_FromSpec(&table_spec); });
}

PyObject* make_event_table(std::shared_ptr<const columnar::Table> table, const char* kind,
                           std::string_view program) {
  auto* type = reinterpret_cast<PyTypeObject*>(event_table_type());
  if (type == nullptr) return nullptr;
  auto holder = std::make_unique<Held>(Held{std::move(table), kind, std::string(program)});
  PyObject* self = type->tp_alloc(type, 0);
  if (self == nullptr) return nullptr;
  reinterpret_cast<EventTableObject*>(self)->held = holder.release();
  return self;
}

PyObject* tables_by_name(std::vector<std::shared_ptr<const columnar::Table>> tables, const char* kind,
                         std::string_view program) {
  py::PyRef result = py::PyRef::steal(PyDict_New());
  if (!result) return nullptr;
  for (std::shared_ptr<const columnar::Table>& table : tables) {
    py::PyRef name = py::PyRef::steal(
        PyUnicode_FromStringAndSize(table->name.data(), static_cast<Py_ssize_t>(table->name.size())));
    if (!name) return nullptr;
    py::PyRef value = py::PyRef::steal(make_event_table(std::move(table), kind, program));
    if (!value || PyDict_SetItem(result.get(), name.get(), value.get()) < 0) return nullptr;
  }
  return result.release();
}

}  // namespace varkel
