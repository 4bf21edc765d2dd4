#include "idl/current_reader.h"

#include <utility>

namespace varkel::idl {

namespace current {

using json::Value;
using schema::Ctx;
using schema::defaulted_field;
using schema::Field;
using schema::NamedEnum;
using schema::NamedVariant;
using schema::optional_field;
using schema::Payload;
using schema::read_bool;
using schema::read_list;
using schema::read_string;
using schema::read_u32;
using schema::read_u8;
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
Status read_serialization(const Value& v, Ctx ctx, IdlSerialization& out);
Status read_repr(const Value& v, Ctx ctx, IdlRepr& out);
Status read_type_def_generic(const Value& v, Ctx ctx, IdlTypeDefGeneric& out);
Status read_enum_variant(const Value& v, Ctx ctx, IdlEnumVariant& out);
Status read_pda(const Value& v, Ctx ctx, IdlPda& out);
Status read_instruction(const Value& v, Ctx ctx, IdlInstruction& out);
Status read_account(const Value& v, Ctx ctx, IdlAccount& out);
Status read_event(const Value& v, Ctx ctx, IdlEvent& out);
Status read_error_code(const Value& v, Ctx ctx, IdlErrorCode& out);
Status read_const(const Value& v, Ctx ctx, IdlConst& out);
Status read_dependency(const Value& v, Ctx ctx, IdlDependency& out);
Status read_deployments(const Value& v, Ctx ctx, IdlDeployments& out);
Status read_metadata(const Value& v, Ctx ctx, IdlMetadata& out);

constexpr auto read_bytes = &read_list<&read_u8>;
constexpr auto read_strings = &read_list<&read_string>;

// ------------------------------------------------------------------ IdlType

template <IdlType::Kind K>
Status type_simple(const Value&, Ctx, IdlType& out) {
  out = IdlType::simple(K);
  return {};
}

Status type_option(const Value& v, Ctx ctx, IdlType& out) {
  IdlType inner;
  if (Status st = read_type(v, ctx, inner); !st) return st;
  out = IdlType::option(std::move(inner));
  return {};
}

Status type_vec(const Value& v, Ctx ctx, IdlType& out) {
  IdlType inner;
  if (Status st = read_type(v, ctx, inner); !st) return st;
  out = IdlType::vec(std::move(inner));
  return {};
}

Status type_array(std::span<const Value> items, Ctx ctx, IdlType& out) {
  IdlType element;
  IdlArrayLen len;
  if (!items.empty()) {
    if (Status st = read_type(items[0], ctx, element); !st) return st;
  }
  if (items.size() > 1) {
    if (Status st = read_array_len(items[1], ctx, len); !st) return st;
    out = IdlType::array_of(std::move(element), std::move(len));
  }
  return {};
}

constexpr Field<IdlType::Defined> kDefinedFields[] = {
    required_field<&IdlType::Defined::name, &read_string>("name"),
    defaulted_field<&IdlType::Defined::generics, &read_list<&read_generic_arg>>("generics"),
};
constexpr Record<IdlType::Defined> kDefined{"struct variant IdlType::Defined", kDefinedFields};

Status type_defined(const Value& v, Ctx ctx, IdlType& out) {
  IdlType::Defined defined;
  if (Status st = schema::read_record(v, ctx, kDefined, defined); !st) return st;
  out = IdlType{IdlType::Kind::Defined, std::move(defined)};
  return {};
}

Status type_generic(const Value& v, Ctx ctx, IdlType& out) {
  std::string name;
  if (Status st = read_string(v, ctx, name); !st) return st;
  out = IdlType::generic_of(std::move(name));
  return {};
}

using K = IdlType::Kind;
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
    {"pubkey", Payload::Unit, &type_simple<K::Pubkey>},
    {"option", Payload::Newtype, &type_option},
    {"vec", Payload::Newtype, &type_vec},
    {"array", Payload::Tuple, nullptr, &type_array, 2, "tuple variant IdlType::Array"},
    {"defined", Payload::Struct, &type_defined},
    {"generic", Payload::Newtype, &type_generic},
};
static_assert(std::size(kTypeVariants) == IdlType::kVariantCount);
constexpr NamedEnum<IdlType> kType{kTypeVariants};

// -------------------------------------------------------------- IdlArrayLen

Status len_generic(const Value& v, Ctx ctx, IdlArrayLen& out) {
  return read_string(v, ctx, out.value.emplace<IdlArrayLen::Generic>().name);
}

constexpr NamedVariant<IdlArrayLen> kLenGenericVariants[] = {
    {"generic", Payload::Newtype, &len_generic},
};
constexpr NamedEnum<IdlArrayLen> kLenGeneric{kLenGenericVariants};

Status len_as_generic(const Value& v, Ctx ctx, IdlArrayLen& out) {
  return schema::read_named(v, ctx, kLenGeneric, out);
}

Status len_as_value(const Value& v, Ctx ctx, IdlArrayLen& out) {
  return read_usize(v, ctx, out.value.emplace<std::uint64_t>());
}

constexpr Reader<IdlArrayLen> kArrayLenAlternatives[] = {&len_as_generic, &len_as_value};
constexpr Untagged<IdlArrayLen> kArrayLen{"IdlArrayLen", kArrayLenAlternatives};

// ------------------------------------------------------------ IdlGenericArg

constexpr Field<IdlGenericArg::Type> kGenericArgTypeFields[] = {
    required_field<&IdlGenericArg::Type::type, &read_type_box>("type"),
};
constexpr Record<IdlGenericArg::Type> kGenericArgType{"struct variant IdlGenericArg::Type",
                                                      kGenericArgTypeFields};

constexpr Field<IdlGenericArg::Const> kGenericArgConstFields[] = {
    required_field<&IdlGenericArg::Const::value, &read_string>("value"),
};
constexpr Record<IdlGenericArg::Const> kGenericArgConst{"struct variant IdlGenericArg::Const",
                                                        kGenericArgConstFields};

constexpr TaggedVariant<IdlGenericArg> kGenericArgVariants[] = {
    {"type", &schema::tagged_record<IdlGenericArg, 0, kGenericArgType>},
    {"const", &schema::tagged_record<IdlGenericArg, 1, kGenericArgConst>},
};
constexpr TaggedEnum<IdlGenericArg> kGenericArg{"IdlGenericArg", kGenericArgVariants};

// ------------------------------------------------- fields and type bodies

constexpr Field<IdlField> kFieldFields[] = {
    required_field<&IdlField::name, &read_string>("name"),
    defaulted_field<&IdlField::docs, read_strings>("docs"),
    required_field<&IdlField::type, &read_type>("type"),
};
constexpr Record<IdlField> kField{"struct IdlField", kFieldFields};

Status fields_named(const Value& v, Ctx ctx, IdlDefinedFields& out) {
  return read_list<&read_field>(v, ctx, out.value.emplace<IdlDefinedFields::Named>());
}

Status fields_tuple(const Value& v, Ctx ctx, IdlDefinedFields& out) {
  return read_list<&read_type>(v, ctx, out.value.emplace<IdlDefinedFields::Tuple>());
}

constexpr Reader<IdlDefinedFields> kDefinedFieldsAlternatives[] = {&fields_named, &fields_tuple};
constexpr Untagged<IdlDefinedFields> kDefinedFieldsEnum{"IdlDefinedFields", kDefinedFieldsAlternatives};

constexpr Field<IdlEnumVariant> kEnumVariantFields[] = {
    required_field<&IdlEnumVariant::name, &read_string>("name"),
    optional_field<&IdlEnumVariant::fields, &read_defined_fields>("fields"),
};
constexpr Record<IdlEnumVariant> kEnumVariant{"struct IdlEnumVariant", kEnumVariantFields};

constexpr Field<IdlTypeDefTy::Struct> kBodyStructFields[] = {
    optional_field<&IdlTypeDefTy::Struct::fields, &read_defined_fields>("fields"),
};
constexpr Record<IdlTypeDefTy::Struct> kBodyStruct{"struct variant IdlTypeDefTy::Struct", kBodyStructFields};

constexpr Field<IdlTypeDefTy::Enum> kBodyEnumFields[] = {
    required_field<&IdlTypeDefTy::Enum::variants, &read_list<&read_enum_variant>>("variants"),
};
constexpr Record<IdlTypeDefTy::Enum> kBodyEnum{"struct variant IdlTypeDefTy::Enum", kBodyEnumFields};

constexpr Field<IdlTypeDefTy::Type> kBodyTypeFields[] = {
    required_field<&IdlTypeDefTy::Type::alias, &read_type>("alias"),
};
constexpr Record<IdlTypeDefTy::Type> kBodyType{"struct variant IdlTypeDefTy::Type", kBodyTypeFields};

constexpr TaggedVariant<IdlTypeDefTy> kBodyVariants[] = {
    {"struct", &schema::tagged_record<IdlTypeDefTy, 0, kBodyStruct>},
    {"enum", &schema::tagged_record<IdlTypeDefTy, 1, kBodyEnum>},
    {"type", &schema::tagged_record<IdlTypeDefTy, 2, kBodyType>},
};
constexpr TaggedEnum<IdlTypeDefTy> kBody{"IdlTypeDefTy", kBodyVariants};

// ------------------------------------------------------ type definitions

constexpr NamedVariant<IdlSerialization> kSerializationVariants[] = {
    {"borsh", Payload::Unit,
     [](const Value&, Ctx, IdlSerialization& out) -> Status {
       out.value.emplace<IdlSerialization::Borsh>();
       return {};
     }},
    {"bytemuck", Payload::Unit,
     [](const Value&, Ctx, IdlSerialization& out) -> Status {
       out.value.emplace<IdlSerialization::Bytemuck>();
       return {};
     }},
    {"bytemuckunsafe", Payload::Unit,
     [](const Value&, Ctx, IdlSerialization& out) -> Status {
       out.value.emplace<IdlSerialization::BytemuckUnsafe>();
       return {};
     }},
    {"custom", Payload::Newtype,
     [](const Value& v, Ctx ctx, IdlSerialization& out) -> Status {
       return read_string(v, ctx, out.value.emplace<IdlSerialization::Custom>().name);
     }},
};
constexpr NamedEnum<IdlSerialization> kSerialization{kSerializationVariants};

constexpr Field<IdlReprModifier> kReprModifierFields[] = {
    defaulted_field<&IdlReprModifier::packed, &read_bool>("packed"),
    optional_field<&IdlReprModifier::align, &read_usize>("align"),
};
constexpr Record<IdlReprModifier> kReprModifier{"struct IdlReprModifier", kReprModifierFields};

constexpr TaggedVariant<IdlRepr> kReprVariants[] = {
    {"rust",
     [](const schema::TaggedBody& body, Ctx ctx, IdlRepr& out) -> Status {
       return schema::read_record_body(body, ctx, kReprModifier, out.value.emplace<IdlRepr::Rust>().modifier);
     }},
    {"c",
     [](const schema::TaggedBody& body, Ctx ctx, IdlRepr& out) -> Status {
       return schema::read_record_body(body, ctx, kReprModifier, out.value.emplace<IdlRepr::C>().modifier);
     }},
    {"transparent", &schema::tagged_unit<IdlRepr, 2>},
};
constexpr TaggedEnum<IdlRepr> kRepr{"IdlRepr", kReprVariants};

constexpr Field<IdlTypeDefGeneric::Type> kGenericParamTypeFields[] = {
    required_field<&IdlTypeDefGeneric::Type::name, &read_string>("name"),
};
constexpr Record<IdlTypeDefGeneric::Type> kGenericParamType{"struct variant IdlTypeDefGeneric::Type",
                                                            kGenericParamTypeFields};

constexpr Field<IdlTypeDefGeneric::Const> kGenericParamConstFields[] = {
    required_field<&IdlTypeDefGeneric::Const::name, &read_string>("name"),
    required_field<&IdlTypeDefGeneric::Const::type, &read_string>("type"),
};
constexpr Record<IdlTypeDefGeneric::Const> kGenericParamConst{"struct variant IdlTypeDefGeneric::Const",
                                                              kGenericParamConstFields};

constexpr TaggedVariant<IdlTypeDefGeneric> kGenericParamVariants[] = {
    {"type", &schema::tagged_record<IdlTypeDefGeneric, 0, kGenericParamType>},
    {"const", &schema::tagged_record<IdlTypeDefGeneric, 1, kGenericParamConst>},
};
constexpr TaggedEnum<IdlTypeDefGeneric> kGenericParam{"IdlTypeDefGeneric", kGenericParamVariants};

constexpr Field<IdlTypeDef> kTypeDefFields[] = {
    required_field<&IdlTypeDef::name, &read_string>("name"),
    defaulted_field<&IdlTypeDef::docs, read_strings>("docs"),
    defaulted_field<&IdlTypeDef::serialization, &read_serialization>("serialization"),
    optional_field<&IdlTypeDef::repr, &read_repr>("repr"),
    defaulted_field<&IdlTypeDef::generics, &read_list<&read_type_def_generic>>("generics"),
    required_field<&IdlTypeDef::type, &read_type_def_ty>("type"),
};
constexpr Record<IdlTypeDef> kTypeDef{"struct IdlTypeDef", kTypeDefFields};

// ----------------------------------------------------- instruction accounts

constexpr Field<IdlSeed::Const> kSeedConstFields[] = {
    required_field<&IdlSeed::Const::value, read_bytes>("value"),
};
constexpr Record<IdlSeed::Const> kSeedConst{"struct IdlSeedConst", kSeedConstFields};

constexpr Field<IdlSeed::Arg> kSeedArgFields[] = {
    required_field<&IdlSeed::Arg::path, &read_string>("path"),
};
constexpr Record<IdlSeed::Arg> kSeedArg{"struct IdlSeedArg", kSeedArgFields};

constexpr Field<IdlSeed::Account> kSeedAccountFields[] = {
    required_field<&IdlSeed::Account::path, &read_string>("path"),
    optional_field<&IdlSeed::Account::account, &read_string>("account"),
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
    optional_field<&IdlPda::program, &read_seed>("program"),
};
constexpr Record<IdlPda> kPda{"struct IdlPda", kPdaFields};

constexpr Field<IdlInstructionAccount> kAccountFields[] = {
    required_field<&IdlInstructionAccount::name, &read_string>("name"),
    defaulted_field<&IdlInstructionAccount::docs, read_strings>("docs"),
    defaulted_field<&IdlInstructionAccount::writable, &read_bool>("writable"),
    defaulted_field<&IdlInstructionAccount::signer, &read_bool>("signer"),
    defaulted_field<&IdlInstructionAccount::optional, &read_bool>("optional"),
    optional_field<&IdlInstructionAccount::address, &read_string>("address"),
    optional_field<&IdlInstructionAccount::pda, &read_pda>("pda"),
    defaulted_field<&IdlInstructionAccount::relations, read_strings>("relations"),
};
constexpr Record<IdlInstructionAccount> kAccountRecord{"struct IdlInstructionAccount", kAccountFields};

constexpr Field<IdlInstructionAccounts> kGroupFields[] = {
    required_field<&IdlInstructionAccounts::name, &read_string>("name"),
    required_field<&IdlInstructionAccounts::accounts, &read_list<&read_account_item>>("accounts"),
};
constexpr Record<IdlInstructionAccounts> kGroup{"struct IdlInstructionAccounts", kGroupFields};

Status item_as_group(const Value& v, Ctx ctx, IdlInstructionAccountItem& out) {
  return schema::read_record(v, ctx, kGroup, out.value.emplace<IdlInstructionAccounts>());
}

Status item_as_account(const Value& v, Ctx ctx, IdlInstructionAccountItem& out) {
  return schema::read_record(v, ctx, kAccountRecord, out.value.emplace<IdlInstructionAccount>());
}

constexpr Reader<IdlInstructionAccountItem> kAccountItemAlternatives[] = {&item_as_group, &item_as_account};
constexpr Untagged<IdlInstructionAccountItem> kAccountItem{"IdlInstructionAccountItem",
                                                           kAccountItemAlternatives};

// ---------------------------------------------------------- the document

constexpr Field<IdlInstruction> kInstructionFields[] = {
    required_field<&IdlInstruction::name, &read_string>("name"),
    defaulted_field<&IdlInstruction::docs, read_strings>("docs"),
    required_field<&IdlInstruction::discriminator, read_bytes>("discriminator"),
    required_field<&IdlInstruction::accounts, &read_list<&read_account_item>>("accounts"),
    required_field<&IdlInstruction::args, &read_list<&read_field>>("args"),
    optional_field<&IdlInstruction::returns, &read_type>("returns"),
};
constexpr Record<IdlInstruction> kInstruction{"struct IdlInstruction", kInstructionFields};

constexpr Field<IdlAccount> kIdlAccountFields[] = {
    required_field<&IdlAccount::name, &read_string>("name"),
    required_field<&IdlAccount::discriminator, read_bytes>("discriminator"),
};
constexpr Record<IdlAccount> kIdlAccount{"struct IdlAccount", kIdlAccountFields};

constexpr Field<IdlEvent> kEventFields[] = {
    required_field<&IdlEvent::name, &read_string>("name"),
    required_field<&IdlEvent::discriminator, read_bytes>("discriminator"),
};
constexpr Record<IdlEvent> kEvent{"struct IdlEvent", kEventFields};

constexpr Field<IdlErrorCode> kErrorCodeFields[] = {
    required_field<&IdlErrorCode::code, &read_u32>("code"),
    required_field<&IdlErrorCode::name, &read_string>("name"),
    optional_field<&IdlErrorCode::msg, &read_string>("msg"),
};
constexpr Record<IdlErrorCode> kErrorCode{"struct IdlErrorCode", kErrorCodeFields};

constexpr Field<IdlConst> kConstFields[] = {
    required_field<&IdlConst::name, &read_string>("name"),
    defaulted_field<&IdlConst::docs, read_strings>("docs"),
    required_field<&IdlConst::type, &read_type>("type"),
    required_field<&IdlConst::value, &read_string>("value"),
};
constexpr Record<IdlConst> kConst{"struct IdlConst", kConstFields};

constexpr Field<IdlDependency> kDependencyFields[] = {
    required_field<&IdlDependency::name, &read_string>("name"),
    required_field<&IdlDependency::version, &read_string>("version"),
};
constexpr Record<IdlDependency> kDependency{"struct IdlDependency", kDependencyFields};

constexpr Field<IdlDeployments> kDeploymentsFields[] = {
    optional_field<&IdlDeployments::mainnet, &read_string>("mainnet"),
    optional_field<&IdlDeployments::testnet, &read_string>("testnet"),
    optional_field<&IdlDeployments::devnet, &read_string>("devnet"),
    optional_field<&IdlDeployments::localnet, &read_string>("localnet"),
};
constexpr Record<IdlDeployments> kDeployments{"struct IdlDeployments", kDeploymentsFields};

constexpr Field<IdlMetadata> kMetadataFields[] = {
    required_field<&IdlMetadata::name, &read_string>("name"),
    required_field<&IdlMetadata::version, &read_string>("version"),
    required_field<&IdlMetadata::spec, &read_string>("spec"),
    optional_field<&IdlMetadata::description, &read_string>("description"),
    optional_field<&IdlMetadata::repository, &read_string>("repository"),
    defaulted_field<&IdlMetadata::dependencies, &read_list<&read_dependency>>("dependencies"),
    optional_field<&IdlMetadata::contact, &read_string>("contact"),
    optional_field<&IdlMetadata::deployments, &read_deployments>("deployments"),
};
constexpr Record<IdlMetadata> kMetadata{"struct IdlMetadata", kMetadataFields};

constexpr Field<Idl> kIdlFields[] = {
    required_field<&Idl::address, &read_string>("address"),
    required_field<&Idl::metadata, &read_metadata>("metadata"),
    defaulted_field<&Idl::docs, read_strings>("docs"),
    required_field<&Idl::instructions, &read_list<&read_instruction>>("instructions"),
    defaulted_field<&Idl::accounts, &read_list<&read_account>>("accounts"),
    defaulted_field<&Idl::events, &read_list<&read_event>>("events"),
    defaulted_field<&Idl::errors, &read_list<&read_error_code>>("errors"),
    defaulted_field<&Idl::types, &read_list<&read_type_def>>("types"),
    defaulted_field<&Idl::constants, &read_list<&read_const>>("constants"),
};
constexpr Record<Idl> kIdl{"struct Idl", kIdlFields};

// ------------------------------------------------- the private readers

Status read_type_box(const Value& v, Ctx ctx, Box<IdlType>& out) {
  return read_type(v, ctx, *out);
}
Status read_serialization(const Value& v, Ctx ctx, IdlSerialization& out) {
  return schema::read_named(v, ctx, kSerialization, out);
}
Status read_repr(const Value& v, Ctx ctx, IdlRepr& out) {
  return schema::read_tagged(v, ctx, kRepr, out);
}
Status read_type_def_generic(const Value& v, Ctx ctx, IdlTypeDefGeneric& out) {
  return schema::read_tagged(v, ctx, kGenericParam, out);
}
Status read_enum_variant(const Value& v, Ctx ctx, IdlEnumVariant& out) {
  return schema::read_record(v, ctx, kEnumVariant, out);
}
Status read_pda(const Value& v, Ctx ctx, IdlPda& out) {
  return schema::read_record(v, ctx, kPda, out);
}
Status read_instruction(const Value& v, Ctx ctx, IdlInstruction& out) {
  return schema::read_record(v, ctx, kInstruction, out);
}
Status read_account(const Value& v, Ctx ctx, IdlAccount& out) {
  return schema::read_record(v, ctx, kIdlAccount, out);
}
Status read_event(const Value& v, Ctx ctx, IdlEvent& out) {
  return schema::read_record(v, ctx, kEvent, out);
}
Status read_error_code(const Value& v, Ctx ctx, IdlErrorCode& out) {
  return schema::read_record(v, ctx, kErrorCode, out);
}
Status read_const(const Value& v, Ctx ctx, IdlConst& out) {
  return schema::read_record(v, ctx, kConst, out);
}
Status read_dependency(const Value& v, Ctx ctx, IdlDependency& out) {
  return schema::read_record(v, ctx, kDependency, out);
}
Status read_deployments(const Value& v, Ctx ctx, IdlDeployments& out) {
  return schema::read_record(v, ctx, kDeployments, out);
}
Status read_metadata(const Value& v, Ctx ctx, IdlMetadata& out) {
  return schema::read_record(v, ctx, kMetadata, out);
}

}  // namespace

// ------------------------------------------------- the public readers

Status read_type(const Value& v, Ctx ctx, IdlType& out) {
  return schema::read_named(v, ctx, kType, out);
}
Status read_array_len(const Value& v, Ctx ctx, IdlArrayLen& out) {
  return schema::read_untagged(v, ctx, kArrayLen, out);
}
Status read_field(const Value& v, Ctx ctx, IdlField& out) {
  return schema::read_record(v, ctx, kField, out);
}
Status read_defined_fields(const Value& v, Ctx ctx, IdlDefinedFields& out) {
  return schema::read_untagged(v, ctx, kDefinedFieldsEnum, out);
}
Status read_type_def(const Value& v, Ctx ctx, IdlTypeDef& out) {
  return schema::read_record(v, ctx, kTypeDef, out);
}
Status read_type_def_ty(const Value& v, Ctx ctx, IdlTypeDefTy& out) {
  return schema::read_tagged(v, ctx, kBody, out);
}
Status read_seed(const Value& v, Ctx ctx, IdlSeed& out) {
  return schema::read_tagged(v, ctx, kSeed, out);
}
Status read_generic_arg(const Value& v, Ctx ctx, IdlGenericArg& out) {
  return schema::read_tagged(v, ctx, kGenericArg, out);
}
Status read_account_item(const Value& v, Ctx ctx, IdlInstructionAccountItem& out) {
  return schema::read_untagged(v, ctx, kAccountItem, out);
}

}  // namespace current

Result<Idl> read_idl(const json::Value& root) {
  Idl idl;
  if (schema::Status st = schema::read_record(root, schema::Ctx{}, current::kIdl, idl); !st) {
    return fail(std::move(st.error()));
  }
  return idl;
}

}  // namespace varkel::idl
