// Memory layouts of zero-copy (bytemuck) types: the size, alignment and field
// offsets that a program's `#[account(zero_copy)]` struct has in account
// memory on the target (Solana SBF), computed from the IDL's type definitions.
//
// Zero-copy data is the struct's memory image (after the 8-byte account
// discriminator), not a Borsh encoding: fields sit at aligned offsets with
// padding between them. The rules, as rustc applies them for SBF:
//
// * Primitives: bool, u8, i8 take 1 byte aligned to 1; u16/i16 2; u32, i32,
//   f32 4; u64, i64, f64 8. u128/i128 take 16 bytes aligned to **8** (SBF,
//   unlike x86-64 today). u256/i256 are laid out as [u64; 4]: 32 bytes
//   aligned to 8. A pubkey is [u8; 32]: 32 bytes aligned to 1.
// * [T; n]: n elements of T back to back (T's size already holds its tail
//   padding, so the stride is T's size), aligned as T.
// * repr(C) struct: fields in IDL order, each at the next offset aligned to
//   the field; aligned as its most aligned field, or `align` when larger;
//   size rounded up to the alignment. `packed` (any packed(n), taken as 1):
//   no padding at all, alignment 1. repr(transparent): the layout of its one
//   field of non-zero size. Tuple structs lay out their fields by position.
// * repr(Rust) has no defined layout unless packed (then as packed C); a
//   struct without repr is taken as repr(Rust) and refused, as is a
//   repr(Rust) struct that is not packed.
// * An enum whose variants all lack fields is one byte (see zero_copy.cpp).
// * An alias (`kind: type`) has the layout of the aliased type.
// * The repr decides, not the serialization: real programs nest types marked
//   Borsh but repr(C) inside zero-copy accounts, laid out by their repr.
//
// What has no fixed layout is refused with a message naming the root type,
// the field path and the reason: vec, string, bytes, option, enums with
// fields, generic parameters and generic array lengths, references with
// generic arguments, unknown type names, types that contain themselves, and
// anything larger than kMaxZeroCopySize.
#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "base/result.h"
#include "idl/model.h"

namespace varkel::decode {

// Far above any real account (Solana caps account data at 10 MiB), and small
// enough that sums of sizes never overflow 64 bits.
inline constexpr std::uint64_t kMaxZeroCopySize = std::uint64_t{1} << 40;
// Defined types nested inside one another (far above any real program); the
// computation recurses once per level.
inline constexpr unsigned kMaxZeroCopyNesting = 256;

// The size and alignment of a type expression in zero-copy memory.
struct MemoryShape {
  std::uint64_t size = 0;
  std::uint64_t align = 1;
};

// The layout of one defined type.
struct TypeLayout {
  std::uint64_t size = 0;
  std::uint64_t align = 1;
  // Struct fields in IDL order (tuple fields by position); empty for enums
  // and aliases.
  std::vector<std::uint64_t> field_offsets;
};

// The definition of a type name, or nullptr when the IDL has none.
using TypeLookup = std::function<const idl::IdlTypeDef*(std::string_view)>;

// The layouts of every defined type reachable from some root types.
class ZeroCopyLayouts {
 public:
  // The layout of `type_name`, or nullptr when it was not reached.
  const TypeLayout* find(std::string_view type_name) const;
  // How many defined types have a layout here.
  std::size_t count() const { return layouts_.size(); }
  // The size and alignment of `type`, whose defined names must all have a
  // layout here. An array's element stride is its element's size.
  Result<MemoryShape> shape_of(const idl::IdlType& type) const;

 private:
  friend class ZeroCopyLayoutBuilder;
  struct NameHash {
    using is_transparent = void;
    std::size_t operator()(std::string_view s) const noexcept { return std::hash<std::string_view>{}(s); }
  };
  std::unordered_map<std::string, TypeLayout, NameHash, std::equal_to<>> layouts_;
};

// Lays out `roots` and every type they reach, each once (linear in the size
// of the definitions reached). Fails with the first type that has no layout.
Result<ZeroCopyLayouts> compute_zero_copy_layouts(const TypeLookup& lookup,
                                                  std::span<const std::string> roots);

// The same over an IDL's list of definitions; a later definition of a name
// replaces an earlier one.
Result<ZeroCopyLayouts> compute_zero_copy_layouts(std::span<const idl::IdlTypeDef> types,
                                                  std::span<const std::string> roots);

}  // namespace varkel::decode
