// The wire form of a transaction ("base64"/"base58" encodings of
// getTransaction): signatures, then the legacy or version-0 message.
//
//   transaction := compact-u16 n, n x 64-byte signature, message
//   message     := [0x80 | version]        (version 0; absent for legacy)
//                  3-byte header (required signatures, read-only signed, read-only unsigned)
//                  compact-u16 k, k x 32-byte account key
//                  32-byte recent blockhash
//                  compact-u16 m, m x instruction
//                  (version 0) compact-u16 l, l x address table lookup
//   instruction := u8 program index, compact-u16 a, a x u8 account index,
//                  compact-u16 d, d bytes of data
//   lookup      := 32-byte table key, compact-u16 w, w x u8 index,
//                  compact-u16 r, r x u8 index
//   compact-u16 := 1 to 3 bytes, 7 bits each, low first, high bit = more;
//                  shortest form only, at most 0xFFFF
//
// Every read is bounds-checked; every failure is one message that names the
// byte offset and what was being read. Trailing bytes are refused, and so is
// a signature count other than the header's.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <vector>

#include "base/result.h"
#include "decode/base58.h"

namespace varkel::tx {

struct WireInstruction {
  std::uint8_t program_index = 0;
  std::span<const std::uint8_t> accounts;
  std::span<const std::uint8_t> data;
};

struct WireLookup {
  decode::Pubkey table{};
  std::span<const std::uint8_t> writable;
  std::span<const std::uint8_t> readonly;
};

// Views into the bytes it was parsed from.
struct WireTransaction {
  std::vector<std::span<const std::uint8_t>> signatures;  // 64 bytes each
  bool versioned = false;                                 // version 0 (the only version there is)
  std::array<std::uint8_t, 3> header{};
  std::vector<decode::Pubkey> keys;
  decode::Pubkey blockhash{};
  std::vector<WireInstruction> instructions;
  std::vector<WireLookup> lookups;  // version 0 only

  // Accounts that the lookups load: writable ones first, then read-only ones.
  std::size_t loaded_writable() const noexcept;
  std::size_t loaded_readonly() const noexcept;
};

Result<WireTransaction> parse_wire_transaction(std::span<const std::uint8_t> bytes);

}  // namespace varkel::tx
