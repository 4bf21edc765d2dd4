// Decoding event data against the registries of the IDLs in the repository,
// with the value decoder the extension uses (it builds Python objects, so
// this target runs an embedded interpreter).
//
// Input: one selector byte, then the bytes to decode. The selector picks one
// of the registries of the IDLs listed in fuzz/data/decode-idls.txt
// (selector % registries) and the mode ((selector / registries) % 3):
//   0  a payload: 8-byte discriminator looked up in the registry, then data;
//   1  the next byte picks an event by position, the rest is its data;
//   2  the next byte picks a defined type by name order, the rest is its data.
// Every decode ends in a value or a decode error; the internal error (the
// interpreter refusing to create an object) must not happen here.
#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <algorithm>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "decode/borsh_reader.h"
#include "decode/registry.h"
#include "decode/value_decoder.h"
#include "fuzz/common.h"
#include "idl/load.h"

namespace {

using namespace varkel;

struct Loaded {
  decode::EventRegistry registry;
  std::vector<std::string> type_names;  // sorted
};

std::vector<Loaded>& registries() {
  static std::vector<Loaded> all;
  return all;
}

std::string read_text(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  if (!file) fuzz::check_failed(path.c_str(), 0, "cannot read");
  std::stringstream text;
  text << file.rdbuf();
  return text.str();
}

void load(const std::string& path) {
  Result<idl::Idl> idl = idl::load_idl(read_text(path));
  if (!idl) fuzz::check_failed(path.c_str(), 0, idl.error().c_str());
  Result<decode::EventRegistry> registry = decode::build_registry(*idl);
  if (!registry) fuzz::check_failed(path.c_str(), 0, registry.error().c_str());
  Loaded loaded{std::move(*registry), {}};
  for (const auto& entry : loaded.registry.types) loaded.type_names.push_back(entry.first);
  std::sort(loaded.type_names.begin(), loaded.type_names.end());
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

decode::DecodeResult run(const Loaded& loaded, unsigned mode, const std::uint8_t* data, std::size_t size) {
  const decode::EventRegistry& registry = loaded.registry;
  if (mode == 0) {
    if (size < 8) return std::unexpected(decode::DecodeError{"short", false});
    const decode::EventEntry* entry = registry.find_event(data);
    if (entry == nullptr) return std::unexpected(decode::DecodeError{"unknown", false});
    decode::BorshReader reader(data + 8, size - 8);
    return decode::decode_fields(registry, reader, entry->fields);
  }
  if (size < 1) return std::unexpected(decode::DecodeError{"short", false});
  decode::BorshReader reader(data + 1, size - 1);
  if (mode == 1) {
    if (registry.events.empty()) return std::unexpected(decode::DecodeError{"none", false});
    const decode::EventEntry& entry = registry.events[data[0] % registry.events.size()];
    return decode::decode_fields(registry, reader, entry.fields);
  }
  if (loaded.type_names.empty()) return std::unexpected(decode::DecodeError{"none", false});
  return decode::decode_defined(registry, reader, loaded.type_names[data[0] % loaded.type_names.size()]);
}

}  // namespace

// No leak detection here: what the interpreter allocates is owned from Python's
// own heap, which LeakSanitizer does not scan, so all of it would look leaked.
extern "C" [[gnu::visibility("default")]] const char* __asan_default_options() {
  return "detect_leaks=0";
}

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  start_interpreter();
  std::istringstream list(read_text(std::string(VARKEL_SOURCE_DIR) + "/fuzz/data/decode-idls.txt"));
  for (std::string line; std::getline(list, line);) {
    if (!line.empty() && line[0] != '#') load(std::string(VARKEL_SOURCE_DIR) + "/" + line);
  }
  if (registries().empty()) fuzz::check_failed(__FILE__, __LINE__, "no IDLs in fuzz/data/decode-idls.txt");
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1) return 0;
  const std::size_t count = registries().size();
  const Loaded& loaded = registries()[data[0] % count];
  const unsigned mode = static_cast<unsigned>(data[0] / count % 3);
  decode::DecodeResult value = run(loaded, mode, data + 1, size - 1);
  VARKEL_FUZZ_CHECK(PyErr_Occurred() == nullptr);  // nothing left pending either way
  if (!value) VARKEL_FUZZ_CHECK(!value.error().internal && !value.error().message.empty());
  return 0;
}
