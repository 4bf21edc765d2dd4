#include "tx/transaction.h"

#include <array>

namespace varkel::tx {

namespace {

// Ed25519SigVerify111111111111111111111111111, KeccakSecp256k11111111111111111111111111111,
// Secp256r1SigVerify1111111111111111111111111: their base58 texts decoded once.
const std::array<Pubkey, 3>& precompiles() {
  static const std::array<Pubkey, 3> keys = [] {
    std::array<Pubkey, 3> out{};
    const std::string_view texts[] = {"Ed25519SigVerify111111111111111111111111111",
                                      "KeccakSecp256k11111111111111111111111111111",
                                      "Secp256r1SigVerify1111111111111111111111111"};
    for (std::size_t i = 0; i < out.size(); ++i) out[i] = *decode::base58_decode_key(texts[i]);  // valid keys
    return out;
  }();
  return keys;
}

}  // namespace

bool is_precompile(const Pubkey& program) noexcept {
  for (const Pubkey& key : precompiles()) {
    if (key == program) return true;
  }
  return false;
}

}  // namespace varkel::tx
