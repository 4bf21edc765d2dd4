// The wire form of a transaction (parse_wire_transaction) and base58, over
// any bytes.
//
// Properties:
// - what parses writes back to exactly the input: the form has one encoding
//   per transaction (shortest compact-u16s, no trailing bytes, signatures as
//   many as the header asks), so an encoder written here from the grammar in
//   tx/wire.h must give the same bytes; the views lie inside the input;
// - what fails fails with one message about the wire transaction;
// - base58: the input's text decodes exactly when every character is in the
//   alphabet, and then encodes back to itself; the input's bytes encode to a
//   text that decodes back to them; a key decodes only from 32 bytes' text.
#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "decode/base58.h"
#include "fuzz/common.h"
#include "tx/wire.h"

namespace {

using namespace varkel;

void put_compact_u16(std::vector<std::uint8_t>& out, std::size_t n) {
  VARKEL_FUZZ_CHECK(n <= 0xFFFF);
  do {
    std::uint8_t byte = n & 0x7F;
    n >>= 7;
    if (n != 0) byte |= 0x80;
    out.push_back(byte);
  } while (n != 0);
}

void put(std::vector<std::uint8_t>& out, std::span<const std::uint8_t> bytes) {
  out.insert(out.end(), bytes.begin(), bytes.end());
}

std::vector<std::uint8_t> encode(const tx::WireTransaction& t) {
  std::vector<std::uint8_t> out;
  put_compact_u16(out, t.signatures.size());
  for (auto signature : t.signatures) {
    VARKEL_FUZZ_CHECK(signature.size() == 64);
    put(out, signature);
  }
  if (t.versioned) out.push_back(0x80);
  put(out, t.header);
  put_compact_u16(out, t.keys.size());
  for (const decode::Pubkey& key : t.keys) put(out, key);
  put(out, t.blockhash);
  put_compact_u16(out, t.instructions.size());
  for (const tx::WireInstruction& ins : t.instructions) {
    out.push_back(ins.program_index);
    put_compact_u16(out, ins.accounts.size());
    put(out, ins.accounts);
    put_compact_u16(out, ins.data.size());
    put(out, ins.data);
  }
  if (t.versioned) {
    put_compact_u16(out, t.lookups.size());
    for (const tx::WireLookup& lookup : t.lookups) {
      put(out, lookup.table);
      put_compact_u16(out, lookup.writable.size());
      put(out, lookup.writable);
      put_compact_u16(out, lookup.readonly.size());
      put(out, lookup.readonly);
    }
  } else {
    VARKEL_FUZZ_CHECK(t.lookups.empty());
  }
  return out;
}

bool inside(std::span<const std::uint8_t> part, std::span<const std::uint8_t> whole) {
  return part.empty() ||
         (part.data() >= whole.data() && part.data() + part.size() <= whole.data() + whole.size());
}

void check_wire(std::span<const std::uint8_t> bytes) {
  Result<tx::WireTransaction> parsed = tx::parse_wire_transaction(bytes);
  if (!parsed) {
    VARKEL_FUZZ_CHECK(parsed.error().message.starts_with("wire transaction"));
    return;
  }
  const tx::WireTransaction& t = *parsed;
  VARKEL_FUZZ_CHECK(t.signatures.size() == t.header[0]);
  std::size_t writable = 0;
  std::size_t readonly = 0;
  for (auto signature : t.signatures) VARKEL_FUZZ_CHECK(inside(signature, bytes));
  for (const tx::WireInstruction& ins : t.instructions) {
    VARKEL_FUZZ_CHECK(inside(ins.accounts, bytes) && inside(ins.data, bytes));
  }
  for (const tx::WireLookup& lookup : t.lookups) {
    VARKEL_FUZZ_CHECK(inside(lookup.writable, bytes) && inside(lookup.readonly, bytes));
    writable += lookup.writable.size();
    readonly += lookup.readonly.size();
  }
  VARKEL_FUZZ_CHECK(t.loaded_writable() == writable && t.loaded_readonly() == readonly);
  const std::vector<std::uint8_t> again = encode(t);
  VARKEL_FUZZ_CHECK(std::ranges::equal(again, bytes));
}

constexpr std::string_view kAlphabet = "123456789ABCDEFGHJKLMNPQRSTUVWXYZabcdefghijkmnopqrstuvwxyz";

void check_base58(std::span<const std::uint8_t> bytes) {
  // Base58 is quadratic: a transaction's texts are a few hundred characters.
  constexpr std::size_t kMax = 2048;
  const std::string_view text = fuzz::as_text(bytes.data(), std::min(bytes.size(), kMax));
  const std::optional<std::size_t> invalid = decode::base58_invalid_at(text);
  std::size_t first_bad = text.size();
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (kAlphabet.find(text[i]) == std::string_view::npos) {
      first_bad = i;
      break;
    }
  }
  VARKEL_FUZZ_CHECK(invalid.value_or(text.size()) == first_bad);
  Result<std::vector<std::uint8_t>> decoded = decode::base58_decode(text);
  VARKEL_FUZZ_CHECK(decoded.has_value() == !invalid.has_value());
  if (decoded) {
    VARKEL_FUZZ_CHECK(decode::base58_encode(*decoded) == text);
  } else {
    VARKEL_FUZZ_CHECK(decoded.error().message.starts_with("invalid base58 character"));
  }
  Result<decode::Pubkey> key = decode::base58_decode_key(text);
  VARKEL_FUZZ_CHECK(key.has_value() == (decoded.has_value() && decoded->size() == 32));
  if (key) VARKEL_FUZZ_CHECK(std::ranges::equal(*key, *decoded));

  const std::span<const std::uint8_t> raw = bytes.first(std::min(bytes.size(), kMax));
  const std::string encoded = decode::base58_encode(raw);
  VARKEL_FUZZ_CHECK(encoded.size() <= decode::base58_capacity(raw.size()));
  Result<std::vector<std::uint8_t>> back = decode::base58_decode(encoded);
  VARKEL_FUZZ_CHECK(back.has_value() && std::ranges::equal(*back, raw));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::span<const std::uint8_t> bytes(data, size);
  check_wire(bytes);
  check_base58(bytes);
  return 0;
}
