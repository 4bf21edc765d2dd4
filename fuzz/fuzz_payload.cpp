// Payload extraction and strict base64 over any line: the payload is a view
// inside the line after one of the two prefixes, and whatever base64 accepts
// encodes back to exactly the same text (only canonical text is accepted).
#include <string>

#include "fuzz/common.h"
#include "scan/base64.h"
#include "scan/payload.h"

namespace {

std::string encode_base64(const std::uint8_t* data, std::size_t size) {
  static constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  for (std::size_t i = 0; i < size; i += 3) {
    const std::size_t n = size - i < 3 ? size - i : 3;
    std::uint32_t chunk = std::uint32_t{data[i]} << 16;
    if (n > 1) chunk |= std::uint32_t{data[i + 1]} << 8;
    if (n > 2) chunk |= data[i + 2];
    out += kAlphabet[(chunk >> 18) & 63];
    out += kAlphabet[(chunk >> 12) & 63];
    out += n > 1 ? kAlphabet[(chunk >> 6) & 63] : '=';
    out += n > 2 ? kAlphabet[chunk & 63] : '=';
  }
  return out;
}

void check_base64(std::string_view text) {
  std::optional<varkel::scan::ByteBuffer> bytes = varkel::scan::decode_base64(text);
  if (!bytes) return;
  VARKEL_FUZZ_CHECK(encode_base64(bytes->data.get(), bytes->size) == text);
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
