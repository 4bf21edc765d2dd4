#include "idl/convert.h"

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

#include "idl/case.h"
#include "idl/sha256.h"
#include "json/json.h"

namespace varkel::idl {

namespace {

ByteVec discriminator(std::string_view prefix, std::string_view name) {
  const auto bytes = legacy_discriminator(prefix, name);
  return ByteVec(bytes.begin(), bytes.end());
}

Docs docs_or_empty(std::optional<legacy::Docs>& docs) {
  return docs ? std::move(*docs) : Docs{};
}

// ------------------------------------------------------- type expressions

IdlType convert_type(legacy::IdlType& type);

IdlGenericArg convert_type_arg(legacy::IdlDefinedTypeArg& arg) {
  if (auto* generic = std::get_if<legacy::IdlDefinedTypeArg::Generic>(&arg.value)) {
    return IdlGenericArg{IdlGenericArg::Type{IdlType::generic_of(std::move(generic->name))}};
  }
  if (auto* value = std::get_if<legacy::IdlDefinedTypeArg::Value>(&arg.value)) {
    return IdlGenericArg{IdlGenericArg::Const{std::move(value->value)}};
  }
  auto& type = std::get<legacy::IdlDefinedTypeArg::Type>(arg.value);
  return IdlGenericArg{IdlGenericArg::Type{convert_type(*type.type)}};
}

// The legacy scalar kinds and the current kinds they become, one to one.
using LegacyKind = legacy::IdlType::Kind;
using Kind = IdlType::Kind;

constexpr std::pair<LegacyKind, Kind> kScalarKinds[] = {
    {LegacyKind::Bool, Kind::Bool},     {LegacyKind::U8, Kind::U8},
    {LegacyKind::I8, Kind::I8},         {LegacyKind::U16, Kind::U16},
    {LegacyKind::I16, Kind::I16},       {LegacyKind::U32, Kind::U32},
    {LegacyKind::I32, Kind::I32},       {LegacyKind::F32, Kind::F32},
    {LegacyKind::U64, Kind::U64},       {LegacyKind::I64, Kind::I64},
    {LegacyKind::F64, Kind::F64},       {LegacyKind::U128, Kind::U128},
    {LegacyKind::I128, Kind::I128},     {LegacyKind::U256, Kind::U256},
    {LegacyKind::I256, Kind::I256},     {LegacyKind::Bytes, Kind::Bytes},
    {LegacyKind::String, Kind::String}, {LegacyKind::PublicKey, Kind::Pubkey},
};

IdlType convert_type(legacy::IdlType& type) {
  using L = LegacyKind;
  for (const auto& [from, to] : kScalarKinds) {
    if (type.kind == from) return IdlType::simple(to);
  }
  switch (type.kind) {
    case L::Defined:
      return IdlType::defined_of(std::move(std::get<std::string>(type.payload)));
    case L::Option:
      return IdlType::option(convert_type(*std::get<Box<legacy::IdlType>>(type.payload)));
    case L::Vec:
      return IdlType::vec(convert_type(*std::get<Box<legacy::IdlType>>(type.payload)));
    case L::Array: {
      auto& array = std::get<legacy::IdlType::Array>(type.payload);
      return IdlType::array_of(convert_type(*array.element), IdlArrayLen{array.size});
    }
    case L::GenericLenArray: {
      auto& array = std::get<legacy::IdlType::GenericLenArray>(type.payload);
      return IdlType::array_of(convert_type(*array.element),
                               IdlArrayLen{IdlArrayLen::Generic{std::move(array.name)}});
    }
    case L::Generic:
      return IdlType::generic_of(std::move(std::get<std::string>(type.payload)));
    case L::DefinedWithTypeArgs: {
      auto& defined = std::get<legacy::IdlType::DefinedWithTypeArgs>(type.payload);
      std::vector<IdlGenericArg> generics;
      generics.reserve(defined.args.size());
      for (legacy::IdlDefinedTypeArg& arg : defined.args) generics.push_back(convert_type_arg(arg));
      return IdlType::defined_of(std::move(defined.name), std::move(generics));
    }
    default:  // the scalar kinds, converted by the table above
      break;
  }
  return IdlType::simple(Kind::Bool);  // not reached: every kind is handled above
}

// ------------------------------------------------------------------ fields

IdlField convert_field(legacy::IdlField& field) {
  return IdlField{to_snake_case(field.name), docs_or_empty(field.docs), convert_type(field.type)};
}

std::vector<IdlField> convert_fields(std::vector<legacy::IdlField>& fields) {
  std::vector<IdlField> out;
  out.reserve(fields.size());
  for (legacy::IdlField& field : fields) out.push_back(convert_field(field));
  return out;
}

IdlDefinedFields convert_enum_fields(legacy::EnumFields& fields) {
  if (auto* named = std::get_if<legacy::EnumFields::Named>(&fields.value)) {
    return IdlDefinedFields{convert_fields(*named)};
  }
  IdlDefinedFields::Tuple tuple;
  auto& types = std::get<legacy::EnumFields::Tuple>(fields.value);
  tuple.reserve(types.size());
  for (legacy::IdlType& type : types) tuple.push_back(convert_type(type));
  return IdlDefinedFields{std::move(tuple)};
}

// ------------------------------------------------------- type definitions

IdlTypeDefTy convert_body(legacy::IdlTypeDefinitionTy& body) {
  if (auto* record = std::get_if<legacy::IdlTypeDefinitionTy::Struct>(&body.value)) {
    IdlTypeDefTy::Struct out;
    if (!record->fields.empty()) out.fields = IdlDefinedFields{convert_fields(record->fields)};
    return IdlTypeDefTy{std::move(out)};
  }
  if (auto* enumeration = std::get_if<legacy::IdlTypeDefinitionTy::Enum>(&body.value)) {
    IdlTypeDefTy::Enum out;
    out.variants.reserve(enumeration->variants.size());
    for (legacy::IdlEnumVariant& variant : enumeration->variants) {
      IdlEnumVariant& converted = out.variants.emplace_back();
      converted.name = std::move(variant.name);
      if (variant.fields) converted.fields = convert_enum_fields(*variant.fields);
    }
    return IdlTypeDefTy{std::move(out)};
  }
  auto& alias = std::get<legacy::IdlTypeDefinitionTy::Alias>(body.value);
  return IdlTypeDefTy{IdlTypeDefTy::Type{convert_type(alias.value)}};
}

// The type's name is copied, not moved: an account declaration needs it too.
IdlTypeDef convert_type_def(legacy::IdlTypeDefinition& def) {
  IdlTypeDef out;
  out.name = def.name;
  out.docs = docs_or_empty(def.docs);
  out.type = convert_body(def.type);
  return out;
}

IdlTypeDef convert_event_type(legacy::IdlEvent& event) {
  IdlDefinedFields::Named fields;
  fields.reserve(event.fields.size());
  for (legacy::IdlEventField& field : event.fields) {
    fields.push_back(IdlField{to_snake_case(field.name), Docs{}, convert_type(field.type)});
  }
  IdlTypeDef out;
  out.name = event.name;
  out.type = IdlTypeDefTy{IdlTypeDefTy::Struct{IdlDefinedFields{std::move(fields)}}};
  return out;
}

// ---------------------------------------------------- instruction accounts

// A const seed holds the bytes of its value's compact JSON text, and only
// when declared a string; other const seeds cannot be converted.
Result<IdlSeed> convert_seed(legacy::IdlSeed& seed) {
  if (auto* constant = std::get_if<legacy::IdlSeed::Const>(&seed.value)) {
    if (constant->type.kind != legacy::IdlType::Kind::String) {
      return fail("Const seed conversion not supported");
    }
    const std::string text = json::to_compact(constant->value);
    return IdlSeed{IdlSeed::Const{ByteVec(text.begin(), text.end())}};
  }
  if (auto* arg = std::get_if<legacy::IdlSeed::Arg>(&seed.value)) {
    return IdlSeed{IdlSeed::Arg{std::move(arg->path)}};
  }
  auto& account = std::get<legacy::IdlSeed::Account>(seed.value);
  return IdlSeed{IdlSeed::Account{std::move(account.path), std::move(account.account)}};
}

// Absent when any seed cannot be converted.
std::optional<IdlPda> convert_pda(legacy::IdlPda& pda) {
  IdlPda out;
  out.seeds.reserve(pda.seeds.size());
  for (legacy::IdlSeed& seed : pda.seeds) {
    Result<IdlSeed> converted = convert_seed(seed);
    if (!converted) return std::nullopt;
    out.seeds.push_back(std::move(*converted));
  }
  if (pda.program_id) {
    Result<IdlSeed> converted = convert_seed(*pda.program_id);
    if (!converted) return std::nullopt;
    out.program = std::move(*converted);
  }
  return out;
}

IdlInstructionAccountItem convert_account_item(legacy::IdlAccountItem& item) {
  if (auto* group = std::get_if<legacy::IdlAccounts>(&item.value)) {
    IdlInstructionAccounts out;
    out.name = to_snake_case(group->name);
    out.accounts.reserve(group->accounts.size());
    for (legacy::IdlAccountItem& nested : group->accounts)
      out.accounts.push_back(convert_account_item(nested));
    return IdlInstructionAccountItem{std::move(out)};
  }
  auto& account = std::get<legacy::IdlAccount>(item.value);
  IdlInstructionAccount out;
  out.name = to_snake_case(account.name);
  out.docs = docs_or_empty(account.docs);
  out.writable = account.is_mut;
  out.signer = account.is_signer;
  out.optional = account.is_optional.value_or(false);
  if (account.pda) out.pda = convert_pda(*account.pda);
  out.relations = std::move(account.relations);
  return IdlInstructionAccountItem{std::move(out)};
}

IdlInstruction convert_instruction(legacy::IdlInstruction& instruction) {
  IdlInstruction out;
  out.name = to_snake_case(instruction.name);
  out.discriminator = discriminator("global", out.name);
  out.docs = docs_or_empty(instruction.docs);
  out.accounts.reserve(instruction.accounts.size());
  for (legacy::IdlAccountItem& item : instruction.accounts)
    out.accounts.push_back(convert_account_item(item));
  out.args = convert_fields(instruction.args);
  if (instruction.returns) out.returns = convert_type(*instruction.returns);
  return out;
}

// metadata.address when it is a string.
const std::string* program_address(const std::optional<json::Value>& metadata) {
  if (!metadata) return nullptr;
  const json::Value* address = metadata->get("address");
  return address != nullptr && address->is_string() ? &address->as_string() : nullptr;
}

}  // namespace

Result<Idl> convert_legacy_idl(legacy::Idl idl) {
  const std::string* address = program_address(idl.metadata);
  if (address == nullptr) return fail("Program id missing in `idl.metadata.address` field");

  Idl out;
  out.address = *address;
  out.metadata.name = std::move(idl.name);
  out.metadata.version = std::move(idl.version);
  out.metadata.spec = "0.1.0";
  out.docs = docs_or_empty(idl.docs);

  out.instructions.reserve(idl.instructions.size());
  for (legacy::IdlInstruction& instruction : idl.instructions) {
    out.instructions.push_back(convert_instruction(instruction));
  }

  std::vector<legacy::IdlEvent> events =
      idl.events ? std::move(*idl.events) : std::vector<legacy::IdlEvent>{};
  out.types.reserve(idl.types.size() + idl.accounts.size() + events.size());
  for (legacy::IdlTypeDefinition& def : idl.types) out.types.push_back(convert_type_def(def));

  out.accounts.reserve(idl.accounts.size());
  for (legacy::IdlTypeDefinition& def : idl.accounts) {
    out.types.push_back(convert_type_def(def));
    out.accounts.push_back(IdlAccount{def.name, discriminator("account", def.name)});
  }

  out.events.reserve(events.size());
  for (legacy::IdlEvent& event : events) {
    out.types.push_back(convert_event_type(event));
    out.events.push_back(IdlEvent{event.name, discriminator("event", event.name)});
  }

  if (idl.errors) {
    out.errors.reserve(idl.errors->size());
    for (legacy::IdlErrorCode& error : *idl.errors) {
      out.errors.push_back(IdlErrorCode{error.code, std::move(error.name), std::move(error.msg)});
    }
  }

  out.constants.reserve(idl.constants.size());
  for (legacy::IdlConst& constant : idl.constants) {
    out.constants.push_back(
        IdlConst{std::move(constant.name), Docs{}, convert_type(constant.type), std::move(constant.value)});
  }
  return out;
}

}  // namespace varkel::idl
