// The one rule for what carries an event: a log line beginning with
// "Program data: " or "Program log: " (scan/payload.h), whose payload text is
// strict base64 (scan/base64.h) of at least 8 bytes, the first 8 of which are
// the discriminator of one of the registry's events (the first in IDL order).
// The bytes after the discriminator are the event's data. parse_logs, the
// Arrow tables and transaction attribution all decide by these functions.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

#include "decode/registry.h"
#include "scan/base64.h"
#include "scan/payload.h"

namespace varkel::scan {

// The bytes of a payload text that may carry an event: strict base64 of at
// least 8 bytes; nullopt otherwise.
inline std::optional<ByteBuffer> decode_payload(std::string_view text) {
  std::optional<ByteBuffer> bytes = decode_base64(text);
  if (bytes && bytes->size < 8) bytes.reset();
  return bytes;
}

// A payload that carries an event.
struct EventPayload {
  const decode::EventEntry* entry = nullptr;  // in the registry
  std::size_t event = 0;                      // its index in the registry
  std::span<const std::uint8_t> data;         // the bytes after the discriminator
};

// The event that a payload text carries, or nullopt. The text is decoded into
// `scratch`, whose room is kept from call to call: `data` views it until the
// next call with the same scratch. (Inline: the scans call it for every line.)
inline std::optional<EventPayload> event_of_payload(std::string_view text,
                                                    const decode::EventRegistry& registry,
                                                    std::vector<std::uint8_t>& scratch) {
  if (registry.events.empty()) return std::nullopt;
  // Most payloads carry no event of the registry (log text, other programs'
  // data): their first bytes tell, before the whole text is decoded.
  const decode::EventEntry* entry = nullptr;
  if (text.size() >= 16) {
    std::uint8_t head[9];
    if (text.size() % 4 != 0 || !decode_base64_head(text, head)) return std::nullopt;
    entry = registry.find_event(head);
    if (entry == nullptr) return std::nullopt;
  }
  if (!decode_base64(text, scratch) || scratch.size() < 8) return std::nullopt;
  if (entry == nullptr) entry = registry.find_event(scratch.data());
  if (entry == nullptr) return std::nullopt;
  return EventPayload{entry, static_cast<std::size_t>(entry - registry.events.data()),
                      std::span<const std::uint8_t>(scratch).subspan(8)};
}

// The event that a log line carries, or nullopt.
inline std::optional<EventPayload> event_of_line(std::string_view line, const decode::EventRegistry& registry,
                                                 std::vector<std::uint8_t>& scratch) {
  const std::optional<std::string_view> text = extract_payload(line);
  if (!text) return std::nullopt;
  return event_of_payload(*text, registry, scratch);
}

}  // namespace varkel::scan
