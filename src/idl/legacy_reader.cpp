#include "idl/legacy_reader.h"

#include <iterator>
#include <span>
#include <string>
#include <utility>

namespace varkel::idl {

namespace legacy_schema {

using json::Value;
using legacy::EnumFields;
using legacy::IdlAccount;
using legacy::IdlAccountItem;
using legacy::IdlAccounts;
using legacy::IdlConst;
using legacy::IdlDefinedTypeArg;
using legacy::IdlEnumVariant;
using legacy::IdlErrorCode;
using legacy::IdlEvent;
using legacy::IdlEventField;
using legacy::IdlField;
using legacy::IdlInstruction;
using legacy::IdlPda;
using legacy::IdlSeed;
using legacy::IdlType;
using legacy::IdlTypeDefinition;
using legacy::IdlTypeDefinitionTy;
using schema::Ctx;
using schema::defaulted_field;
using schema::Field;
using schema::NamedEnum;
using schema::NamedVariant;
using schema::optional_field;
using schema::Payload;
using schema::read_any;
using schema::read_bool;
using schema::read_list;
using schema::read_string;
using schema::read_u32;
using schema::read_usize;
using schema::Reader;
using schema::Record;
using schema::required_field;
using schema::Status;
using schema::TaggedEnum;
using schema::TaggedVariant;
using schema::Untagged;

namespace {

// Readers of the records without a public one; defined after the tables.
Status read_type_box(const Value& v, Ctx ctx, Box<IdlType>& out);
Status read_defined_type_arg(const Value& v, Ctx ctx, IdlDefinedTypeArg& out);
Status read_event_field(const Value& v, Ctx ctx, IdlEventField& out);
Status read_event(const Value& v, Ctx ctx, IdlEvent& out);
Status read_enum_variant(const Value& v, Ctx ctx, IdlEnumVariant& out);
Status read_type_definition_ty(const Value& v, Ctx ctx, IdlTypeDefinitionTy& out);
Status read_pda(const Value& v, Ctx ctx, IdlPda& out);
Status read_instruction(const Value& v, Ctx ctx, IdlInstruction& out);
Status read_error_code(const Value& v, Ctx ctx, IdlErrorCode& out);
Status read_const(const Value& v, Ctx ctx, IdlConst& out);

constexpr auto read_strings = &read_list<&read_string>;

// ------------------------------------------------------------------ IdlType

using K = IdlType::Kind;

template <K Kind>
Status type_simple(const Value&, Ctx, IdlType& out) {
  out = IdlType::simple(Kind);
  return {};
}

// `defined` and `generic`: a plain name.
template <K Kind>
Status type_named(const Value& v, Ctx ctx, IdlType& out) {
  std::string name;
  if (Status st = read_string(v, ctx, name); !st) return st;
  out = IdlType::named(Kind, std::move(name));
  return {};
}

// `option` and `vec`: one type expression.
template <K Kind>
Status type_wrapping(const Value& v, Ctx ctx, IdlType& out) {
  IdlType inner;
  if (Status st = read_type(v, ctx, inner); !st) return st;
  out = IdlType::wrapping(Kind, std::move(inner));
  return {};
}

// [element, size]; the length of the list is checked by the caller.
Status type_array(std::span<const Value> items, Ctx ctx, IdlType& out) {
  IdlType::Array array;
  if (!items.empty()) {
    if (Status st = read_type(items[0], ctx, *array.element); !st) return st;
  }
  if (items.size() > 1) {
    if (Status st = read_usize(items[1], ctx, array.size); !st) return st;
  }
  out = IdlType{K::Array, std::move(array)};
  return {};
}

// [element, generic length name].
Status type_generic_len_array(std::span<const Value> items, Ctx ctx, IdlType& out) {
  IdlType::GenericLenArray array;
  if (!items.empty()) {
    if (Status st = read_type(items[0], ctx, *array.element); !st) return st;
  }
  if (items.size() > 1) {
    if (Status st = read_string(items[1], ctx, array.name); !st) return st;
  }
  out = IdlType{K::GenericLenArray, std::move(array)};
  return {};
}

constexpr Field<IdlType::DefinedWithTypeArgs> kDefinedWithTypeArgsFields[] = {
    required_field<&IdlType::DefinedWithTypeArgs::name, &read_string>("name"),
    required_field<&IdlType::DefinedWithTypeArgs::args, &read_list<&read_defined_type_arg>>("args"),
};
constexpr Record<IdlType::DefinedWithTypeArgs> kDefinedWithTypeArgs{
    "struct variant IdlType::DefinedWithTypeArgs", kDefinedWithTypeArgsFields};

Status type_defined_with_type_args(const Value& v, Ctx ctx, IdlType& out) {
  IdlType::DefinedWithTypeArgs defined;
  if (Status st = schema::read_record(v, ctx, kDefinedWithTypeArgs, defined); !st) return st;
  out = IdlType{K::DefinedWithTypeArgs, std::move(defined)};
  return {};
}

constexpr NamedVariant<IdlType> kTypeVariants[] = {
    {"bool", Payload::Unit, &type_simple<K::Bool>},
    {"u8", Payload::Unit, &type_simple<K::U8>},
    {"i8", Payload::Unit, &type_simple<K::I8>},
    {"u16", Payload::Unit, &type_simple<K::U16>},
    {"i16", Payload::Unit, &type_simple<K::I16>},
    {"u32", Payload::Unit, &type_simple<K::U32>},
    {"i32", Payload::Unit, &type_simple<K::I32>},
    {"f32", Payload::Unit, &type_simple<K::F32>},
    {"u64", Payload::Unit, &type_simple<K::U64>},
    {"i64", Payload::Unit, &type_simple<K::I64>},
    {"f64", Payload::Unit, &type_simple<K::F64>},
    {"u128", Payload::Unit, &type_simple<K::U128>},
    {"i128", Payload::Unit, &type_simple<K::I128>},
    {"u256", Payload::Unit, &type_simple<K::U256>},
    {"i256", Payload::Unit, &type_simple<K::I256>},
    {"bytes", Payload::Unit, &type_simple<K::Bytes>},
    {"string", Payload::Unit, &type_simple<K::String>},
    {"publicKey", Payload::Unit, &type_simple<K::PublicKey>},
    {"defined", Payload::Newtype, &type_named<K::Defined>},
    {"option", Payload::Newtype, &type_wrapping<K::Option>},
    {"vec", Payload::Newtype, &type_wrapping<K::Vec>},
    {"array", Payload::Tuple, nullptr, &type_array, 2, "tuple variant IdlType::Array"},
    {"genericLenArray", Payload::Tuple, nullptr, &type_generic_len_array, 2,
     "tuple variant IdlType::GenericLenArray"},
    {"generic", Payload::Newtype, &type_named<K::Generic>},
    {"definedWithTypeArgs", Payload::Struct, &type_defined_with_type_args},
};
static_assert(std::size(kTypeVariants) == IdlType::kVariantCount);
constexpr NamedEnum<IdlType> kType{kTypeVariants};

// ------------------------------------------------------- IdlDefinedTypeArg

constexpr NamedVariant<IdlDefinedTypeArg> kDefinedTypeArgVariants[] = {
    {"generic", Payload::Newtype,
     [](const Value& v, Ctx ctx, IdlDefinedTypeArg& out) -> Status {
       return read_string(v, ctx, out.value.emplace<IdlDefinedTypeArg::Generic>().name);
     }},
    {"value", Payload::Newtype,
     [](const Value& v, Ctx ctx, IdlDefinedTypeArg& out) -> Status {
       return read_string(v, ctx, out.value.emplace<IdlDefinedTypeArg::Value>().value);
     }},
    {"type", Payload::Newtype,
     [](const Value& v, Ctx ctx, IdlDefinedTypeArg& out) -> Status {
       return read_type_box(v, ctx, out.value.emplace<IdlDefinedTypeArg::Type>().type);
     }},
};
constexpr NamedEnum<IdlDefinedTypeArg> kDefinedTypeArg{kDefinedTypeArgVariants};

// ------------------------------------------------- fields and type bodies

constexpr Field<IdlField> kFieldFields[] = {
    required_field<&IdlField::name, &read_string>("name"),
    optional_field<&IdlField::docs, read_strings>("docs"),
    required_field<&IdlField::type, &read_type>("type"),
};
constexpr Record<IdlField> kField{"struct IdlField", kFieldFields};

Status fields_named(const Value& v, Ctx ctx, EnumFields& out) {
  return read_list<&read_field>(v, ctx, out.value.emplace<EnumFields::Named>());
}

Status fields_tuple(const Value& v, Ctx ctx, EnumFields& out) {
  return read_list<&read_type>(v, ctx, out.value.emplace<EnumFields::Tuple>());
}

constexpr Reader<EnumFields> kEnumFieldsAlternatives[] = {&fields_named, &fields_tuple};
constexpr Untagged<EnumFields> kEnumFields{"EnumFields", kEnumFieldsAlternatives};

constexpr Field<IdlEnumVariant> kEnumVariantFields[] = {
    required_field<&IdlEnumVariant::name, &read_string>("name"),
    optional_field<&IdlEnumVariant::fields, &read_enum_fields>("fields", true),
};
constexpr Record<IdlEnumVariant> kEnumVariant{"struct IdlEnumVariant", kEnumVariantFields};

constexpr Field<IdlTypeDefinitionTy::Struct> kBodyStructFields[] = {
    required_field<&IdlTypeDefinitionTy::Struct::fields, &read_list<&read_field>>("fields"),
};
constexpr Record<IdlTypeDefinitionTy::Struct> kBodyStruct{"struct variant IdlTypeDefinitionTy::Struct",
                                                          kBodyStructFields};

constexpr Field<IdlTypeDefinitionTy::Enum> kBodyEnumFields[] = {
    required_field<&IdlTypeDefinitionTy::Enum::variants, &read_list<&read_enum_variant>>("variants"),
};
constexpr Record<IdlTypeDefinitionTy::Enum> kBodyEnum{"struct variant IdlTypeDefinitionTy::Enum",
                                                      kBodyEnumFields};

constexpr Field<IdlTypeDefinitionTy::Alias> kBodyAliasFields[] = {
    required_field<&IdlTypeDefinitionTy::Alias::value, &read_type>("value"),
};
constexpr Record<IdlTypeDefinitionTy::Alias> kBodyAlias{"struct variant IdlTypeDefinitionTy::Alias",
                                                        kBodyAliasFields};

constexpr TaggedVariant<IdlTypeDefinitionTy> kBodyVariants[] = {
    {"struct", &schema::tagged_record<IdlTypeDefinitionTy, 0, kBodyStruct>},
    {"enum", &schema::tagged_record<IdlTypeDefinitionTy, 1, kBodyEnum>},
    {"alias", &schema::tagged_record<IdlTypeDefinitionTy, 2, kBodyAlias>},
};
constexpr TaggedEnum<IdlTypeDefinitionTy> kBody{"IdlTypeDefinitionTy", kBodyVariants};

constexpr Field<IdlTypeDefinition> kTypeDefinitionFields[] = {
    required_field<&IdlTypeDefinition::name, &read_string>("name"),
    optional_field<&IdlTypeDefinition::docs, read_strings>("docs"),
    optional_field<&IdlTypeDefinition::generics, read_strings>("generics"),
    required_field<&IdlTypeDefinition::type, &read_type_definition_ty>("type"),
};
constexpr Record<IdlTypeDefinition> kTypeDefinition{"struct IdlTypeDefinition", kTypeDefinitionFields};

// ---------------------------------------------------------------- events

constexpr Field<IdlEventField> kEventFieldFields[] = {
    required_field<&IdlEventField::name, &read_string>("name"),
    required_field<&IdlEventField::type, &read_type>("type"),
    required_field<&IdlEventField::index, &read_bool>("index"),
};
constexpr Record<IdlEventField> kEventField{"struct IdlEventField", kEventFieldFields};

constexpr Field<IdlEvent> kEventFields[] = {
    required_field<&IdlEvent::name, &read_string>("name"),
    required_field<&IdlEvent::fields, &read_list<&read_event_field>>("fields"),
};
constexpr Record<IdlEvent> kEvent{"struct IdlEvent", kEventFields};

// ----------------------------------------------------- instruction accounts

constexpr Field<IdlSeed::Const> kSeedConstFields[] = {
    required_field<&IdlSeed::Const::type, &read_type>("type"),
    required_field<&IdlSeed::Const::value, &read_any>("value"),
};
constexpr Record<IdlSeed::Const> kSeedConst{"struct IdlSeedConst", kSeedConstFields};

constexpr Field<IdlSeed::Arg> kSeedArgFields[] = {
    required_field<&IdlSeed::Arg::type, &read_type>("type"),
    required_field<&IdlSeed::Arg::path, &read_string>("path"),
};
constexpr Record<IdlSeed::Arg> kSeedArg{"struct IdlSeedArg", kSeedArgFields};

constexpr Field<IdlSeed::Account> kSeedAccountFields[] = {
    required_field<&IdlSeed::Account::type, &read_type>("type"),
    optional_field<&IdlSeed::Account::account, &read_string>("account"),
    required_field<&IdlSeed::Account::path, &read_string>("path"),
};
constexpr Record<IdlSeed::Account> kSeedAccount{"struct IdlSeedAccount", kSeedAccountFields};

constexpr TaggedVariant<IdlSeed> kSeedVariants[] = {
    {"const", &schema::tagged_record<IdlSeed, 0, kSeedConst>},
    {"arg", &schema::tagged_record<IdlSeed, 1, kSeedArg>},
    {"account", &schema::tagged_record<IdlSeed, 2, kSeedAccount>},
};
constexpr TaggedEnum<IdlSeed> kSeed{"IdlSeed", kSeedVariants};

constexpr Field<IdlPda> kPdaFields[] = {
    required_field<&IdlPda::seeds, &read_list<&read_seed>>("seeds"),
    optional_field<&IdlPda::program_id, &read_seed>("programId", true),
};
constexpr Record<IdlPda> kPda{"struct IdlPda", kPdaFields};

constexpr Field<IdlAccount> kAccountFields[] = {
    required_field<&IdlAccount::name, &read_string>("name"),
    required_field<&IdlAccount::is_mut, &read_bool>("isMut"),
    required_field<&IdlAccount::is_signer, &read_bool>("isSigner"),
    optional_field<&IdlAccount::is_optional, &read_bool>("isOptional"),
    optional_field<&IdlAccount::docs, read_strings>("docs"),
    optional_field<&IdlAccount::pda, &read_pda>("pda", true),
    defaulted_field<&IdlAccount::relations, read_strings>("relations"),
};
constexpr Record<IdlAccount> kAccount{"struct IdlAccount", kAccountFields};

constexpr Field<IdlAccounts> kGroupFields[] = {
    required_field<&IdlAccounts::name, &read_string>("name"),
    required_field<&IdlAccounts::accounts, &read_list<&read_account_item>>("accounts"),
};
constexpr Record<IdlAccounts> kGroup{"struct IdlAccounts", kGroupFields};

Status item_as_account(const Value& v, Ctx ctx, IdlAccountItem& out) {
  return schema::read_record(v, ctx, kAccount, out.value.emplace<IdlAccount>());
}

Status item_as_group(const Value& v, Ctx ctx, IdlAccountItem& out) {
  return schema::read_record(v, ctx, kGroup, out.value.emplace<IdlAccounts>());
}

constexpr Reader<IdlAccountItem> kAccountItemAlternatives[] = {&item_as_account, &item_as_group};
constexpr Untagged<IdlAccountItem> kAccountItem{"IdlAccountItem", kAccountItemAlternatives};

// ---------------------------------------------------------- the document

constexpr Field<IdlInstruction> kInstructionFields[] = {
    required_field<&IdlInstruction::name, &read_string>("name"),
    optional_field<&IdlInstruction::docs, read_strings>("docs"),
    required_field<&IdlInstruction::accounts, &read_list<&read_account_item>>("accounts"),
    required_field<&IdlInstruction::args, &read_list<&read_field>>("args"),
    optional_field<&IdlInstruction::returns, &read_type>("returns"),
};
constexpr Record<IdlInstruction> kInstruction{"struct IdlInstruction", kInstructionFields};

constexpr Field<IdlErrorCode> kErrorCodeFields[] = {
    required_field<&IdlErrorCode::code, &read_u32>("code"),
    required_field<&IdlErrorCode::name, &read_string>("name"),
    optional_field<&IdlErrorCode::msg, &read_string>("msg", true),
};
constexpr Record<IdlErrorCode> kErrorCode{"struct IdlErrorCode", kErrorCodeFields};

constexpr Field<IdlConst> kConstFields[] = {
    required_field<&IdlConst::name, &read_string>("name"),
    required_field<&IdlConst::type, &read_type>("type"),
    required_field<&IdlConst::value, &read_string>("value"),
};
constexpr Record<IdlConst> kConst{"struct IdlConst", kConstFields};

constexpr Field<legacy::Idl> kIdlFields[] = {
    required_field<&legacy::Idl::version, &read_string>("version"),
    required_field<&legacy::Idl::name, &read_string>("name"),
    optional_field<&legacy::Idl::docs, read_strings>("docs", true),
    defaulted_field<&legacy::Idl::constants, &read_list<&read_const>>("constants"),
    required_field<&legacy::Idl::instructions, &read_list<&read_instruction>>("instructions"),
    defaulted_field<&legacy::Idl::accounts, &read_list<&read_type_definition>>("accounts"),
    defaulted_field<&legacy::Idl::types, &read_list<&read_type_definition>>("types"),
    optional_field<&legacy::Idl::events, &read_list<&read_event>>("events", true),
    optional_field<&legacy::Idl::errors, &read_list<&read_error_code>>("errors", true),
    optional_field<&legacy::Idl::metadata, &read_any>("metadata", true),
};
constexpr Record<legacy::Idl> kIdl{"struct Idl", kIdlFields};

// ------------------------------------------------- the private readers

Status read_type_box(const Value& v, Ctx ctx, Box<IdlType>& out) {
  return read_type(v, ctx, *out);
}
Status read_defined_type_arg(const Value& v, Ctx ctx, IdlDefinedTypeArg& out) {
  return schema::read_named(v, ctx, kDefinedTypeArg, out);
}
Status read_event_field(const Value& v, Ctx ctx, IdlEventField& out) {
  return schema::read_record(v, ctx, kEventField, out);
}
Status read_event(const Value& v, Ctx ctx, IdlEvent& out) {
  return schema::read_record(v, ctx, kEvent, out);
}
Status read_enum_variant(const Value& v, Ctx ctx, IdlEnumVariant& out) {
  return schema::read_record(v, ctx, kEnumVariant, out);
}
Status read_type_definition_ty(const Value& v, Ctx ctx, IdlTypeDefinitionTy& out) {
  return schema::read_tagged(v, ctx, kBody, out);
}
Status read_pda(const Value& v, Ctx ctx, IdlPda& out) {
  return schema::read_record(v, ctx, kPda, out);
}
Status read_instruction(const Value& v, Ctx ctx, IdlInstruction& out) {
  return schema::read_record(v, ctx, kInstruction, out);
}
Status read_error_code(const Value& v, Ctx ctx, IdlErrorCode& out) {
  return schema::read_record(v, ctx, kErrorCode, out);
}
Status read_const(const Value& v, Ctx ctx, IdlConst& out) {
  return schema::read_record(v, ctx, kConst, out);
}

}  // namespace

// ------------------------------------------------- the public readers

Status read_type(const Value& v, Ctx ctx, IdlType& out) {
  return schema::read_named(v, ctx, kType, out);
}
Status read_field(const Value& v, Ctx ctx, IdlField& out) {
  return schema::read_record(v, ctx, kField, out);
}
Status read_enum_fields(const Value& v, Ctx ctx, EnumFields& out) {
  return schema::read_untagged(v, ctx, kEnumFields, out);
}
Status read_type_definition(const Value& v, Ctx ctx, IdlTypeDefinition& out) {
  return schema::read_record(v, ctx, kTypeDefinition, out);
}
Status read_seed(const Value& v, Ctx ctx, IdlSeed& out) {
  return schema::read_tagged(v, ctx, kSeed, out);
}
Status read_account_item(const Value& v, Ctx ctx, IdlAccountItem& out) {
  return schema::read_untagged(v, ctx, kAccountItem, out);
}

}  // namespace legacy_schema

Result<legacy::Idl> read_legacy_idl(const json::Value& root) {
  legacy::Idl idl;
  if (schema::Status st = schema::read_record(root, schema::Ctx{}, legacy_schema::kIdl, idl); !st) {
    return fail(std::move(st.error()));
  }
  return idl;
}

}  // namespace varkel::idl
