// A transaction's JSON text (read_transaction_text) and its events
// (attribute_transaction, attribute_logs) for the programs of a few IDLs of
// the repository (fuzz/data/tx-idls.txt), over any bytes.
//
// Properties:
// - reading ends in a model or one message (parse errors say so);
// - every event site: its program is an entry of the set and its event one
//   of that registry's; its data lies inside the decoded bytes that the
//   attribution keeps (logged events) or the instruction's data (CPI events),
//   right after that event's discriminator (and the event tag for CPIs);
//   a logged event's line is a data or log line whose frame is the program's
//   and whose payload is those bytes; a CPI event is an inner instruction of
//   the program, placed within the instruction lists; depths >= 1; logged
//   events in line order; "truncated" only after the truncation mark;
// - the logged events of the transaction are exactly those of its logs alone;
// - the document printed compactly and read again gives the same events.
#include <algorithm>
#include <cstring>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "decode/registry.h"
#include "fuzz/common.h"
#include "fuzz/repo_idls.h"
#include "idl/load.h"
#include "json/json.h"
#include "scan/base64.h"
#include "scan/payload.h"
#include "tx/attribution.h"
#include "tx/failure.h"
#include "tx/log_line.h"
#include "tx/log_walk.h"
#include "tx/program_set.h"
#include "tx/tx_reader.h"

namespace {

using namespace varkel;

struct Programs {
  std::vector<std::unique_ptr<decode::EventRegistry>> registries;
  tx::ProgramSet set;
};

Programs& programs() {
  static Programs all;
  return all;
}

bool inside(std::span<const std::uint8_t> part, const std::uint8_t* begin, std::size_t size) {
  return part.data() >= begin && part.data() + part.size() <= begin + size;
}

// The 8 bytes before `data` are the event's discriminator.
void check_discriminator(const tx::EventSite& site) {
  VARKEL_FUZZ_CHECK(site.event->discriminator.size() == 8);
  VARKEL_FUZZ_CHECK(std::memcmp(site.data.data() - 8, site.event->discriminator.data(), 8) == 0);
}

void check_site(const tx::Attribution& a, const tx::EventSite& site, std::span<const std::string_view> lines,
                const tx::LogWalk& walk, const tx::Transaction* t) {
  const tx::ProgramSet& set = programs().set;
  VARKEL_FUZZ_CHECK(site.program >= 0 && static_cast<std::size_t>(site.program) < set.size());
  const decode::EventRegistry& registry = set.registry(site.program);
  VARKEL_FUZZ_CHECK(site.event >= registry.events.data() &&
                    site.event < registry.events.data() + registry.events.size());
  VARKEL_FUZZ_CHECK(site.depth >= 1);
  if (site.truncated) VARKEL_FUZZ_CHECK(a.truncated_at.has_value());
  if (site.source == tx::Source::Cpi) {
    VARKEL_FUZZ_CHECK(site.log_index == -1 && t != nullptr && site.depth >= 1);
    VARKEL_FUZZ_CHECK(site.instruction >= 0 &&
                      static_cast<std::size_t>(site.instruction) < t->instructions.size());
    const auto& inner = t->inner[static_cast<std::size_t>(site.instruction)];
    VARKEL_FUZZ_CHECK(site.inner >= 0 && static_cast<std::size_t>(site.inner) < inner.size());
    const tx::Instruction& ins = inner[static_cast<std::size_t>(site.inner)];
    VARKEL_FUZZ_CHECK(set.find(ins.program) == site.program);
    bool found = inside(site.data, t->wire.data(), t->wire.size());
    for (const auto& bytes : a.cpi_payloads) found = found || inside(site.data, bytes.data(), bytes.size());
    VARKEL_FUZZ_CHECK(found);
    check_discriminator(site);
    VARKEL_FUZZ_CHECK(std::memcmp(site.data.data() - 16, tx::kEventTag.data(), 8) == 0);
    return;
  }
  // Logged: the line, its frame, its payload.
  VARKEL_FUZZ_CHECK(site.log_index >= 0 && static_cast<std::size_t>(site.log_index) < lines.size());
  if (site.truncated) VARKEL_FUZZ_CHECK(static_cast<std::size_t>(site.log_index) > *a.truncated_at);
  bool found = false;
  for (const scan::ByteBuffer& bytes : a.log_payloads)
    found = found || inside(site.data, bytes.data.get(), bytes.size);
  VARKEL_FUZZ_CHECK(found);
  check_discriminator(site);
  const std::string_view line = lines[static_cast<std::size_t>(site.log_index)];
  const tx::LineKind kind = tx::classify_log_line(line).kind;
  VARKEL_FUZZ_CHECK(kind == tx::LineKind::Data || kind == tx::LineKind::Log);
  const std::optional<std::string_view> payload = scan::extract_payload(line);
  VARKEL_FUZZ_CHECK(payload.has_value());
  const std::optional<scan::ByteBuffer> bytes = scan::decode_base64(*payload);
  VARKEL_FUZZ_CHECK(bytes && bytes->size == site.data.size() + 8 &&
                    std::memcmp(bytes->data.get() + 8, site.data.data(), site.data.size()) == 0);
  const auto candidate =
      std::ranges::find(walk.candidates, static_cast<std::uint32_t>(site.log_index), &tx::Candidate::line);
  VARKEL_FUZZ_CHECK(candidate != walk.candidates.end() && candidate->frame != kNoIndex);
  const tx::Frame& frame = walk.frames[static_cast<std::size_t>(candidate->frame)];
  VARKEL_FUZZ_CHECK(set.find_text(frame.program) == site.program && frame.depth == site.depth);
  if (t != nullptr) {
    VARKEL_FUZZ_CHECK(site.instruction == kNoIndex || site.instruction < t->instructions.size());
  }
}

void check_attribution(const tx::Attribution& a, std::span<const std::string_view> lines,
                       const tx::Transaction* t) {
  const tx::LogWalk walk = tx::walk_logs(lines);
  VARKEL_FUZZ_CHECK(a.truncated_at == walk.truncated_at);
  std::int64_t last_line = -1;
  for (const tx::EventSite& site : a.events) {
    check_site(a, site, lines, walk, t);
    if (site.log_index != kNoIndex) {
      VARKEL_FUZZ_CHECK(site.log_index > last_line);
      last_line = site.log_index;
    }
  }
}

bool same_site(const tx::EventSite& x, const tx::EventSite& y) {
  return x.program == y.program && x.event == y.event && std::ranges::equal(x.data, y.data) &&
         x.instruction == y.instruction && x.inner == y.inner && x.depth == y.depth && x.source == y.source &&
         x.log_index == y.log_index && x.truncated == y.truncated;
}

bool same(const tx::Attribution& a, const tx::Attribution& b) {
  return std::ranges::equal(a.events, b.events, same_site) && a.out_of_step == b.out_of_step &&
         a.failed == b.failed && a.truncated_at == b.truncated_at;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz::for_each_listed_idl("tx-idls.txt", [](const std::string& entry, decode::EventRegistry registry) {
    programs().registries.push_back(std::make_unique<decode::EventRegistry>(std::move(registry)));
    Result<void> added = programs().set.add(*programs().registries.back(), entry);
    if (!added) fuzz::check_failed(entry.c_str(), 0, added.error().message.c_str());
  });
  if (programs().set.empty()) fuzz::check_failed(__FILE__, __LINE__, "no IDLs in fuzz/data/tx-idls.txt");
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text = fuzz::as_text(data, size);
  // A block: every transaction of it reads or fails with a message.
  if (Result<json::Value> doc = json::parse(text); doc && tx::is_block(*doc)) {
    if (Result<tx::Block> block = tx::read_block(*doc)) {
      for (std::size_t i = 0; i < block->transactions->size(); ++i) {
        Result<tx::Transaction> t = tx::read_block_transaction(*block, i);
        VARKEL_FUZZ_CHECK(t.has_value() || !t.error().message.empty());
        if (t) tx::attribute_transaction(*t, programs().set);
      }
    } else {
      VARKEL_FUZZ_CHECK(!block.error().message.empty());
    }
  }
  Result<tx::OwnedTransaction> read = tx::read_transaction_text(text);
  if (!read) {
    VARKEL_FUZZ_CHECK(!read.error().message.empty());
    return 0;
  }
  const tx::Transaction& t = read->tx;
  VARKEL_FUZZ_CHECK(t.inner.size() == t.instructions.size());
  const tx::ProgramSet& set = programs().set;
  const tx::Attribution whole = tx::attribute_transaction(t, set);
  VARKEL_FUZZ_CHECK(whole.failed == t.failed);
  const std::span<const std::string_view> lines =
      t.logs ? std::span<const std::string_view>(*t.logs) : std::span<const std::string_view>();
  check_attribution(whole, lines, &t);

  if (t.logs) {
    const tx::Attribution alone = tx::attribute_logs(*t.logs, set);
    check_attribution(alone, lines, nullptr);
    std::vector<const tx::EventSite*> logged;
    for (const tx::EventSite& site : whole.events) {
      if (site.source != tx::Source::Cpi) logged.push_back(&site);
    }
    VARKEL_FUZZ_CHECK(logged.size() == alone.events.size());
    for (std::size_t i = 0; i < logged.size(); ++i) {
      const tx::EventSite &x = *logged[i], &y = alone.events[i];
      VARKEL_FUZZ_CHECK(x.log_index == y.log_index && x.program == y.program && x.event == y.event &&
                        std::ranges::equal(x.data, y.data) && x.depth == y.depth &&
                        x.truncated == y.truncated && y.source == tx::Source::Log);
    }
  } else {
    for (const tx::EventSite& site : whole.events) VARKEL_FUZZ_CHECK(site.source == tx::Source::Cpi);
  }

  // With the instructions: the same events, and every instruction of the
  // set's programs where the transaction has it, none an event instruction.
  const tx::Attribution both = tx::attribute_transaction(t, set, nullptr, {true, true});
  VARKEL_FUZZ_CHECK(std::ranges::equal(both.events, whole.events, same_site));
  for (const tx::InstructionSite& site : both.instructions) {
    VARKEL_FUZZ_CHECK(site.index < t.instructions.size());
    const tx::Instruction& ins =
        site.inner == kNoIndex ? t.instructions[site.index] : t.inner[site.index].at(site.inner);
    VARKEL_FUZZ_CHECK(&ins == site.instruction && set.find(ins.program) == site.program);
    VARKEL_FUZZ_CHECK(
        !(site.data.size() >= 8 && std::memcmp(site.data.data(), tx::kEventTag.data(), 8) == 0));
    VARKEL_FUZZ_CHECK(ins.accounts_first + ins.accounts_count <= t.accounts.size());
  }
  VARKEL_FUZZ_CHECK(tx::merge_order(both).size() == both.events.size() + both.instructions.size());
  if (t.failed) {
    const tx::Failure failure = tx::explain_failure(t, both, set);
    VARKEL_FUZZ_CHECK(failure.instruction == kNoIndex || failure.instruction < t.instructions.size());
  }

  // The same document as compact text: the same transaction, the same events.
  const std::string compact = json::to_compact(*read->document);
  Result<tx::OwnedTransaction> again = tx::read_transaction_text(compact);
  VARKEL_FUZZ_CHECK(again.has_value());
  VARKEL_FUZZ_CHECK(same(tx::attribute_transaction(again->tx, set), whole));
  return 0;
}
