// Events into Arrow tables (columnar::EventTables) against the decode plans of
// the IDLs in fuzz/data/decode-idls.txt, then exported through the Arrow C
// data interface and released.
//
// Input: one selector byte (the IDL: selector % IDLs), then records, each
//   one byte (the event: byte % events), two bytes little-endian (the length
//   of the data), the data (the last record takes what is left).
//
// Properties:
// - add() adds exactly one row to its event's table when it decodes and
//   leaves every table as it was when it fails;
// - the same events as "Program data:" lines through add_lines() (each
//   resolved by its discriminator) give the same tables, buffer for buffer;
// - every finished table, as exported: lengths, null counts (counted from the
//   validity bits), offsets from 0 and monotone, within their data, children
//   as long as their parents need, dictionary indices in range, utf8 valid;
//   every value buffer read to its last value (AddressSanitizer checks the
//   reads); the schema mirrors the array;
// - exports release cleanly in any order, a child moved out alone; a stream
//   gives its one batch, then the end.
#include <algorithm>
#include <cstring>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "columnar/event_tables.h"
#include "columnar/export.h"
#include "decode/plan.h"
#include "decode/registry.h"
#include "fuzz/common.h"
#include "fuzz/repo_idls.h"
#include "idl/load.h"

namespace {

using namespace varkel;
using columnar::ArrayData;

struct Loaded {
  decode::EventRegistry registry;
  decode::DecodePlan plan;
  columnar::TableSchema schema;
};

std::vector<std::unique_ptr<Loaded>>& loaded() {
  static std::vector<std::unique_ptr<Loaded>> all;
  return all;
}

// Independent of decode/utf8.h: well-formed UTF-8 (no surrogates, no
// overlong forms, at most U+10FFFF).
bool valid_utf8(const std::uint8_t* s, std::size_t n) {
  std::size_t i = 0;
  while (i < n) {
    const std::uint8_t c = s[i];
    std::size_t extra = 0;
    std::uint32_t cp = 0;
    if (c < 0x80) {
      ++i;
      continue;
    }
    if ((c & 0xE0) == 0xC0) {
      extra = 1;
      cp = c & 0x1F;
    } else if ((c & 0xF0) == 0xE0) {
      extra = 2;
      cp = c & 0x0F;
    } else if ((c & 0xF8) == 0xF0) {
      extra = 3;
      cp = c & 0x07;
    } else {
      return false;
    }
    if (n - i <= extra) return false;
    for (std::size_t k = 1; k <= extra; ++k) {
      if ((s[i + k] & 0xC0) != 0x80) return false;
      cp = (cp << 6) | (s[i + k] & 0x3F);
    }
    static constexpr std::uint32_t kMin[] = {0, 0x80, 0x800, 0x10000};
    if (cp < kMin[extra] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return false;
    i += extra + 1;
  }
  return true;
}

bool bit(const void* bits, std::int64_t i) {
  return ((static_cast<const std::uint8_t*>(bits)[i >> 3] >> (i & 7)) & 1) != 0;
}

std::size_t fixed_width(std::string_view format) {
  if (format == "c" || format == "C") return 1;
  if (format == "s" || format == "S") return 2;
  if (format == "i" || format == "I" || format == "f") return 4;
  if (format == "l" || format == "L" || format == "g") return 8;
  if (format == "w:32") return 32;
  return 0;
}

volatile std::uint8_t g_sink;

void touch(const void* bytes, std::size_t n) {
  std::uint8_t sum = 0;
  for (std::size_t i = 0; i < n; ++i)
    sum = static_cast<std::uint8_t>(sum + static_cast<const std::uint8_t*>(bytes)[i]);
  g_sink = sum;
}

template <class Offset>
Offset check_offsets(const ArrowArray* a) {
  VARKEL_FUZZ_CHECK(a->buffers[1] != nullptr);
  const auto* offsets = static_cast<const Offset*>(a->buffers[1]);
  VARKEL_FUZZ_CHECK(offsets[0] == 0);
  for (std::int64_t i = 0; i < a->length; ++i) VARKEL_FUZZ_CHECK(offsets[i] <= offsets[i + 1]);
  return offsets[a->length];
}

// The exported array `a` against its schema `s`.
void check_array(const ArrowArray* a, const ArrowSchema* s) {
  VARKEL_FUZZ_CHECK(a->release != nullptr && s->release != nullptr);
  const std::string_view format = s->format;
  VARKEL_FUZZ_CHECK(a->length >= 0 && a->offset == 0);
  VARKEL_FUZZ_CHECK(a->null_count >= 0 && a->null_count <= a->length);
  VARKEL_FUZZ_CHECK(a->n_children == s->n_children);
  VARKEL_FUZZ_CHECK((a->dictionary == nullptr) == (s->dictionary == nullptr));
  if (format == "n") {
    VARKEL_FUZZ_CHECK(a->null_count == a->length && a->n_buffers == 0);
    return;
  }
  if (a->null_count > 0) {
    VARKEL_FUZZ_CHECK(a->buffers[0] != nullptr && (s->flags & ARROW_FLAG_NULLABLE) != 0);
    std::int64_t nulls = 0;
    for (std::int64_t i = 0; i < a->length; ++i) nulls += bit(a->buffers[0], i) ? 0 : 1;
    VARKEL_FUZZ_CHECK(nulls == a->null_count);
  }
  const auto valid = [a](std::int64_t i) { return a->null_count == 0 || bit(a->buffers[0], i); };
  const auto length = static_cast<std::size_t>(a->length);
  if (const std::size_t width = fixed_width(format); width != 0) {
    VARKEL_FUZZ_CHECK(a->n_buffers == 2 && a->buffers[1] != nullptr);
    touch(a->buffers[1], length * width);
    if (a->dictionary != nullptr) {
      VARKEL_FUZZ_CHECK(format == "s");
      check_array(a->dictionary, s->dictionary);
      const auto* indices = static_cast<const std::int16_t*>(a->buffers[1]);
      for (std::int64_t i = 0; i < a->length; ++i) {
        if (valid(i)) VARKEL_FUZZ_CHECK(indices[i] >= 0 && indices[i] < a->dictionary->length);
      }
    }
  } else if (format == "b") {
    VARKEL_FUZZ_CHECK(a->n_buffers == 2 && a->buffers[1] != nullptr);
    touch(a->buffers[1], (length + 7) / 8);
  } else if (format == "u" || format == "z" || format == "U" || format == "Z") {
    VARKEL_FUZZ_CHECK(a->n_buffers == 3 && a->buffers[2] != nullptr);
    const bool large = format == "U" || format == "Z";
    const std::int64_t end = large ? check_offsets<std::int64_t>(a) : check_offsets<std::int32_t>(a);
    touch(a->buffers[2], static_cast<std::size_t>(end));
    if (format == "u" || format == "U") {
      VARKEL_FUZZ_CHECK(
          valid_utf8(static_cast<const std::uint8_t*>(a->buffers[2]), static_cast<std::size_t>(end)));
    }
  } else if (format == "+l" || format == "+L") {
    VARKEL_FUZZ_CHECK(a->n_buffers == 2 && a->n_children == 1);
    const std::int64_t end = format == "+L" ? check_offsets<std::int64_t>(a) : check_offsets<std::int32_t>(a);
    VARKEL_FUZZ_CHECK(a->children[0]->length == end);
  } else if (format.starts_with("+w:")) {
    VARKEL_FUZZ_CHECK(a->n_buffers == 1 && a->n_children == 1);
    VARKEL_FUZZ_CHECK(a->children[0]->length == a->length * std::stoll(std::string(format.substr(3))));
  } else if (format == "+s") {
    VARKEL_FUZZ_CHECK(a->n_buffers == 1);
    for (std::int64_t i = 0; i < a->n_children; ++i) VARKEL_FUZZ_CHECK(a->children[i]->length == a->length);
  } else {
    fuzz::check_failed(__FILE__, __LINE__, ("unexpected format " + std::string(format)).c_str());
  }
  for (std::int64_t i = 0; i < a->n_children; ++i) check_array(a->children[i], s->children[i]);
}

bool same_data(const ArrayData& a, const ArrayData& b) {
  if (a.format != b.format || a.name != b.name || a.flags != b.flags || a.length != b.length ||
      a.null_count != b.null_count || a.buffers.size() != b.buffers.size() ||
      a.children.size() != b.children.size() || (a.dictionary == nullptr) != (b.dictionary == nullptr)) {
    return false;
  }
  for (std::size_t i = 0; i < a.buffers.size(); ++i) {
    if (a.buffers[i].size() != b.buffers[i].size() ||
        std::memcmp(a.buffers[i].data(), b.buffers[i].data(), a.buffers[i].size()) != 0) {
      return false;
    }
  }
  for (std::size_t i = 0; i < a.children.size(); ++i) {
    if (!same_data(a.children[i], b.children[i])) return false;
  }
  return a.dictionary == nullptr || same_data(*a.dictionary, *b.dictionary);
}

void check_export(const std::shared_ptr<const columnar::Table>& table) {
  columnar::OwnedSchema schema;
  columnar::export_schema(table->batch, schema.get());
  VARKEL_FUZZ_CHECK(std::string_view(schema->format) == "+s");
  columnar::OwnedArray array;
  columnar::export_array(table, table->batch, array.get());
  check_array(array.get(), schema.get());
  // A child moved out lives on alone after its parent is released.
  if (array->n_children > 0) {
    columnar::OwnedArray child;
    ArrowArray* first = array->children[0];
    *child.get() = *first;
    first->release = nullptr;
    array.reset();
    check_array(child.get(), schema->children[0]);
  }
  columnar::OwnedStream stream;
  columnar::export_stream(table, stream.get());
  columnar::OwnedSchema streamed_schema;
  VARKEL_FUZZ_CHECK(stream->get_schema(stream.get(), streamed_schema.get()) == 0);
  columnar::OwnedArray batch;
  VARKEL_FUZZ_CHECK(stream->get_next(stream.get(), batch.get()) == 0 && !batch.released());
  check_array(batch.get(), streamed_schema.get());
  columnar::OwnedArray end;
  VARKEL_FUZZ_CHECK(stream->get_next(stream.get(), end.get()) == 0 && end.released());
  stream.reset();  // the stream goes first; its batch and schema stay valid
  VARKEL_FUZZ_CHECK(batch->length == table->batch.length);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz::for_each_listed_idl("decode-idls.txt", [](const std::string&, decode::EventRegistry registry) {
    auto entry = std::make_unique<Loaded>();
    entry->registry = std::move(registry);
    entry->plan = decode::build_plan(entry->registry);
    entry->schema = columnar::build_table_schema(entry->registry, entry->plan);
    if (!entry->registry.events.empty()) loaded().push_back(std::move(entry));
  });
  if (loaded().empty())
    fuzz::check_failed(__FILE__, __LINE__, "no IDLs with events in fuzz/data/decode-idls.txt");
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1) return 0;
  const Loaded& idl = *loaded()[data[0] % loaded().size()];
  const decode::EventRegistry& registry = idl.registry;
  const columnar::Layouts& layouts = idl.schema.layouts;
  columnar::EventTables direct(idl.plan, idl.schema);
  columnar::EventTables resolved(idl.plan, idl.schema);
  std::vector<std::int64_t> rows(layouts.tables.size(), 0);
  std::vector<std::string> lines;
  std::size_t at = 1;
  while (at + 3 <= size) {
    const std::size_t event = data[at] % registry.events.size();
    const std::size_t length =
        std::min<std::size_t>(data[at + 1] | (std::size_t{data[at + 2]} << 8), size - at - 3);
    const std::uint8_t* bytes = data + at + 3;
    at += 3 + length;

    const std::uint32_t table = layouts.table_of[event];
    std::vector<std::int64_t> before(layouts.tables.size());
    for (std::size_t t = 0; t < before.size(); ++t) before[t] = direct.rows(t);
    const bool added = direct.add(event, bytes, length);
    if (added) ++rows[table];
    for (std::size_t t = 0; t < before.size(); ++t) VARKEL_FUZZ_CHECK(direct.rows(t) == rows[t]);

    // The same bytes as a log line, resolved by the discriminator as parse_logs does.
    const decode::EventEntry& entry = registry.events[event];
    if (entry.discriminator.size() == 8) {
      std::vector<std::uint8_t> payload(entry.discriminator.begin(), entry.discriminator.end());
      payload.insert(payload.end(), bytes, bytes + length);
      const decode::EventEntry* found = registry.find_event(payload.data());
      VARKEL_FUZZ_CHECK(found != nullptr);
      resolved.add(static_cast<std::size_t>(found - registry.events.data()), bytes, length);
      lines.push_back("Program data: " + fuzz::encode_base64(payload.data(), payload.size()));
    }
  }
  columnar::EventTables from_lines(idl.plan, idl.schema);
  const std::vector<std::string_view> views(lines.begin(), lines.end());
  columnar::add_lines(from_lines, registry, views);

  const auto tables = std::move(direct).finish();
  const auto resolved_tables = std::move(resolved).finish();
  const auto line_tables = std::move(from_lines).finish();
  VARKEL_FUZZ_CHECK(tables.size() == layouts.tables.size() && line_tables.size() == tables.size());
  for (std::size_t t = 0; t < tables.size(); ++t) {
    VARKEL_FUZZ_CHECK(tables[t]->batch.length == rows[t]);
    VARKEL_FUZZ_CHECK(tables[t]->name == layouts.tables[t].name);
    VARKEL_FUZZ_CHECK(same_data(resolved_tables[t]->batch, line_tables[t]->batch));
    check_export(tables[t]);
    check_export(line_tables[t]);
  }
  return 0;
}
