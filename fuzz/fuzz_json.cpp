// The JSON text parser over any bytes: a value or a located message, and a
// value prints compactly and reads back to the same compact text.
#include <string>

#include "fuzz/common.h"
#include "json/json.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace varkel;
  Result<json::Value> value = json::parse(fuzz::as_text(data, size));
  if (!value) {
    VARKEL_FUZZ_CHECK(value.error().message.find(" at line ") != std::string::npos);
    return 0;
  }
  const std::string compact = json::to_compact(*value);
  Result<json::Value> again = json::parse(compact);
  VARKEL_FUZZ_CHECK(again.has_value());
  VARKEL_FUZZ_CHECK(json::to_compact(*again) == compact);
  return 0;
}
