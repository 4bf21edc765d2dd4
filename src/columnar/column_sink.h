// Decoded data into the columns of a table: the Arrow sink of the plan walk
// (decode/walk.h). The walk decides what decodes; this file only stores it,
// each value into its slot of the table's layout (columnar/layout.h), with
// no Python object per value.
#pragma once

#include <cstdint>

#include "columnar/key_text.h"
#include "columnar/table_builder.h"
#include "decode/borsh_reader.h"
#include "decode/plan.h"

namespace varkel::columnar {

// Decodes one row's fields (`fields` of `plan`) from `reader` into the root
// slot of `table`. True when the value decoded; false when it does not, in
// which case some columns may hold part of it: the caller rolls the table
// back (TableBuilder::checkpoint / rollback).
bool decode_row(const decode::DecodePlan& plan, TableBuilder& table, decode::BorshReader& reader,
                const decode::FieldsRef& fields, KeyTextCache& keys);

// The same for an instruction's arguments: data that ends before a trailing
// argument leaves it and those after it null (decode::Walk::arguments).
bool decode_arguments_row(const decode::DecodePlan& plan, TableBuilder& table, decode::BorshReader& reader,
                          const decode::FieldsRef& fields, KeyTextCache& keys);

// The same for the struct definition `definition` of an account type, laid
// out in memory when `zero_copy`.
bool decode_account_row(const decode::DecodePlan& plan, TableBuilder& table, decode::BorshReader& reader,
                        std::uint32_t definition, bool zero_copy, KeyTextCache& keys);

}  // namespace varkel::columnar
