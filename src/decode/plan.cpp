#include "decode/plan.h"

#include <algorithm>
#include <optional>
#include <unordered_map>
#include <utility>
#include <variant>

#include "decode/zero_copy.h"

namespace varkel::decode {

namespace {

std::uint32_t index_of(std::size_t size) {
  return static_cast<std::uint32_t>(size);
}

std::uint64_t add(std::uint64_t a, std::uint64_t b) {
  return a >= kSizeCap - b ? kSizeCap : a + b;  // both are at most kSizeCap
}

std::uint64_t multiply(std::uint64_t a, std::uint64_t b) {
  if (a == 0 || b == 0) return 0;
  return a > kSizeCap / b ? kSizeCap : a * b;
}

std::uint64_t scalar_size(Kind kind) {
  switch (kind) {
    case Kind::Bool:
    case Kind::U8:
    case Kind::I8:
    case Kind::Option:  // the tag
      return 1;
    case Kind::U16:
    case Kind::I16:
      return 2;
    case Kind::U32:
    case Kind::I32:
    case Kind::F32:
    case Kind::Bytes:  // the length
    case Kind::String:
    case Kind::Vec:  // the count
      return 4;
    case Kind::U64:
    case Kind::I64:
    case Kind::F64:
      return 8;
    case Kind::U128:
    case Kind::I128:
      return 16;
    case Kind::U256:
    case Kind::I256:
    case Kind::Pubkey:
      return 32;
    default:
      return 0;
  }
}

std::uint64_t fields_size(const DecodePlan& plan, const FieldsRef& fields) {
  std::uint64_t size = 0;
  for (std::uint32_t i = 0; i < fields.count; ++i) {
    size = add(size, plan.nodes[plan.fields[fields.first + i].type].min_size);
  }
  return size;
}

std::uint64_t node_size(const DecodePlan& plan, const PlanNode& node) {
  switch (node.kind) {
    case Kind::Array:
      return node.generic_length ? 0 : multiply(node.length, plan.nodes[node.child].min_size);
    case Kind::Defined:
      return node.generic_args || node.child == kNoIndex ? 0 : plan.definitions[node.child].min_size;
    default:
      return scalar_size(node.kind);
  }
}

std::uint64_t definition_size(const DecodePlan& plan, const PlanDefinition& def) {
  switch (def.form) {
    case PlanDefinition::Form::Struct:
      return fields_size(plan, def.fields);
    case PlanDefinition::Form::Enum: {
      std::uint64_t smallest = def.variant_count == 0 ? 0 : kSizeCap;
      for (std::uint32_t i = 0; i < def.variant_count; ++i) {
        smallest = std::min(smallest, fields_size(plan, plan.variants[def.first_variant + i].fields));
      }
      return add(1, smallest);
    }
    case PlanDefinition::Form::Alias:
      break;
  }
  return plan.nodes[def.alias].min_size;
}

// Raises the bounds to a fixed point (see kSizeRounds). Children come after
// their node, so a round walks the nodes from the back.
void bound_sizes(DecodePlan& plan) {
  for (int round = 0; round < kSizeRounds; ++round) {
    bool changed = false;
    for (std::size_t i = plan.nodes.size(); i-- > 0;) {
      const std::uint64_t size = node_size(plan, plan.nodes[i]);
      changed |= size != plan.nodes[i].min_size;
      plan.nodes[i].min_size = size;
    }
    for (PlanDefinition& def : plan.definitions) {
      const std::uint64_t size = definition_size(plan, def);
      changed |= size != def.min_size;
      def.min_size = size;
    }
    if (!changed) return;
  }
}

class PlanBuilder {
 public:
  explicit PlanBuilder(const EventRegistry& registry) : registry_(registry) {}

  DecodePlan build() && {
    plan_.events.reserve(registry_.events.size());
    for (const EventEntry& event : registry_.events) plan_.events.push_back(fields(event.fields));
    plan_.instructions.reserve(registry_.instructions.size());
    plan_.account_names.reserve(registry_.instructions.size());
    for (const InstructionEntry& instruction : registry_.instructions) {
      plan_.instructions.push_back(fields(instruction.args));
      std::vector<std::uint32_t>& names = plan_.account_names.emplace_back();
      names.reserve(instruction.accounts.size());
      for (const AccountItem& item : instruction.accounts) {
        names.push_back(item.kind == AccountItem::Kind::GroupEnd ? kNoIndex : key_of(item.name));
      }
    }
    plan_.accounts.reserve(registry_.accounts.size());
    for (const AccountEntry& account : registry_.accounts) {
      plan_.accounts.push_back(node(idl::IdlType::defined_of(account.name)));
    }
    bound_sizes(plan_);
    return std::move(plan_);
  }

 private:
  // Fields are placed in one run, then their types compiled (which may add
  // further runs after it).
  FieldsRef fields(const std::optional<idl::IdlDefinedFields>& source) {
    FieldsRef ref;
    if (!source) return ref;
    ref.first = index_of(plan_.fields.size());
    if (const auto* named = std::get_if<idl::IdlDefinedFields::Named>(&source->value)) {
      ref.form = FieldsRef::Form::Named;
      ref.count = index_of(named->size());
      plan_.fields.resize(plan_.fields.size() + named->size());
      for (std::uint32_t i = 0; i < ref.count; ++i) {
        const idl::IdlField& field = (*named)[i];
        const std::uint32_t key = key_of(field.name);
        const std::uint32_t type = node(field.type);
        plan_.fields[ref.first + i] = PlanField{key, type};
      }
    } else {
      const auto& tuple = std::get<idl::IdlDefinedFields::Tuple>(source->value);
      ref.form = FieldsRef::Form::Tuple;
      ref.count = index_of(tuple.size());
      plan_.fields.resize(plan_.fields.size() + tuple.size());
      for (std::uint32_t i = 0; i < ref.count; ++i) {
        const std::uint32_t type = node(tuple[i]);
        plan_.fields[ref.first + i] = PlanField{kNoIndex, type};
      }
    }
    return ref;
  }

  std::uint32_t node(const idl::IdlType& type) {
    const std::uint32_t at = index_of(plan_.nodes.size());
    plan_.nodes.push_back(PlanNode{.kind = type.kind});
    switch (type.kind) {
      case Kind::Option:
      case Kind::Vec: {
        const std::uint32_t child = node(type.inner());
        plan_.nodes[at].child = child;
        break;
      }
      case Kind::Array: {
        const idl::IdlType::Array& array = type.array();
        if (const auto* length = std::get_if<std::uint64_t>(&array.len.value)) {
          plan_.nodes[at].length = *length;
        } else {
          plan_.nodes[at].generic_length = true;
        }
        const std::uint32_t child = node(*array.element);
        plan_.nodes[at].child = child;
        break;
      }
      case Kind::Defined: {
        const idl::IdlType::Defined& ref = type.defined();
        plan_.nodes[at].text = index_of(plan_.texts.size());
        plan_.texts.push_back(ref.name);
        if (!ref.generics.empty()) {
          plan_.nodes[at].generic_args = true;
          break;
        }
        const std::uint32_t def = definition(ref.name);
        plan_.nodes[at].child = def;
        break;
      }
      default:
        break;
    }
    return at;
  }

  // The definition of `name`, compiled on first use; kNoIndex when none exists.
  std::uint32_t definition(const std::string& name) {
    if (auto it = definitions_.find(name); it != definitions_.end()) return it->second;
    const idl::IdlTypeDef* def = registry_.find_type(name);
    if (def == nullptr) {
      definitions_.emplace(name, kNoIndex);
      return kNoIndex;
    }
    // The index is taken before the body is compiled, so that a definition
    // that reaches itself refers to this one.
    const std::uint32_t at = index_of(plan_.definitions.size());
    plan_.definitions.emplace_back();
    plan_.definitions[at].name = name;
    definitions_.emplace(name, at);
    if (const auto* record = std::get_if<idl::IdlTypeDefTy::Struct>(&def->type.value)) {
      const FieldsRef ref = fields(record->fields);
      plan_.definitions[at].form = PlanDefinition::Form::Struct;
      plan_.definitions[at].fields = ref;
    } else if (const auto* body = std::get_if<idl::IdlTypeDefTy::Enum>(&def->type.value)) {
      const std::uint32_t first = index_of(plan_.variants.size());
      const std::uint32_t count = index_of(body->variants.size());
      plan_.variants.resize(plan_.variants.size() + body->variants.size());
      for (std::uint32_t i = 0; i < count; ++i) {
        const idl::IdlEnumVariant& variant = body->variants[i];
        const std::uint32_t key = key_of(variant.name);
        const FieldsRef ref = fields(variant.fields);
        plan_.variants[first + i] = PlanVariant{key, ref};
      }
      plan_.definitions[at].form = PlanDefinition::Form::Enum;
      plan_.definitions[at].first_variant = first;
      plan_.definitions[at].variant_count = count;
    } else {
      const std::uint32_t alias = node(std::get<idl::IdlTypeDefTy::Type>(def->type.value).alias);
      plan_.definitions[at].form = PlanDefinition::Form::Alias;
      plan_.definitions[at].alias = alias;
    }
    return at;
  }

  std::uint32_t key_of(const std::string& name) {
    auto [it, inserted] = keys_.try_emplace(name, index_of(plan_.keys.size()));
    if (inserted) plan_.keys.push_back(name);
    return it->second;
  }

  const EventRegistry& registry_;
  DecodePlan plan_;
  std::unordered_map<std::string, std::uint32_t> keys_;
  std::unordered_map<std::string, std::uint32_t> definitions_;
};

bool is_zero_copy(const idl::IdlTypeDef& def) {
  return std::holds_alternative<idl::IdlSerialization::Bytemuck>(def.serialization.value) ||
         std::holds_alternative<idl::IdlSerialization::BytemuckUnsafe>(def.serialization.value);
}

}  // namespace

DecodePlan build_plan(const EventRegistry& registry) {
  return PlanBuilder(registry).build();
}

Result<void> lay_out_zero_copy(DecodePlan& plan, const EventRegistry& registry) {
  plan.zero_copy_accounts.assign(registry.accounts.size(), false);
  std::vector<std::string> roots;
  for (std::size_t i = 0; i < registry.accounts.size(); ++i) {
    const idl::IdlTypeDef* def = registry.find_type(registry.accounts[i].name);
    if (def == nullptr || !is_zero_copy(*def)) continue;
    plan.zero_copy_accounts[i] = true;
    roots.push_back(registry.accounts[i].name);
  }
  plan.layouts.assign(plan.definitions.size(), {});
  if (roots.empty()) return {};
  const TypeLookup lookup = [&registry](std::string_view name) { return registry.find_type(name); };
  Result<ZeroCopyLayouts> layouts = compute_zero_copy_layouts(lookup, roots);
  if (!layouts) {
    for (const std::string& root : roots) {  // which account: its type alone fails the same way
      Result<ZeroCopyLayouts> one = compute_zero_copy_layouts(lookup, std::span<const std::string>(&root, 1));
      if (!one) return fail("account '" + root + "': " + one.error().message);
    }
    return fail(std::move(layouts.error()));
  }
  for (std::size_t d = 0; d < plan.definitions.size(); ++d) {
    const TypeLayout* layout = layouts->find(plan.definitions[d].name);
    if (layout == nullptr) continue;
    plan.layouts[d].size = layout->size;
    if (!layout->field_offsets.empty()) {
      plan.layouts[d].first_offset = index_of(plan.offsets.size());
      plan.offsets.insert(plan.offsets.end(), layout->field_offsets.begin(), layout->field_offsets.end());
    }
  }
  return {};
}

}  // namespace varkel::decode
