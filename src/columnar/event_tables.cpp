#include "columnar/event_tables.h"

#include <optional>
#include <string_view>
#include <unordered_map>
#include <utility>

#include "columnar/column_sink.h"
#include "decode/borsh_reader.h"
#include "scan/event_line.h"

namespace varkel::columnar {

TableSchema table_schema(Layouts layouts, const decode::DecodePlan& plan) {
  TableSchema schema;
  schema.layouts = std::move(layouts);
  schema.empty.reserve(schema.layouts.tables.size());
  for (const Layout& layout : schema.layouts.tables) {
    schema.empty.push_back(std::make_shared<const Table>(TableBuilder(layout).finish(plan)));
  }
  return schema;
}

Layouts event_layouts(const decode::EventRegistry& registry, const decode::DecodePlan& plan,
                      std::span<const ColumnSpec> before) {
  Layouts layouts;
  std::unordered_map<std::string_view, std::uint32_t> table_of_name;
  layouts.table_of.reserve(registry.events.size());
  for (std::size_t i = 0; i < registry.events.size(); ++i) {
    const std::string& name = registry.events[i].name;
    auto [it, inserted] = table_of_name.try_emplace(name, static_cast<std::uint32_t>(layouts.tables.size()));
    if (inserted) layouts.tables.push_back(lay_out(plan, name, &plan.events[i], before));
    layouts.table_of.push_back(it->second);
  }
  return layouts;
}

TableSchema build_table_schema(const decode::EventRegistry& registry, const decode::DecodePlan& plan) {
  return table_schema(event_layouts(registry, plan), plan);
}

EventTables::EventTables(const decode::DecodePlan& plan, const TableSchema& schema)
    : plan_(plan),
      schema_(schema),
      builders_(schema.layouts.tables.size()),
      keys_(KeyTextCache::for_this_thread()) {
  keys_.clear();  // a batch reuses only its own keys
}

TableBuilder& EventTables::begin(std::uint32_t table) {
  std::unique_ptr<TableBuilder>& builder = builders_[table];
  if (!builder) builder = std::make_unique<TableBuilder>(schema_.layouts.tables[table]);
  builder->checkpoint();
  return *builder;
}

bool EventTables::add(std::size_t event, const std::uint8_t* data, std::size_t size) {
  const std::uint32_t table = schema_.layouts.table_of[event];
  TableBuilder& builder = begin(table);
  decode::BorshReader reader(data, size);
  if (decode_row(plan_, builder, reader, plan_.events[event], keys_)) return true;
  builder.rollback();
  return false;
}

std::int64_t EventTables::rows(std::size_t table) const noexcept {
  return builders_[table] ? builders_[table]->rows() : 0;
}

std::vector<std::shared_ptr<const Table>> EventTables::finish() && {
  std::vector<std::shared_ptr<const Table>> tables;
  tables.reserve(builders_.size());
  for (std::size_t i = 0; i < builders_.size(); ++i) {
    if (builders_[i]) {
      tables.push_back(std::make_shared<const Table>(std::move(*builders_[i]).finish(plan_)));
      builders_[i].reset();
    } else {
      tables.push_back(schema_.empty[i]);
    }
  }
  return tables;
}

void add_lines(EventTables& tables, const decode::EventRegistry& registry,
               std::span<const std::string_view> lines) {
  if (registry.events.empty()) return;
  std::vector<std::uint8_t> scratch;
  for (std::string_view line : lines) {
    const std::optional<scan::EventPayload> payload = scan::event_of_line(line, registry, scratch);
    if (!payload) continue;
    tables.add(payload->event, payload->data.data(), payload->data.size());
  }
}

}  // namespace varkel::columnar
