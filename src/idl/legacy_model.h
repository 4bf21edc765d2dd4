// The records of an IDL document of the older, unversioned format.
//
// Used only on the way to the current model: read_legacy_idl fills them,
// convert_legacy_idl turns them into an `Idl` and drops them. Same shape as
// the current model: plain values, lists owning their elements, Box for
// recursion, enumerations as structs holding a std::variant named `value`
// (the type expression as a kind with a payload). Optional members are
// std::optional where the document may leave a key out and the difference
// between "absent" and "empty" is kept.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <variant>
#include <vector>

#include "idl/box.h"
#include "json/json.h"

namespace varkel::idl::legacy {

using Docs = std::vector<std::string>;

struct IdlType;

// One argument of `definedWithTypeArgs`.
struct IdlDefinedTypeArg {
  struct Generic {
    std::string name;
  };
  struct Value {
    std::string value;  // a constant argument as text
  };
  struct Type {
    Box<IdlType> type;
  };
  std::variant<Generic, Value, Type> value;
};

// A type expression. `kind` selects the variant, in the fixed order of the
// format; the payload members are meaningful only for the kinds named beside
// them.
struct IdlType {
  enum class Kind : std::uint8_t {
    Bool,
    U8,
    I8,
    U16,
    I16,
    U32,
    I32,
    F32,
    U64,
    I64,
    F64,
    U128,
    I128,
    U256,
    I256,
    Bytes,
    String,
    PublicKey,
    Defined,
    Option,
    Vec,
    Array,
    GenericLenArray,
    Generic,
    DefinedWithTypeArgs,
  };
  static constexpr int kVariantCount = 25;

  struct Array {
    Box<IdlType> element;
    std::uint64_t size = 0;
  };
  struct GenericLenArray {
    Box<IdlType> element;
    std::string name;  // a constant generic parameter
  };
  struct DefinedWithTypeArgs {
    std::string name;
    std::vector<IdlDefinedTypeArg> args;
  };

  Kind kind = Kind::Bool;
  // Option, Vec: Box<IdlType>; Array, GenericLenArray, DefinedWithTypeArgs:
  // their records; Defined, Generic: the name; every other kind: monostate.
  std::variant<std::monostate, Box<IdlType>, Array, GenericLenArray, DefinedWithTypeArgs, std::string>
      payload;

  const IdlType& inner() const { return *std::get<Box<IdlType>>(payload); }
  const Array& array() const { return std::get<Array>(payload); }
  const GenericLenArray& generic_len_array() const { return std::get<GenericLenArray>(payload); }
  const DefinedWithTypeArgs& defined_with_type_args() const { return std::get<DefinedWithTypeArgs>(payload); }
  // Defined, Generic.
  const std::string& name() const { return std::get<std::string>(payload); }

  static IdlType simple(Kind k) { return IdlType{k, std::monostate{}}; }
  static IdlType named(Kind k, std::string name) { return IdlType{k, std::move(name)}; }
  static IdlType wrapping(Kind k, IdlType inner) { return IdlType{k, Box<IdlType>(std::move(inner))}; }
};

struct IdlField {
  std::string name;
  std::optional<Docs> docs;
  IdlType type;
};

struct IdlEventField {
  std::string name;
  IdlType type;
  bool index = false;
};

// An event carries its fields itself.
struct IdlEvent {
  std::string name;
  std::vector<IdlEventField> fields;
};

// Named fields (tried first) or tuple fields known only by position.
struct EnumFields {
  using Named = std::vector<IdlField>;
  using Tuple = std::vector<IdlType>;
  std::variant<Named, Tuple> value;
};

struct IdlEnumVariant {
  std::string name;
  std::optional<EnumFields> fields;  // absent: a unit variant
};

struct IdlTypeDefinitionTy {
  struct Struct {
    std::vector<IdlField> fields;
  };
  struct Enum {
    std::vector<IdlEnumVariant> variants;
  };
  struct Alias {
    IdlType value;
  };
  std::variant<Struct, Enum, Alias> value;
};

// A named type; the document's `types` and `accounts` lists both hold these.
struct IdlTypeDefinition {
  std::string name;
  std::optional<Docs> docs;
  std::optional<std::vector<std::string>> generics;
  IdlTypeDefinitionTy type;
};

struct IdlSeed {
  struct Const {
    IdlType type;
    json::Value value;  // any JSON value, null included
  };
  struct Arg {
    IdlType type;
    std::string path;
  };
  struct Account {
    IdlType type;
    std::optional<std::string> account;
    std::string path;
  };
  std::variant<Const, Arg, Account> value;
};

struct IdlPda {
  std::vector<IdlSeed> seeds;
  std::optional<IdlSeed> program_id;
};

struct IdlAccount {
  std::string name;
  bool is_mut = false;
  bool is_signer = false;
  std::optional<bool> is_optional;  // absent reads as false
  std::optional<Docs> docs;
  std::optional<IdlPda> pda;
  std::vector<std::string> relations;
};

struct IdlAccountItem;

struct IdlAccounts {
  std::string name;
  std::vector<IdlAccountItem> accounts;
};

// A single account (tried first) or a named group of accounts.
struct IdlAccountItem {
  std::variant<IdlAccount, IdlAccounts> value;
};

struct IdlInstruction {
  std::string name;
  std::optional<Docs> docs;
  std::vector<IdlAccountItem> accounts;
  std::vector<IdlField> args;
  std::optional<IdlType> returns;
};

struct IdlErrorCode {
  std::uint32_t code = 0;
  std::string name;
  std::optional<std::string> msg;
};

struct IdlConst {
  std::string name;
  IdlType type;
  std::string value;
};

struct Idl {
  std::string version;
  std::string name;
  std::optional<Docs> docs;
  std::vector<IdlConst> constants;
  std::vector<IdlInstruction> instructions;
  std::vector<IdlTypeDefinition> accounts;
  std::vector<IdlTypeDefinition> types;
  std::optional<std::vector<IdlEvent>> events;
  std::optional<std::vector<IdlErrorCode>> errors;
  std::optional<json::Value> metadata;  // any JSON value but null
};

}  // namespace varkel::idl::legacy
