#include "columnar/schemas.h"

#include <string>
#include <utility>
#include <vector>

namespace varkel::columnar {

namespace {

using decode::AccountItem;

std::vector<ColumnSpec> context_columns(bool with_source) {
  std::vector<ColumnSpec> columns = {
      {"signature", SlotKind::Utf8, true, {}}, {"slot", SlotKind::U64, true, {}},
      {"block_time", SlotKind::I64, true, {}}, {"instruction", SlotKind::U32, true, {}},
      {"inner", SlotKind::U32, true, {}},      {"depth", SlotKind::U32, true, {}},
  };
  if (with_source) columns.push_back({"source", SlotKind::Utf8, false, {}});
  columns.push_back({"failed", SlotKind::Bool, false, {}});
  return columns;
}

// `accounts` and `remaining` of an instruction's table.
std::vector<ColumnSpec> account_columns(const decode::InstructionEntry& entry) {
  ColumnSpec accounts{"accounts", SlotKind::Struct, true, {}};
  std::vector<ColumnSpec*> open{&accounts};
  for (const AccountItem& item : entry.accounts) {
    switch (item.kind) {
      case AccountItem::Kind::Account:
        open.back()->children.push_back({item.name, SlotKind::Pubkey, true, {}});
        break;
      case AccountItem::Kind::GroupBegin:
        open.back()->children.push_back({item.name, SlotKind::Struct, true, {}});
        open.push_back(&open.back()->children.back());
        break;
      case AccountItem::Kind::GroupEnd:
        if (open.size() > 1) open.pop_back();
        break;
    }
  }
  ColumnSpec remaining{"remaining", SlotKind::List, false, {{"item", SlotKind::Pubkey, false, {}}}};
  return {std::move(accounts), std::move(remaining)};
}

Layouts instruction_layouts(const decode::EventRegistry& registry, const decode::DecodePlan& plan) {
  const std::vector<ColumnSpec> context = context_columns(false);
  Layouts layouts;
  for (std::size_t i = 0; i < registry.instructions.size(); ++i) {
    const decode::InstructionEntry& entry = registry.instructions[i];
    layouts.table_of.push_back(static_cast<std::uint32_t>(layouts.tables.size()));
    layouts.tables.push_back(
        lay_out(plan, entry.name, &plan.instructions[i], context, account_columns(entry), true));
  }
  return layouts;
}

Layouts account_layouts(const decode::EventRegistry& registry, const decode::DecodePlan& plan) {
  const std::vector<ColumnSpec> pubkey = {{"pubkey", SlotKind::Pubkey, true, {}}};
  Layouts layouts;
  for (std::size_t i = 0; i < registry.accounts.size(); ++i) {
    const std::uint32_t definition = plan.nodes[plan.accounts[i]].child;
    if (definition == kNoIndex || plan.definitions[definition].form != decode::PlanDefinition::Form::Struct) {
      layouts.table_of.push_back(kNoIndex);
      continue;
    }
    layouts.table_of.push_back(static_cast<std::uint32_t>(layouts.tables.size()));
    layouts.tables.push_back(
        lay_out(plan, registry.accounts[i].name, &plan.definitions[definition].fields, pubkey));
  }
  return layouts;
}

Layouts layouts_of(TableKind kind, const decode::EventRegistry& registry, const decode::DecodePlan& plan) {
  switch (kind) {
    case TableKind::Events:
      return event_layouts(registry, plan);
    case TableKind::TransactionEvents:
      return event_layouts(registry, plan, context_columns(true));
    case TableKind::Instructions:
      return instruction_layouts(registry, plan);
    case TableKind::Accounts:
      break;
  }
  return account_layouts(registry, plan);
}

}  // namespace

const char* kind_name(TableKind kind) noexcept {
  switch (kind) {
    case TableKind::Events:
    case TableKind::TransactionEvents:
      return "event";
    case TableKind::Instructions:
      return "instruction";
    case TableKind::Accounts:
      break;
  }
  return "account";
}

const TableSchema& Schemas::get(TableKind kind, KeyForm form, const decode::EventRegistry& registry,
                                const decode::DecodePlan& plan) const {
  Made& made = made_[static_cast<std::size_t>(kind)][static_cast<std::size_t>(form)];
  std::call_once(made.once, [&] {
    Layouts layouts = layouts_of(kind, registry, plan);
    if (form == KeyForm::Binary) {
      for (Layout& layout : layouts.tables) layout = with_binary_keys(std::move(layout));
    }
    made.schema = std::make_unique<const TableSchema>(table_schema(std::move(layouts), plan));
  });
  return *made.schema;
}

}  // namespace varkel::columnar
