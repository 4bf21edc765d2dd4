// The column layout of each event's table: which Arrow array holds each
// value that the event's type can produce, compiled once from the decode plan.
//
// A slot is one array of the table (a column, or an array nested in one).
// The mapping from IDL types:
//
//   u8..u64, i8..i64     uint8..uint64, int8..int64
//   f32, f64             float32, float64
//   bool                 boolean
//   string               utf8 (large_utf8 past 2 GiB in one table)
//   bytes                binary (large_binary likewise)
//   pubkey               utf8: the base58 text
//   u128, i128           decimal128(38, 0) when every value of the table fits,
//                        else utf8: the decimal text
//   u256, i256           decimal256(76, 0) likewise, else the decimal text
//   option<T>            T's array, null where the option is empty
//   vec<T>               list<T> (large_list past 2^31 elements)
//   [T; N]               fixed_size_list<T>[N] (list<T> when a null one would
//                        need more than kMaxNullExpansion placeholders)
//   struct               struct; tuple fields are named "0", "1", ...; a
//                        name given twice is one child, at the first's place,
//                        holding the last's value (as in parse_logs' dicts)
//   enum, no variant     dictionary<int16, utf8> of the variant names
//     with fields
//   enum                 struct{variant: that dictionary, then one nullable
//                        struct per variant with fields, named after it}
//
// Types that no value can reach without failing (a generic parameter, a
// generic array length, a reference with generic arguments or to an unknown
// name, anything nested deeper than the decoders allow) are Arrow's null
// type. A type that contains itself is expanded once; where it would repeat,
// the value is given as its Borsh bytes (binary). So is a value whose type
// would take the table past kMaxSlots arrays.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "decode/plan.h"

namespace varkel::columnar {

enum class SlotKind : std::uint8_t {
  Null,
  Bool,
  I8,
  I16,
  I32,
  I64,
  U8,
  U16,
  U32,
  U64,
  F32,
  F64,
  I128,
  U128,
  I256,
  U256,
  Binary,
  Utf8,
  Pubkey,
  Opaque,      // binary: the value's Borsh bytes
  List,        // children: the element
  FixedList,   // children: the element; list_size elements per value
  Struct,      // children: the fields' arrays
  Dictionary,  // an enum without fields: int16 indices into `names`
  Enum,        // children: the variant dictionary, then the variants' structs
};

struct Slot {
  SlotKind kind = SlotKind::Null;
  bool nullable = false;  // may hold nulls: declared nullable in the schema
  std::string name;
  std::uint32_t first_child = 0;  // children: slots [first_child, first_child + child_count)
  std::uint32_t child_count = 0;
  // Struct: one entry per plan field (in the plan's order), the child slot
  // that stores it or kNoIndex (decoded, not stored). Enum: one per variant, its
  // struct slot or kNoIndex (a unit variant). Start in Layout::targets.
  std::uint32_t first_target = 0;
  std::uint64_t list_size = 0;     // FixedList
  std::uint32_t names = kNoIndex;  // Dictionary and Enum: the enum's definition in the plan
};

// One table: the slots in order, the root (the event's fields) first.
struct Layout {
  std::string name;  // the event's name
  std::vector<Slot> slots;
  std::vector<std::uint32_t> targets;
};

// A table may hold at most this many arrays (columns and nested arrays).
inline constexpr std::size_t kMaxSlots = 4096;
// A null fixed-size list needs list_size placeholder values in its element
// array, recursively; beyond this many an array is laid out as a list.
inline constexpr std::uint64_t kMaxNullExpansion = 1 << 16;

// One layout per distinct event name, in the order of the names' first
// events; `table_of[i]` is the layout of registry event i.
struct Layouts {
  std::vector<Layout> tables;
  std::vector<std::uint32_t> table_of;
};

Layouts build_layouts(const decode::EventRegistry& registry, const decode::DecodePlan& plan);

}  // namespace varkel::columnar
