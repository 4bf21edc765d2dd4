#include "tx/attribution.h"

#include <algorithm>
#include <cstring>
#include <string_view>
#include <tuple>
#include <unordered_map>
#include <utility>

namespace varkel::tx {

namespace {

// Where a frame sits among the transaction's instructions.
struct Placement {
  std::uint32_t instruction = kNoIndex;
  std::uint32_t inner = kNoIndex;  // kNoIndex for top-level frames
  bool known = false;              // instruction known, and inner too below depth 1
};

// An event site with what the join needs besides: its full payload
// (discriminator and data) for the duplicate check, its parent frame's place,
// and its position for sorting.
struct Site {
  EventSite event;
  std::span<const std::uint8_t> payload;
  Placement frame;
  std::int64_t position = -1;  // a log line index
  bool after = false;          // placed right after `position` (no line of its own)
  bool dropped = false;
};

// Stack heights beyond any real stack (the runtime allows far fewer).
constexpr std::uint32_t kMaxHeight = 64;

// Placements by counting lines: logs alone.
std::vector<Placement> count_places(const LogWalk& walk) {
  std::vector<Placement> out(walk.frames.size());
  for (std::size_t k = 0; k < walk.frames.size(); ++k) {
    const Frame& f = walk.frames[k];
    Placement& p = out[k];
    p.instruction = f.top;
    p.inner = f.depth == 1 ? kNoIndex : f.inner;
    p.known = f.top != kNoIndex && (f.depth == 1 || f.inner != kNoIndex);
  }
  return out;
}

// The log frames matched with the transaction's instructions.
struct Alignment {
  std::vector<Placement> places;                        // per frame
  std::vector<std::uint32_t> top_frame;                 // per instruction: its frame, or kNoIndex
  std::vector<std::vector<std::uint32_t>> inner_frame;  // per inner instruction: its frame, or kNoIndex
  bool out_of_step = false;
};

// The inner instructions of instruction i (none when a hand-built model has
// fewer lists than instructions).
const std::vector<Instruction>& inner_of(const Transaction& tx, std::size_t i) {
  static const std::vector<Instruction> kEmpty;
  return i < tx.inner.size() ? tx.inner[i] : kEmpty;
}

// Finds the next instruction of a list that a frame can be: its program, and
// its stack height or an unknown one. In step, that is the next one in the
// list; when it is not, an index of the list by (program, height), built on
// the first miss, finds the next candidate in logarithmic time, so that
// hostile logs cannot make the search quadratic.
class NextMatch {
 public:
  // `use_height`: heights must match (inner instructions); precompiles are
  // never candidates (they have no frame).
  NextMatch(const std::vector<Instruction>& list, bool use_height) : list_(list), use_height_(use_height) {}

  // The position, or kNoIndex.
  std::size_t find(const std::optional<Pubkey>& key, std::uint32_t depth, std::size_t from) {
    if (!key) return kNoIndex;
    if (from < list_.size() && fits(list_[from], *key, depth)) return from;
    if (!indexed_) build();
    std::size_t best = kNoIndex;
    for (const std::uint32_t height : {use_height_ ? depth : 0u, 0u}) {
      const auto it = positions_.find(Slot{*key, height});
      if (it == positions_.end()) continue;
      const auto at = std::lower_bound(it->second.begin(), it->second.end(), from);
      if (at != it->second.end()) best = std::min<std::size_t>(best, *at);
      if (!use_height_) break;
    }
    return best;
  }

 private:
  struct Slot {
    Pubkey program;
    std::uint32_t height;
    bool operator==(const Slot&) const = default;
  };
  struct SlotHash {
    std::size_t operator()(const Slot& slot) const noexcept {
      std::uint64_t head = 0;
      std::memcpy(&head, slot.program.data(), sizeof head);
      return static_cast<std::size_t>(head ^ (std::uint64_t{slot.height} * 0x9E3779B97F4A7C15ull));
    }
  };

  bool fits(const Instruction& ins, const Pubkey& key, std::uint32_t depth) const {
    if (ins.program != key) return false;
    if (use_height_) return ins.stack_height == 0 || ins.stack_height == depth;
    return !is_precompile(ins.program);
  }

  void build() {
    indexed_ = true;
    for (std::size_t i = 0; i < list_.size(); ++i) {
      const Instruction& ins = list_[i];
      if (!use_height_ && is_precompile(ins.program)) continue;
      positions_[Slot{ins.program, use_height_ ? ins.stack_height : 0u}].push_back(
          static_cast<std::uint32_t>(i));
    }
  }

  const std::vector<Instruction>& list_;
  bool use_height_;
  bool indexed_ = false;
  std::unordered_map<Slot, std::vector<std::uint32_t>, SlotHash> positions_;
};

// The first instruction at or after `from` that is no precompile.
std::size_t skip_precompiles(const std::vector<Instruction>& list, std::size_t from) {
  while (from < list.size() && is_precompile(list[from].program)) ++from;
  return from;
}

Alignment align(const LogWalk& walk, const Transaction& tx) {
  Alignment out;
  out.places.resize(walk.frames.size());
  out.top_frame.assign(tx.instructions.size(), kNoIndex);
  out.inner_frame.resize(tx.instructions.size());
  for (std::size_t i = 0; i < tx.instructions.size(); ++i) {
    out.inner_frame[i].assign(inner_of(tx, i).size(), kNoIndex);
  }

  NextMatch top_level(tx.instructions, false);
  std::optional<NextMatch> inner;    // of the current instruction
  std::size_t next_top = 0;          // the next instruction an invoke [1] may match
  std::uint32_t current = kNoIndex;  // the instruction of the current top-level frame
  std::uint32_t current_top = kNoIndex;
  std::size_t next_inner = 0;
  // A transaction runs a handful of programs in many frames: the first
  // kCachedPrograms texts are decoded once (a bounded list keeps hostile
  // logs with ever new ids linear).
  constexpr std::size_t kCachedPrograms = 32;
  std::vector<std::pair<std::string_view, std::optional<Pubkey>>> decoded;
  auto key_of = [&decoded](std::string_view text) {
    for (const auto& [seen, key] : decoded) {
      if (seen == text) return key;
    }
    std::optional<Pubkey> key;
    if (Result<Pubkey> bytes = decode::base58_decode_key(text)) key = *bytes;
    if (decoded.size() < kCachedPrograms) decoded.emplace_back(text, key);
    return key;
  };
  for (std::size_t k = 0; k < walk.frames.size(); ++k) {
    const Frame& f = walk.frames[k];
    Placement& p = out.places[k];
    const std::optional<Pubkey> key = key_of(f.program);
    if (f.depth == 1) {
      current_top = f.top;
      next_inner = 0;
      const std::size_t expected = skip_precompiles(tx.instructions, next_top);
      const std::size_t q = top_level.find(key, 1, expected);
      // Another position than the next: instructions without their frame, or
      // a frame of a program the message does not run there.
      if (q != expected) out.out_of_step = true;
      current = static_cast<std::uint32_t>(q);
      p = Placement{current, kNoIndex, current != kNoIndex};
      if (current != kNoIndex) {
        next_top = q + 1;
        out.top_frame[q] = static_cast<std::uint32_t>(k);
        inner.emplace(inner_of(tx, q), true);
      }
      continue;
    }
    if (f.top == kNoIndex || f.top != current_top || current == kNoIndex) {
      p = Placement{};  // below a top-level frame that matched no instruction, or none at all
      continue;
    }
    p.instruction = current;
    if (!tx.inner_recorded) {  // nothing to check against: the count stands
      p.inner = f.inner;
      p.known = f.inner != kNoIndex;
      continue;
    }
    const std::size_t s = inner->find(key, f.depth, next_inner);
    if (s != next_inner) out.out_of_step = true;  // lines went missing, or the frame matches nothing
    if (s == kNoIndex) continue;
    p.inner = static_cast<std::uint32_t>(s);
    p.known = true;
    next_inner = s + 1;
    out.inner_frame[current][s] = static_cast<std::uint32_t>(k);
  }
  // A transaction that succeeded ran every instruction and every inner
  // instruction: each must have had its frame. (A failed one stops early.)
  if (!tx.failed) {
    for (std::size_t i = 0; i < tx.instructions.size(); ++i) {
      if (is_precompile(tx.instructions[i].program)) continue;
      if (out.top_frame[i] == kNoIndex) out.out_of_step = true;
      if (!tx.inner_recorded || out.top_frame[i] == kNoIndex) continue;
      for (const std::uint32_t frame : out.inner_frame[i]) {
        if (frame == kNoIndex) out.out_of_step = true;
      }
    }
  }
  return out;
}

class Joiner {
 public:
  Joiner(const ProgramSet& programs, Attribution& out, ScanCounts* counts, TransactionOptions options = {})
      : programs_(programs), out_(out), counts_(counts), options_(options) {}

  void add_log_sites(const LogWalk& walk, const std::vector<Placement>& places, bool adopt);
  // CPI events and, on request, instructions.
  void add_instruction_sites(const Transaction& tx, const LogWalk* walk, const Alignment* alignment);
  void merge_duplicates();
  void finish(bool sort);

 private:
  void count_unattributed(const Candidate& c);

  const ProgramSet& programs_;
  Attribution& out_;
  ScanCounts* counts_;  // null: nothing is counted
  TransactionOptions options_;
  std::vector<Site> sites_;
  std::size_t log_sites_ = 0;  // sites_[0, log_sites_) are logged events
};

// A line outside any frame that stays nobody's: counted when it carries a
// payload ("Program data:") or a known discriminator of any program.
void Joiner::count_unattributed(const Candidate& c) {
  const std::optional<scan::ByteBuffer> bytes = scan::decode_payload(c.payload);
  if (!bytes) return;
  bool counted = c.data_line;
  for (std::size_t k = 0; !counted && k < programs_.size(); ++k) {
    counted = programs_.registry(static_cast<std::uint32_t>(k)).find_event(bytes->data.get()) != nullptr;
  }
  if (counted) ++counts_->unattributed;
}

void Joiner::add_log_sites(const LogWalk& walk, const std::vector<Placement>& places, bool adopt) {
  // An adopted line (outside any frame) has no place and depth 0.
  static const Placement kNowhere{};
  for (const Candidate& c : walk.candidates) {
    std::uint32_t program = 0;
    if (c.frame == kNoIndex) {
      if (!adopt) {  // empty stack: nobody's event
        if (counts_ != nullptr) count_unattributed(c);
        continue;
      }
    } else {
      program = programs_.find_text(walk.frames[c.frame].program);
      if (program == kNoIndex) {
        if (counts_ != nullptr && c.data_line) ++counts_->other_programs;
        continue;
      }
    }
    const decode::EventRegistry& registry = programs_.registry(program);
    if (registry.events.empty() && counts_ == nullptr) continue;
    std::optional<scan::ByteBuffer> bytes = scan::decode_payload(c.payload);
    if (!bytes) continue;
    const decode::EventEntry* entry = registry.find_event(bytes->data.get());
    if (counts_ != nullptr && (c.data_line || entry != nullptr)) {
      ++counts_->payload_lines;
      if (entry == nullptr) ++counts_->unknown_discriminators;
    }
    if (entry == nullptr) continue;
    const std::span<const std::uint8_t> payload(bytes->data.get(), bytes->size);
    out_.log_payloads.push_back(std::move(*bytes));
    const Placement& place = c.frame == kNoIndex ? kNowhere : places[c.frame];
    const std::uint32_t depth = c.frame == kNoIndex ? 0 : walk.frames[c.frame].depth;
    Site site;
    site.event = EventSite{program,     entry,  payload.subspan(8), place.instruction, place.inner, depth,
                           Source::Log, c.line, c.after_truncation};
    site.payload = payload;
    site.frame = place;
    site.position = c.line;
    sites_.push_back(site);
  }
  log_sites_ = sites_.size();
}

// The bytes of an instruction's data (decoded from base58 into storage when
// needed).
std::span<const std::uint8_t> instruction_bytes(const InstructionData& data,
                                                std::vector<std::vector<std::uint8_t>>& storage) {
  switch (data.form) {
    case InstructionData::Form::Bytes:
      return data.bytes;
    case InstructionData::Form::Base58: {
      Result<std::vector<std::uint8_t>> bytes = decode::base58_decode(data.text);
      if (!bytes) return {};  // not reached: the reader checked the alphabet
      storage.push_back(std::move(*bytes));
      return storage.back();
    }
    case InstructionData::Form::None:
      break;
  }
  return {};
}

void Joiner::add_instruction_sites(const Transaction& tx, const LogWalk* walk, const Alignment* alignment) {
  constexpr std::int64_t kUnset = -2;
  constexpr std::int64_t kTop = -1;  // the top-level instruction as a parent
  std::array<std::int64_t, kMaxHeight + 1> last_at{};
  std::int64_t running = -1;  // the latest log line known to come before
  // An instruction of the set's programs (its data decoded): an instruction
  // site unless it is the program's event instruction.
  auto add_instruction = [&](const Instruction& ins, std::uint32_t program,
                             std::span<const std::uint8_t> bytes, std::size_t i, std::uint32_t inner,
                             std::uint32_t depth, std::int64_t line) {
    InstructionSite site;
    site.program = program;
    site.instruction = &ins;
    site.data = bytes;
    site.index = static_cast<std::uint32_t>(i);
    site.inner = inner;
    site.depth = depth;
    site.log_index = line >= 0 ? static_cast<std::uint32_t>(line) : kNoIndex;
    site.place = Place{line >= 0 ? line : running, line < 0};
    out_.instructions.push_back(site);
  };
  auto tagged = [](std::span<const std::uint8_t> bytes) {
    return bytes.size() >= kEventTag.size() &&
           std::memcmp(bytes.data(), kEventTag.data(), kEventTag.size()) == 0;
  };
  for (std::size_t i = 0; i < tx.instructions.size(); ++i) {
    std::int64_t top_line = -1;
    if (alignment != nullptr && alignment->top_frame[i] != kNoIndex) {
      top_line = walk->frames[alignment->top_frame[i]].line;
      running = std::max(running, top_line);
    }
    if (options_.instructions) {
      const Instruction& top = tx.instructions[i];
      const std::uint32_t program = programs_.find(top.program);
      if (program != kNoIndex && top.data.form != InstructionData::Form::None) {
        const std::span<const std::uint8_t> bytes = instruction_bytes(top.data, out_.cpi_payloads);
        if (!tagged(bytes)) add_instruction(top, program, bytes, i, kNoIndex, 1, top_line);
      }
    }
    const std::vector<Instruction>& list = inner_of(tx, i);
    last_at.fill(kUnset);
    last_at[1] = kTop;
    std::uint32_t deepest = 1;  // last_at is set at most up to here
    for (std::size_t j = 0; j < list.size(); ++j) {
      const Instruction& ins = list[j];
      const std::uint32_t frame = alignment != nullptr ? alignment->inner_frame[i][j] : kNoIndex;
      std::uint32_t height = ins.stack_height;
      if (height == 0 && frame != kNoIndex) height = walk->frames[frame].depth;
      std::int64_t parent = kUnset;
      if (height >= 2 && height <= kMaxHeight) {
        parent = last_at[height - 1];
        for (std::uint32_t h = height + 1; h <= deepest; ++h) last_at[h] = kUnset;
        last_at[height] = static_cast<std::int64_t>(j);
        deepest = height;
      } else {
        for (std::uint32_t h = 2; h <= deepest; ++h) last_at[h] = kUnset;  // the chain is lost
        deepest = 1;
      }
      const std::int64_t line = frame != kNoIndex ? walk->frames[frame].line : -1;
      if (line >= 0) running = std::max(running, line);

      const std::uint32_t program = programs_.find(ins.program);
      if (program == kNoIndex || ins.data.form == InstructionData::Form::None) continue;
      // An event needs a self-invoke: the parent frame is the same program.
      const bool self_invoked = parent != kUnset && (parent == kTop ? tx.instructions[i].program
                                                                    : list[parent].program) == ins.program;
      const decode::EventRegistry& registry = programs_.registry(program);
      const bool may_be_event =
          options_.events && self_invoked && (!registry.events.empty() || counts_ != nullptr);
      if (!options_.instructions && !may_be_event) continue;
      const std::span<const std::uint8_t> bytes = instruction_bytes(ins.data, out_.cpi_payloads);
      if (!tagged(bytes)) {
        if (options_.instructions)
          add_instruction(ins, program, bytes, i, static_cast<std::uint32_t>(j), height, line);
        continue;
      }
      if (!may_be_event || bytes.size() < 16) continue;
      const decode::EventEntry* entry = registry.find_event(bytes.data() + 8);
      if (counts_ != nullptr) {
        ++counts_->cpi_instructions;
        if (entry == nullptr) ++counts_->unknown_discriminators;
      }
      if (entry == nullptr) continue;
      const bool truncated =
          walk != nullptr && walk->truncated_at.has_value() && (line < 0 || line > *walk->truncated_at);
      Site site;
      site.event = EventSite{program,
                             entry,
                             bytes.subspan(16),
                             static_cast<std::uint32_t>(i),
                             static_cast<std::uint32_t>(j),
                             height - 1,
                             Source::Cpi,
                             kNoIndex,
                             truncated};
      site.payload = bytes.subspan(8);
      site.frame = Placement{static_cast<std::uint32_t>(i),
                             parent == kTop ? kNoIndex : static_cast<std::uint32_t>(parent), true};
      site.position = line >= 0 ? line : running;
      site.after = line < 0;
      sites_.push_back(site);
    }
  }
}

void Joiner::merge_duplicates() {
  if (log_sites_ == 0 || log_sites_ == sites_.size()) return;
  struct Key {
    std::uint32_t program;
    std::uint32_t instruction;
    std::uint32_t inner;
    std::size_t hash;
    bool operator==(const Key&) const = default;
  };
  struct KeyHash {
    std::size_t operator()(const Key& k) const noexcept {
      return k.hash ^ (static_cast<std::size_t>(k.instruction) << 20) ^
             (static_cast<std::size_t>(k.inner) << 8) ^ static_cast<std::size_t>(k.program);
    }
  };
  struct Queue {
    std::vector<std::size_t> sites;
    std::size_t next = 0;  // the earlier ones are paired
  };
  auto hash_of = [](std::span<const std::uint8_t> bytes) {
    return std::hash<std::string_view>{}(
        std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
  };
  std::unordered_map<Key, Queue, KeyHash> logged;
  for (std::size_t k = 0; k < log_sites_; ++k) {
    const Site& s = sites_[k];
    if (!s.frame.known) continue;
    logged[Key{s.event.program, s.frame.instruction, s.frame.inner, hash_of(s.payload)}].sites.push_back(k);
  }
  for (std::size_t k = log_sites_; k < sites_.size(); ++k) {
    Site& cpi = sites_[k];
    const auto it =
        logged.find(Key{cpi.event.program, cpi.frame.instruction, cpi.frame.inner, hash_of(cpi.payload)});
    if (it == logged.end()) continue;
    Queue& queue = it->second;
    for (std::size_t q = queue.next; q < queue.sites.size(); ++q) {
      Site& log = sites_[queue.sites[q]];
      if (!std::ranges::equal(log.payload, cpi.payload)) continue;  // a hash collision
      std::swap(queue.sites[q], queue.sites[queue.next]);
      ++queue.next;
      log.event.source = Source::LogAndCpi;
      log.event.inner = cpi.event.inner;
      cpi.dropped = true;
      break;
    }
  }
}

void Joiner::finish(bool sort) {
  std::erase_if(sites_, [](const Site& s) { return s.dropped; });
  if (sort) {
    std::stable_sort(sites_.begin(), sites_.end(), [](const Site& a, const Site& b) {
      if (a.position != b.position) return a.position < b.position;
      if (a.after != b.after) return b.after;
      if (a.event.instruction != b.event.instruction) return a.event.instruction < b.event.instruction;
      return a.event.inner < b.event.inner;
    });
  }
  out_.events.reserve(sites_.size());
  out_.event_places.reserve(sites_.size());
  for (const Site& s : sites_) {
    out_.events.push_back(s.event);
    out_.event_places.push_back(Place{s.position, s.after});
  }
}

// The frame that failed first, placed among the instructions.
std::optional<FailureSite> failure_site(const LogWalk& walk, const std::vector<Placement>& places) {
  if (walk.failed_frame == kNoIndex) return std::nullopt;
  const Frame& frame = walk.frames[walk.failed_frame];
  const Placement& place = places[walk.failed_frame];
  return FailureSite{frame.program, place.instruction, place.inner,
                     frame.depth,   walk.failed_line,  walk.failed_text};
}

}  // namespace

ScanCounts& ScanCounts::operator+=(const ScanCounts& other) noexcept {
  payload_lines += other.payload_lines;
  cpi_instructions += other.cpi_instructions;
  unknown_discriminators += other.unknown_discriminators;
  unattributed += other.unattributed;
  other_programs += other.other_programs;
  invocations += other.invocations;
  return *this;
}

namespace {

void count_invocations(const LogWalk& walk, const ProgramSet& programs, ScanCounts* counts) {
  if (counts == nullptr) return;
  for (const auto& frame : walk.frames) {
    if (programs.find_text(frame.program) != kNoIndex) ++counts->invocations;
  }
}

void count_invocations(const Transaction& tx, const ProgramSet& programs, ScanCounts* counts) {
  if (counts == nullptr) return;
  for (std::size_t i = 0; i < tx.instructions.size(); ++i) {
    if (programs.find(tx.instructions[i].program) != kNoIndex) ++counts->invocations;
    for (const Instruction& inner : tx.inner[i]) {
      if (programs.find(inner.program) != kNoIndex) ++counts->invocations;
    }
  }
}

}  // namespace

Attribution attribute_logs(std::span<const std::string_view> lines, const ProgramSet& programs,
                           const LogOptions& options, ScanCounts* counts) {
  Attribution out;
  const LogWalk walk = walk_logs(lines);
  count_invocations(walk, programs, counts);
  out.out_of_step = walk.out_of_step;
  out.failed = walk.top_level_failed;
  out.truncated_at = walk.truncated_at;
  Joiner joiner(programs, out, counts);
  const std::vector<Placement> places = count_places(walk);
  joiner.add_log_sites(walk, places, options.adopt_unattributed && programs.size() == 1);
  joiner.finish(false);  // already in line order
  out.failure = failure_site(walk, places);
  return out;
}

Attribution attribute_transaction(const Transaction& tx, const ProgramSet& programs, ScanCounts* counts,
                                  const TransactionOptions& options) {
  Attribution out;
  out.failed = tx.failed;
  Joiner joiner(programs, out, counts, options);
  if (tx.logs) {
    const LogWalk walk = walk_logs(*tx.logs);
    count_invocations(walk, programs, counts);
    const Alignment alignment = align(walk, tx);
    out.out_of_step = walk.out_of_step || alignment.out_of_step;
    out.truncated_at = walk.truncated_at;
    if (options.events) joiner.add_log_sites(walk, alignment.places, false);
    joiner.add_instruction_sites(tx, &walk, &alignment);
    if (tx.failed) out.failure = failure_site(walk, alignment.places);
  } else {
    count_invocations(tx, programs, counts);
    joiner.add_instruction_sites(tx, nullptr, nullptr);
  }
  joiner.merge_duplicates();
  joiner.finish(true);
  return out;
}

std::vector<bool> merge_order(const Attribution& attribution) {
  std::vector<bool> out;
  out.reserve(attribution.events.size() + attribution.instructions.size());
  std::size_t e = 0;
  std::size_t n = 0;
  // At the same place (no line of their own, as without logs): by
  // instruction, then the top-level one before its inner ones, then an
  // instruction before an event, whose CPI it may have made.
  auto key = [](const Place& place, std::uint32_t instruction, std::uint32_t inner, int kind) {
    return std::tuple(place.position, place.after, instruction, inner == kNoIndex ? -1 : std::int64_t{inner},
                      kind);
  };
  while (e < attribution.events.size() || n < attribution.instructions.size()) {
    bool take_instruction = n < attribution.instructions.size();
    if (take_instruction && e < attribution.events.size()) {
      const InstructionSite& ins = attribution.instructions[n];
      const EventSite& event = attribution.events[e];
      take_instruction = key(ins.place, ins.index, ins.inner, 0) <
                         key(attribution.event_places[e], event.instruction, event.inner, 1);
    }
    out.push_back(take_instruction);
    ++(take_instruction ? n : e);
  }
  return out;
}

}  // namespace varkel::tx
