// IDL loading over any bytes: the JSON text read as a current document and as
// a legacy one (converted), whichever metadata.spec says, and registries built
// from what loads. Every failure is a message; a registry finds each of its
// events by its discriminator and each of its types by name.
#include <utility>

#include "decode/registry.h"
#include "fuzz/common.h"
#include "idl/convert.h"
#include "idl/current_reader.h"
#include "idl/legacy_reader.h"
#include "idl/load.h"
#include "json/json.h"

namespace {

using namespace varkel;

void check_registry(const Result<idl::Idl>& idl) {
  if (!idl) {
    VARKEL_FUZZ_CHECK(!idl.error().message.empty());
    return;
  }
  Result<decode::EventRegistry> registry = decode::build_registry(*idl);
  if (!registry) {
    VARKEL_FUZZ_CHECK(!registry.error().message.empty());
    return;
  }
  for (const decode::EventEntry& entry : registry->events) {
    if (entry.discriminator.size() != 8) continue;
    const decode::EventEntry* found = registry->find_event(entry.discriminator.data());
    VARKEL_FUZZ_CHECK(found != nullptr && found->discriminator == entry.discriminator);
  }
  for (const auto& [name, def] : registry->types) {
    VARKEL_FUZZ_CHECK(registry->find_type(name) == &def);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text = fuzz::as_text(data, size);
  check_registry(idl::load_idl(text));

  // Both readers on every document, whatever its metadata says.
  Result<json::Value> root = json::parse(text);
  if (!root) return 0;
  check_registry(idl::read_idl(*root));
  Result<idl::legacy::Idl> legacy = idl::read_legacy_idl(*root);
  if (legacy) check_registry(idl::convert_legacy_idl(std::move(*legacy)));
  return 0;
}
