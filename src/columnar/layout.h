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
//   pubkey               utf8: the base58 text; or fixed_size_binary(32), the
//                        key's bytes, in layouts made by with_binary_keys
//   u128, i128,          utf8: the exact decimal text ("-170141183...728").
//     u256, i256         No decimal type holds every value and is read by
//                        the common readers without loss: decimal128(38)
//                        stops short of 2^128 - 1, and decimal256(39) is read
//                        as a double by DuckDB and refused by polars.
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
//
// Every type above is a function of the IDL alone: tables of the same layout
// from any batches have one schema (only a table past 2 GiB of text, bytes
// or list elements in one column takes the large variants).
//
// A table may have columns of its own around the fields (ColumnSpec): the
// context of a transaction's rows before them, an instruction's accounts
// after them. A field whose name one of those columns takes is renamed with
// a trailing "_" (repeated until the name is free).
#pragma once

#include <cstdint>
#include <span>
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
  Binary,
  Utf8,
  Pubkey,      // utf8: the base58 text
  KeyBytes,    // fixed_size_binary(32)
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

// One table: the slots in order, the root (the row) first. The root's
// children are the columns: `before` columns of the table's own, the
// fields, then `after` columns of its own.
struct Layout {
  std::string name;  // the event's, instruction's or account type's name
  std::vector<Slot> slots;
  std::vector<std::uint32_t> targets;
  std::uint32_t before = 0;  // the first column's slot is slots[0].first_child
  std::uint32_t after = 0;   // the last `after` columns

  // The slot of column `i` of the table's own before the fields, or after them.
  std::uint32_t before_slot(std::uint32_t i) const noexcept { return slots[0].first_child + i; }
  std::uint32_t after_slot(std::uint32_t i) const noexcept {
    return slots[0].first_child + slots[0].child_count - after + i;
  }
};

// A column of a table's own: a scalar, or a struct or list of them.
struct ColumnSpec {
  std::string name;
  SlotKind kind = SlotKind::Null;
  bool nullable = true;
  std::vector<ColumnSpec> children;  // Struct: its fields; List: the element
};

// A table may hold at most this many arrays (columns and nested arrays).
inline constexpr std::size_t kMaxSlots = 4096;
// A null fixed-size list needs list_size placeholder values in its element
// array, recursively; beyond this many an array is laid out as a list.
inline constexpr std::uint64_t kMaxNullExpansion = 1 << 16;

// The layout of one table: `before`, then the values of `fields` (none when
// null), then `after`. `nullable`: the fields may be null (an instruction's
// trailing arguments that the data leaves out).
Layout lay_out(const decode::DecodePlan& plan, std::string name, const decode::FieldsRef* fields,
               std::span<const ColumnSpec> before = {}, std::span<const ColumnSpec> after = {},
               bool nullable = false);

// Tables, and the table of each item of a registry list (events: several
// events of one name share a table; kNoIndex: an item without one).
struct Layouts {
  std::vector<Layout> tables;
  std::vector<std::uint32_t> table_of;
};

// The same layout with every public key as its 32 bytes (KeyBytes).
Layout with_binary_keys(Layout layout);

}  // namespace varkel::columnar
