// Decoding event data against the registries of the IDLs in the repository,
// with the value decoder the extension uses: the decode plan compiled from
// each registry and its table of keys, walked by decode_fields (it builds
// Python objects, so this target runs an embedded interpreter).
//
// Input: one selector byte, then the bytes to decode. The selector picks one
// of the registries of the IDLs listed in fuzz/data/decode-idls.txt
// (selector % registries) and the mode ((selector / registries) % 3):
//   0  a payload: 8-byte discriminator looked up in the registry, then data;
//   1  the next byte picks an event by position, the rest is its data;
//   2  the next byte picks a struct definition of the plan (those the events
//      reach), the rest is its fields' data.
// Every decode ends in a value or a decode error; the internal error (the
// interpreter refusing to create an object) must not happen here. An event
// (modes 0 and 1) decodes into the Arrow tables (columnar::EventTables, the
// same plan walked by another decoder) exactly when it decodes into values.
#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <algorithm>
#include <fstream>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "columnar/event_tables.h"
#include "decode/borsh_reader.h"
#include "decode/plan.h"
#include "decode/registry.h"
#include "fuzz/common.h"
#include "fuzz/repo_idls.h"
#include "idl/load.h"
#include "objects/keys.h"
#include "objects/values.h"

namespace {

using namespace varkel;

struct Loaded {
  decode::EventRegistry registry;
  decode::DecodePlan plan;
  std::optional<objects::KeyTable> keys;
  std::vector<decode::FieldsRef> structs;  // the fields of the plan's struct definitions
  columnar::TableSchema tables;
};

// Never freed: the keys hold Python objects, which must not outlive the
// interpreter's teardown at exit.
std::vector<std::unique_ptr<Loaded>>& registries() {
  static auto* all = new std::vector<std::unique_ptr<Loaded>>();
  return *all;
}

void load(const std::string& path, decode::EventRegistry registry) {
  auto loaded = std::make_unique<Loaded>();
  loaded->registry = std::move(registry);
  loaded->plan = decode::build_plan(loaded->registry);
  loaded->keys = objects::KeyTable::make(loaded->plan);
  if (!loaded->keys) fuzz::check_failed(path.c_str(), 0, "the keys of the plan could not be made");
  loaded->tables = columnar::build_table_schema(loaded->registry, loaded->plan);
  for (const decode::PlanDefinition& definition : loaded->plan.definitions) {
    if (definition.form == decode::PlanDefinition::Form::Struct) loaded->structs.push_back(definition.fields);
  }
  registries().push_back(std::move(loaded));
}

void start_interpreter() {
  PyPreConfig preconfig;
  PyPreConfig_InitIsolatedConfig(&preconfig);
  // Python's own allocator with its debug hooks: the free-threaded build
  // refuses plain malloc, and the hooks catch writes past Python buffers.
  preconfig.allocator = PYMEM_ALLOCATOR_MIMALLOC_DEBUG;
  PyStatus status = Py_PreInitialize(&preconfig);
  if (PyStatus_Exception(status)) Py_ExitStatusException(status);
  PyConfig config;
  PyConfig_InitIsolatedConfig(&config);
  config.install_signal_handlers = 0;  // the engine's handlers stay
  status = PyConfig_SetBytesString(&config, &config.home, VARKEL_PYTHON_HOME);
  if (!PyStatus_Exception(status)) status = Py_InitializeFromConfig(&config);
  PyConfig_Clear(&config);
  if (PyStatus_Exception(status)) Py_ExitStatusException(status);
}

// An event's data as decoded (modes 0 and 1).
struct EventBytes {
  bool event = false;
  std::size_t index = 0;
  const std::uint8_t* data = nullptr;
  std::size_t size = 0;
};

objects::Decoded nothing(const char* why) {
  objects::Decoded out;
  out.error.emplace(why);
  return out;
}

objects::Decoded run(const Loaded& loaded, unsigned mode, const std::uint8_t* data, std::size_t size,
                     EventBytes& decoded) {
  const decode::EventRegistry& registry = loaded.registry;
  const decode::DecodePlan& plan = loaded.plan;
  if (mode == 0) {
    if (size < 8) return nothing("short");
    const decode::EventEntry* entry = registry.find_event(data);
    if (entry == nullptr) return nothing("unknown");
    decoded = {true, static_cast<std::size_t>(entry - registry.events.data()), data + 8, size - 8};
    decode::BorshReader reader(data + 8, size - 8);
    return objects::decode_fields(plan, *loaded.keys, reader, plan.events[decoded.index]);
  }
  if (size < 1) return nothing("short");
  decode::BorshReader reader(data + 1, size - 1);
  if (mode == 1) {
    if (plan.events.empty()) return nothing("none");
    decoded = {true, data[0] % plan.events.size(), data + 1, size - 1};
    return objects::decode_fields(plan, *loaded.keys, reader, plan.events[decoded.index]);
  }
  if (loaded.structs.empty()) return nothing("none");
  return objects::decode_fields(plan, *loaded.keys, reader, loaded.structs[data[0] % loaded.structs.size()]);
}

}  // namespace

// No leak detection here: what the interpreter allocates is owned from Python's
// own heap, which LeakSanitizer does not scan, so all of it would look leaked.
extern "C" [[gnu::visibility("default")]] const char* __asan_default_options() {
  return "detect_leaks=0";
}

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  start_interpreter();
  fuzz::for_each_listed_idl("decode-idls.txt", load);
  if (registries().empty()) fuzz::check_failed(__FILE__, __LINE__, "no IDLs in fuzz/data/decode-idls.txt");
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1) return 0;
  const std::size_t count = registries().size();
  const Loaded& loaded = *registries()[data[0] % count];
  const unsigned mode = static_cast<unsigned>(data[0] / count % 3);
  EventBytes decoded;
  objects::Decoded value = run(loaded, mode, data + 1, size - 1, decoded);
  VARKEL_FUZZ_CHECK(PyErr_Occurred() == nullptr);  // nothing left pending either way
  if (!value.value) VARKEL_FUZZ_CHECK(!value.raised && value.error && !value.error->message.empty());
  if (decoded.event) {
    columnar::EventTables tables(loaded.plan, loaded.tables);
    const bool added = tables.add(decoded.index, decoded.data, decoded.size);
    VARKEL_FUZZ_CHECK(added == static_cast<bool>(value.value));
    const std::uint32_t table = loaded.tables.layouts.table_of[decoded.index];
    VARKEL_FUZZ_CHECK(tables.rows(table) == (added ? 1 : 0));
  }
  return 0;
}
