// Reading a document of the current IDL format ("0.1.0") into the model.
#pragma once

#include "base/result.h"
#include "idl/model.h"
#include "idl/schema.h"
#include "json/json.h"

namespace varkel::idl {

// Reads `root` as an `Idl`. The caller has chosen the format; metadata.spec is
// read like any other string.
Result<Idl> read_idl(const json::Value& root);

// Readers of single records and enumerations, each reading into a freshly
// default-constructed value; `ctx` tells whether the value lies below a tagged
// or alternative value.
namespace current {

schema::Status read_type(const json::Value& v, schema::Ctx ctx, IdlType& out);
schema::Status read_array_len(const json::Value& v, schema::Ctx ctx, IdlArrayLen& out);
schema::Status read_field(const json::Value& v, schema::Ctx ctx, IdlField& out);
schema::Status read_defined_fields(const json::Value& v, schema::Ctx ctx, IdlDefinedFields& out);
schema::Status read_type_def(const json::Value& v, schema::Ctx ctx, IdlTypeDef& out);
schema::Status read_type_def_ty(const json::Value& v, schema::Ctx ctx, IdlTypeDefTy& out);
schema::Status read_seed(const json::Value& v, schema::Ctx ctx, IdlSeed& out);
schema::Status read_generic_arg(const json::Value& v, schema::Ctx ctx, IdlGenericArg& out);
schema::Status read_account_item(const json::Value& v, schema::Ctx ctx, IdlInstructionAccountItem& out);

}  // namespace current

}  // namespace varkel::idl
