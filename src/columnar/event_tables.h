// Decoded rows into Arrow tables: for parse_logs_arrow one table per event
// name, one row per event that decodes, every value in its column
// (columnar/layout.h gives the mapping); the tables of transactions and
// accounts (columnar/schemas.h) fill the same builders.
//
// The values are read by the one walk of the decode plan (decode/walk.h), as
// parse_logs reads them, so an event decodes here exactly when parse_logs
// returns it; an event that fails leaves no trace in any column. Only the
// stack bound depends on the callers' own frames: on a thread whose stack is
// nearly exhausted by deep nesting, the two may stop at different depths.
//
// Events come from any source: add() takes the data of one event;
// add_lines() feeds it from log lines as parse_logs reads them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string_view>
#include <vector>

#include "columnar/array_data.h"
#include "columnar/key_text.h"
#include "columnar/layout.h"
#include "columnar/table_builder.h"
#include "decode/plan.h"
#include "decode/registry.h"

namespace varkel::columnar {

// What the tables of one decoder are built from; immutable, shared by every
// call on every thread.
struct TableSchema {
  Layouts layouts;
  // For each table, the finished table of no rows: what finish() gives for
  // a table that no row reached.
  std::vector<std::shared_ptr<const Table>> empty;
};

// One table per event name: the columns `before`, then the events' fields.
Layouts event_layouts(const decode::EventRegistry& registry, const decode::DecodePlan& plan,
                      std::span<const ColumnSpec> before = {});
// The tables of parse_logs_arrow: event_layouts without columns before.
TableSchema build_table_schema(const decode::EventRegistry& registry, const decode::DecodePlan& plan);
// Any tables: the empty ones made for `layouts`.
TableSchema table_schema(Layouts layouts, const decode::DecodePlan& plan);

// The tables of one batch, being filled. Not shared between threads.
class EventTables {
 public:
  EventTables(const decode::DecodePlan& plan, const TableSchema& schema);

  // Decodes `size` bytes of event data (what follows the discriminator) as
  // registry event `event`, with no columns of the table's own. True when it
  // decoded and its row was added; false when it fails, leaving the tables
  // as they were.
  bool add(std::size_t event, const std::uint8_t* data, std::size_t size);

  // Any row: begin() gives the table's builder with its state saved; the
  // caller appends the row's columns (the table's own, and the fields by
  // decode_row and its kin) and ends it, or calls drop() to undo it all.
  TableBuilder& begin(std::uint32_t table);
  void drop(std::uint32_t table) { builders_[table]->rollback(); }

  const TableSchema& schema() const noexcept { return schema_; }
  const decode::DecodePlan& plan() const noexcept { return plan_; }
  KeyTextCache& keys() noexcept { return keys_; }
  std::int64_t rows(std::size_t table) const noexcept;

  // Every table, in the order of the layouts.
  std::vector<std::shared_ptr<const Table>> finish() &&;

 private:
  const decode::DecodePlan& plan_;
  const TableSchema& schema_;
  std::vector<std::unique_ptr<TableBuilder>> builders_;  // made at a table's first row
  KeyTextCache& keys_;                                   // the thread's
};

// Every line that carries an event (scan/event_line.h), in order, as
// parse_logs finds them.
void add_lines(EventTables& tables, const decode::EventRegistry& registry,
               std::span<const std::string_view> lines);

}  // namespace varkel::columnar
