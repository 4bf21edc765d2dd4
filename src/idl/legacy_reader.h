// Reading a document of the older, unversioned IDL format into the legacy
// records: the same record machinery as the current format, other tables.
#pragma once

#include "base/result.h"
#include "idl/legacy_model.h"
#include "idl/schema.h"
#include "json/json.h"

namespace varkel::idl {

// Reads `root` (the whole document, metadata included) as a `legacy::Idl`.
Result<legacy::Idl> read_legacy_idl(const json::Value& root);

// Readers of single legacy records and enumerations, each reading into a
// freshly default-constructed value.
namespace legacy_schema {

schema::Status read_type(const json::Value& v, schema::Ctx ctx, legacy::IdlType& out);
schema::Status read_field(const json::Value& v, schema::Ctx ctx, legacy::IdlField& out);
schema::Status read_enum_fields(const json::Value& v, schema::Ctx ctx, legacy::EnumFields& out);
schema::Status read_type_definition(const json::Value& v, schema::Ctx ctx, legacy::IdlTypeDefinition& out);
schema::Status read_seed(const json::Value& v, schema::Ctx ctx, legacy::IdlSeed& out);
schema::Status read_account_item(const json::Value& v, schema::Ctx ctx, legacy::IdlAccountItem& out);

}  // namespace legacy_schema

}  // namespace varkel::idl
