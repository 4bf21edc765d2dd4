// Payload extraction and strict base64 over any line: the payload is a view
// inside the line after one of the two prefixes, and whatever base64 accepts
// encodes back to exactly the same text (only canonical text is accepted).
#include <string>

#include "fuzz/common.h"
#include "fuzz/repo_idls.h"
#include "scan/base64.h"
#include "scan/payload.h"

namespace {

void check_base64(std::string_view text) {
  std::optional<varkel::scan::ByteBuffer> bytes = varkel::scan::decode_base64(text);
  if (!bytes) return;
  VARKEL_FUZZ_CHECK(varkel::fuzz::encode_base64(bytes->data.get(), bytes->size) == text);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view line = varkel::fuzz::as_text(data, size);
  std::optional<std::string_view> payload = varkel::scan::extract_payload(line);
  if (payload) {
    VARKEL_FUZZ_CHECK(payload->data() >= line.data() + 13);
    VARKEL_FUZZ_CHECK(payload->data() + payload->size() <= line.data() + line.size());
    VARKEL_FUZZ_CHECK(line.starts_with("Program data: ") || line.starts_with("Program log: "));
    check_base64(*payload);
  }
  check_base64(line);
  return 0;
}
