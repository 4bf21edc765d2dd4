// The in-memory model of an IDL document of the current format ("0.1.0").
//
// A tree of plain values: every record owns its fields, lists own their
// elements, recursive type expressions are held through Box. Records copy
// deeply. Enumerations are structs holding a std::variant named `value` whose
// alternatives are nested records, in the fixed variant order of the format.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "idl/box.h"

namespace varkel::idl {

using ByteVec = std::vector<std::uint8_t>;
using Docs = std::vector<std::string>;

struct IdlType;
struct IdlGenericArg;

// The length of an `array`: a constant generic parameter name, or a count.
struct IdlArrayLen {
  struct Generic {
    std::string name;
  };
  std::variant<Generic, std::uint64_t> value;
};

// A type expression. `kind` selects the variant; the payload members are
// meaningful only for the kinds named beside them.
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
    Pubkey,
    Option,
    Vec,
    Array,
    Defined,
    Generic,
  };
  static constexpr int kVariantCount = 23;

  struct Array {
    Box<IdlType> element;
    IdlArrayLen len;
  };
  struct Defined {
    std::string name;
    std::vector<IdlGenericArg> generics;
  };

  Kind kind = Kind::Bool;
  // Option, Vec: Box<IdlType>; Array: Array; Defined: Defined; Generic: the
  // parameter name; every other kind: monostate.
  std::variant<std::monostate, Box<IdlType>, Array, Defined, std::string> payload;

  // Accessors for the payload of the matching kind.
  const IdlType& inner() const { return *std::get<Box<IdlType>>(payload); }
  const Array& array() const { return std::get<Array>(payload); }
  const Defined& defined() const { return std::get<Defined>(payload); }
  const std::string& generic() const { return std::get<std::string>(payload); }

  // Builders, defined below once IdlGenericArg is complete: clang would build
  // the payload's members (a vector of IdlGenericArg) at the end of this class.
  static IdlType simple(Kind k);
  static IdlType option(IdlType inner);
  static IdlType vec(IdlType inner);
  static IdlType array_of(IdlType element, IdlArrayLen len);
  static IdlType defined_of(std::string name);
  static IdlType defined_of(std::string name, std::vector<IdlGenericArg> generics);
  static IdlType generic_of(std::string name);
};

// An argument of a `defined` reference.
struct IdlGenericArg {
  struct Type {
    Box<IdlType> type;
  };
  struct Const {
    std::string value;
  };
  std::variant<Type, Const> value;
};

inline IdlType IdlType::simple(Kind k) {
  return IdlType{k, std::monostate{}};
}
inline IdlType IdlType::option(IdlType inner) {
  return IdlType{Kind::Option, Box<IdlType>(std::move(inner))};
}
inline IdlType IdlType::vec(IdlType inner) {
  return IdlType{Kind::Vec, Box<IdlType>(std::move(inner))};
}
inline IdlType IdlType::array_of(IdlType element, IdlArrayLen len) {
  return IdlType{Kind::Array, Array{Box<IdlType>(std::move(element)), std::move(len)}};
}
inline IdlType IdlType::defined_of(std::string name) {
  return IdlType{Kind::Defined, Defined{std::move(name), {}}};
}
inline IdlType IdlType::defined_of(std::string name, std::vector<IdlGenericArg> generics) {
  return IdlType{Kind::Defined, Defined{std::move(name), std::move(generics)}};
}
inline IdlType IdlType::generic_of(std::string name) {
  return IdlType{Kind::Generic, std::move(name)};
}

struct IdlField {
  std::string name;
  Docs docs;
  IdlType type;
};

// Named fields, or tuple fields known only by position.
struct IdlDefinedFields {
  using Named = std::vector<IdlField>;
  using Tuple = std::vector<IdlType>;
  std::variant<Named, Tuple> value;
};

struct IdlEnumVariant {
  std::string name;
  std::optional<IdlDefinedFields> fields;  // absent: a unit variant
};

struct IdlTypeDefTy {
  struct Struct {
    std::optional<IdlDefinedFields> fields;  // absent: declared without fields
  };
  struct Enum {
    std::vector<IdlEnumVariant> variants;
  };
  struct Type {
    IdlType alias;
  };
  std::variant<Struct, Enum, Type> value;
};

struct IdlSerialization {
  struct Borsh {};
  struct Bytemuck {};
  struct BytemuckUnsafe {};
  struct Custom {
    std::string name;
  };
  std::variant<Borsh, Bytemuck, BytemuckUnsafe, Custom> value;
};

struct IdlReprModifier {
  bool packed = false;
  std::optional<std::uint64_t> align;
};

struct IdlRepr {
  struct Rust {
    IdlReprModifier modifier;
  };
  struct C {
    IdlReprModifier modifier;
  };
  struct Transparent {};
  std::variant<Rust, C, Transparent> value;
};

struct IdlTypeDefGeneric {
  struct Type {
    std::string name;
  };
  struct Const {
    std::string name;
    std::string type;
  };
  std::variant<Type, Const> value;
};

struct IdlTypeDef {
  std::string name;
  Docs docs;
  IdlSerialization serialization;  // Borsh when absent
  std::optional<IdlRepr> repr;
  std::vector<IdlTypeDefGeneric> generics;
  IdlTypeDefTy type;
};

struct IdlSeed {
  struct Const {
    ByteVec value;
  };
  struct Arg {
    std::string path;
  };
  struct Account {
    std::string path;
    std::optional<std::string> account;
  };
  std::variant<Const, Arg, Account> value;
};

struct IdlPda {
  std::vector<IdlSeed> seeds;
  std::optional<IdlSeed> program;
};

struct IdlInstructionAccount {
  std::string name;
  Docs docs;
  bool writable = false;
  bool signer = false;
  bool optional = false;
  std::optional<std::string> address;
  std::optional<IdlPda> pda;
  std::vector<std::string> relations;
};

struct IdlInstructionAccountItem;

struct IdlInstructionAccounts {
  std::string name;
  std::vector<IdlInstructionAccountItem> accounts;
};

// A named group of accounts (tried first) or a single account.
struct IdlInstructionAccountItem {
  std::variant<IdlInstructionAccounts, IdlInstructionAccount> value;
};

struct IdlInstruction {
  std::string name;
  Docs docs;
  ByteVec discriminator;
  std::vector<IdlInstructionAccountItem> accounts;
  std::vector<IdlField> args;
  std::optional<IdlType> returns;
};

struct IdlAccount {
  std::string name;
  ByteVec discriminator;
};

struct IdlEvent {
  std::string name;
  ByteVec discriminator;
};

struct IdlErrorCode {
  std::uint32_t code = 0;
  std::string name;
  std::optional<std::string> msg;
};

struct IdlConst {
  std::string name;
  Docs docs;
  IdlType type;
  std::string value;
};

struct IdlDependency {
  std::string name;
  std::string version;
};

struct IdlDeployments {
  std::optional<std::string> mainnet;
  std::optional<std::string> testnet;
  std::optional<std::string> devnet;
  std::optional<std::string> localnet;
};

struct IdlMetadata {
  std::string name;
  std::string version;
  std::string spec;
  std::optional<std::string> description;
  std::optional<std::string> repository;
  std::vector<IdlDependency> dependencies;
  std::optional<std::string> contact;
  std::optional<IdlDeployments> deployments;
};

struct Idl {
  std::string address;
  IdlMetadata metadata;
  Docs docs;
  std::vector<IdlInstruction> instructions;
  std::vector<IdlAccount> accounts;
  std::vector<IdlEvent> events;
  std::vector<IdlErrorCode> errors;
  std::vector<IdlTypeDef> types;
  std::vector<IdlConst> constants;
};

}  // namespace varkel::idl
