// The rows of transactions and accounts in the tables of columnar/schemas.h:
// events and instructions of many transactions, for many programs at once,
// and account data; no Python object per value.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

#include "columnar/event_tables.h"
#include "columnar/schemas.h"
#include "decode/base58.h"
#include "decode/plan.h"
#include "decode/registry.h"
#include "tx/attribution.h"
#include "tx/transaction.h"

namespace varkel::columnar {

// An account's data as accounts::match_account found it, into the table of
// account type `account`: its pubkey (null when not known), then its fields.
// False when the data does not decode (nothing added) or the type has no table.
bool add_account_row(EventTables& tables, std::size_t account, std::span<const std::uint8_t> data,
                     bool zero_copy, const decode::Pubkey* pubkey);

// One program of a call: what its tables are made from.
struct ProgramTables {
  const decode::EventRegistry* registry = nullptr;
  const decode::DecodePlan* plan = nullptr;
  const Schemas* schemas = nullptr;
};

// What the rows of a call count.
struct RowCounts {
  std::uint64_t transactions = 0;
  std::uint64_t events = 0;                  // rows
  std::uint64_t undecoded_events = 0;        // sites whose data does not decode
  std::uint64_t instructions = 0;            // rows
  std::uint64_t undecoded_instructions = 0;  // unknown discriminator, or arguments that do not fit
};

// The tables of the events and instructions of many transactions. Not
// shared between threads.
class TransactionTables {
 public:
  // `programs`: by entry of the ProgramSet that the attributions were made with.
  TransactionTables(std::span<const ProgramTables> programs, KeyForm form, bool instructions);

  // The rows of one transaction, attributed.
  void add(const tx::Transaction& tx, const tx::Attribution& attribution);

  const RowCounts& counts() const noexcept { return counts_; }

  struct Finished {
    std::uint32_t program = 0;  // entry
    TableKind kind = TableKind::TransactionEvents;
    std::shared_ptr<const Table> table;
  };
  // Every table of every program (those without rows too): per program its
  // events' tables, then its instructions'.
  std::vector<Finished> finish() &&;

 private:
  struct Program {
    const decode::EventRegistry* registry;
    std::unique_ptr<EventTables> events;
    std::unique_ptr<EventTables> instructions;  // when asked for
  };
  std::vector<Program> programs_;
  RowCounts counts_;
};

}  // namespace varkel::columnar
