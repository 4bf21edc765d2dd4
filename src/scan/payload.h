// The payload text of a log line.
#pragma once

#include <optional>
#include <string_view>

namespace varkel::scan {

// The text after "Program data: " or "Program log: " (byte-exact prefixes),
// trimmed of Unicode White_Space at both ends; nullopt for other lines.
std::optional<std::string_view> extract_payload(std::string_view line);

}  // namespace varkel::scan
