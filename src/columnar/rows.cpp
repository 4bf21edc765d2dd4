#include "columnar/rows.h"

#include <utility>

#include "columnar/column_sink.h"
#include "decode/borsh_reader.h"
#include "decode/instructions.h"

namespace varkel::columnar {

namespace {

using decode::AccountItem;
using decode::Pubkey;

template <class T>
void put(TableBuilder& table, std::uint32_t slot, std::optional<T> value) {
  if (value) {
    TableBuilder::append_value<T>(table.column(slot), *value);
  } else {
    table.append_null(slot);
  }
}

std::optional<std::uint32_t> index_of(std::uint32_t index) {
  return index == kNoIndex ? std::nullopt : std::optional<std::uint32_t>(index);
}
std::optional<std::uint32_t> depth_of(std::uint32_t depth) {
  return depth == 0 ? std::nullopt : std::optional<std::uint32_t>(depth);
}

// The context columns from signature to depth.
void put_context(TableBuilder& table, const tx::Transaction& tx, std::uint32_t instruction,
                 std::uint32_t inner, std::uint32_t depth) {
  const Layout& layout = table.layout();
  if (tx.signature.empty()) {
    table.append_null(layout.before_slot(kSignature));
  } else {
    TableBuilder::append_bytes(table.column(layout.before_slot(kSignature)), tx.signature.data(),
                               tx.signature.size());
  }
  put(table, layout.before_slot(kSlot), tx.slot);
  put(table, layout.before_slot(kBlockTime), tx.block_time);
  put(table, layout.before_slot(kInstruction), index_of(instruction));
  put(table, layout.before_slot(kInner), index_of(inner));
  put(table, layout.before_slot(kDepth), depth_of(depth));
}

std::string_view source_text(tx::Source source) {
  switch (source) {
    case tx::Source::Log:
      return "log";
    case tx::Source::Cpi:
      return "cpi";
    case tx::Source::LogAndCpi:
      break;
  }
  return "log+cpi";
}

bool add_event_row(EventTables& tables, const decode::EventRegistry& registry, const tx::Transaction& tx,
                   const tx::EventSite& site) {
  const auto event = static_cast<std::size_t>(site.event - registry.events.data());
  const std::uint32_t t = tables.schema().layouts.table_of[event];
  TableBuilder& table = tables.begin(t);
  put_context(table, tx, site.instruction, site.inner, site.depth);
  const std::string_view source = source_text(site.source);
  TableBuilder::append_bytes(table.column(table.layout().before_slot(kSource)), source.data(), source.size());
  TableBuilder::append_bit(table.column(table.layout().before_slot(kFailed)), tx.failed);
  decode::BorshReader reader(site.data.data(), site.data.size());
  if (decode_row(tables.plan(), table, reader, tables.plan().events[event], tables.keys())) return true;
  tables.drop(t);
  return false;
}

// The accounts struct of an instruction's row.
void put_accounts(TableBuilder& table, std::uint32_t slot, const decode::InstructionEntry& entry,
                  const decode::AccountPlacement& placement, std::span<const Pubkey> keys,
                  KeyTextCache& texts) {
  const std::vector<Slot>& slots = table.layout().slots;
  struct Open {
    std::uint32_t slot;
    std::uint32_t next;  // its next child
  };
  std::vector<Open> open{{slot, 0}};
  std::size_t account = 0;
  for (const AccountItem& item : entry.accounts) {
    if (item.kind == AccountItem::Kind::GroupEnd) {
      if (open.size() > 1) {
        TableBuilder::end_value(table.column(open.back().slot));
        open.pop_back();
      }
      continue;
    }
    const std::uint32_t child = slots[open.back().slot].first_child + open.back().next++;
    if (item.kind == AccountItem::Kind::GroupBegin) {
      open.push_back({child, 0});
      continue;
    }
    const std::uint32_t position = placement.positions[account++];
    if (position == kNoIndex) {
      table.append_null(child);
    } else {
      table.append_key(child, keys[position].data(), texts);
    }
  }
  while (!open.empty()) {
    TableBuilder::end_value(table.column(open.back().slot));
    open.pop_back();
  }
}

bool add_instruction_row(EventTables& tables, const decode::EventRegistry& registry,
                         const tx::Transaction& tx, const tx::InstructionSite& site,
                         std::vector<Pubkey>& keys) {
  const decode::InstructionEntry* entry = registry.find_instruction(site.data);
  if (entry == nullptr) return false;
  const auto index = static_cast<std::size_t>(entry - registry.instructions.data());
  const std::uint32_t t = tables.schema().layouts.table_of[index];
  TableBuilder& table = tables.begin(t);
  const Layout& layout = table.layout();
  put_context(table, tx, site.index, site.inner, site.depth);
  TableBuilder::append_bit(table.column(layout.before_slot(kSource)), tx.failed);  // kFailed's place here
  const std::span<const std::uint8_t> data = site.data.subspan(entry->discriminator.size());
  decode::BorshReader reader(data.data(), data.size());
  if (!decode_arguments_row(tables.plan(), table, reader, tables.plan().instructions[index], tables.keys())) {
    tables.drop(t);
    return false;
  }
  keys.clear();
  const tx::Instruction& ins = *site.instruction;
  for (std::uint32_t a = 0; a < ins.accounts_count; ++a)
    keys.push_back(tx.keys[tx.accounts[ins.accounts_first + a]]);
  Result<decode::AccountPlacement> placement = decode::place_accounts(*entry, keys, ins.program);
  std::size_t remaining = 0;  // every key when the IDL's accounts cannot be placed
  if (placement) {
    put_accounts(table, layout.after_slot(0), *entry, *placement, keys, tables.keys());
    remaining = placement->remaining;
  } else {
    table.append_null(layout.after_slot(0));
  }
  const std::uint32_t list = layout.after_slot(1);
  const std::uint32_t item = layout.slots[list].first_child;
  for (std::size_t k = remaining; k < keys.size(); ++k) table.append_key(item, keys[k].data(), tables.keys());
  Column& column = table.column(list);
  column.offsets.push<std::int64_t>(table.column(item).length);
  TableBuilder::end_value(column);
  return true;
}

}  // namespace

bool add_account_row(EventTables& tables, std::size_t account, std::span<const std::uint8_t> data,
                     bool zero_copy, const Pubkey* pubkey) {
  const std::uint32_t t = tables.schema().layouts.table_of[account];
  if (t == kNoIndex) return false;
  TableBuilder& table = tables.begin(t);
  const std::uint32_t key_slot = table.layout().before_slot(0);
  if (pubkey != nullptr) {
    table.append_key(key_slot, pubkey->data(), tables.keys());
  } else {
    table.append_null(key_slot);
  }
  const decode::DecodePlan& plan = tables.plan();
  decode::BorshReader reader(data.data(), data.size());
  if (decode_account_row(plan, table, reader, plan.nodes[plan.accounts[account]].child, zero_copy,
                         tables.keys()))
    return true;
  tables.drop(t);
  return false;
}

TransactionTables::TransactionTables(std::span<const ProgramTables> programs, KeyForm form,
                                     bool instructions) {
  programs_.reserve(programs.size());
  for (const ProgramTables& p : programs) {
    Program& program = programs_.emplace_back();
    program.registry = p.registry;
    program.events = std::make_unique<EventTables>(
        *p.plan, p.schemas->get(TableKind::TransactionEvents, form, *p.registry, *p.plan));
    if (instructions) {
      program.instructions = std::make_unique<EventTables>(
          *p.plan, p.schemas->get(TableKind::Instructions, form, *p.registry, *p.plan));
    }
  }
}

void TransactionTables::add(const tx::Transaction& tx, const tx::Attribution& attribution) {
  ++counts_.transactions;
  for (const tx::EventSite& site : attribution.events) {
    Program& program = programs_[site.program];
    if (add_event_row(*program.events, *program.registry, tx, site)) {
      ++counts_.events;
    } else {
      ++counts_.undecoded_events;
    }
  }
  std::vector<Pubkey> keys;
  for (const tx::InstructionSite& site : attribution.instructions) {
    Program& program = programs_[site.program];
    if (program.instructions &&
        add_instruction_row(*program.instructions, *program.registry, tx, site, keys)) {
      ++counts_.instructions;
    } else {
      ++counts_.undecoded_instructions;
    }
  }
}

std::vector<TransactionTables::Finished> TransactionTables::finish() && {
  std::vector<Finished> out;
  for (std::size_t p = 0; p < programs_.size(); ++p) {
    const auto entry = static_cast<std::uint32_t>(p);
    for (auto& table : std::move(*programs_[p].events).finish())
      out.push_back({entry, TableKind::TransactionEvents, std::move(table)});
    if (programs_[p].instructions) {
      for (auto& table : std::move(*programs_[p].instructions).finish())
        out.push_back({entry, TableKind::Instructions, std::move(table)});
    }
  }
  return out;
}

}  // namespace varkel::columnar
